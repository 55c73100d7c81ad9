// Package-manager output reaching the page: the orv.exe stand-in prints
// 100,000 progress lines during an install that the real dashboard page
// asks for, in the real engine, and the page's console shows them. Measured:
// the stand-in's own run time printing into a pipe read at full speed, and
// its run time inside the application (from the page's request to its
// end, read from its log); the page-side time from the request to the page
// having received and shown the last line; lines per second; the time from
// the stand-in's end to the page showing its last line; whether every line
// arrived, in order; and the application's own CPU time for the lines.
//
// Run under Xvfb (xvfb-run -a) with the engine variables of tests/ui.
#include "core/dashboard_browser.h"
#include "core/kitwright_coordinator.h"
#include "engine_bench_main.h"
#include "lib/web_browser.h"
#include "platform/dialogs.h"
#include "platform/elevated.h"
#include "platform/notifications.h"
#include "platform/qt_ui_thread.h"
#include "platform/registry_hive.h"
#include "platform/shell.h"
#include "platform/system_known_folders.h"
#include "platform/system_processes.h"
#include "settings/dashboard_settings.h"
#include "support/browser_test_host.h"
#include "support/fake_options_dialog.h"
#include "ui/qt_web_browser.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <ctime>

namespace orv {
namespace {

constexpr int kLines = 100000;
const QString kProduct = QStringLiteral("orv.bench");

// The question is answered Yes; nothing else of the desktop is used.
class YesDialogs final : public Dialogs {
public:
  int Message(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrYes; }
};
class NoShell final : public Shell {
public:
  void OpenURL(const QString&) override {}
  void OpenFile(const QString&) override {}
  bool OpenTerminal(const QString&) override { return false; }
};
class NoNotifications final : public Notifications {
public:
  void Show(const QString&, const QString&, const QString&) override {}
};
class NoElevated final : public Elevated {
public:
  int Run(const QString&, const QString&, const QString&) override { return 0; }
};

qint64 Now() { return QDateTime::currentMSecsSinceEpoch(); }

// The vendor-site stand-in on a free port; its address.
QString StartSite(QProcess& site, const QString& dataDir) {
  QDir().mkpath(dataDir);
  QFile::copy(QStringLiteral(ORV_SITE_SCENE), dataDir + QStringLiteral("/site.json"));
  site.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  site.start(QStringLiteral(ORV_VENDOR_SITE_EXE),
             {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), dataDir});
  static const QRegularExpression listening(QStringLiteral("listening on (http://\\S+)"));
  QString url;
  BrowserTestHost::WaitFor(
      [&] {
        const auto match = listening.match(QString::fromUtf8(site.peek(4096)));
        if (match.hasMatch()) url = match.captured(1);
        return !url.isEmpty() || site.state() == QProcess::NotRunning;
      },
      20000);
  return url;
}

void WriteState(const QString& folder, long long bulkLines) {
  const nlohmann::ordered_json state = {
      {"version", "2.5.0.0"},
      {"folder_initialized", true},
      {"credentials", {{"email", "bench@example.com"}, {"code", "B-1"}}},
      {"repositories", {{"default", {{kProduct.toStdString(), {{"name", "Bench Pack"}, {"version", "1.0.0.0"}}}}}}},
      {"installed", nlohmann::ordered_json::object()},
      {"knobs", {{"huge_output_lines", bulkLines}}}};
  QFile file(folder + QStringLiteral("/orv-state.json"));
  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  file.write(QByteArray::fromStdString(state.dump()));
}

// The stand-in alone, writing into a pipe that is read at once: its own
// run time in milliseconds.
double StandInAlone(const QString& folder) {
  QProcess orv;
  orv.setWorkingDirectory(folder);
  orv.setProcessChannelMode(QProcess::MergedChannels);
  qint64 bytes = 0;
  QObject::connect(&orv, &QProcess::readyRead, [&] { bytes += orv.readAll().size(); });
  QElapsedTimer timer;
  timer.start();
  orv.start(QStringLiteral(ORV_STANDIN_EXE),
            {QStringLiteral("install"), kProduct, QStringLiteral("-display-options:product-progress")});
  BrowserTestHost::WaitFor([&] { return orv.state() == QProcess::NotRunning; }, 120000);
  bytes += orv.readAll().size();
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Set in the page before the batch: checks that the bulk lines come in
// order and, once the console shows the last of them, puts the figures into
// the title, which the engine reports to us.
const QString kPageProbe = QStringLiteral(R"(
(function(total) {
  let next = 0, outOfOrder = 0, received = 0;
  const last = 'StandIn' + String(total - 1).padStart(7, '0') + '.pas';
  const receive = window.KitwrightOutput;
  let scripts = 0, inScript = false;
  window.KitwrightOutput = function(line) {
    if (!inScript) { inScript = true; scripts++; queueMicrotask(() => { inScript = false; }); }
    const m = /Compiling unit StandIn(\d+)\.pas$/.exec(line);
    if (m) {
      if (Number(m[1]) !== next) outOfOrder++;
      if (++next === total) received = Date.now();
    }
    receive(line);
  };
  const consoleBox = document.getElementById('console');
  new MutationObserver((changes, observer) => {
    if (!changes.some((c) => [...c.addedNodes].some((n) => n.textContent.endsWith(last)))) return;
    observer.disconnect();
    document.title = 'bench ' + JSON.stringify({ received, shown: Date.now(), lines: next, outOfOrder, scripts,
      kept: kitwrightConsole.kept().length });
  }).observe(consoleBox, { childList: true });
  return true;
})(%1))");

void BM_KitwrightOutputToPage(benchmark::State& state) {
  QTemporaryDir temp;
  const QString kitwright = temp.filePath(QStringLiteral("kitwright"));
  QDir().mkpath(kitwright);
  QFile::link(QStringLiteral(ORV_STANDIN_EXE), kitwright + QStringLiteral("/orv.exe"));
  qputenv("XDG_DATA_HOME", temp.filePath(QStringLiteral("data")).toLocal8Bit());
  qputenv("XDG_CACHE_HOME", temp.filePath(QStringLiteral("cache")).toLocal8Bit());

  WriteState(kitwright, kLines);
  const double standInMs = StandInAlone(kitwright);
  WriteState(kitwright, 0);

  QProcess site;
  const QString siteURL = StartSite(site, temp.filePath(QStringLiteral("site")));
  if (siteURL.isEmpty()) {
    state.SkipWithError("the vendor site did not start");
    return;
  }

  RegistryHive registry(temp.filePath(QStringLiteral("registry.reg")));
  registry.OpenKey(TORVDashboardSettings::SettingsKey, true)->WriteString(QStringLiteral("KITWRIGHTDIR"), kitwright);
  SystemKnownFolders folders;
  QtUiThread ui;
  YesDialogs dialogs;
  NoShell shell;
  NoNotifications notifications;
  SystemProcesses processes;
  NoElevated elevated;
  test::FakeOptionsDialogs optionsDialogs;
  QWidget window;
  window.resize(1400, 800);
  auto dashboard = std::make_unique<TORVDashboardBrowser>(
      &window, false,
      TORVDashboardPorts{registry, folders, ui, dialogs, shell, notifications, processes, elevated, optionsDialogs},
      siteURL, siteURL);
  window.show();
  dashboard->WebBrowser().SetParent(&window);
  dashboard->WebBrowser().SetControlAlignment(caClient);
  // The engine makes its view once it has started.
  const auto view = [&] { return static_cast<QWebEngineView*>(dashboard->WebBrowser().NativeBrowser()); };

  // The page has loaded and shows the package manager's rows.
  const bool ready = BrowserTestHost::WaitFor(
      [&] {
        return view() && view()->title() == QLatin1String("ORV Dashboard") &&
               dashboard->Kitwright().ProductStatusList().Count() > 0;
      },
      120000);
  if (!ready) {
    state.SkipWithError("the dashboard page did not load its rows");
    return;
  }
  WriteState(kitwright, kLines);

  // The stand-in's end: its run log is written as its last act.
  qint64 standInEnd = 0;
  const QString log = kitwright + QStringLiteral("/Logs/orv.log.html");
  QFileSystemWatcher watcher({log});
  QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, [&] {
    QFile file(log);
    if (!standInEnd && file.open(QIODevice::ReadOnly) &&
        file.readAll().contains(QByteArray("orv install " + kProduct.toUtf8())))
      standInEnd = Now();
  });

  QString figures;
  QObject::connect(view(), &QWebEngineView::titleChanged, [&](const QString& title) {
    if (title.startsWith(QLatin1String("bench "))) figures = title.mid(6);
  });
  dashboard->WebBrowser().ExecuteJavaScript(kPageProbe.arg(kLines), nullptr);
  qint64 requested = 0;
  std::clock_t cpuAtRequest = 0;
  for (auto _ : state) {
    requested = Now();
    cpuAtRequest = std::clock();
    dashboard->WebBrowser().ExecuteJavaScript(
        QStringLiteral("Bridge.send('MULTIACTION', [{EventName: 'INSTALLKITWRIGHTPRODUCT', Name: 'Bench Pack', "
                       "Version: '1.0', KitwrightID: '%1'}]);")
            .arg(kProduct),
        nullptr);
    if (!BrowserTestHost::WaitFor([&] { return !figures.isEmpty(); }, 600000)) {
      state.SkipWithError("the page did not show every line");
      return;
    }
  }
  // The application's own work: every thread of this process (reading the
  // output, the controller, the engine's browser side), not the page's
  // renderer or the stand-in.
  const double appCpuMs = static_cast<double>(std::clock() - cpuAtRequest) * 1000.0 / CLOCKS_PER_SEC;
  BrowserTestHost::WaitFor([&] { return standInEnd != 0; }, 10000);

  const auto result = nlohmann::json::parse(figures.toStdString());
  const auto since = [&](qint64 time) { return static_cast<double>(time - requested); };
  const double pageMs = since(result["shown"].get<qint64>());
  const double standInInAppMs = standInEnd ? since(standInEnd) : -1;
  state.counters["lines"] = result["lines"].get<double>();
  state.counters["scripts"] = result["scripts"].get<double>();
  state.counters["out_of_order"] = result["outOfOrder"].get<double>();
  state.counters["console_lines_kept"] = result["kept"].get<double>();
  state.counters["app_cpu_ms"] = appCpuMs;
  state.counters["standin_alone_ms"] = standInMs;
  state.counters["standin_in_app_ms"] = standInInAppMs;
  state.counters["page_received_ms"] = since(result["received"].get<qint64>());
  state.counters["page_shown_ms"] = pageMs;
  state.counters["lines_per_second"] = kLines / (pageMs / 1000.0);
  state.counters["ratio_page_per_standin_alone"] = pageMs / standInMs;
  state.counters["ratio_page_per_standin_in_app"] = pageMs / standInInAppMs;
  state.counters["standin_end_to_last_line_shown_ms"] = standInEnd ? pageMs - standInInAppMs : -1;

  dashboard.reset();
  site.terminate();
  site.waitForFinished();
}
BENCHMARK(BM_KitwrightOutputToPage)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) { return orv::bench::RunEngineBenchmarks(argc, argv); }
