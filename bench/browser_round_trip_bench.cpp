// Page-to-native round trips in the real engine: a page script assigns a
// property of a native object and reads it back, 2,000 times, once through
// the synchronous host objects and once through Qt WebChannel, in the same
// engine and run. Each round trip is timed natively, from one arrival of
// the assignment to the next, so both channels are measured alike.
//
// BM_SingleCall then compares one call alone: a read of the host object's
// property against a WebChannel echo (a method that returns its argument,
// whose result the page awaits before the next). Each is timed natively
// from one arrival to the next, in alternating blocks so that a slow spell
// of the machine weighs on both; the ratios, host object over WebChannel,
// are printed for the median and the 99th percentile.
#include "arrival_clock.h"
#include "engine_bench_main.h"
#include "support/browser_test_host.h"

#include "ui/qt_web_browser.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <vector>

namespace orv {
namespace {

constexpr int kRoundTrips = 2000;
constexpr int kWarmUp = 100;

using bench::ArrivalClock;
using bench::Percentile;

class HostBridge : public IHostObject {
public:
  explicit HostBridge(ArrivalClock& clock, bool clockReads = false) : FClock(clock), FClockReads(clockReads) {}
  QStringList propertyNames() const override { return {QStringLiteral("ObjectMessage")}; }
  QString getProperty(const QString&) override {
    if (FClockReads) FClock.Arrived();
    return FValue;
  }
  void setProperty(const QString&, const QString& value) override {
    FClock.Arrived();
    FValue = value;
  }

private:
  ArrivalClock& FClock;
  bool FClockReads;
  QString FValue;
};

class ChannelBridge : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString objectMessage READ objectMessage WRITE setObjectMessage NOTIFY objectMessageChanged)
public:
  explicit ChannelBridge(ArrivalClock& clock) : FClock(clock) {}
  QString objectMessage() const { return FValue; }
  void setObjectMessage(const QString& value) {
    FClock.Arrived();
    FValue = value;
  }
  Q_INVOKABLE QString readObjectMessage() const { return FValue; }
  Q_INVOKABLE QString echo(const QString& value) {
    FClock.Arrived();
    return value;
  }
  // The page's word that a block of echoes is over (untimed).
  Q_INVOKABLE void finished(int ok) { FFinished = ok; }
  int FFinished = -1;
signals:
  void objectMessageChanged();

private:
  ArrivalClock& FClock;
  QString FValue;
};

const QString kHostObjectLoop = QStringLiteral(
    "(function(){var b = window.chrome.webview.hostObjects.sync.Bench; var ok = 0;"
    " for (var i = 0; i < %1; i++) { b.ObjectMessage = 'm' + i; if (b.ObjectMessage === 'm' + i) ok++; }"
    " return ok;})()");

const QString kWebChannelLoop = QStringLiteral(
    "new QWebChannel(qt.webChannelTransport, function(channel) {"
    "  var b = channel.objects.bench; var i = 0; window.__ok = 0;"
    "  function next() {"
    "    if (i === %1) { window.__done = true; return; }"
    "    var v = 'm' + i++; b.objectMessage = v;"
    "    b.readObjectMessage(function(r) { if (r === v) window.__ok++; next(); });"
    "  }"
    "  next();"
    "});");

const QString kHostObjectReads = QStringLiteral(
    "(function(){var b = window.chrome.webview.hostObjects.sync.Bench; var ok = 0;"
    " for (var i = 0; i < %1; i++) { if (b.ObjectMessage === 'value') ok++; }"
    " return ok;})()");

// Defines window.__echoes(n), which runs n echoes one after the other and
// then reports how many came back right.
const QString kWebChannelEchoes = QStringLiteral(
    "new QWebChannel(qt.webChannelTransport, function(channel) {"
    "  var b = channel.objects.bench;"
    "  window.__echoes = function(n) {"
    "    var i = 0, ok = 0;"
    "    function next() {"
    "      if (i === n) { b.finished(ok); return; }"
    "      var v = 'm' + i++;"
    "      b.echo(v, function(r) { if (r === v) ok++; next(); });"
    "    }"
    "    next();"
    "  };"
    "  b.finished(0);"
    "});");

struct Engine {
  LocalWebServer server;
  QTemporaryDir temp;
  BrowserTestHost host{std::make_unique<TORVZYNDashWebBrowser>(), temp.path()};
  QWebChannel channel;
  bool started = false;
};

// Released before the application object, as the engine requires.
std::unique_ptr<Engine> gEngine;

// The engine of the whole run, started on first use; null if it failed.
Engine* StartedEngine(benchmark::State& state) {
  if (!gEngine) gEngine = std::make_unique<Engine>();
  Engine& engine = *gEngine;
  TORVZYNDashCustomWebBrowser& browser = engine.host.Browser();
  if (!engine.started) {
    browser.SetHostObjectOrigin(engine.server.Url(QStringLiteral("/")));
    engine.started = engine.host.Start();
    if (!engine.started) {
      state.SkipWithError("engine did not start");
      return nullptr;
    }
    auto* view = static_cast<QWebEngineView*>(browser.NativeBrowser());
    view->page()->setWebChannel(&engine.channel);
  }
  return &engine;
}

QString WebChannelLibrary() {
  QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  channelScript.open(QIODevice::ReadOnly);
  return QString::fromUtf8(channelScript.readAll());
}

