// The options dialog on the offscreen platform: its controls and texts,
// what it loads and stores, the live check of the package manager's folder,
// the IDE boxes, and what its buttons and links hand to the desktop.
#include "ui/options/options_form.h"

#include "platform/registry_hive.h"
#include "support/fake_ports.h"
#include "support/qt_printers.h"
#include "ui/options/options_icons.h"
#include "ui/ports/qt_shell.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace orv {
namespace {

const QString kSite = QStringLiteral("http://vendor.test:8080");

class OptionsFormTest : public ::testing::Test {
protected:
  std::unique_ptr<TORVDashboardOptionsForm> Open() { return Open(shell_); }
  std::unique_ptr<TORVDashboardOptionsForm> Open(Shell& AShell) {
    return std::make_unique<TORVDashboardOptionsForm>(
        TORVDashboardOptionsContext{hive_, folders_, AShell, dialogs_, kSite, engineLoaded_, engineVersion_});
  }
  std::unique_ptr<RegistryKey> Key() { return hive_.OpenKey(TORVDashboardSettings::SettingsKey, true); }
  QString Dir(const QString& relative) const { return temp_.filePath(relative); }
  static void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  template <class T>
  static T& Find(const QWidget& form, const char* name) {
    T* child = form.findChild<T*>(QLatin1String(name));
    if (!child) throw std::runtime_error(std::string("no control ") + name);
    return *child;
  }
  static QString Text(const QWidget& form, const char* name) { return Find<QLabel>(form, name).text(); }
  static bool Shown(const QWidget& form, const char* name) { return !Find<QWidget>(form, name).isHidden(); }

  QTemporaryDir temp_;
  RegistryHive hive_{temp_.filePath(QStringLiteral("registry.reg"))};
  test::FixedFolders folders_{temp_.path()};
  test::RecordingShell shell_;
  test::ScriptedDialogs dialogs_;
  bool engineLoaded_ = true;
  QString engineVersion_ = QStringLiteral("108.0.5359.220");
};

TEST_F(OptionsFormTest, IsAFixedSizeWindowWithFourTabsSettingsFirst) {
  const auto form = Open();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("ORV Dashboard Options"));
  EXPECT_EQ(form->size(), QSize(514, 716));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_FALSE(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  const auto& tabs = Find<QTabWidget>(*form, "PageControl1");
  QStringList names;
  for (int i = 0; i < tabs.count(); ++i) names << tabs.tabText(i);
  EXPECT_EQ(names, (QStringList{QStringLiteral("Settings"), QStringLiteral("Options"), QStringLiteral("Status"),
                                QStringLiteral("About")}));
  EXPECT_EQ(tabs.currentIndex(), 0);
}

TEST_F(OptionsFormTest, OpensWithTheCursorInTheEmail) {
  const auto form = Open();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 30000));
  EXPECT_EQ(QApplication::focusWidget(), &Find<QLineEdit>(*form, "edUserName"));
}

