// The HTTP request engine beside the curl program: 1,000 sequential GETs of
// the vendor-site stand-in's catalogue, through synchronous requests of the
// engine and through one curl process fetching the same 1,000 addresses.
// Both keep their connection alive between requests. Summed up as the ratio
// of median times at the end.
#include "lib/cloud_base_curl.h"
#include "platform/ui_thread.h"
#include "ratio_reporter.h"
#include "vendor_site_stand_in.h"

#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace orv {
namespace {

constexpr int kRequests = 1000;
constexpr char kPath[] = "/site/dashboard/catalogue.json";

// Everything runs on the benchmark's thread.
class ImmediateUiThread final : public UiThread {
public:
  void post(std::function<void()> task) override { task(); }
  void invokeAndWait(const std::function<void()>& task) override { task(); }
  void processPendingEvents() override {}
  bool isCurrent() const override { return true; }
};

// The stand-in for the whole run.
bench::VendorSiteStandIn& Site() {
  static bench::VendorSiteStandIn site(bench::VendorSiteStandIn::RequestLog::Drop);
  return site;
}

// One component per run of 1,000, as one curl process is: it keeps the
// synchronous results until it goes.
void BM_EngineGets(benchmark::State& state) {
  RegisterCurlCloudBaseService();
  ImmediateUiThread ui;
  qint64 bytes = 0;
  for (auto _ : state) {
    TORVZYNDashCloudBase cloud(ui);
    cloud.Request().FHost = Site().URL();
    cloud.Request().FPath = QString::fromLatin1(kPath);
    for (int i = 0; i < kRequests; ++i)
      cloud.ExecuteRequest([&](TORVZYNDashCloudBaseRequestResult& r) { bytes += r.FResultString.size(); }, nullptr,
                           false);
  }
  if (bytes == 0) state.SkipWithError("no answers");
  state.counters["requests"] = kRequests;
  UnregisterCurlCloudBaseService();
}

void BM_CurlCommand(benchmark::State& state) {
  QTemporaryDir folder;
  const QString config = folder.filePath(QStringLiteral("urls.conf"));
  {
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < kRequests; ++i)
      file.write(
          QStringLiteral("url = \"%1%2\"\noutput = \"/dev/null\"\n").arg(Site().URL(), QLatin1String(kPath)).toUtf8());
  }
  for (auto _ : state) {
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("--silent"), QStringLiteral("--fail"), QStringLiteral("--config"), config});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0) state.SkipWithError("curl failed");
  }
  state.counters["requests"] = kRequests;
}

BENCHMARK(BM_EngineGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  orv::bench::RatioReporter reporter{{"BM_EngineGets", "BM_CurlCommand"}};
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
