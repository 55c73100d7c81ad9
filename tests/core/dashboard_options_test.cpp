// The options dialog as the page opens it, on a fake dialog: the order of
// the controller's steps, the IDE boxes, the stored choice of versions, the
// reaction to typing in the folder edit, and the dialog's end on errors.
#include "dashboard_fixture.h"

#include "support/error_of.h"
#include "support/fake_options_dialog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace orv::test {
namespace {

const QString kSetFolder = QStringLiteral("SetKitwrightPathInfo Set the folder where orv.exe is located");
const QString kDetected = QStringLiteral("SetKitwrightPathInfo ORV Kitwright 2.5 detected");
const QString kDelphiVersions = QStringLiteral("configuration for all products:delphi versions");

class DashboardOptionsTest : public DashboardFixture {
protected:
  // The Delphi IDEs whose registry keys exist, by their key's version; the
  // controller reads them when it starts.
  void InstallIDEs(std::initializer_list<const char*> AVersions) {
    for (const char* version : AVersions)
      hive_.OpenKey(QStringLiteral("\\Software\\Embarcadero\\BDS\\%1\\Globals").arg(QLatin1String(version)), true);
    StartDashboard();
  }
  // The package manager (the stand-in, version 2.5.0.0) in the folder
  // "kit", with its stored Delphi-version selection and test knobs.
  void PlaceKitwright(const QString& ASelection = QStringLiteral("[]"), const QString& AKnobs = QStringLiteral("{}")) {
    ASSERT_TRUE(QDir().mkpath(Dir(QStringLiteral("kit"))));
    const QString exe = Dir(QStringLiteral("kit/orv.exe"));
    ASSERT_TRUE(QFile::exists(exe) || QFile::link(QStringLiteral(ORV_STANDIN_EXE), exe));
    WriteFile(Dir(QStringLiteral("kit/orv-state.json")),
              QStringLiteral(R"({"version": "2.5.0.0", "config": {"%1": "%2"}, "knobs": %3})")
                  .arg(kDelphiVersions, ASelection, AKnobs)
                  .toUtf8());
    SetSetting(QStringLiteral("KITWRIGHTDIR"), Dir(QStringLiteral("kit")));
  }
  // The selection the package manager has stored.
  QString StoredSelection() const {
    const QJsonObject state = QJsonDocument::fromJson(ReadFile(Dir(QStringLiteral("kit/orv-state.json")))).object();
    return state.value(QStringLiteral("config")).toObject().value(kDelphiVersions).toString();
  }
  // The next dialog the controller makes; valid until it is destroyed.
  FakeOptionsDialog& NextDialog() {
    optionsDialogs_.prepared.push_back(std::make_unique<FakeOptionsDialog>());
    return *optionsDialogs_.prepared.back();
  }
  // The IDs whose Selected flag is set, in list order.
  QStringList SelectedIDEs() const {
    QStringList ids;
    for (const auto& ide : dashboard_->IDEList())
      if (ide->Selected()) ids << ide->ID();
    return ids;
  }
  static QStringList BoxNames(const FakeOptionsDialog& ADialog) {
    QStringList names;
    for (const auto& box : ADialog.boxes) names << box.name;
    return names;
  }
};

TEST_F(DashboardOptionsTest, AnswersOnlyAfterTheDialogClosedThenTheChoiceIsStoredAndThePageReloaded) {
  FakeOptionsDialog& dialog = NextDialog();
  bool reloadedWhileOpen = true;
  bool additionAttached = false;
  QStringList calls;
  dialog.onShowModal = [&](FakeOptionsDialog& shown) {
    reloadedWhileOpen = backend_->calls.contains(QStringLiteral("Reload"));
    additionAttached = bool(shown.OnKitwrightDirChanged);
  };
  bool destroyed = false;
  dialog.onDestroyed = [&] {
    destroyed = true;
    calls = dialog.calls;
  };
  backend_->calls.clear();

  EXPECT_EQ(Ask(QStringLiteral("GETOPTIONSDIALOG")), QStringLiteral("{}"));
  EXPECT_FALSE(reloadedWhileOpen);
  EXPECT_TRUE(additionAttached);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(calls, (QStringList{QStringLiteral("ValidateKitwrightPath"), kSetFolder, QStringLiteral("ShowModal"),
                                QStringLiteral("SaveRegistrySettings")}));
  EXPECT_EQ(backend_->calls, QStringList{QStringLiteral("Reload")});

  // The query stays remembered: reading again shows a new dialog.
  EXPECT_EQ(Read(), QStringLiteral("{}"));
  EXPECT_EQ(optionsDialogs_.created, 2);
}

// One box per installed IDE in the list's order, made once and then found
// again by its name.
TEST_F(DashboardOptionsTest, InstalledIDEsGetOneBoxEachAndThePackageManagerStateIsShown) {
  struct Case {
    const char* what;
    bool kitwright;
    QString info;
    bool allVersionsEnabled;
  };
  const Case cases[] = {
      {"without the package manager", false, kSetFolder, false},
      {"with the package manager", true, kDetected, true},
  };
  InstallIDEs({"22.0", "23.0", "19.0"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.kitwright) PlaceKitwright();
    FakeOptionsDialog& dialog = NextDialog();
    dialog.onShowModal = [&](FakeOptionsDialog& shown) {
      EXPECT_EQ(shown.calls.at(1), c.info);
      EXPECT_EQ(shown.allVersionsEnabled, c.allVersionsEnabled);
      EXPECT_TRUE(shown.allVersionsChecked);
      EXPECT_EQ(BoxNames(shown),
                (QStringList{QStringLiteral("delphi12"), QStringLiteral("delphi11"), QStringLiteral("delphitokyo")}));
      EXPECT_EQ(shown.boxes[0].text, QStringLiteral("Delphi 12 Athens"));
      for (const auto& box : shown.boxes) EXPECT_FALSE(box.checked);

      // Loading again finds the boxes instead of adding more.
      dashboard_->OptionsSession().LoadIDESelection(shown);
      EXPECT_EQ(shown.boxes.size(), 3u);
    };
    EXPECT_EQ(Ask(QStringLiteral("GETOPTIONSDIALOG")), QStringLiteral("{}"));
  }
}

TEST_F(DashboardOptionsTest, ClosingKeepsTheCheckedIDEsAsSelectedUnlessAllVersionsIsChecked) {
  struct Case {
    const char* what;
    bool kitwright;
    bool allVersions;
    QStringList selected;
    QString stored;  // by the package manager afterwards
  };
  const Case cases[] = {
      {"without the package manager nothing is stored", false, false, {}, {}},
      {"the second of two checked", true, false, {QStringLiteral("delphi11")}, QStringLiteral("[delphi11]")},
      {"all versions", true, true, {}, QStringLiteral("[]")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallIDEs({"23.0", "22.0"});
    if (c.kitwright) PlaceKitwright(QStringLiteral("[delphi12]"));
    NextDialog().onShowModal = [&](FakeOptionsDialog& shown) {
      shown.allVersionsChecked = c.allVersions;
      ASSERT_TRUE(shown.SetIDECheckBoxChecked(QStringLiteral("DELPHI12"), false));
      ASSERT_TRUE(shown.SetIDECheckBoxChecked(QStringLiteral("DELPHI11"), true));
    };
    Ask(QStringLiteral("GETOPTIONSDIALOG"));
    EXPECT_EQ(SelectedIDEs(), c.selected);
    if (c.kitwright) {
      EXPECT_EQ(StoredSelection(), c.stored);
    }
  }
}

// The stored selection opens the dialog with its boxes checked and "All
// versions" unchecked.
TEST_F(DashboardOptionsTest, AStoredSelectionOpensWithItsBoxesChecked) {
  InstallIDEs({"23.0", "22.0"});
  PlaceKitwright(QStringLiteral("[ delphi12 ]"));
  NextDialog().onShowModal = [&](FakeOptionsDialog& shown) {
    EXPECT_FALSE(shown.allVersionsChecked);
    ASSERT_EQ(shown.boxes.size(), 2u);
    EXPECT_TRUE(shown.boxes[0].checked);
    EXPECT_FALSE(shown.boxes[1].checked);
  };
  EXPECT_EQ(Ask(QStringLiteral("GETOPTIONSDIALOG")), QStringLiteral("{}"));
  EXPECT_EQ(StoredSelection(), QStringLiteral("[delphi12]"));
}

// Every keystroke stores the settings and checks the folder; the package
// manager is looked at again only when the folder names another one.
TEST_F(DashboardOptionsTest, TypingInTheFolderReloadsTheIDEStateOnlyWhenThePackageManagerChanges) {
  InstallIDEs({"23.0"});
  PlaceKitwright();
  SetSetting(QStringLiteral("KITWRIGHTDIR"), QString());
  struct Keystroke {
    QString folder;
    QStringList calls;
    bool boxChecked;          // afterwards
    bool userChecks = false;  // the user checks the box next
  };
  const QStringList stored{QStringLiteral("SaveRegistrySettings"), QStringLiteral("ValidateKitwrightPath")};
  const Keystroke keystrokes[] = {
      {Dir(QStringLiteral("k")), stored, false},
      {Dir(QStringLiteral("ki")), stored, false},
      {Dir(QStringLiteral("kit")), stored + QStringList{kDetected}, false, true},
      // The user's unsaved choice survives keystrokes that keep the program.
      {Dir(QStringLiteral("kit/")), stored, true},
      {Dir(QStringLiteral("kit//")), stored, true},
      {Dir(QStringLiteral("kit/x")), stored + QStringList{kSetFolder}, false},
      {QString(), stored, false},
  };
  NextDialog().onShowModal = [&](FakeOptionsDialog& shown) {
    for (const Keystroke& keystroke : keystrokes) {
      SCOPED_TRACE(keystroke.folder.toStdString());
      // What the dialog's own save stores before it raises the change.
      SetSetting(QStringLiteral("KITWRIGHTDIR"), keystroke.folder);
      shown.calls.clear();
      shown.OnKitwrightDirChanged();
      EXPECT_EQ(shown.calls, keystroke.calls);
      EXPECT_EQ(shown.boxes[0].checked, keystroke.boxChecked);
      if (keystroke.userChecks) shown.SetIDECheckBoxChecked(QStringLiteral("delphi12"), true);
    }
  };
  Ask(QStringLiteral("GETOPTIONSDIALOG"));
}

// A folder change that reaches the controller after the dialog closed
// (its handler kept somewhere) stores nothing and asks nobody: the dialog
// is gone, and the package manager is not started.
TEST_F(DashboardOptionsTest, FolderChangesWithoutAnOpenDialogDoNothing) {
  PlaceKitwright();
  std::function<void()> lateChange;
  NextDialog().onShowModal = [&](FakeOptionsDialog& shown) { lateChange = shown.OnKitwrightDirChanged; };
  Ask(QStringLiteral("GETOPTIONSDIALOG"));
  ASSERT_TRUE(lateChange);
  ASSERT_TRUE(ui_.PumpUntil([&] { return !dashboard_->IsRunning(); }));
  const QByteArray settings = ReadFile(hive_.FileName());
  const QByteArray kitwrightLog = ReadFile(Dir(QStringLiteral("kit/Logs/orv.log.html")));
  SetSetting(QStringLiteral("KITWRIGHTDIR"), Dir(QStringLiteral("elsewhere")));
  const QByteArray changedSettings = ReadFile(hive_.FileName());

  lateChange();
  dashboard_->OptionsSession().KitwrightDirChanged();
  ui_.Pump();
  EXPECT_EQ(ReadFile(hive_.FileName()), changedSettings) << "nothing stored";
  EXPECT_NE(changedSettings, settings);
  EXPECT_EQ(ReadFile(Dir(QStringLiteral("kit/Logs/orv.log.html"))), kitwrightLog) << "the package manager not asked";
  EXPECT_FALSE(dashboard_->IsRunning());
}

// A failing step ends ShowOptionsDialog with its error, which the page
// receives as a failed read; the dialog is gone and nothing refers to it.
TEST_F(DashboardOptionsTest, AFailingStepDestroysTheDialogAndReachesThePage) {
  struct Case {
    const char* what;
    std::function<void(FakeOptionsDialog&)> arrange;
    QString error;
    bool shown;
  };
  // The broken setting stays: it comes last.
  const Case cases[] = {
      {"error while shown",
       [](FakeOptionsDialog& dialog) {
         dialog.onShowModal = [](FakeOptionsDialog&) { throw Exception(QStringLiteral("broken")); };
       },
       QStringLiteral("broken"), true},
      {"the package manager cannot read the Delphi versions",
       [this](FakeOptionsDialog&) {
         PlaceKitwright(QStringLiteral("[]"), QStringLiteral(R"({"exit_code": "config-read=1"})"));
       },
       QStringLiteral("Failed to load Delphi version selection"), false},
      {"unreadable package-manager folder",
       [this](FakeOptionsDialog&) {
         hive_.OpenKey(TORVDashboardSettings::SettingsKey, true)->WriteInteger(QStringLiteral("KITWRIGHTDIR"), 1);
       },
       QStringLiteral("Invalid data type for 'KITWRIGHTDIR'"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartDashboard();
    FakeOptionsDialog& dialog = NextDialog();
    c.arrange(dialog);
    bool destroyed = false;
    bool shown = false;
    dialog.onDestroyed = [&] {
      destroyed = true;
      shown = dialog.calls.contains(QStringLiteral("ShowModal"));
    };
    backend_->calls.clear();
    Send(Event(QStringLiteral("GETOPTIONSDIALOG")));
    EXPECT_EQ(errorOf([&] { Read(); }).second, c.error);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(shown, c.shown);
    EXPECT_FALSE(backend_->calls.contains(QStringLiteral("Reload")));
    // With a dangling dialog this would touch freed memory.
    dashboard_->OptionsSession().KitwrightDirChanged();
  }
}

TEST_F(DashboardOptionsTest, ADialogThatCannotBeMadeFailsTheRead) {
  optionsDialogs_.failure = QStringLiteral("Invalid data type for 'USERNAME'");
  Send(Event(QStringLiteral("GETOPTIONSDIALOG")));
  EXPECT_EQ(errorOf([&] { Read(); }).second, optionsDialogs_.failure);
  EXPECT_NO_THROW(dashboard_->OptionsSession().KitwrightDirChanged());
}

}  // namespace
}  // namespace orv::test