TEST_F(OptionsFormTest, ControlsCarryTheirTextsAndStartShownOrHidden) {
  const auto form = Open();
  struct Case {
    const char* name;
    QString text;
    bool shown;
  };
  const Case cases[] = {
      {"Label7", QStringLiteral("Email:"), true},
      {"Label8", QStringLiteral("Registration code:"), true},
      {"Label20", QStringLiteral("Download ORV Kitwright"), true},
      {"Label1", QStringLiteral("Location:"), true},
      {"lbKitwrightPathInfo", QStringLiteral("Set the folder where orv.exe is located"), true},
      {"lbValidatePath", QStringLiteral("Invalid location"), true},
      {"Button9", QStringLiteral("Open Shell"), true},
      {"btOpenKitwrightConfig", QStringLiteral("Open Config"), true},
      {"Button4", QStringLiteral("View Log"), false},
      {"Label16",
       QStringLiteral("Products installed through classic setup or ORV Seatkeeper must be uninstalled first."), true},
      {"gbSelectDelphiVersions", QStringLiteral("Delphi versions"), true},
      {"lbDelphiVersions", QStringLiteral("Select the Delphi versions for product installation"), true},
      {"lbKitwrightRequired", QStringLiteral("ORV Kitwright Required"), false},
      {"cbAllDelphiVersions", QStringLiteral("All versions"), true},
      {"gbDelphiVersions", QStringLiteral("Detected Delphi versions"), true},
      {"Label14",
       QStringLiteral("Products are installed only for supported Delphi versions, regardless of selection. If no "
                      "selection is made, products are installed for all detected Delphi versions."),
       true},
      {"Download", QStringLiteral("Download"), false},
      {"Label9", QStringLiteral("Location:"), true},
      {"cbProductUpdates", QStringLiteral("Updates available for installed products"), true},
      {"Label3", QStringLiteral("ORV Dashboard"), true},
      {"Install", QStringLiteral("Install"), true},
      {"ckSilent", QStringLiteral("Silent Install/Uninstall"), true},
      {"Notifications", QStringLiteral("Notifications"), true},
      {"CheckBox1", QStringLiteral("Installation"), true},
      {"CheckBox2", QStringLiteral("Product Updates"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& control = Find<QWidget>(*form, c.name);
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(&control)) text = label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(&control)) text = button->text();
    if (auto* group = qobject_cast<const QGroupBox*>(&control)) text = group->title();
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(!control.isHidden(), c.shown);
  }
  // The install groups stand outside the tabs, and nothing shows them.
  EXPECT_TRUE(Find<QWidget>(*form, "Install").parentWidget()->isHidden());
  EXPECT_EQ(Find<QToolButton>(*form, "Button10").toolTip(), QStringLiteral("Hide/show registration code"));
  EXPECT_EQ(Find<QToolButton>(*form, "Button3").toolTip(), QStringLiteral("Select folder"));
  EXPECT_EQ(Find<QToolButton>(*form, "Button6").toolTip(), QStringLiteral("Select Folder"));
  EXPECT_TRUE(Find<QCheckBox>(*form, "cbAllDelphiVersions").isChecked());
  EXPECT_FALSE(Find<QGroupBox>(*form, "gbDelphiVersions").isEnabled());
  EXPECT_TRUE(Shown(*form, "ImgPathInvalid"));
  EXPECT_FALSE(Shown(*form, "ImgPathValid"));
  EXPECT_EQ(Find<QLineEdit>(*form, "edPassword").echoMode(), QLineEdit::Password);
}

TEST_F(OptionsFormTest, LoadsTheStoredValuesAndTheDefaultInstallFolders) {
  const auto key = Key();
  key->WriteString(QStringLiteral("PASSWORD"), QStringLiteral("CODE-1"));
  key->WriteString(QStringLiteral("USERNAME"), QStringLiteral("me@example.com"));
  key->WriteString(QStringLiteral("DOWNLOADDIR"), QStringLiteral("/data/dl"));
  key->WriteString(QStringLiteral("KITWRIGHTDIR"), QStringLiteral("/opt/kit"));
  key->WriteBool(QStringLiteral("INSTALLNOTIFICATIONS"), false);
  key->WriteBool(QStringLiteral("PRODUCTNOTIFICATIONS"), false);
  key->WriteString(QStringLiteral("INSTALLDIRREG"), QStringLiteral("/opt/reg"));
  key->WriteString(QStringLiteral("DASHBOARDVERSION"), QStringLiteral("1.2.1.0"));
  const auto form = Open();
  EXPECT_EQ(Find<QLineEdit>(*form, "edPassword").text(), QStringLiteral("CODE-1"));
  EXPECT_EQ(Find<QLineEdit>(*form, "edUserName").text(), QStringLiteral("me@example.com"));
  EXPECT_EQ(Find<QLineEdit>(*form, "beDownload").text(), QStringLiteral("/data/dl"));
  EXPECT_EQ(Find<QLineEdit>(*form, "beKitwright").text(), QStringLiteral("/opt/kit"));
  EXPECT_FALSE(Find<QCheckBox>(*form, "CheckBox1").isChecked());
  EXPECT_TRUE(Find<QCheckBox>(*form, "ckSilent").isChecked());
  EXPECT_FALSE(Find<QCheckBox>(*form, "cbProductUpdates").isChecked());
  EXPECT_EQ(Find<QLineEdit>(*form, "beInstallTrial").text(), folders_.LocalAppData() + "/orvsoftware/trial");
  EXPECT_EQ(Find<QLineEdit>(*form, "beInstallReg").text(), QStringLiteral("/opt/reg"));
  EXPECT_EQ(Text(*form, "lbVersion"), QStringLiteral("v1.2.1.0"));
}

