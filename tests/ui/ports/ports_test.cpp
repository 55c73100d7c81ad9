#include "support/fake_ports.h"
#include "support/zombie_children.h"
#include "ui/ports/dbus_notifications.h"
#include "ui/ports/qt_dialogs.h"
#include "ui/ports/qt_shell.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>

#include <gtest/gtest.h>

namespace orv {
namespace {

class FakeNotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  QList<QStringList> received;

public Q_SLOTS:
  uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    received.append({appName, summary, body});
    return 1;
  }
};

// A session bus of the test's own, so notifications never reach the
// desktop of whoever runs the tests.
class PrivateSessionBus {
public:
  PrivateSessionBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (daemon_.waitForReadyRead(30000)) qputenv("DBUS_SESSION_BUS_ADDRESS", daemon_.readLine().trimmed());
  }
  ~PrivateSessionBus() {
    daemon_.kill();
    daemon_.waitForFinished();
  }

private:
  QProcess daemon_;
};

class PortsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { static PrivateSessionBus bus; }
};

// Presses the given button of the next message box once it is shown.
void pressWhenShown(QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->button(button)->click();
  });
}

TEST_F(PortsTest, MessageReturnsTheModalResultOfThePressedButton) {
  struct Case {
    TMsgDlgButtons buttons;
    QMessageBox::StandardButton press;
    int result;
  };
  const Case cases[] = {
      {{mbYes, mbNo}, QMessageBox::Yes, mrYes},
      {{mbYes, mbNo}, QMessageBox::No, mrNo},
      {{mbOK}, QMessageBox::Ok, mrOk},
      {{mbOK, mbCancel}, QMessageBox::Cancel, mrCancel},
  };
  QtDialogs dialogs;
  for (const Case& c : cases) {
    pressWhenShown(c.press);
    EXPECT_EQ(dialogs.Message(QStringLiteral("Proceed?"), mtWarning, c.buttons, 0), c.result);
  }
}

TEST_F(PortsTest, YesIsTheDefaultButton) {
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Yes));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->defaultButton()->click();
  });
  EXPECT_EQ(QtDialogs().Message(QStringLiteral("Close?"), mtWarning, {mbYes, mbNo}, 0), mrYes);
}

TEST_F(PortsTest, NotificationReachesTheDesktopServiceWithNameTitleAndBody) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected());
  FakeNotificationService service;
  ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(
      bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service, QDBusConnection::ExportAllSlots));

  DBusNotifications().Show(QStringLiteral("ORVDashboard"), QStringLiteral("ORV Dashboard Notification"),
                           QStringLiteral("Install A<B> successful"));
  QElapsedTimer waited;
  waited.start();
  while (service.received.isEmpty() && waited.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  ASSERT_EQ(service.received.size(), 1);
  EXPECT_EQ(service.received[0],
            (QStringList{QStringLiteral("ORVDashboard"), QStringLiteral("ORV Dashboard Notification"),
                         QStringLiteral("Install A&lt;B&gt; successful")}));
  bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
  bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));

  // Without a service the call goes nowhere and nothing fails or waits.
  DBusNotifications().Show(QStringLiteral("ORVDashboard"), QStringLiteral("t"), QStringLiteral("b"));
}

// Stands in for the desktop's handlers (xdg-open, x-terminal-emulator) on
// PATH. Each run leaves a record beside the script: its working folder, its
// arguments, then its open descriptors as `ls -l /proc/self/fd` shows them.
class RecordingHandlers {
public:
  RecordingHandlers() : FSavedPath(qgetenv("PATH")) {
    for (const char* name : {"xdg-open", "x-terminal-emulator"}) {
      QFile script(FDir.filePath(QString::fromLatin1(name)));
      script.open(QIODevice::WriteOnly);
      script.write(
          "#!/bin/sh\n"
          "{ pwd; for argument in \"$@\"; do printf 'argument %s\\n' \"$argument\"; done; ls -l /proc/self/fd; }"
          " > \"$0.part\"\n"
          "mv \"$0.part\" \"$0.record\"\n");
      script.setPermissions(script.permissions() | QFile::ExeOwner);
    }
    qputenv("PATH", QFile::encodeName(FDir.path()) + ':' + FSavedPath);
  }
  ~RecordingHandlers() { qputenv("PATH", FSavedPath); }

