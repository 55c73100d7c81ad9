#include "app/main_window.h"
#include "app/settings_check.h"

#include "core/dashboard_browser.h"
#include "lib/web_browser.h"
#include "platform/registry_hive.h"
#include "support/fake_options_dialog.h"
#include "support/fake_ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv {
namespace {

const QString kCloseQuestion =
    QStringLiteral("ORV Dashboard is still working, are you sure you want close the application?");

class MainWindowTest : public ::testing::Test {
protected:
  QTemporaryDir temp_;
  RegistryHive hive_{temp_.filePath(QStringLiteral("registry.reg"))};
  test::FixedFolders folders_{temp_.path()};
  test::ManualUiThread ui_;
  test::ScriptedDialogs dialogs_;
  test::RecordingShell shell_;
  test::RecordingNotifications notifications_;
  test::FixedProcesses processes_;
  test::RecordingElevated elevated_;
  test::FakeOptionsDialogs optionsDialogs_;
  TFrmDashboardApp window_{
      {hive_, folders_, ui_, dialogs_, shell_, notifications_, processes_, elevated_, optionsDialogs_},
      QStringLiteral("http://127.0.0.1:1"),
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
  window_.Dashboard().Statuses().Include(sRunning);
  dialogs_.answer = mrNo;
  EXPECT_FALSE(window_.close());
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(dialogs_.asked, QStringList{kCloseQuestion});

  window_.Dashboard().Statuses().Include(sDownloading);
  dialogs_.answer = mrYes;
  EXPECT_TRUE(window_.close());
  EXPECT_EQ(dialogs_.asked.size(), 2);
}

// The window's own dialog has none of the page dialog's additions.
TEST_F(MainWindowTest, OptionsButtonShowsThePlainDialog) {
  auto prepared = std::make_unique<test::FakeOptionsDialog>();
  test::FakeOptionsDialog* dialog = prepared.get();
  optionsDialogs_.prepared.push_back(std::move(prepared));
  bool attached = true;
  QStringList calls;
  dialog->onShowModal = [&](test::FakeOptionsDialog& shown) {
    attached = bool(shown.OnKitwrightDirChanged) || bool(shown.OnOpenKitwrightConfig);
  };
  dialog->onDestroyed = [&] { calls = dialog->calls; };
  window_.OptionsButton()->click();
  EXPECT_EQ(optionsDialogs_.created, 1);
  EXPECT_FALSE(attached);
  EXPECT_EQ(calls, (QStringList{QStringLiteral("ShowModal"), QStringLiteral("SaveRegistrySettings")}));
  EXPECT_TRUE(dialogs_.asked.isEmpty());
}

TEST_F(MainWindowTest, OptionsThatCannotBeReadAreReportedNotThrown) {
  optionsDialogs_.failure = QStringLiteral("Invalid data type for 'USERNAME'");
  EXPECT_NO_THROW(window_.OptionsButton()->click());
  EXPECT_EQ(dialogs_.asked, QStringList{optionsDialogs_.failure});
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A hand-edited hive used to stop the program before any window appeared.
TEST_F(MainWindowTest, UnusableSettingsFileStillOpensTheWindowAndIsReportedUntouched) {
  struct Case {
    const char* what;
    std::function<void(const QString& file)> make;
    QString reason;  // the start of the message
  };
  const QString file = temp_.filePath(QStringLiteral("broken/registry.reg"));
  const Case cases[] = {
      {"malformed value",
       [](const QString& f) {
         QFile out(f);
         ASSERT_TRUE(out.open(QIODevice::WriteOnly));
         out.write(
             "Windows Registry Editor Version 5.00\n\n"
             "[HKEY_CURRENT_USER\\Software\\orvsoftware\\ORV Dashboard]\n\"USERNAME\"=garbage\n");
       },
       QStringLiteral("Malformed registry file '%1', line 4: ").arg(file)},
      {"folder in its place", [](const QString& f) { ASSERT_TRUE(QDir().mkpath(f)); },
       QStringLiteral("Cannot read the file '%1': ").arg(file)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QDir(temp_.filePath(QStringLiteral("broken"))).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(temp_.filePath(QStringLiteral("broken"))));
    c.make(file);
    const QByteArray before = QFileInfo(file).isFile() ? readAll(file) : QByteArray();
    RegistryHive broken(file);
    test::ScriptedDialogs dialogs;
    TFrmDashboardApp window(
        {broken, folders_, ui_, dialogs, shell_, notifications_, processes_, elevated_, optionsDialogs_},
        QStringLiteral("http://127.0.0.1:1"), QStringLiteral("http://127.0.0.1:1"));
    window.show();
    EXPECT_TRUE(dialogs.asked.isEmpty());

    EXPECT_TRUE(ReportUnusableSettings(broken, dialogs));
    ASSERT_EQ(dialogs.asked.size(), 1);
    EXPECT_TRUE(dialogs.asked[0].startsWith(c.reason)) << dialogs.asked[0].toStdString();
    EXPECT_TRUE(dialogs.asked[0].endsWith(
        QStringLiteral("ORV Dashboard cannot read or save its settings until this file is fixed or removed.")));
    if (!before.isEmpty()) {
      EXPECT_EQ(readAll(file), before);
    }
    ui_.Pump();
  }
  EXPECT_FALSE(ReportUnusableSettings(hive_, dialogs_));
  EXPECT_TRUE(dialogs_.asked.isEmpty());
}

}  // namespace
}  // namespace orv