TEST_F(OptionsFormTest, ClosingStoresEveryValueWithBlanksStrippedAndEmptyFoldersResolved) {
  struct Case {
    const char* edit;
    QString typed;
    const char* value;
    QString stored;
  };
  const Case cases[] = {
      {"edPassword", QStringLiteral(" ab c\t"), "PASSWORD", QStringLiteral("abc")},
      {"edUserName", QStringLiteral(" me @example.com "), "USERNAME", QStringLiteral("me@example.com")},
      {"beDownload", QString(), "DOWNLOADDIR", folders_.Downloads()},
      {"beKitwright", QString(), "KITWRIGHTDIR", QString()},
      {"beInstallTrial", QString(), "INSTALLDIRTRIAL", folders_.LocalAppData() + "/orvsoftware/trial"},
      {"beInstallReg", QString(), "INSTALLDIRREG", folders_.LocalAppData() + "/orvsoftware/registered"},
      {"beDownload", QStringLiteral("/data/my downloads"), "DOWNLOADDIR", QStringLiteral("/data/my downloads")},
      {"beKitwright", QStringLiteral("/opt/kit "), "KITWRIGHTDIR", QStringLiteral("/opt/kit ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edit);
    const auto form = Open();
    Find<QLineEdit>(*form, c.edit).setText(c.typed);
    form->show();
    form->close();
    EXPECT_EQ(Key()->ReadString(QLatin1String(c.value)), c.stored);
  }
  const QStringList order = Key()->ValueNames();
  EXPECT_EQ(order.mid(0, 9),
            (QStringList{QStringLiteral("PASSWORD"), QStringLiteral("USERNAME"), QStringLiteral("DOWNLOADDIR"),
                         QStringLiteral("KITWRIGHTDIR"), QStringLiteral("INSTALLDIRTRIAL"),
                         QStringLiteral("INSTALLDIRREG"), QStringLiteral("INSTALLNOTIFICATIONS"),
                         QStringLiteral("PRODUCTNOTIFICATIONS"), QStringLiteral("SILENT")}));
}

TEST_F(OptionsFormTest, ProductUpdatesAreStoredAsSoonAsTheyChange) {
  const auto form = Open();
  EXPECT_FALSE(Key()->ValueExists(QStringLiteral("PRODUCTNOTIFICATIONS")));  // loading stored nothing
  Find<QCheckBox>(*form, "cbProductUpdates").click();
  EXPECT_EQ(Key()->ReadBool(QStringLiteral("PRODUCTNOTIFICATIONS")), false);
}

TEST_F(OptionsFormTest, ASettingsKeyThatCannotBeOpenedLoadsAndStoresNothing) {
  // A folder where the settings file should be: it can be neither read nor written.
  ASSERT_TRUE(QDir().mkpath(Dir(QStringLiteral("blocker/registry.reg"))));
  RegistryHive blocked(Dir(QStringLiteral("blocker/registry.reg")));
  TORVDashboardOptionsForm form({blocked, folders_, shell_, dialogs_, kSite, true, QString()});
  EXPECT_EQ(Find<QLineEdit>(form, "beInstallTrial").text(), QString());
  form.show();
  form.close();
  EXPECT_TRUE(dialogs_.asked.isEmpty());
}

TEST_F(OptionsFormTest, FolderIsValidatedLiveAndEnablesWhatNeedsThePackageManager) {
  Touch(Dir(QStringLiteral("kit/orv.exe")));
  QDir().mkpath(Dir(QStringLiteral("dir/orv.exe")));
  struct Case {
    QString folder;
    bool valid;
  };
  const Case cases[] = {
      {QString(), false},
      {Dir(QStringLiteral("ki")), false},
      {Dir(QStringLiteral("kit")), true},
      {Dir(QStringLiteral("kit/")), true},
      {Dir(QStringLiteral("dir")), false},  // a folder named orv.exe is not the program
  };
  const auto form = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.toStdString());
    Find<QLineEdit>(*form, "beKitwright").setText(c.folder);
    EXPECT_EQ(form->ValidateKitwrightPath(), c.valid);
    EXPECT_EQ(Text(*form, "lbValidatePath"),
              c.valid ? QStringLiteral("Valid location") : QStringLiteral("Invalid location"));
    EXPECT_EQ(Shown(*form, "ImgPathValid"), c.valid);
    EXPECT_EQ(Shown(*form, "ImgPathInvalid"), !c.valid);
    EXPECT_EQ(Find<QPushButton>(*form, "Button9").isEnabled(), c.valid);
    EXPECT_EQ(Find<QPushButton>(*form, "Button4").isEnabled(), c.valid);
    EXPECT_EQ(Shown(*form, "lbDelphiVersions"), c.valid);
    EXPECT_EQ(Shown(*form, "lbKitwrightRequired"), !c.valid);
    EXPECT_EQ(Shown(*form, "imgKitwrightRequired"), !c.valid);
    EXPECT_EQ(Find<QGroupBox>(*form, "gbSelectDelphiVersions").isEnabled(), c.valid);
  }
}

