// The HTTP request engine beside the curl program: 1,000 sequential GETs of
// the vendor-site stand-in's catalogue, through synchronous requests of the
// engine and through one curl process fetching the same 1,000 addresses.
// Both keep their connection alive between requests. Summed up as the ratio
// of median times at the end.
// The memory an answer may take: the peak growth of the process while one
// endless answer is read (the cap ends it), and what 200 answers of 1 MiB
// read one after another leave held (finished results are freed), in MiB.
#include "lib/cloud_base_curl.h"
#include "platform/ui_thread.h"
#include "ratio_reporter.h"
#include "support/raw_http_server.h"
#include "vendor_site_stand_in.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

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

// A field of /proc/self/status, in MiB.
double statusMiB(const char* AField) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB$").arg(QLatin1String(AField)),
                                QRegularExpression::MultilineOption);
  return line.match(QString::fromLatin1(status.readAll())).captured(1).toDouble() / 1024;
}

// Starts a new peak ("VmHWM") at the current resident size.
void resetPeak() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

void BM_EndlessAnswerPeak(benchmark::State& state) {
  RegisterCurlCloudBaseService();
  ImmediateUiThread ui;
  test::RawHttpServer server(
      [](const std::string&) { return test::RawHttpServer::Endless("HTTP/1.1 200 OK\r\n\r\n"); });
  double growth = 0;
  for (auto _ : state) {
    TORVZYNDashCloudBase cloud(ui);
    cloud.Request().FHost = QString::fromStdString(server.URL());
    cloud.Request().FPath = QStringLiteral("/endless");
    const double before = statusMiB("VmRSS");
    resetPeak();
    try {
      cloud.ExecuteRequest(nullptr, nullptr, false);
      state.SkipWithError("the endless answer ended without the cap");
    } catch (const EORVZYNDashCloudBaseException&) {
    }
    growth = std::max(growth, statusMiB("VmHWM") - before);
  }
  state.counters["peak_growth_MiB"] = growth;
  state.counters["cap_MiB"] = double(TORVZYNDashCloudBaseRequest().FMaxAnswerBytes) / (1024 * 1024);
  UnregisterCurlCloudBaseService();
}

void BM_AnswersHeldAfterwards(benchmark::State& state) {
  RegisterCurlCloudBaseService();
  ImmediateUiThread ui;
  const std::string answer = test::RawHttpServer::Response(200, "OK", std::string(1024 * 1024, 'a'));
  test::RawHttpServer server([&](const std::string&) { return test::RawHttpServer::Reply(answer); });
  double held = 0;
  for (auto _ : state) {
    TORVZYNDashCloudBase cloud(ui);
    cloud.Request().FHost = QString::fromStdString(server.URL());
    cloud.Request().FPath = QStringLiteral("/mebibyte");
    const double before = statusMiB("VmRSS");
    for (int i = 0; i < 200; ++i) cloud.ExecuteRequest(nullptr, nullptr, false);
    held = std::max(held, statusMiB("VmRSS") - before);
  }
  state.counters["held_MiB"] = held;
  UnregisterCurlCloudBaseService();
}

BENCHMARK(BM_EngineGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9);
BENCHMARK(BM_EndlessAnswerPeak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_AnswersHeldAfterwards)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

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
