#include "ui/ports/dbus_notifications.h"
#include "ui/ports/qt_dialogs.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

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
    if (daemon_.waitForReadyRead(5000))
      qputenv("DBUS_SESSION_BUS_ADDRESS", daemon_.readLine().trimmed());
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
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "ports_test";
    static char* argv[] = {arg0, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: the engine libraries linked in tear down their own
    // globals at exit before a static application object would go.
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app);
    static PrivateSessionBus bus;
  }
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
  ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                 QDBusConnection::ExportAllSlots));

  DBusNotifications().Show(QStringLiteral("ORVDashboard"), QStringLiteral("ORV Dashboard Notification"),
                           QStringLiteral("Install A<B> successful"));
  QElapsedTimer waited;
  waited.start();
  while (service.received.isEmpty() && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  ASSERT_EQ(service.received.size(), 1);
  EXPECT_EQ(service.received[0], (QStringList{QStringLiteral("ORVDashboard"),
                                              QStringLiteral("ORV Dashboard Notification"),
                                              QStringLiteral("Install A&lt;B&gt; successful")}));
  bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
  bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));

  // Without a service the call goes nowhere and nothing fails or waits.
  DBusNotifications().Show(QStringLiteral("ORVDashboard"), QStringLiteral("t"), QStringLiteral("b"));
}

}  // namespace
}  // namespace orv

#include "ports_test.moc"
