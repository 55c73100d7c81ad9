// The host objects against the engine's own floor: a bare page whose
// prompt() a javaScriptPrompt override answers at once, the least a
// synchronous call from a page to native code costs in this engine. Both
// run in one process, each in its own view, in alternating blocks so that a
// slow spell of the machine weighs on both; every call is timed natively
// from one arrival to the next.
//
// BM_Query: one query as the dashboard page makes it (assign the message,
// read the answer) against one bare prompt; goal <= 1.1x.
// BM_SingleCall: one host-object read (no assignment before it) against
// one bare prompt; goal <= 1.05x.
#include "arrival_clock.h"
#include "engine_bench_main.h"
#include "support/browser_test_host.h"

#include "ui/qt_web_browser.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <vector>

namespace orv {
namespace {

constexpr int kBlocks = 60;
constexpr int kCallsPerBlock = 150;
constexpr int kBlockWarmUp = 10;

using bench::ArrivalClock;
using bench::Percentile;

// The floor: every prompt is answered with its own text at once.
class BarePromptPage : public QWebEnginePage {
public:
  explicit BarePromptPage(ArrivalClock& AClock) : FClock(AClock) {}

protected:
  bool javaScriptPrompt(const QUrl&, const QString& msg, const QString&, QString* result) override {
    FClock.Arrived();
    *result = msg;
    return true;
  }

private:
  ArrivalClock& FClock;
};

// A bridge shaped like the dashboard's: an assignment records a query, a
// read answers it, and an assignment answers the read ahead.
class QueryBridge : public IHostObject {
public:
  explicit QueryBridge(ArrivalClock& AClock) : FClock(AClock) {}
  bool FClockReads = false;
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override {
    if (FClockReads) FClock.Arrived();
    return Answer();
  }
  void setProperty(const QString&, const QString& value) override {
    FClock.Arrived();
    FQuery = value;
  }
  std::optional<QString> readAhead(const QString&) override { return Answer(); }

private:
  QString Answer() const { return QStringLiteral("answer:") + FQuery; }
  ArrivalClock& FClock;
  QString FQuery;
};

const QString kBarePrompts = QStringLiteral(
    "(function(){var ok = 0; for (var i = 0; i < %1; i++) { if (prompt('m' + i) === 'm' + i) ok++; }"
    " return ok;})()");
const QString kQueries = QStringLiteral(
    "(function(){var b = window.chrome.webview.hostObjects.sync.Bench; var ok = 0;"
    " for (var i = 0; i < %1; i++) { b.ObjectMessage = 'm' + i; if (b.ObjectMessage === 'answer:m' + i) ok++; }"
    " return ok;})()");
const QString kReads = QStringLiteral(
    "(function(){var b = window.chrome.webview.hostObjects.sync.Bench; var ok = 0;"
    " for (var i = 0; i < %1; i++) { if (b.ObjectMessage === 'answer:x') ok++; }"
    " return ok;})()");

struct Engines {
  LocalWebServer server;
  QTemporaryDir temp;
  BrowserTestHost host{std::make_unique<TORVZYNDashWebBrowser>(), temp.path()};
  ArrivalClock clock;
  std::shared_ptr<QueryBridge> bridge = std::make_shared<QueryBridge>(clock);
  QWebEngineView bareView;
  BarePromptPage* barePage = new BarePromptPage(clock);
  bool started = false;

  // Runs a script in the bare page and waits for its result.
  QString EvalBare(const QString& AScript) {
    QString result;
    bool done = false;
    barePage->runJavaScript(AScript, [&](const QVariant& value) {
      result = value.toString();
      done = true;
    });
    BrowserTestHost::WaitFor([&] { return done; }, 120000);
    return result;
  }
  bool LoadBare(const QString& AURL) {
    bool loaded = false, finished = false;
    QObject::connect(barePage, &QWebEnginePage::loadFinished, barePage, [&](bool ok) {
      loaded = ok;
      finished = true;
    });
    barePage->load(QUrl(AURL));
    BrowserTestHost::WaitFor([&] { return finished; }, 60000);
    QObject::disconnect(barePage, &QWebEnginePage::loadFinished, barePage, nullptr);
    return loaded;
  }
};

// Released before the application object, as the engine requires.
std::unique_ptr<Engines> gEngines;

Engines* StartedEngines(benchmark::State& state) {
  if (!gEngines) gEngines = std::make_unique<Engines>();
  Engines& engines = *gEngines;
  if (!engines.started) {
    TORVZYNDashCustomWebBrowser& browser = engines.host.Browser();
    browser.SetHostObjectOrigin(engines.server.Url(QStringLiteral("/")));
    engines.barePage->setParent(&engines.bareView);
    engines.bareView.setPage(engines.barePage);
    engines.bareView.resize(800, 600);
    engines.bareView.show();
    engines.started = engines.host.Start() && engines.LoadBare(engines.server.Url(QStringLiteral("/page")));
    if (engines.started) {
      browser.AddBridge(QStringLiteral("Bench"), engines.bridge);
      engines.started = engines.host.Load(engines.server.Url(QStringLiteral("/page")));
    }
  }
  if (!engines.started) {
    state.SkipWithError("engine did not start");
    return nullptr;
  }
  return &engines;
}

// Alternating blocks of the host-object script and of bare prompts; the
// ratio of the medians of their times per call.
void CompareWithBarePrompts(benchmark::State& state, const QString& AHostScript, bool AClockReads, const char* AWhat,
                            double AGoal) {
  Engines* started = StartedEngines(state);
  if (!started) return;
  Engines& engines = *started;
  engines.bridge->FClockReads = AClockReads;
  const QString calls = QString::number(kBlockWarmUp + kCallsPerBlock);
  std::vector<double> host, bare;
  for (auto _ : state) {
    for (int block = 0; block < kBlocks; ++block) {
      engines.clock.Reset();
      if (engines.host.Eval(AHostScript.arg(calls), 120000) != calls) state.SkipWithError("host-object calls failed");
      const std::vector<double> hostTimes = engines.clock.Intervals(kBlockWarmUp);
      host.insert(host.end(), hostTimes.begin(), hostTimes.end());

      engines.clock.Reset();
      if (engines.EvalBare(kBarePrompts.arg(calls)) != calls) state.SkipWithError("bare prompts failed");
      const std::vector<double> bareTimes = engines.clock.Intervals(kBlockWarmUp);
      bare.insert(bare.end(), bareTimes.begin(), bareTimes.end());
    }
  }
  const double ratio = Percentile(host, 0.5) / Percentile(bare, 0.5);
  state.counters["host_object_median_us"] = Percentile(host, 0.5);
  state.counters["bare_prompt_median_us"] = Percentile(bare, 0.5);
  state.counters["ratio"] = ratio;
  std::printf("ratio %s / bare prompt = %.2f (goal <= %.2f)\n", AWhat, ratio, AGoal);
}

void BM_Query(benchmark::State& state) { CompareWithBarePrompts(state, kQueries, false, "query", 1.1); }
BENCHMARK(BM_Query)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SingleCall(benchmark::State& state) {
  if (Engines* engines = StartedEngines(state)) engines->bridge->setProperty(QString(), QStringLiteral("x"));
  CompareWithBarePrompts(state, kReads, true, "host-object read", 1.05);
}
BENCHMARK(BM_SingleCall)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  return orv::bench::RunEngineBenchmarks(argc, argv, [] { orv::gEngines.reset(); });
}
