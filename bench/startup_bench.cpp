// Start-up of the application beside a bare QWebEngineView program
// (bare_web_view): both are sent to the dashboard page of the vendor-site
// stand-in, in interleaved runs with the same engine variables. A run ends
// when the page's script asks the stand-in for its catalogue (the page has
// been parsed and its scripts have run); the peak is the largest sum of
// resident memory over the whole process tree (the program and the
// engine's helper processes), sampled every few milliseconds from the start
// until a while after the page has loaded, which catches a helper process
// that lingers. Prints the medians and their ratios, application over bare
// view. Run under Xvfb: xvfb-run -a bench/startup_bench [runs].
// ORV_DASHBOARD_BIN=path runs another build of the application instead.
#include "vendor_site_stand_in.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long a run goes on sampling memory after the page has loaded.
constexpr int kSettleMs = 3000;
constexpr int kSampleMs = 5;
constexpr int kLoadTimeoutMs = 60000;
const QByteArray kLoadedRequest = "GET /site/dashboard/catalogue.json ";

[[noreturn]] void Fail(const char* AWhat) {
  std::fprintf(stderr, "startup_bench: %s\n", AWhat);
  std::exit(1);
}

// The stand-in, whose request log tells when a page has loaded.
class Site {
public:
  QString DashboardURL() const { return FStandIn.URL() + QStringLiteral("/site/dashboard"); }
  const QString& URL() const { return FStandIn.URL(); }
  // Forgets the requests so far.
  void Drain() {
    FStandIn.Process().waitForReadyRead(0);
    FStandIn.Process().readAll();
    FLog.clear();
  }
  // Waits up to AMs for more of the log; true once the page has loaded.
  bool WaitLoaded(int AMs) {
    FStandIn.Process().waitForReadyRead(AMs);
    FLog += FStandIn.Process().readAll();
    return FLog.contains(kLoadedRequest);
  }

private:
  orv::bench::VendorSiteStandIn FStandIn{orv::bench::VendorSiteStandIn::RequestLog::Read};
  QByteArray FLog;
};

// The process and all its descendants, found through the children lists of
// every thread (the engine starts its helpers from a thread of its own).
std::vector<pid_t> ProcessTree(pid_t ARoot) {
  std::vector<pid_t> tree{ARoot};
  for (size_t i = 0; i < tree.size(); ++i) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(tree[i]);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
      if (!children.open(QIODevice::ReadOnly)) continue;
      for (const QByteArray& child : children.readAll().split(' '))
        if (const int pid = child.trimmed().toInt(); pid > 0) tree.push_back(pid);
    }
  }
  return tree;
}

pid_t ParentOf(pid_t APid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(APid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = stat.readAll();
  // "pid (name) state ppid ...": the name may hold spaces and parentheses.
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 1 ? fields[1].toInt() : 0;
}

qint64 ResidentBytes(const std::vector<pid_t>& APids) {
  static const qint64 page = sysconf(_SC_PAGESIZE);
  qint64 total = 0;
  for (const pid_t pid : APids) {
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() > 1) total += fields[1].toLongLong() * page;
  }
  return total;
}

struct Run {
  double LoadedMs = 0;
  double PeakMiB = 0;
  int Processes = 0;  // the most processes seen at once
};

class Program {
public:
  Program(const char* AName, QString APath, QStringList AArguments)
      : FName(AName), FPath(std::move(APath)), FArguments(std::move(AArguments)) {}

