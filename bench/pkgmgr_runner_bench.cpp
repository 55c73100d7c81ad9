// Reading a package-manager command's output: a runner fed by a real
// child (cat of a generated file) against the same cat read by a trivial
// reader. The runner reads in pieces of at most 255 bytes and splits lines
// incrementally, so its time must grow linearly with the output size.
#include "pkgmgr/command_line.h"
#include "pkgmgr/orv_runner.h"
#include "platform/command_line_split.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

namespace {

using orv::QuoteArgument;

constexpr int64_t kMiB = 1024 * 1024;

// Progress-like lines of about 80 bytes, CR LF ended, in a file of the
// requested size; made once per size.
QString OutputFile(int64_t mib) {
  static QTemporaryDir dir;
  static std::map<int64_t, QString> files;
  auto& path = files[mib];
  if (!path.isEmpty()) return path;
  path = dir.filePath(QStringLiteral("output-%1.txt").arg(mib));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  QByteArray block;
  for (int i = 0; block.size() < kMiB; ++i)
    block += QByteArray("[ 42%] [orv.samplepack:  17%] Compiling unit ") + QByteArray::number(i) +
             " of the runtime package\r\n";
  block.truncate(kMiB);
  for (int64_t i = 0; i < mib; ++i) file.write(block);
  return path;
}

class BenchRunner : public orv::TOrvRunner {
public:
  using orv::TOrvRunner::Run;
};

void BM_RunnerCat(benchmark::State& state) {
  const QString file = OutputFile(state.range(0));
  int64_t lines = 0;
  for (auto _ : state) {
    BenchRunner runner;
    runner.SetExeFileName(QStringLiteral("/bin/cat"));
    runner.SetOnOutputLine([&lines](const QString&) { ++lines; });
    runner.Run(QuoteArgument(file));
    benchmark::DoNotOptimize(runner.Output().size());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * kMiB);
  state.counters["lines"] = benchmark::Counter(static_cast<double>(lines) / static_cast<double>(state.iterations()));
}

void BM_CommandLineCat(benchmark::State& state) {
  const QString file = OutputFile(state.range(0));
  for (auto _ : state) {
    int64_t chars = 0;
    orv::TCommandLine::ExecuteEx(QStringLiteral("/bin/cat ") + QuoteArgument(file), {},
                                 [&chars](const QString& piece) { chars += piece.size(); }, {}, {});
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * kMiB);
}

// The floor: cat into a pipe, read in 64 KiB blocks and thrown away.
void BM_PlainPipeCat(benchmark::State& state) {
  const QString file = OutputFile(state.range(0));
  const QByteArray command = "cat '" + QFile::encodeName(file) + "'";
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    FILE* pipe = ::popen(command.constData(), "r");
    int64_t bytes = 0;
    while (const size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe)) bytes += static_cast<int64_t>(got);
    ::pclose(pipe);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * kMiB);
}

// Starting and ending a child: a fork of this process, whose page tables
// grow with its resident memory (the application holds the browser
// engine), so /bin/true runs beside N MiB of touched heap.
void BM_CommandLineStart(benchmark::State& state) {
  const std::vector<char> resident(static_cast<size_t>(state.range(0) * kMiB), 1);
  for (auto _ : state) orv::TCommandLine::ExecuteEx(QStringLiteral("/bin/true"), {}, {}, {}, {});
  benchmark::DoNotOptimize(resident.data());
}

}  // namespace

BENCHMARK(BM_CommandLineStart)->Arg(0)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainPipeCat)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommandLineCat)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RunnerCat)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