void BM_PageRoundTrip(benchmark::State& state) {
  Engine* started = StartedEngine(state);
  if (!started) return;
  Engine& engine = *started;
  TORVZYNDashCustomWebBrowser& browser = engine.host.Browser();
  ArrivalClock clock;
  auto hostBridge = std::make_shared<HostBridge>(clock);
  ChannelBridge channelBridge(clock);
  engine.channel.registerObject(QStringLiteral("bench"), &channelBridge);
  browser.AddBridge(QStringLiteral("Bench"), hostBridge);
  const QString channelLibrary = WebChannelLibrary();

  std::vector<double> host, web;
  for (auto _ : state) {
    engine.host.Load(engine.server.Url(QStringLiteral("/page")));
    clock.Reset();
    const QString ok = engine.host.Eval(kHostObjectLoop.arg(kWarmUp + kRoundTrips), 120000);
    host = clock.Intervals(kWarmUp);
    if (ok != QString::number(kWarmUp + kRoundTrips)) state.SkipWithError("host-object round trips failed");

    engine.host.Eval(channelLibrary + QStringLiteral(";true"));
    clock.Reset();
    engine.host.Eval(kWebChannelLoop.arg(kWarmUp + kRoundTrips));
    BrowserTestHost::WaitFor(
        [&] { return engine.host.Eval(QStringLiteral("window.__done === true")) == QLatin1String("true"); }, 120000);
    web = clock.Intervals(kWarmUp);
    if (engine.host.Eval(QStringLiteral("window.__ok")) != QString::number(kWarmUp + kRoundTrips))
      state.SkipWithError("WebChannel round trips failed");
  }
  engine.channel.deregisterObject(&channelBridge);
  browser.RemoveBridge(QStringLiteral("Bench"));

  state.counters["round_trips"] = static_cast<double>(host.size());
  state.counters["host_object_median_us"] = Percentile(host, 0.5);
  state.counters["host_object_p99_us"] = Percentile(host, 0.99);
  state.counters["webchannel_median_us"] = Percentile(web, 0.5);
  state.counters["webchannel_p99_us"] = Percentile(web, 0.99);
  state.counters["median_ratio_webchannel_per_host_object"] = Percentile(web, 0.5) / Percentile(host, 0.5);
  state.counters["p99_ratio_webchannel_per_host_object"] = Percentile(web, 0.99) / Percentile(host, 0.99);
}
BENCHMARK(BM_PageRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SingleCall(benchmark::State& state) {
  constexpr int kBlocks = 10;
  constexpr int kBlockWarmUp = 10;
  Engine* started = StartedEngine(state);
  if (!started) return;
  Engine& engine = *started;
  TORVZYNDashCustomWebBrowser& browser = engine.host.Browser();
  ArrivalClock clock;
  auto hostBridge = std::make_shared<HostBridge>(clock, true);
  hostBridge->setProperty(QString(), QStringLiteral("value"));
  ChannelBridge channelBridge(clock);
  engine.channel.registerObject(QStringLiteral("bench"), &channelBridge);
  browser.AddBridge(QStringLiteral("Bench"), hostBridge);
  const int perBlock = kBlockWarmUp + kRoundTrips / kBlocks;
  const QString calls = QString::number(perBlock);

  std::vector<double> host, web;
  for (auto _ : state) {
    engine.host.Load(engine.server.Url(QStringLiteral("/page")));
    engine.host.Eval(WebChannelLibrary() + QStringLiteral(";true"));
    channelBridge.FFinished = -1;
    engine.host.Eval(kWebChannelEchoes);
    BrowserTestHost::WaitFor([&] { return channelBridge.FFinished == 0; }, 30000);
    for (int block = 0; block < kBlocks; ++block) {
      clock.Reset();
      if (engine.host.Eval(kHostObjectReads.arg(calls), 120000) != calls)
        state.SkipWithError("host-object reads failed");
      const std::vector<double> reads = clock.Intervals(kBlockWarmUp);
      host.insert(host.end(), reads.begin(), reads.end());

      clock.Reset();
      channelBridge.FFinished = -1;
      engine.host.Eval(QStringLiteral("window.__echoes(%1); true").arg(calls));
      BrowserTestHost::WaitFor([&] { return channelBridge.FFinished >= 0; }, 120000);
      if (channelBridge.FFinished != perBlock) state.SkipWithError("WebChannel echoes failed");
      const std::vector<double> echoes = clock.Intervals(kBlockWarmUp);
      web.insert(web.end(), echoes.begin(), echoes.end());
    }
  }
  engine.channel.deregisterObject(&channelBridge);
  browser.RemoveBridge(QStringLiteral("Bench"));
  const double ratio = Percentile(host, 0.5) / Percentile(web, 0.5);
  const double p99Ratio = Percentile(host, 0.99) / Percentile(web, 0.99);
  state.counters["calls"] = static_cast<double>(host.size());
  state.counters["host_read_median_us"] = Percentile(host, 0.5);
  state.counters["host_read_p99_us"] = Percentile(host, 0.99);
  state.counters["webchannel_echo_median_us"] = Percentile(web, 0.5);
  state.counters["webchannel_echo_p99_us"] = Percentile(web, 0.99);
  std::printf("ratio host-object read / WebChannel echo = %.2f median (goal <= 0.75), %.2f p99 (goal <= 1.0)\n", ratio,
              p99Ratio);
}
BENCHMARK(BM_SingleCall)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  return orv::bench::RunEngineBenchmarks(argc, argv, [] { orv::gEngine.reset(); });
}

#include "browser_round_trip_bench.moc"