TEST_F(OptionsFormTest, IDEBoxesStandBelowEachOtherAndAreFoundByNameWithoutRegardToCase) {
  const auto form = Open();
  form->AddIDECheckBox(QStringLiteral("delphi12"), QStringLiteral("Delphi 12 Athens"), true);
  form->AddIDECheckBox(QStringLiteral("delphi11"), QStringLiteral("Delphi 11 Alexandria"), false);
  form->AddIDECheckBox(QStringLiteral("delphitokyo"), QStringLiteral("Delphi 10.2 Tokyo"), false);
  const char* names[] = {"delphi12", "delphi11", "delphitokyo"};
  for (int i = 0; i < 3; ++i) {
    const auto& box = Find<QCheckBox>(*form, names[i]);
    EXPECT_EQ(box.geometry().topLeft(), QPoint(8, 20 + 20 * i)) << names[i];
    EXPECT_EQ(box.width(), 250);
    EXPECT_EQ(box.parentWidget()->parentWidget()->parentWidget()->objectName(), QStringLiteral("sbDelphiVersions"));
  }
  EXPECT_EQ(Find<QCheckBox>(*form, "delphi12").text(), QStringLiteral("Delphi 12 Athens"));
  EXPECT_EQ(form->IDECheckBoxChecked(QStringLiteral("DELPHI12")), true);
  EXPECT_EQ(form->IDECheckBoxChecked(QStringLiteral("delphi11")), false);
  EXPECT_EQ(form->IDECheckBoxChecked(QStringLiteral("delphirio")), std::nullopt);
  EXPECT_TRUE(form->SetIDECheckBoxChecked(QStringLiteral("Delphi11"), true));
  EXPECT_TRUE(Find<QCheckBox>(*form, "delphi11").isChecked());
  EXPECT_FALSE(form->SetIDECheckBoxChecked(QStringLiteral("delphirio"), true));
}

TEST_F(OptionsFormTest, AnEmptyDelphiListSaysSoUntilAVersionIsAdded) {
  const auto form = Open();
  EXPECT_EQ(Text(*form, "lbNoDelphiVersions"), QStringLiteral("No Delphi version found"));
  EXPECT_TRUE(Shown(*form, "lbNoDelphiVersions"));
  form->AddIDECheckBox(QStringLiteral("delphi12"), QStringLiteral("Delphi 12 Athens"), true);
  EXPECT_FALSE(Shown(*form, "lbNoDelphiVersions"));
}

TEST_F(OptionsFormTest, AllVersionsDecidesWhetherTheDetectedVersionsCanBeChosen) {
  const auto form = Open();
  auto& all = Find<QCheckBox>(*form, "cbAllDelphiVersions");
  const auto& detected = Find<QGroupBox>(*form, "gbDelphiVersions");
  all.click();
  EXPECT_FALSE(form->AllDelphiVersionsChecked());
  EXPECT_TRUE(detected.isEnabled());
  form->SetAllDelphiVersionsChecked(true);
  EXPECT_FALSE(detected.isEnabled());
  form->SetAllDelphiVersionsEnabled(false);
  EXPECT_FALSE(all.isEnabled());
}

TEST_F(OptionsFormTest, TheEyeShowsTheCodeAndHidesItAgain) {
  const auto form = Open();
  auto& eye = Find<QToolButton>(*form, "Button10");
  const auto& code = Find<QLineEdit>(*form, "edPassword");
  EXPECT_EQ(eye.icon().cacheKey(), options_icons::EyeCrossed().cacheKey());
  eye.click();
  EXPECT_EQ(code.echoMode(), QLineEdit::Normal);
  EXPECT_EQ(eye.icon().cacheKey(), options_icons::EyeOpen().cacheKey());
  eye.click();
  EXPECT_EQ(code.echoMode(), QLineEdit::Password);
  EXPECT_EQ(eye.icon().cacheKey(), options_icons::EyeCrossed().cacheKey());
}

