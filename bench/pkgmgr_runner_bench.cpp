// Reading a package-manager command's output: runners fed by a real child
// (cat of a generated file) against the same bytes read from a pipe in
// 64 KiB blocks. Prints, per size, the ratio of the build runner's time
// to the pipe's, and for every run the peak memory it added, also as a
// multiple of the output size.
//
//   build/bench/pkgmgr_runner_bench --benchmark_repetitions=3
//
// Goals: the build runner within 3x the pipe; a JSON command (list-remote
// with 200 MiB of output) peaking within 2.5x its output.
#include "pkgmgr/command_line.h"
#include "pkgmgr/orv_runners.h"
#include "platform/command_line_split.h"
#include "ratio_reporter.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <malloc.h>

namespace {

using orv::QuoteArgument;

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kLineSizes[] = {16, 64, 256};
constexpr int64_t kJsonSize = 200;

QTemporaryDir& FileDir() {
  static QTemporaryDir dir;
  return dir;
}

// A file of whole blocks, makeBlock(0), makeBlock(1) and so on, up to the
// first one that reaches `mib` MiB, then `closing`; made once per name.
QString GeneratedFile(const QString& name, int64_t mib, const std::function<QByteArray(int)>& makeBlock,
                      const QByteArray& closing = {}) {
  static std::map<QString, QString> files;
  QString& path = files[name];
  if (!path.isEmpty()) return path;
  path = FileDir().filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  QByteArray buffer;
  int64_t written = 0;
  for (int index = 0; written + buffer.size() < mib * kMiB; ++index) {
    buffer += makeBlock(index);
    if (buffer.size() >= kMiB) written += file.write(std::exchange(buffer, {}));
  }
  file.write(buffer + closing);
  return path;
}

// Progress-like lines of about 80 bytes, CR LF ended, as a build prints them.
QString ProgressFile(int64_t mib) {
  return GeneratedFile(QStringLiteral("progress-%1.txt").arg(mib), mib, [](int i) -> QByteArray {
    return QByteArray("[ 42%] [orv.samplepack:  17%] Compiling unit ") + QByteArray::number(i) +
           " of the runtime package\r\n";
  });
}

// A list-remote answer, indented with CR LF lines as the package manager
// prints it: products with their release notes, about 100 KiB each. Few
// members in the root object, since the ordered JSON object looks up every
// new member among the ones before it.
QString JsonFile(int64_t mib) {
  return GeneratedFile(
      QStringLiteral("list-remote-%1.json").arg(mib), mib,
      [](int i) -> QByteArray {
        const QByteArray number = QByteArray::number(i).rightJustified(5, '0');
        QByteArray product = QByteArray(i == 0 ? "{\r\n" : ",\r\n") + "  \"orv.samplepack" + number + "\": {\r\n" +
                             "    \"name\": \"Sample Pack " + number + "\",\r\n" + "    \"version\": \"1.2." +
                             QByteArray::number(i % 100) + "\",\r\n" + "    \"vendor_id\": \"orv-samples\",\r\n" +
                             "    \"release_notes\": [\r\n";
        for (int note = 0; note < 1000; ++note)
          product += QByteArray(note == 0 ? "" : ",\r\n") + "      \"" + QByteArray::number(note) +
                     ": components, designers and demos of the pack rebuilt for every IDE it supports\"";
        return product + "\r\n    ]\r\n  }";
      },
      "\r\n}\r\n");
}

// Memory the process added at its peak while `run` ran, above what it held
// before (freed heap handed back first, so reused pages count as well).
class PeakMemory {
public:
  void Start() {
    ::malloc_trim(0);
    baseline_ = Status("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";
  }
  void Stop() { peak_ = std::max(peak_, Status("VmHWM:") - baseline_); }
  void Report(benchmark::State& state, int64_t outputBytes) const {
    state.counters["peak_MiB"] = static_cast<double>(peak_) / kMiB;
    state.counters["peak_x_output"] = static_cast<double>(peak_) / static_cast<double>(outputBytes);
  }

private:
  static int64_t Status(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
      if (word == field) {
        int64_t kib = 0;
        status >> kib;
        return kib * 1024;
      }
    return 0;
  }

  int64_t baseline_ = 0;
  int64_t peak_ = 0;
};

// Runs `body` once per iteration with its peak memory measured outside the
// timed part, and reports the throughput over `outputBytes`.
template <class Body>
void Measured(benchmark::State& state, int64_t outputBytes, Body body) {
  PeakMemory memory;
  for (auto _ : state) {
    state.PauseTiming();
    memory.Start();
    state.ResumeTiming();
    body();
    state.PauseTiming();
    memory.Stop();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * outputBytes);
  memory.Report(state, outputBytes);
}

// The reference: cat into a pipe, read in 64 KiB blocks and thrown away.
void PlainPipe(benchmark::State& state, const QString& file) {
  const QByteArray command = "cat '" + QFile::encodeName(file) + "'";
  std::vector<char> buffer(64 * 1024);
  Measured(state, QFile(file).size(), [&] {
    FILE* pipe = ::popen(command.constData(), "r");
    int64_t bytes = 0;
    while (const size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe)) bytes += static_cast<int64_t>(got);
    ::pclose(pipe);
    benchmark::DoNotOptimize(bytes);
  });
}

// The command-line layer alone: every decoded piece counted.
void CommandLine(benchmark::State& state, const QString& file) {
  Measured(state, QFile(file).size(), [&] {
    int64_t chars = 0;
    orv::TCommandLine::ExecuteEx(QStringLiteral("/bin/cat ") + QuoteArgument(file), {},
                                 [&chars](const QString& piece) { chars += piece.size(); }, {}, {});
    benchmark::DoNotOptimize(chars);
  });
}

// The child that plays the package manager: prints the file whatever the
// arguments.
QString CatScript(const QString& file) {
  const QString path = file + QStringLiteral(".sh");
  QFile script(path);
  if (script.open(QIODevice::WriteOnly)) {
    script.write("#!/bin/sh\nexec cat '" + QFile::encodeName(file) + "'\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  return path;
}

// A build as the dashboard runs it: the console hears every line, the
// progress goes to its listener, the summary is taken at the end.
void BuildRunner(benchmark::State& state, const QString& file) {
  const QString exe = CatScript(file);
  int64_t lines = 0;
  int64_t progress = 0;
  Measured(state, QFile(file).size(), [&] {
    orv::TOrvBuildRunner runner;
    runner.SetExeFileName(exe);
    runner.SetOnOutputLine([&lines](const QString&) { ++lines; });
    runner.SetOnProgress([&progress](const orv::TProgressInfo& info) { progress += info.ProductPercent; });
    runner.RunBuild();
    benchmark::DoNotOptimize(runner.Summary().size());
  });
  state.counters["lines"] = static_cast<double>(lines) / static_cast<double>(state.iterations());
}

// A JSON command: list-remote read into products, the console hearing
// every line.
void ListRemoteRunner(benchmark::State& state, const QString& file) {
  const QString exe = CatScript(file);
  size_t products = 0;
  Measured(state, QFile(file).size(), [&] {
    orv::TOrvListRemoteRunner runner;
    runner.SetExeFileName(exe);
    runner.SetOnOutputLine([](const QString&) {});
    runner.RunListRemote();
    products = runner.Products().size();
  });
  state.counters["products"] = static_cast<double>(products);
}

// The floor of a JSON command: the file read at once and parsed into the
// same products, no child and no lines.
void ListRemoteParse(benchmark::State& state, const QString& file) {
  size_t products = 0;
  Measured(state, QFile(file).size(), [&] {
    std::ifstream in(QFile::encodeName(file).constData(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    orv::TProductInfoList list;
    orv::ReadRemoteProductList(nlohmann::ordered_json::parse(text), list);
    products = list.size();
  });
  state.counters["products"] = static_cast<double>(products);
}

std::string Name(const char* what, int64_t mib) { return what + std::to_string(mib) + "MiB"; }

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

int main(int argc, char** argv) {
  // Files are made when a benchmark first runs, so that a filter makes
  // only the ones it needs.
  using Body = void (*)(benchmark::State&, const QString&);
  using File = QString (*)(int64_t);
  const auto add = [](const char* what, int64_t mib, Body body, File file) {
    benchmark::RegisterBenchmark(Name(what, mib).c_str(), [=](benchmark::State& state) { body(state, file(mib)); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  };
  for (const int64_t mib : kLineSizes) {
    add("Pipe", mib, PlainPipe, ProgressFile);
    add("CommandLine", mib, CommandLine, ProgressFile);
    add("BuildRunner", mib, BuildRunner, ProgressFile);
  }
  add("ListRemoteParse", kJsonSize, ListRemoteParse, JsonFile);
  add("ListRemoteRunner", kJsonSize, ListRemoteRunner, JsonFile);

  benchmark::Initialize(&argc, argv);
  orv::bench::RatioReporter reporter({{"CommandLine16MiB", "Pipe16MiB"},
                                      {"BuildRunner16MiB", "Pipe16MiB"},
                                      {"CommandLine64MiB", "Pipe64MiB"},
                                      {"BuildRunner64MiB", "Pipe64MiB"},
                                      {"CommandLine256MiB", "Pipe256MiB"},
                                      {"BuildRunner256MiB", "Pipe256MiB"},
                                      {"ListRemoteRunner200MiB", "ListRemoteParse200MiB"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