  QString Folder() const { return FDir.path(); }
  // Clears the handler's last record, starts it through AStart and waits for
  // its new record; the record is cleared first, so a quick handler's record
  // is never taken for a stale one and removed.
  QStringList RecordOf(const QString& AName, const std::function<void()>& AStart) {
    const QString path = FDir.filePath(AName + QStringLiteral(".record"));
    QFile::remove(path);
    QFileSystemWatcher watcher({FDir.path()});
    AStart();
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(path) && waited.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
    QFile record(path);
    if (!record.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

private:
  QTemporaryDir FDir;
  QByteArray FSavedPath;
};

// The descriptors in a record, without the one ls opened to list them.
std::set<int> InheritedDescriptors(const QStringList& ARecord) {
  static const QRegularExpression entry(QStringLiteral("\\s(\\d+) -> (.*)$"));
  static const QRegularExpression ownListing(QStringLiteral("^/proc/\\d+/fd$"));
  std::set<int> descriptors;
  for (const QString& line : ARecord) {
    const QRegularExpressionMatch match = entry.match(line);
    if (match.hasMatch() && !ownListing.match(match.captured(2)).hasMatch())
      descriptors.insert(match.captured(1).toInt());
  }
  return descriptors;
}

TEST_F(PortsTest, ShellHandlersGetTheExactArgumentsAndOnlyTheStandardDescriptors) {
  RecordingHandlers handlers;
  // A descriptor opened without close-on-exec, as libraries of the
  // application do.
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  const QString documents = handlers.Folder() + QStringLiteral("/My Logs");
  ASSERT_TRUE(QDir().mkpath(documents));

  struct Case {
    const char* what;
    std::function<void(Shell&)> open;
    QString handler;
    QStringList arguments;
    QString folder;  // the working folder, when it matters
  };
  const Case cases[] = {
      {"url",
       [](Shell& shell) { shell.OpenURL(QStringLiteral("https://www.x.test/site/a b?q=\u00e4&x=1")); },
       QStringLiteral("xdg-open"),
       {QStringLiteral("https://www.x.test/site/a%20b?q=%C3%A4&x=1")},
       {}},
      {"file",
       [&](Shell& shell) { shell.OpenFile(documents + QStringLiteral("/orv log.html")); },
       QStringLiteral("xdg-open"),
       {QStringLiteral("file://") + handlers.Folder() + QStringLiteral("/My%20Logs/orv%20log.html")},
       {}},
      {"terminal",
       [&](Shell& shell) { shell.OpenTerminal(documents); },
       QStringLiteral("x-terminal-emulator"),
       {},
       documents},
  };
  test::ScriptedDialogs dialogs;
  test::ManualUiThread ui;
  QtShell shell(dialogs, ui);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QStringList record = handlers.RecordOf(c.handler, [&] { c.open(shell); });
    ASSERT_FALSE(record.isEmpty());
    if (!c.folder.isEmpty()) {
      EXPECT_EQ(record[0].toStdString(), c.folder.toStdString());
    }
    QStringList arguments;
    for (const QString& line : record)
      if (line.startsWith(QLatin1String("argument "))) arguments << line.mid(9);
    EXPECT_EQ(arguments.join(QLatin1Char('|')).toStdString(), c.arguments.join(QLatin1Char('|')).toStdString());
    EXPECT_EQ(InheritedDescriptors(record), (std::set<int>{0, 1, 2})) << record.join(QLatin1Char('\n')).toStdString();
  }
  ui.Pump();
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(test::ZombieChildren(), 0);
  ::close(leaky);
}

// Without xdg-open a link, a log or a folder would open nothing, silently.
TEST_F(PortsTest, ShellTellsTheUserWhenXdgOpenCannotBeStarted) {
  QTemporaryDir emptyBin;
  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(emptyBin.path()));
  test::ScriptedDialogs dialogs;
  test::ManualUiThread ui;
  QtShell shell(dialogs, ui);
  const QString url = QStringLiteral("https://www.x.test/documentation");
  const QString folder = emptyBin.path();
  shell.OpenURL(url);
  shell.OpenFile(folder);
  qputenv("PATH", savedPath);
  // Posted: the caller may be inside a call from the page.
  EXPECT_TRUE(dialogs.asked.isEmpty());
  ui.Pump();
  ASSERT_EQ(dialogs.asked.size(), 2);
  const QString expected = QStringLiteral(
      "No program could open %1: xdg-open could not be started (No such file or "
      "directory). Install xdg-utils, which provides it, to open links, logs and "
      "folders.");
  EXPECT_EQ(dialogs.asked[0].toStdString(), expected.arg(url).toStdString());
  EXPECT_EQ(dialogs.asked[1].toStdString(), expected.arg(folder).toStdString());
}