  Run Start(Site& ASite) {
    // A home of its own per run: nothing the program keeps in its home
    // carries over.
    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* dir : {"config", "data", "cache", "state"}) {
      const QString path = root.filePath(QStringLiteral("xdg/") + QLatin1String(dir));
      QDir().mkpath(path);
      env.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(dir).toUpper()), path);
    }
    const QString runtime = root.filePath(QStringLiteral("xdg/runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), root.path());
    env.insert(QStringLiteral("ORV_REGISTRY_FILE"), WriteHive(root));
    env.insert(QStringLiteral("ORV_DASHBOARD_SITE_URL"), ASite.URL());
    env.insert(QStringLiteral("ORV_DASHBOARD_API_URL"), ASite.URL());
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    ASite.Drain();
    Run run;
    QElapsedTimer clock;
    clock.start();
    process.start(FPath, FArguments);
    if (!process.waitForStarted()) Fail("a program did not start");
    const pid_t rootPid = static_cast<pid_t>(process.processId());
    qint64 peak = 0;
    qint64 settleUntil = -1;
    std::set<pid_t> seen;
    while (settleUntil < 0 || clock.elapsed() < settleUntil) {
      if (ASite.WaitLoaded(kSampleMs) && settleUntil < 0) {
        run.LoadedMs = clock.nsecsElapsed() / 1e6;
        settleUntil = clock.elapsed() + kSettleMs;
      }
      const std::vector<pid_t> tree = ProcessTree(rootPid);
      seen.insert(tree.begin(), tree.end());
      run.Processes = std::max(run.Processes, static_cast<int>(tree.size()));
      peak = std::max(peak, ResidentBytes(tree));
      if (settleUntil < 0 && clock.elapsed() > kLoadTimeoutMs) Fail("the dashboard page did not load");
      if (process.state() == QProcess::NotRunning) Fail("a program ended early");
    }
    run.PeakMiB = peak / 1048576.0;
    process.terminate();
    if (!process.waitForFinished(10000)) process.kill();
    process.waitForFinished();
    // Helpers that outlive their program (they are ours now, see main)
    // would weigh on the next run.
    for (const pid_t pid : seen) {
      if (pid == rootPid || ParentOf(pid) != getpid()) continue;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    FRuns.push_back(run);
    std::printf("%-12s loaded %8.1f ms  peak %7.1f MiB  processes %d\n", FName, run.LoadedMs, run.PeakMiB,
                run.Processes);
    std::fflush(stdout);
    return run;
  }

  double Median(double Run::*AField) const {
    std::vector<double> values;
    for (const Run& run : FRuns) values.push_back(run.*AField);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }

private:
  // The application's settings file, with its folders in the run's home.
  static QString WriteHive(const QTemporaryDir& ARoot) {
    const QString file = ARoot.filePath(QStringLiteral("orv.reg"));
    QFile hive(file);
    if (!hive.open(QIODevice::WriteOnly)) Fail("cannot write the settings file");
    const auto quoted = [](const QString& APath) {
      return QString(APath).replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    };
    QDir().mkpath(ARoot.filePath(QStringLiteral("downloads")));
    QDir().mkpath(ARoot.filePath(QStringLiteral("kitwright")));
    hive.write(QStringLiteral("Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n"
                              "\"DOWNLOADDIR\"=\"%1\"\n\"KITWRIGHTDIR\"=\"%2\"\n")
                   .arg(quoted(ARoot.filePath(QStringLiteral("downloads"))),
                        quoted(ARoot.filePath(QStringLiteral("kitwright"))))
                   .toUtf8());
    return file;
  }

  const char* FName;
  QString FPath;
  QStringList FArguments;
  std::vector<Run> FRuns;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (qEnvironmentVariableIsEmpty("DISPLAY")) Fail("no display; run under xvfb-run -a");
  // Helper processes whose program has ended come to us, to be ended.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  Site site;
  // ORV_DASHBOARD_BIN names another build of the application, as for the
  // end-to-end tests.
  const QString dashboard = qEnvironmentVariableIsEmpty("ORV_DASHBOARD_BIN")
                                ? QStringLiteral(ORV_DASHBOARD_EXE)
                                : qEnvironmentVariable("ORV_DASHBOARD_BIN");
  Program application("application", dashboard, {});
  Program bare("bare view", QStringLiteral(ORV_BARE_VIEW_EXE), {site.DashboardURL()});
  // One unmeasured start of each fills the disk caches and the engine's
  // data folder beside the application.
  Program warmApplication("(warm-up)", dashboard, {});
  Program warmBare("(warm-up)", QStringLiteral(ORV_BARE_VIEW_EXE), {site.DashboardURL()});
  warmApplication.Start(site);
  warmBare.Start(site);
  // Interleaved, each taking the lead in turn, so that a slow spell of the
  // machine weighs on both alike.
  for (int i = 0; i < runs; ++i) {
    Program& first = i % 2 == 0 ? application : bare;
    Program& second = i % 2 == 0 ? bare : application;
    first.Start(site);
    second.Start(site);
  }
  const double appLoaded = application.Median(&Run::LoadedMs), bareLoaded = bare.Median(&Run::LoadedMs);
  const double appPeak = application.Median(&Run::PeakMiB), barePeak = bare.Median(&Run::PeakMiB);
  std::printf("median loaded: application %.1f ms, bare view %.1f ms\n", appLoaded, bareLoaded);
  std::printf("median peak:   application %.1f MiB, bare view %.1f MiB\n", appPeak, barePeak);
  std::printf("ratio start-up application / bare view = %.2f (goal <= 1.05, medians of %d runs)\n",
              appLoaded / bareLoaded, runs);
  std::printf("ratio peak memory application / bare view = %.2f (goal <= 1.05, medians of %d runs)\n",
              appPeak / barePeak, runs);
  return 0;
}
