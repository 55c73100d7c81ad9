// Product archives and the download folder: our extraction beside unzip on
// the same 200 MiB archive, our extraction of 10,000 files beside bsdtar and
// unzip on the same archive (runs interleaved), and the archive scan beside
// find over the same 20,000 files. Each pair runs in one process and is
// summed up as a time ratio at the end, since the machine's speed varies more
// than the ratio.
#include "core/product_catalogue.h"
#include "core/zip_extractor.h"
#include "platform/processes.h"
#include "platform/registry_hive.h"
#include "product_archive.h"
#include "ratio_reporter.h"
#include "settings/dashboard_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>

#include <unistd.h>

namespace orv {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kArchiveContent = 196 * kMiB;  // about 200 MiB once packed
constexpr int kDownloadFiles = 20000;
constexpr int kManyFiles = 10000;
constexpr int kManyFilesRuns = 7;

QTemporaryDir& Workspace() {
  static QTemporaryDir dir;
  return dir;
}

// Text that packs well, like the sources and help files of a product.
std::string Compressible(std::size_t size, std::mt19937_64& random) {
  static const char* words[] = {"procedure ",        "TWidget.",     "Paint",  "(Canvas: TCanvas);\n",
                                "begin\n  ",         "inherited;\n", "end;\n", "  if Assigned(FOnChange) then ",
                                "FOnChange(Self);\n"};
  std::string text;
  text.reserve(size);
  while (text.size() < size) text += words[random() % std::size(words)];
  text.resize(size);
  return text;
}

// Bytes that do not pack at all, like compiled packages and images.
std::string Incompressible(std::size_t size, std::mt19937_64& random) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t value = random();
    std::memcpy(bytes.data() + i, &value, 8);
  }
  return bytes;
}

// Many small files, fewer large ones; three of four do not pack.
const QString& ProductArchive() {
  static const QString path = [] {
    const QString archive = Workspace().filePath("Widget Pack_1.0_REG.zip");
    std::mt19937_64 random(42);
    const std::size_t sizes[] = {4 * 1024, 4 * 1024, 4 * 1024, 4 * 1024, 64 * 1024, 64 * 1024, kMiB, 8 * kMiB};
    std::vector<tools::ZipEntry> entries;
    std::uint64_t total = 0;
    for (int i = 0; total < kArchiveContent; ++i) {
      const std::size_t size = sizes[i % std::size(sizes)];
      const bool packs = i % 4 == 0;
      entries.push_back({"lib/unit" + std::to_string(i) + (packs ? ".pas" : ".bpl"),
                         packs ? Compressible(size, random) : Incompressible(size, random)});
      total += size;
    }
    if (const auto error = tools::WriteZip(archive.toStdString(), entries)) {
      std::fprintf(stderr, "cannot write the archive: %s\n", error->c_str());
      std::exit(1);
    }
    return archive;
  }();
  return path;
}

void SetArchiveCounters(benchmark::State& state) {
  state.counters["archive_MiB"] = double(QFileInfo(ProductArchive()).size()) / kMiB;
  state.counters["content_MiB"] = double(kArchiveContent) / kMiB;
}

void BM_ExtractZipArchive(benchmark::State& state) {
  const QString archive = ProductArchive();
  const QString folder = Workspace().filePath("ours");
  for (auto _ : state) {
    const ZipExtractResult result = ExtractZipArchive(archive, folder);
    if (!result.ok()) state.SkipWithError(result.message.toUtf8().constData());
    state.PauseTiming();
    RemoveExtractionFolder(folder);
    state.ResumeTiming();
  }
  SetArchiveCounters(state);
}