// The terminal reports the folder it started in through a pipe the test
// reads, so the test waits for the program itself rather than for a time.
class TerminalTest : public PortsTest {
protected:
  void SetUp() override {
    path_ = qgetenv("PATH");
    terminal_ = qgetenv("TERMINAL");
    ASSERT_EQ(::mkfifo(report_.toLocal8Bit().constData(), 0600), 0);
    QDir().mkpath(bin_);
    qputenv("PATH", bin_.toLocal8Bit() + ":/usr/bin:/bin");
  }
  void TearDown() override {
    qputenv("PATH", path_);
    qputenv("TERMINAL", terminal_);
  }
  // A terminal program named AName in the test's bin folder.
  void InstallTerminal(const QString& AName) {
    QFile script(bin_ + QLatin1Char('/') + AName);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\npwd > '" + report_.toLocal8Bit() + "'\n");
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  QString StartedIn() {
    QFile pipe(report_);
    if (!pipe.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(pipe.readAll()).trimmed();
  }

  QTemporaryDir temp_;
  const QString bin_ = temp_.filePath(QStringLiteral("bin"));
  const QString report_ = temp_.filePath(QStringLiteral("report"));
  const QString folder_ = temp_.path();
  QByteArray path_, terminal_;
  test::ScriptedDialogs dialogs_;
  test::ManualUiThread ui_;
};

TEST_F(TerminalTest, OpensTheUsersTerminalFirstThenTheSystemsOne) {
  struct Case {
    const char* what;
    QByteArray terminalVariable;
    const char* installed;
  };
  const Case cases[] = {
      {"$TERMINAL with an argument", "my-terminal --new-window", "my-terminal"},
      {"$TERMINAL naming a missing program", "missing-terminal", "x-terminal-emulator"},
      {"no $TERMINAL", "", "x-terminal-emulator"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QDir(bin_).removeRecursively();
    QDir().mkpath(bin_);
    InstallTerminal(QLatin1String(c.installed));
    qputenv("TERMINAL", c.terminalVariable);
    ASSERT_TRUE(QtShell(dialogs_, ui_).OpenTerminal(folder_));
    EXPECT_EQ(StartedIn(), QDir(folder_).canonicalPath());
  }
}

TEST_F(TerminalTest, SaysWhenThereIsNoTerminalToStart) {
  qputenv("TERMINAL", "");
  qputenv("PATH", bin_.toLocal8Bit());
  EXPECT_FALSE(QtShell(dialogs_, ui_).OpenTerminal(folder_));
}

}  // namespace
}  // namespace orv

#include "ports_test.moc"
