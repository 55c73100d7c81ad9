// The options dialog as the page opens it, in process: the real controller
// shows the real dialog on the offscreen platform, the test types and
// clicks in it as the user would, and the page's read returns when the
// dialog closes.
#include "core/dashboard_fixture.h"
#include "ui/options/options_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <nlohmann/json.hpp>

namespace orv::test {
namespace {

class OptionsJourneyTest : public DashboardFixture {
protected:
  void SetUp() override {
    DashboardFixture::SetUp();
    // Delphi 12 and Delphi 11 are installed.
    for (const char* version : {"23.0", "22.0"})
      hive_.OpenKey(QStringLiteral("\\Software\\Embarcadero\\BDS\\%1\\Globals").arg(QLatin1String(version)), true);
    optionsPort_ = &qtDialogs_;
    StartDashboard();
  }

  // Runs AUser on the dialog once it is shown, while the page's read waits.
  QString AskWhileUser(const std::function<void(QDialog&)>& AUser) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) {
        ADD_FAILURE() << "no dialog shown";
        return;
      }
      AUser(*dialog);
      dialog->close();
    });
    return Ask(QStringLiteral("GETOPTIONSDIALOG"));
  }

  template <class T>
  static T& Find(const QWidget& form, const char* name) {
    T* child = form.findChild<T*>(QLatin1String(name));
    if (!child) throw std::runtime_error(std::string("no control ") + name);
    return *child;
  }

  TQtOptionsDialogs qtDialogs_{{hive_, folders_, shell_, dialogs_, kSite, true, QStringLiteral("108.0")}};
};

TEST_F(OptionsJourneyTest, TypingThePackageManagersFolderTurnsTheDialogGreenAndTheChoiceIsKept) {
  // The package manager stand-in in its default scene.
  const QString folder = Dir(QStringLiteral("kit"));
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(QFile::link(QStringLiteral(ORV_STANDIN_EXE), folder + QStringLiteral("/orv.exe")));
  backend_->calls.clear();
  const QString answer = AskWhileUser([&](QDialog& dialog) {
    auto& edit = Find<QLineEdit>(dialog, "beKitwright");
    auto& info = Find<QLabel>(dialog, "lbKitwrightPathInfo");
    EXPECT_EQ(Find<QLabel>(dialog, "lbValidatePath").text(), QStringLiteral("Invalid location"));
    EXPECT_EQ(info.text(), QStringLiteral("Set the folder where orv.exe is located"));
    EXPECT_FALSE(Find<QCheckBox>(dialog, "cbAllDelphiVersions").isEnabled());
    EXPECT_FALSE(Find<QCheckBox>(dialog, "delphi12").isChecked());
    EXPECT_FALSE(Find<QCheckBox>(dialog, "delphi11").isChecked());
    EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("delphisydney")), nullptr);

    edit.clear();
    QTest::keyClicks(&edit, folder);
    EXPECT_EQ(Find<QLabel>(dialog, "lbValidatePath").text(), QStringLiteral("Valid location"));
    EXPECT_TRUE(Find<QPushButton>(dialog, "Button9").isEnabled());
    EXPECT_EQ(info.text(), QStringLiteral("ORV Kitwright 2.5 detected"));
    auto& all = Find<QCheckBox>(dialog, "cbAllDelphiVersions");
    ASSERT_TRUE(all.isEnabled());
    all.click();
    Find<QCheckBox>(dialog, "delphi11").click();
    // Every keystroke stored the folder.
    EXPECT_EQ(settings_.ReadKitwrightDir(), folder + QLatin1Char('/'));
  });
  EXPECT_EQ(answer, QStringLiteral("{}"));
  QStringList selected;
  for (const auto& ide : dashboard_->IDEList())
    if (ide->Selected()) selected << ide->ID();
  EXPECT_EQ(selected, QStringList{QStringLiteral("delphi11")});
  // ... and the package manager stored it (not const: a missing member
  // reads as null rather than tripping the library's assertion).
  auto state = nlohmann::json::parse(ReadFile(folder + QStringLiteral("/orv-state.json")).toStdString());
  EXPECT_EQ(state["config"]["configuration for all products:delphi versions"], "[delphi11]");
  EXPECT_EQ(backend_->calls, QStringList{QStringLiteral("Reload")});
  EXPECT_TRUE(dialogs_.asked.isEmpty());
}

}  // namespace
}  // namespace orv::test
