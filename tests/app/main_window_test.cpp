#include "app/main_window.h"

#include "core/dashboard_browser.h"
#include "platform/registry_hive.h"
#include "support/fake_ports.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv {
namespace {

const QString kCloseQuestion =
    QStringLiteral("ORV Dashboard is still working, are you sure you want close the application?");

class MainWindowTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "main_window_test";
    static char* argv[] = {arg0, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: the engine libraries linked in tear down their own
    // globals at exit before a static application object would go.
    static QApplication* app = new QApplication(argc, argv);
    Q_UNUSED(app);
  }

  QTemporaryDir temp_;
  RegistryHive hive_{temp_.filePath(QStringLiteral("registry.reg"))};
  test::FixedFolders folders_{temp_.path()};
  test::ManualUiThread ui_;
  test::ScriptedDialogs dialogs_;
  test::RecordingShell shell_;
  test::RecordingNotifications notifications_;
  test::FixedProcesses processes_;
  test::RecordingElevated elevated_;
  TFrmDashboardApp window_{{hive_, folders_, ui_, dialogs_, shell_, notifications_, processes_, elevated_},
                           QStringLiteral("http://127.0.0.1:1")};
};

TEST_F(MainWindowTest, IsLaidOutAsTheDashboardWindow) {
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("ORV Dashboard"));
  EXPECT_EQ(window_.size(), QSize(1400, 800));
  EXPECT_EQ(window_.minimumSize(), QSize(1200, 500));
  EXPECT_EQ(window_.OptionsButton()->text(), QStringLiteral("Options"));
  window_.show();
  EXPECT_FALSE(window_.OptionsButton()->isVisible());  // its panel is hidden
}

TEST_F(MainWindowTest, ClosesWithoutAQuestionWhileIdle) {
  window_.show();
  EXPECT_TRUE(window_.close());
  EXPECT_TRUE(dialogs_.asked.isEmpty());
}

TEST_F(MainWindowTest, AsksBeforeClosingWhileWorkIsInProgress) {
  window_.show();
  window_.Dashboard().Include(sRunning);
  dialogs_.answer = mrNo;
  EXPECT_FALSE(window_.close());
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(dialogs_.asked, QStringList{kCloseQuestion});

  window_.Dashboard().Include(sDownloading);
  dialogs_.answer = mrYes;
  EXPECT_TRUE(window_.close());
  EXPECT_EQ(dialogs_.asked.size(), 2);
}

}  // namespace
}  // namespace orv