// What the buttons hand to the desktop, and what they say when there is
// nothing to hand over.
TEST_F(OptionsFormTest, ButtonsOpenTheTerminalTheLogAndTheFolders) {
  const QString kit = Dir(QStringLiteral("kit"));
  ASSERT_TRUE(QDir().mkpath(kit));
  const QString log = kit + QStringLiteral("/Logs/orv.log.html");
  struct Case {
    const char* what;
    const char* button;
    QString folder;
    bool logExists;
    bool hasTerminal;
    QStringList opened;
    QStringList told;
  };
  const QString notFound = QStringLiteral("ORV Kitwright Log file not found");
  const QString noTerminal = QStringLiteral(
      "No terminal program could be started. Set the environment variable TERMINAL to your terminal program, or "
      "install one that provides x-terminal-emulator.");
  const Case cases[] = {
      {"shell", "Button9", kit, false, true, {kit}, {}},
      {"shell without a terminal", "Button9", kit, false, false, {kit}, {noTerminal}},
      {"shell in a missing folder",
       "Button9",
       kit + QStringLiteral("/gone"),
       false,
       true,
       {},
       {QStringLiteral("The folder %1/gone does not exist.").arg(kit)}},
      {"config opens the log", "btOpenKitwrightConfig", kit, true, true, {QUrl::fromLocalFile(log).toString()}, {}},
      {"config without a log", "btOpenKitwrightConfig", kit, false, true, {}, {notFound}},
      {"config without a folder", "btOpenKitwrightConfig", QString(), false, true, {}, {notFound}},
      {"view log", "Button4", kit + QStringLiteral("//"), true, true, {QUrl::fromLocalFile(log).toString()}, {}},
      {"trial folder", "Button1", kit, false, true, {folders_.LocalAppData() + "/orvsoftware/trial"}, {}},
      {"registered folder", "Button7", kit, false, true, {folders_.LocalAppData() + "/orvsoftware/registered"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(log);
    if (c.logExists) Touch(log);
    shell_.opened.clear();
    shell_.hasTerminal = c.hasTerminal;
    dialogs_.asked.clear();
    const auto form = Open();
    Find<QLineEdit>(*form, "beKitwright").setText(c.folder);
    Find<QPushButton>(*form, c.button).click();
    EXPECT_EQ(shell_.opened, c.opened);
    EXPECT_EQ(dialogs_.asked, c.told);
  }
}

TEST_F(OptionsFormTest, TheLogButtonOpensTheLogFolderOnlyWhenItExists) {
  const auto form = Open();
  auto& button = Find<QPushButton>(*form, "Button2");
  button.click();
  EXPECT_TRUE(shell_.opened.isEmpty());
  QDir().mkpath(folders_.LocalAppData() + "/orvsoftware/log");
  button.click();
  EXPECT_EQ(shell_.opened, QStringList{folders_.LocalAppData() + "/orvsoftware/log"});
}

TEST_F(OptionsFormTest, TheControllersAdditionsReplaceTheDesignedHandlersAndTheirErrorsAreShown) {
  const auto form = Open();
  int changes = 0;
  int configs = 0;
  form->OnKitwrightDirChanged = [&] {
    if (++changes == 2) throw Exception(QStringLiteral("Failed to load Delphi version selection"));
  };
  form->OnOpenKitwrightConfig = [&] { ++configs; };
  auto& folder = Find<QLineEdit>(*form, "beKitwright");
  QTest::keyClicks(&folder, QStringLiteral("/k"));
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(dialogs_.asked, QStringList{QStringLiteral("Failed to load Delphi version selection")});
  Find<QPushButton>(*form, "btOpenKitwrightConfig").click();
  EXPECT_EQ(configs, 1);
  EXPECT_TRUE(shell_.opened.isEmpty());
}

// The picker is the desktop's folder dialog; the test answers it.
TEST_F(OptionsFormTest, FolderButtonsPickAFolderStartingAtTheEditsText) {
  struct Case {
    const char* button;
    const char* edit;
    QString title;
  };
  const Case cases[] = {
      {"Button3", "beKitwright", QStringLiteral("Select Kitwright Folder")},
      {"Button6", "beDownload", QStringLiteral("Select Download Folder")},
  };
  QDir().mkpath(Dir(QStringLiteral("start")));
  QDir().mkpath(Dir(QStringLiteral("chosen")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    const auto form = Open();
    auto& edit = Find<QLineEdit>(*form, c.edit);
    edit.setText(Dir(QStringLiteral("start")));
    QString title;
    QString start;
    QTimer::singleShot(0, [&] {
      auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      title = picker->windowTitle();
      start = picker->directory().absolutePath();
      picker->selectFile(Dir(QStringLiteral("chosen")));
      QMetaObject::invokeMethod(picker, "accept");
    });
    Find<QToolButton>(*form, c.button).click();
    EXPECT_EQ(title, c.title);
    EXPECT_EQ(start, Dir(QStringLiteral("start")));
    EXPECT_EQ(edit.text(), Dir(QStringLiteral("chosen")));
  }
}

TEST_F(OptionsFormTest, StatusShowsWhetherTheEngineStartedAndItsVersion) {
  struct Case {
    bool loaded;
    QString version;
    QString shown;
  };
  const Case cases[] = {
      {true, QStringLiteral("108.0.5359.220"), QStringLiteral("Successfully Initialized\nVersion: 108.0.5359.220")},
      {false, QString(), QStringLiteral("Initialization Failed")},
  };
  for (const Case& c : cases) {
    engineLoaded_ = c.loaded;
    engineVersion_ = c.version;
    const auto form = Open();
    EXPECT_EQ(Find<QPlainTextEdit>(*form, "mBrowserInfo").toPlainText(), c.shown);
    EXPECT_TRUE(Find<QPlainTextEdit>(*form, "mBrowserInfo").isReadOnly());
    // Named as the ready page and the engine's messages name it.
    const auto* group = qobject_cast<QGroupBox*>(Find<QPlainTextEdit>(*form, "mBrowserInfo").parentWidget());
    ASSERT_TRUE(group);
    EXPECT_EQ(group->title(), QStringLiteral("Edge Chromium"));
  }
}

TEST_F(OptionsFormTest, LinksOpenTheVendorsPagesOnTheSiteInUse) {
  struct Case {
    const char* link;
    int tab;
    QString url;
  };
  const Case cases[] = {
      {"Label20", 0, kSite + QStringLiteral("/documentation/orv-kitwright/download")},
      {"Image1", 3, kSite + QStringLiteral("/")},
      {"lbDashboardProduct", 3, kSite + QStringLiteral("/products/orv-dashboard")},
      {"lbDashboardHistory", 3, kSite + QStringLiteral("/products/orv-dashboard?s=history")},
      {"lbDashboardDocumentation", 3, kSite + QStringLiteral("/documentation/orv-dashboard/getting-started")},
      {"lbDashboardSupport", 3, kSite + QStringLiteral("/support/forum/orv-dashboard")},
      {"lbKitwrightProduct", 3, kSite + QStringLiteral("/documentation/orv-kitwright")},
      {"lbKitwrightSupport", 3, kSite + QStringLiteral("/support/forum/orv-kitwright")},
      {"lbVendor", 3, kSite + QStringLiteral("/")},
  };
  const auto form = Open();
  form->show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    Find<QTabWidget>(*form, "PageControl1").setCurrentIndex(c.tab);
    shell_.opened.clear();
    auto& link = Find<QLabel>(*form, c.link);
    ASSERT_TRUE(link.isVisible());
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(shell_.opened, QStringList{c.url});
  }
}

TEST_F(OptionsFormTest, EveryPushButtonLeavesReturnToTheEdits) {
  const auto form = Open();
  for (const QPushButton* button : form->findChildren<QPushButton*>())
    EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
}

// A screen without room for the designed height: every page can still be
// scrolled to its end, and at the designed size none needs to.
TEST_F(OptionsFormTest, PagesScrollWhenTheDialogIsSmallerThanDesigned) {
  const auto form = Open();
  form->show();
  auto& tabs = Find<QTabWidget>(*form, "PageControl1");
  const auto scrollRange = [&](int ATab) {
    tabs.setCurrentIndex(ATab);
    QApplication::processEvents();
    const auto* area = qobject_cast<QScrollArea*>(tabs.widget(ATab));
    return area ? area->verticalScrollBar()->maximum() : -1;
  };
  for (int tab = 0; tab < tabs.count(); ++tab) EXPECT_EQ(scrollRange(tab), 0) << tab;

  form->setFixedSize(514, 400);
  EXPECT_GT(scrollRange(0), 0);
  const auto* settings = qobject_cast<QScrollArea*>(tabs.widget(0))->widget();
  EXPECT_GE(settings->height(), settings->minimumSizeHint().height());
}

// A dark palette's link colour, and the keyboard: the links of both tabs
// that have them take the focus with Tab and open on Return or Space.
TEST_F(OptionsFormTest, LinksTakeThePalettesColourAndTheKeyboard) {
  const auto form = Open();
  QPalette dark = form->palette();
  dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  dark.setColor(QPalette::Link, QColor(0x80, 0xc0, 0xff));
  form->setPalette(dark);
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

  // The drawn text: the pixel farthest from the background is the link's
  // colour, give or take the edges' smoothing.
  auto& vendor = Find<QLabel>(*form, "lbVendor");
  Find<QTabWidget>(*form, "PageControl1").setCurrentIndex(3);
  const QImage drawn = vendor.grab().toImage();
  const QColor background = drawn.pixelColor(0, 0);
  const auto distance = [](const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
  };
  QColor ink = background;
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x)
      if (distance(drawn.pixelColor(x, y), background) > distance(ink, background)) ink = drawn.pixelColor(x, y);
  EXPECT_LT(distance(ink, dark.color(QPalette::Link)), 48) << ink.name().toStdString();

  struct Case {
    int tab;
    const char* start;
    QStringList links;  // in Tab order
  };
  const Case cases[] = {
      {0, "Button10", {QStringLiteral("Label20")}},
      {3,
       "Image1",
       {QStringLiteral("lbDashboardProduct"), QStringLiteral("lbDashboardHistory"),
        QStringLiteral("lbDashboardDocumentation"), QStringLiteral("lbDashboardSupport"),
        QStringLiteral("lbKitwrightProduct"), QStringLiteral("lbKitwrightSupport"), QStringLiteral("lbVendor")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    Find<QTabWidget>(*form, "PageControl1").setCurrentIndex(c.tab);
    Find<QWidget>(*form, c.start).setFocus(Qt::OtherFocusReason);
    for (const QString& link : c.links) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      ASSERT_EQ(QApplication::focusWidget()->objectName(), link);
    }
  }
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
    shell_.opened.clear();
    QTest::keyClick(&vendor, key);
    EXPECT_EQ(shell_.opened, QStringList{kSite + QStringLiteral("/")});
  }
}

// The desktop's own shell, without xdg-open on PATH: each way of opening
// something from the dialog ends in a message naming what is missing.
TEST_F(OptionsFormTest, LinksAndTheLogSayWhenNothingCanOpenThem) {
  const QString kit = Dir(QStringLiteral("kit"));
  Touch(kit + QStringLiteral("/Logs/orv.log.html"));
  QTemporaryDir emptyBin;
  const QByteArray savedPath = qgetenv("PATH");
  test::ManualUiThread ui;
  QtShell shell(dialogs_, ui);
  const auto form = Open(shell);
  form->show();
  Find<QLineEdit>(*form, "beKitwright").setText(kit);
  qputenv("PATH", QFile::encodeName(emptyBin.path()));
  Find<QTabWidget>(*form, "PageControl1").setCurrentIndex(0);
  QTest::mouseClick(&Find<QLabel>(*form, "Label20"), Qt::LeftButton);
  Find<QPushButton>(*form, "btOpenKitwrightConfig").click();
  Find<QTabWidget>(*form, "PageControl1").setCurrentIndex(3);
  QTest::mouseClick(&Find<QLabel>(*form, "lbDashboardSupport"), Qt::LeftButton);
  qputenv("PATH", savedPath);
  ui.Pump();
  ASSERT_EQ(dialogs_.asked.size(), 3) << dialogs_.asked.join(QLatin1Char('\n')).toStdString();
  const QStringList opened{kSite + QStringLiteral("/documentation/orv-kitwright/download"),
                           kit + QStringLiteral("/Logs/orv.log.html"),
                           kSite + QStringLiteral("/support/forum/orv-dashboard")};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(dialogs_.asked[i].startsWith(QStringLiteral("No program could open ") + opened[i] + QLatin1Char(':')))
        << dialogs_.asked[i].toStdString();
    EXPECT_TRUE(dialogs_.asked[i].contains(QStringLiteral("xdg-open could not be started")));
  }
}

}  // namespace
}  // namespace orv