// Runs a program with its output discarded; false when it failed.
bool RunQuietly(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(program, arguments);
  return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void BM_UnzipCommand(benchmark::State& state) {
  const QString archive = ProductArchive();
  const QString folder = Workspace().filePath("unzip");
  for (auto _ : state) {
    if (!RunQuietly("unzip", {"-o", "-q", archive, "-d", folder})) state.SkipWithError("unzip failed");
    state.PauseTiming();
    RemoveExtractionFolder(folder);
    state.ResumeTiming();
  }
  SetArchiveCounters(state);
}

// 10,000 files in 500 folders, each five segments deep like an unpacked
// product tree, with the folder entries archivers write; about 148 MiB packed.
// Files that do not pack are stored, as archivers do.
const QString& ManyFilesArchive() {
  static const QString path = [] {
    const QString archive = Workspace().filePath("Widget Suite_2.0_REG.zip");
    std::mt19937_64 random(7);
    const std::size_t sizes[] = {1024, 2 * 1024, 4 * 1024, 8 * 1024, 16 * 1024, 32 * 1024, 64 * 1024};
    std::vector<tools::ZipEntry> entries{{"Widget Suite/", "", 040755}, {"Widget Suite/source/", "", 040755}};
    for (int i = 0; i < kManyFiles; ++i) {
      const std::string group = "Widget Suite/source/group" + std::to_string(i / 100) + "/";
      const std::string folder = group + "part" + std::to_string(i % 5) + "/";
      if (i % 100 == 0) entries.push_back({group, "", 040755});
      if (i % 100 < 5) entries.push_back({folder, "", 040755});
      const std::size_t size = sizes[i % std::size(sizes)];
      const bool packs = i % 4 == 0;
      entries.push_back({folder + "unit" + std::to_string(i) + (packs ? ".pas" : ".dcu"),
                         packs ? Compressible(size, random) : Incompressible(size, random), 0100644, !packs});
    }
    if (const auto error = tools::WriteZip(archive.toStdString(), entries)) {
      std::fprintf(stderr, "cannot write the archive: %s\n", error->c_str());
      std::exit(1);
    }
    return archive;
  }();
  return path;
}

// One timed extraction of the 10,000-file archive into an empty folder. The
// previous run's files are removed and written back first, so no run pays
// for another's disk work.
template <typename Extract>
void TimeManyFilesExtraction(benchmark::State& state, const char* folderName, Extract extract) {
  const QString archive = ManyFilesArchive();
  const QString folder = Workspace().filePath(folderName);
  RemoveExtractionFolder(folder);
  QDir().mkpath(folder);
  ::sync();
  for (auto _ : state)
    if (!extract(archive, folder)) state.SkipWithError("extraction failed");
  state.counters["archive_MiB"] = double(QFileInfo(archive).size()) / kMiB;
  state.counters["files"] = kManyFiles;
}

void BM_ExtractManyFiles(benchmark::State& state) {
  TimeManyFilesExtraction(state, "many-ours", [](const QString& archive, const QString& folder) {
    return ExtractZipArchive(archive, folder).ok();
  });
}

void BM_BsdtarManyFiles(benchmark::State& state) {
  TimeManyFilesExtraction(state, "many-bsdtar", [](const QString& archive, const QString& folder) {
    return RunQuietly("bsdtar", {"-xf", archive, "-C", folder});
  });
}

void BM_UnzipManyFiles(benchmark::State& state) {
  TimeManyFilesExtraction(state, "many-unzip", [](const QString& archive, const QString& folder) {
    return RunQuietly("unzip", {"-o", "-q", archive, "-d", folder});
  });
}

// main interleaves the repetitions of all benchmarks, so each tool meets
// the same machine load.
void OneExtractionPerRepetition(benchmark::internal::Benchmark* run) {
  run->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(kManyFilesRuns);
}

class FixedFolders final : public KnownFolders {
public:
  QString Downloads() const override { return Workspace().filePath("Downloads"); }
  QString Documents() const override { return Workspace().filePath("Documents"); }
  QString LocalAppData() const override { return Workspace().filePath("data"); }
  QString Temp() const override { return Workspace().path(); }
};

class NoProcesses final : public Processes {
public:
  bool IsRunning(const QString&) const override { return false; }
};

// 200 product folders of 100 files: archives of both editions, some
// beside older versions in a subfolder, and the files that gather around
// them (notes, installers, names outside the scheme).
const QString& DownloadFolder() {
  static const QString folder = [] {
    const QString root = Workspace().filePath("Downloads");
    const char* others[] = {"readme.txt", "setup.exe", "notes.md", "Widget_Pack_1.0_REG.zip", "manual.pdf"};
    int written = 0;
    for (int product = 0; written < kDownloadFiles; ++product) {
      const QString name = QString("Product %1").arg(product);
      const QString dir = root + "/" + name;
      QDir().mkpath(dir + "/old");
      for (int i = 0; i < 100 && written < kDownloadFiles; ++i, ++written) {
        QString file;
        if (i % 2 == 0)
          file = QString("%1/%2_%3.%4_%5.zip")
                     .arg(i % 10 == 0 ? dir + "/old" : dir, name)
                     .arg(i / 10)
                     .arg(i)
                     .arg(i % 4 == 0 ? "REG" : "TRIAL");
        else
          file = QString("%1/%2-%3").arg(dir).arg(i).arg(others[i % std::size(others)]);
        QFile(file).open(QIODevice::WriteOnly);
      }
    }
    return root;
  }();
  return folder;
}

void BM_ScanDownloads(benchmark::State& state) {
  RegistryHive hive(Workspace().filePath("registry.reg"));
  hive.OpenKey(TORVDashboardSettings::SettingsKey, true)->WriteString("DOWNLOADDIR", DownloadFolder());
  FixedFolders folders;
  TORVDashboardSettings settings(hive, folders);
  NoProcesses processes;
  TORVDashboardProductCatalogue catalogue(hive, settings, processes);
  for (auto _ : state) {
    catalogue.ScanDownloads();
    benchmark::DoNotOptimize(catalogue.DownloadList().Count());
  }
  state.counters["archives"] = double(catalogue.DownloadList().Count());
}

void BM_FindCommand(benchmark::State& state) {
  const QString folder = DownloadFolder();
  for (auto _ : state)
    if (!RunQuietly("find", {folder, "-name", "*.zip"})) state.SkipWithError("find failed");
}

BENCHMARK(BM_ExtractZipArchive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipCommand)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExtractManyFiles)->Apply(OneExtractionPerRepetition);
BENCHMARK(BM_BsdtarManyFiles)->Apply(OneExtractionPerRepetition);
BENCHMARK(BM_UnzipManyFiles)->Apply(OneExtractionPerRepetition);
BENCHMARK(BM_ScanDownloads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  // Interleaved by default; a later --benchmark_enable_random_interleaving=false wins.
  std::vector<char*> arguments(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  arguments.insert(arguments.begin() + 1, interleave);
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
  orv::bench::RatioReporter reporter{{"BM_ExtractZipArchive", "BM_UnzipCommand"},
                                     {"BM_ExtractManyFiles", "BM_BsdtarManyFiles"},
                                     {"BM_ExtractManyFiles", "BM_UnzipManyFiles"},
                                     {"BM_ScanDownloads", "BM_FindCommand"}};
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
