// Discovery of downloaded archives, classic installs, Delphi IDEs and the
// running IDE, on a temporary download folder and registry hive.
#include "core/product_catalogue.h"
#include "platform/system_processes.h"
#include "product_environment.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace orv {
namespace {

class NoProcesses final : public Processes {
public:
  bool IsRunning(const QString&) const override { return false; }
};

class CatalogueTest : public test::ProductEnvironment {
protected:
  QString DownloadDir() const { return Dir("dl") + "/"; }

  // A product key below \Software\orvsoftware with the given string values.
  void AddProductKey(const QString& name, const QList<std::pair<QString, QString>>& values) {
    const auto key = hive_.OpenKey("\\Software\\orvsoftware\\" + name, true);
    for (const auto& [valueName, value] : values) key->WriteString(valueName, value);
  }
  // An install folder holding the uninstaller.
  QString InstalledFolder(const QString& relative) {
    WriteFile(Dir(relative) + "/unins000.exe");
    return Dir(relative);
  }

  NoProcesses processes_;
  TORVDashboardProductCatalogue catalogue_{hive_, settings_, processes_};
};

struct ArchiveName {
  const char* file;  // below the download folder
  bool listed;
  const char* product;
  const char* version;
  bool registered;
  bool present;  // the rebuilt path names the file itself
  friend void PrintTo(const ArchiveName& c, std::ostream* os) { *os << c.file; }
};

class ArchiveNameTest : public CatalogueTest, public ::testing::WithParamInterface<ArchiveName> {};

TEST_P(ArchiveNameTest, FollowsTheDownloadNamingScheme) {
  const ArchiveName& c = GetParam();
  WriteFile(DownloadDir() + c.file);
  catalogue_.ScanDownloads();
  if (!c.listed) {
    EXPECT_TRUE(catalogue_.DownloadList().IsEmpty());
    return;
  }
  ASSERT_EQ(catalogue_.DownloadList().Count(), 1u);
  const TORVDashboardDownload& download = catalogue_.DownloadList()[0];
  EXPECT_EQ(download.ProductName(), QString(c.product));
  EXPECT_EQ(download.ProductVersion(), QString(c.version));
  EXPECT_EQ(download.Registered(), c.registered);
  // Listed where the download puts it, whatever folder it was found in.
  const QString fileName = QFileInfo(QString(c.file)).fileName();
  EXPECT_EQ(download.FilePath(), DownloadDir() + c.product + "/" + fileName);
  EXPECT_EQ(download.FilePresent(), c.present);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ArchiveNameTest,
    ::testing::Values(ArchiveName{"Widget Pack/Widget Pack_1.2.0_REG.zip", true, "Widget Pack", "1.2.0", true, true},
                      ArchiveName{"Widget Pack_1.2.0_REG.zip", true, "Widget Pack", "1.2.0", true, false},
                      ArchiveName{"old/deeper/Widget Pack_1.2_TRIAL.zip", true, "Widget Pack", "1.2", false, false},
                      ArchiveName{"Widget Pack/Widget Pack_1.2_reg.zip", true, "Widget Pack", "1.2", true, true},
                      ArchiveName{"Widget Pack/Widget Pack_1.2_Trial.zip", true, "Widget Pack", "1.2", false, true},
                      ArchiveName{"Widget Pack/Widget Pack_1.2_REG.ZIP", true, "Widget Pack", "1.2", true, true},
                      ArchiveName{"Ärger Pack/Ärger Pack_0.9.1_trial.zip", true, "Ärger Pack", "0.9.1", false, true},
                      ArchiveName{"_1.0_REG.zip", true, "", "1.0", true, true},
                      ArchiveName{"Widget_Pack/Widget_Pack_1.2_REG.zip", true, "Widget_Pack", "1.2", true, true},
                      ArchiveName{"a_b_c_2.0.1_trial.zip", true, "a_b_c", "2.0.1", false, false},
                      ArchiveName{"1.2_REG.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_REG.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_1.3_REG.zip", true, "Widget Pack_1.2", "1.3", true, false},
                      ArchiveName{"Widget Pack_12_REG.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_BETA.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_REG_.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_REG.tar.zip", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_REG.txt", false, "", "", false, false},
                      ArchiveName{"Widget Pack_1.2_REG", false, "", "", false, false},
                      // A product name that names a parent folder would lead the install
                      // and the extraction out of their folders.
                      ArchiveName{".._1.0_REG.zip", false, "", "", false, false},
                      ArchiveName{"._1.0_REG.zip", false, "", "", false, false}));

TEST_F(CatalogueTest, ScanListsEveryArchiveAndRebuildsTheListEachTime) {
  WriteFile(DownloadDir() + "A/A_1.0_REG.zip");
  WriteFile(DownloadDir() + "B/B_2.0_TRIAL.zip");
  WriteFile(DownloadDir() + "B/notes.txt");
  catalogue_.ScanDownloads();
  EXPECT_EQ(catalogue_.DownloadList().Count(), 2u);
  catalogue_.ScanDownloads();
  EXPECT_EQ(catalogue_.DownloadList().Count(), 2u);

  QDir(Dir("dl/B")).removeRecursively();
  catalogue_.ScanDownloads();
  ASSERT_EQ(catalogue_.DownloadList().Count(), 1u);
  EXPECT_EQ(catalogue_.DownloadList()[0].ProductName(), "A");
}

TEST_F(CatalogueTest, MissingDownloadFolderGivesAnEmptyList) {
  WriteFile(DownloadDir() + "A/A_1.0_REG.zip");
  catalogue_.ScanDownloads();
  ASSERT_EQ(catalogue_.DownloadList().Count(), 1u);
  SetSetting("DOWNLOADDIR", Dir("nowhere"));
  catalogue_.ScanDownloads();
  EXPECT_TRUE(catalogue_.DownloadList().IsEmpty());
}

TEST_F(CatalogueTest, ScanEndsDespiteAFolderLinkedToItsParent) {
  WriteFile(DownloadDir() + "A/A_1.0_REG.zip");
  ASSERT_TRUE(QFile::link(Dir("dl"), Dir("dl/A/loop")));
  catalogue_.ScanDownloads();
  EXPECT_EQ(catalogue_.DownloadList().Count(), 1u);
}

TEST_F(CatalogueTest, InstallsComeFromProductKeysWithTheirUninstaller) {
  const QString widget = InstalledFolder("p/Widget Pack");
  const QString viaPath = InstalledFolder("p/Old Pack");
  const QString core = InstalledFolder("p/Core");
  WriteFile(Dir("p/Bare/readme.txt"));
  AddProductKey("Widget Pack", {{"InstallDir", widget}, {"Version", "2.1"}});
  AddProductKey("Old Pack", {{"Path", viaPath + "/"}});
  AddProductKey("Both", {{"InstallDir", Dir("p/gone")}, {"Path", widget}});
  AddProductKey("Neither", {{"Version", "1.0"}});
  AddProductKey("No Uninstaller", {{"InstallDir", Dir("p/Bare")}});
  AddProductKey("ZYNCore", {{"InstallDir", core}, {"Version", "3.0"}});
  // Another setup's key with a value of an unexpected type is left out.
  hive_.OpenKey("\\Software\\orvsoftware\\Odd", true)->WriteInteger("InstallDir", 1);
  SetSetting("USERNAME", "someone");  // the settings key sits beside the products

  catalogue_.ScanInstalls();
  ASSERT_EQ(catalogue_.InstallList().Count(), 3u);
  const TORVDashboardInstall& first = catalogue_.InstallList()[0];
  EXPECT_EQ(first.Name(), "Widget Pack");
  EXPECT_EQ(first.Version(), "2.1");
  EXPECT_EQ(first.Path(), widget + "/");
  EXPECT_EQ(first.UninstallLink(), widget + "/unins000.exe");
  const TORVDashboardInstall& second = catalogue_.InstallList()[1];
  EXPECT_EQ(second.Name(), "Old Pack");
  EXPECT_EQ(second.Version(), "");
  EXPECT_EQ(second.Path(), viaPath + "/");
  EXPECT_EQ(second.UninstallLink(), viaPath + "/unins000.exe");
  EXPECT_EQ(catalogue_.InstallList()[2].Name(), "ORV ZYN Core");
  EXPECT_EQ(catalogue_.InstallList()[2].Path(), core + "/");

  hive_.DeleteKey("\\Software\\orvsoftware");
  catalogue_.ScanInstalls();
  EXPECT_TRUE(catalogue_.InstallList().IsEmpty());
}

TEST_F(CatalogueTest, FindsIgnoreLetterCaseButNotTheEdition) {
  WriteFile(DownloadDir() + "Widget Pack/Widget Pack_2.1-Beta_REG.zip");
  WriteFile(DownloadDir() + "Ärger Pack/Ärger Pack_1.0_TRIAL.zip");
  catalogue_.ScanDownloads();
  const TORVDashboardDownload* widget = catalogue_.FindDownload("WIDGET pack", "2.1-beta", true);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->ProductName(), "Widget Pack");
  EXPECT_EQ(catalogue_.FindDownload("Widget Pack", "2.1-Beta", false), nullptr);
  EXPECT_EQ(catalogue_.FindDownload("Widget Pack", "2.1", true), nullptr);
  EXPECT_NE(catalogue_.FindDownload("ärger pack", "1.0", false), nullptr);

  AddProductKey("Ärger Pack", {{"InstallDir", InstalledFolder("p/Ärger")}});
  AddProductKey("ZYNCanvas", {{"InstallDir", InstalledFolder("p/Canvas")}});
  catalogue_.ScanInstalls();
  const TORVDashboardInstall* arger = catalogue_.FindInstall("ärger pack");
  ASSERT_NE(arger, nullptr);
  EXPECT_EQ(arger->Name(), "Ärger Pack");
  ASSERT_NE(catalogue_.FindInstall("orv zyn canvas"), nullptr);
  EXPECT_EQ(catalogue_.FindInstall("ZYNCanvas"), nullptr);  // the page knows the display name
  EXPECT_EQ(catalogue_.FindInstall("Ärger"), nullptr);
}

TEST_F(CatalogueTest, IdeListHasEveryRowAndMarksOnlyTheInstalledIde) {
  hive_.OpenKey("\\Software\\Embarcadero\\BDS\\22.0\\Globals", true)->WriteString("x", "y");
  hive_.OpenKey("\\Software\\Embarcadero\\BDS\\13.0\\Globals", true);  // no IDE of ours
  TORVZYNIDEList ides;
  catalogue_.BuildIDEList(ides);

  ASSERT_EQ(ides.Count(), 19u);
  QStringList installed;
  for (const auto& ide : ides) {
    if (ide->Installed()) installed << ide->ID();
    EXPECT_FALSE(ide->Selected());
  }
  EXPECT_EQ(installed, QStringList{"delphi11"});
  EXPECT_EQ(ides[1].Name(), "Delphi 11 Alexandria");
  EXPECT_EQ(ides[1].KitwrightName(), "Delphi 11");
  EXPECT_EQ(ides[0].ID(), "delphi12");
  EXPECT_EQ(ides[15].ID(), "delphixe2010");
  EXPECT_EQ(ides[15].Name(), "Delphi 2010");
  EXPECT_EQ(ides[18].ID(), "delphi2007");
}

TEST(ProductNameMapTest, SixPairsMapBothWaysAndOtherNamesStay) {
  const std::pair<const char*, const char*> pairs[] = {
      {"ZYNCore", "ORV ZYN Core"},           {"ZYNCanvas", "ORV ZYN Canvas"}, {"ZYNFlow", "ORV ZYN Flow"},
      {"KeystoneCore", "ORV Keystone Core"}, {"Ledger", "ORV Ledger"},        {"Conduit", "ORV Conduit"}};
  for (const auto& [registryName, productName] : pairs) {
    EXPECT_EQ(TORVDashboardProductCatalogue::RegistryNameToProductName(registryName), productName);
    EXPECT_EQ(TORVDashboardProductCatalogue::ProductNameToRegistryName(productName), registryName);
  }
  for (const char* other : {"zyncore", "Widget Pack", "orv ledger", ""}) {
    EXPECT_EQ(TORVDashboardProductCatalogue::RegistryNameToProductName(other), other);
    EXPECT_EQ(TORVDashboardProductCatalogue::ProductNameToRegistryName(other), other);
  }
}

TEST_F(CatalogueTest, RunningIdeIsFoundWhateverTheCaseOfItsName) {
  SystemProcesses processes;
  TORVDashboardProductCatalogue catalogue(hive_, settings_, processes);
  const QString ide = Dir("BDS.EXE");
  ASSERT_TRUE(QFile::copy(QStandardPaths::findExecutable("sleep"), ide));
  QProcess process;
  process.start(ide, {"30"});
  ASSERT_TRUE(process.waitForStarted());
  EXPECT_TRUE(catalogue.IsProcessRunning("bds.exe"));
  process.kill();
  process.waitForFinished();
}

}  // namespace
}  // namespace orv
