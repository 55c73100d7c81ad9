// Classic installs: real product archives in the download folder, the real
// setup stand-in run through the elevated port, and the page calls, log
// lines and notifications that come out of them.
#include "core/product_installer.h"
#include "core/product_catalogue.h"
#include "core/ui_pipeline.h"
#include "platform/elevated.h"
#include "platform/notifications.h"
#include "platform/processes.h"
#include "platform/system_elevated.h"
#include "platform/ui_thread.h"
#include "product_archive.h"
#include "product_environment.h"
#include "support/page_recorder.h"

#include <gtest/gtest.h>

#include <cctype>

#include <nlohmann/json.hpp>

namespace orv {
namespace {

using nlohmann::json;

class NoProcesses final : public Processes {
public:
  bool IsRunning(const QString&) const override { return false; }
};

class PumpingUiThread final : public UiThread {
public:
  void post(std::function<void()> task) override { task(); }
  void invokeAndWait(const std::function<void()>& task) override { task(); }
  void processPendingEvents() override {}
  bool isCurrent() const override { return true; }
};

struct Notification {
  QString name, title, body;
  bool operator==(const Notification&) const = default;
};

class RecordingNotifications final : public Notifications {
public:
  void Show(const QString& name, const QString& title, const QString& body) override {
    shown.push_back({name, title, body});
  }
  std::vector<Notification> shown;
};

// Runs the real setups and uninstallers, and remembers what it ran.
class RecordingElevated final : public Elevated {
public:
  explicit RecordingElevated(UiThread& ui) : system_(ui) {}
  int Run(const QString& folder, const QString& program, const QString& parameters) override {
    calls << folder + "|" + program + "|" + parameters;
    return system_.Run(folder, program, parameters);
  }
  QStringList calls;

private:
  SystemElevated system_;
};

class InstallerTest : public test::ProductEnvironment {
protected:
  void SetUp() override {
    ProductEnvironment::SetUp();
    SetSetting("INSTALLDIRREG", Dir("products/reg"));
    SetSetting("INSTALLDIRTRIAL", Dir("products/trial"));
  }

  // Writes a product archive around the setup stand-in into the download
  // folder, where the download would have put it.
  QString AddArchive(const json& manifest, const QString& edition = "REG") {
    const QString name = QString::fromStdString(manifest.value("name", ""));
    const QString fileName = name + "_" + QString::fromStdString(manifest["version"]) + "_" + edition + ".zip";
    const QString path = Dir("dl/" + name + "/" + fileName);
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_FALSE(tools::WriteZip(path.toStdString(), tools::ProductArchiveEntries(ORV_SETUP_EXE, manifest)));
    return path;
  }
  void AddZip(const QString& relative, const std::vector<tools::ZipEntry>& entries) {
    QDir().mkpath(QFileInfo(Dir(relative)).path());
    EXPECT_FALSE(tools::WriteZip(Dir(relative).toStdString(), entries));
  }

  const TORVDashboardDownload* Archive(const QString& name, const QString& version, bool registered = true) {
    catalogue_.ScanDownloads();
    const TORVDashboardDownload* download = catalogue_.FindDownload(name, version, registered);
    EXPECT_NE(download, nullptr) << name.toStdString();
    return download;
  }
  QString LogFile(const QString& nameAndVersion) const {
    return folders_.LocalAppData() + "/orvsoftware/log/" + nameAndVersion + ".log";
  }
  std::unique_ptr<RegistryKey> ProductKey(const QString& registryName) {
    return hive_.OpenKeyReadOnly("\\Software\\orvsoftware\\" + registryName);
  }

  NoProcesses processes_;
  TORVDashboardProductCatalogue catalogue_{hive_, settings_, processes_};
  PumpingUiThread ui_;
  RecordingElevated elevated_{ui_};
  RecordingNotifications notifications_;
  test::PageRecorder page_;
  QStringList& scripts_ = page_.scripts;
  QStringList& log_ = page_.log;
  UiPipeline pipeline_{ui_};
  TORVDashboardPage pageCalls_{pipeline_, page_.Runner()};
  TORVDashboardProductInstaller installer_{settings_, elevated_, notifications_, pageCalls_};
};

TEST_F(InstallerTest, InstallsFromTheArchiveAndUninstallsAgain) {
  const QString archive = AddArchive({{"name", "ORV ZYN Core"},
                                      {"version", "3.1"},
                                      {"registryName", "ZYNCore"},
                                      {"payload", {{"lib/core.pas", "unit core;"}}}});
  installer_.InstallProduct(Archive("orv zyn core", "3.1"));

  const QString installDir = Dir("products/reg/ORV ZYN Core");
  EXPECT_EQ(log_, QStringList({"Extracting Product: ORV ZYN Core_3.1_REG.zip",
                               "Product ORV ZYN Core_3.1_REG.zip finished extracting!", "Installing ORV ZYN Core",
                               "Parsing log file", "ORV ZYN Core finished installing!"}));
  EXPECT_EQ(elevated_.calls,
            QStringList{Dir("dl/ORV ZYN Core/ORV ZYN Core_3.1_REG/") + "|setup.exe|/DIR=\"" + installDir +
                        "\" /SILENT /VERYSILENT /NOCHECKBDS /SUPPRESSMSGBOXES /NOCLOSEAPPLICATIONS /NORESTART"});
  EXPECT_EQ(scripts_, QStringList{R"(ProductInstallFinished({"Name": "ORV ZYN Core", "Version": "3.1", )"
                                  R"("Registered": true});)"});
  const Notification installed{"ORVDashboard", "ORV Dashboard Notification", "ORV ZYN Core finished installing!"};
  EXPECT_EQ(notifications_.shown, std::vector<Notification>{installed});
  EXPECT_FALSE(QFileInfo::exists(Dir("dl/ORV ZYN Core/ORV ZYN Core_3.1_REG")));
  EXPECT_TRUE(QFileInfo(archive).isFile());
  EXPECT_EQ(ReadFile(installDir + "/lib/core.pas"), "unit core;");
  ASSERT_TRUE(ProductKey("ZYNCore"));

  log_.clear();
  scripts_.clear();
  elevated_.calls.clear();
  catalogue_.ScanInstalls();
  const TORVDashboardInstall* install = catalogue_.FindInstall("ORV ZYN Core");
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install->Version(), "3.1");
  installer_.UninstallProduct(install);

  EXPECT_EQ(log_, QStringList({"Uninstalling ORV ZYN Core", "Uninstall ORV ZYN Core successful"}));
  EXPECT_EQ(elevated_.calls,
            QStringList{installDir + "/|unins000.exe|/SILENT /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"});
  EXPECT_EQ(scripts_, QStringList{R"(ProductUninstallFinished({"Name": "ORV ZYN Core", "Version": "3.1", )"
                                  R"("Registered": false});)"});
  const Notification uninstalled{"ORVDashboard", "ORV Dashboard Notification", "Uninstall ORV ZYN Core successful"};
  EXPECT_EQ(notifications_.shown, (std::vector<Notification>{installed, uninstalled}));
  EXPECT_FALSE(ProductKey("ZYNCore"));
  EXPECT_FALSE(QFileInfo::exists(installDir));

  // The folder has gone: a second uninstall does nothing at all.
  log_.clear();
  installer_.UninstallProduct(install);
  installer_.UninstallProduct(nullptr);
  EXPECT_TRUE(log_.isEmpty());
  EXPECT_EQ(scripts_.size(), 1);
  EXPECT_EQ(elevated_.calls.size(), 1);
}

TEST_F(InstallerTest, TrialGoesToTheTrialFolderAndNotificationsCanBeOff) {
  SetFlag("INSTALLNOTIFICATIONS", false);
  AddArchive({{"name", "Widget Pack"}, {"version", "2.1"}, {"payload", {{"a.txt", "a"}}}}, "TRIAL");
  installer_.InstallProduct(Archive("Widget Pack", "2.1", false));
  EXPECT_EQ(ReadFile(Dir("products/trial/Widget Pack/a.txt")), "a");
  EXPECT_EQ(scripts_.size(), 1);
  EXPECT_TRUE(notifications_.shown.empty());
}

TEST_F(InstallerTest, WithoutSilentTheSetupGetsNoSwitches) {
  SetFlag("SILENT", false);
  AddArchive({{"name", "Widget Pack"}, {"version", "2.1"}});
  installer_.InstallProduct(Archive("Widget Pack", "2.1"));
  ASSERT_EQ(elevated_.calls.size(), 1);
  EXPECT_TRUE(elevated_.calls[0].endsWith("|setup.exe|"));
  EXPECT_EQ(log_.last(), "Widget Pack finished installing!");
}

TEST_F(InstallerTest, ErrorPhraseInTheSetupLogIsReportedButTheInstallStillEnds) {
  AddArchive({{"name", "Widget Pack"},
              {"version", "2.1"},
              {"logLines", {"Copying files", "Error: disk full", "No active internet connection available"}},
              {"exitCode", 5}});
  installer_.InstallProduct(Archive("Widget Pack", "2.1"));
  EXPECT_EQ(log_.last(), "Widget Pack finished installing with errors!<BR>Error");
  EXPECT_EQ(scripts_.size(), 1);
  ASSERT_EQ(notifications_.shown.size(), 1u);
  EXPECT_EQ(notifications_.shown[0].body, "Widget Pack finished installing!");
}

TEST_F(InstallerTest, LogOfAnEarlierRunIsDeletedBeforeTheSetupRuns) {
  WriteFile(LogFile("Widget Pack_2.1"), "Error from last week\n");
  AddArchive({{"name", "Widget Pack"}, {"version", "2.1"}, {"writeLog", false}});
  installer_.InstallProduct(Archive("Widget Pack", "2.1"));
  EXPECT_FALSE(QFileInfo::exists(LogFile("Widget Pack_2.1")));
  EXPECT_FALSE(log_.contains("Parsing log file"));
  EXPECT_EQ(log_.last(), "Widget Pack finished installing!");
}

TEST_F(InstallerTest, EmptyProductNameInstallsUnderTheArchiveName) {
  AddArchive({{"name", ""}, {"version", "1.0"}, {"registryName", "Nameless"}, {"logLines", {"Error"}}});
  installer_.InstallProduct(Archive("", "1.0"));
  EXPECT_TRUE(QFileInfo(Dir("products/reg/_1.0_REG/unins000.exe")).isFile());
  // The setup's log is read under the record's own (empty) name.
  EXPECT_EQ(log_.last(), "_1.0_REG finished installing with errors!<BR>Error");
  EXPECT_EQ(scripts_, QStringList{R"(ProductInstallFinished({"Name": "", "Version": "1.0", "Registered": true});)"});
}

TEST_F(InstallerTest, MissingArchiveIsReportedWithTheTextLeftBesideIt) {
  const TORVDashboardDownload gone(nullptr, Dir("dl/Widget Pack/Widget Pack_2.1_REG.zip"), "Widget Pack", "2.1", true);
  installer_.InstallProduct(&gone);
  EXPECT_EQ(log_, QStringList{"There was an error downloading or installing Widget Pack"});

  WriteFile(Dir("dl/Widget Pack/error2.txt"), " \t\r\nDownload refused: licence expired\r\n\r\n");
  installer_.InstallProduct(&gone);
  EXPECT_EQ(log_.last(), "Download refused: licence expired");
  installer_.InstallProduct(nullptr);
  EXPECT_EQ(log_.size(), 2);
  EXPECT_TRUE(scripts_.isEmpty());
  EXPECT_TRUE(elevated_.calls.isEmpty());
  EXPECT_TRUE(notifications_.shown.empty());
}

struct Unusable {
  const char* name;
  const char* archive;                   // below the download folder
  std::vector<tools::ZipEntry> entries;  // none: not a ZIP file at all
  bool extracted;                        // the archive itself is sound and gets extracted
  friend void PrintTo(const Unusable& c, std::ostream* os) { *os << c.name; }
};

class UnusableArchiveTest : public InstallerTest, public ::testing::WithParamInterface<Unusable> {};

// Broken, incomplete or hostile archives: nothing runs, nothing lands
// outside the extraction folder, the page hears nothing and the failure is
// logged; the extraction folder, even one left from before, is gone.
TEST_P(UnusableArchiveTest, IsReportedAsFailedAndLeavesNothing) {
  const Unusable& c = GetParam();
  const QString archive = Dir(QString("dl/") + c.archive);
  const QString extractionFolder = archive.chopped(4);
  std::vector<tools::ZipEntry> entries = c.entries;
  // Absolute names and link targets point into the test's own folder.
  const auto local = [this](const std::string& text) {
    return QString::fromStdString(text).replace("TMP", temp_.path()).toStdString();
  };
  for (auto& entry : entries) {
    entry.name = local(entry.name);
    entry.data = local(entry.data);
  }
  if (!entries.empty())
    AddZip(QString("dl/") + c.archive, entries);
  else
    WriteFile(archive, "PK\x03\x04 not really an archive");
  WriteFile(extractionFolder + "/setup.exe", "#!/bin/sh\ntouch ran\n");  // a stale one must not run

  const QFileInfo file(archive);
  const QString product = file.fileName().section('_', 0, 0);
  const QString version = file.fileName().section('_', 1, 1);
  installer_.InstallProduct(Archive(product, version));

  EXPECT_EQ(log_.last(), "There was an error downloading or installing " + product);
  EXPECT_EQ(log_.contains("Product " + file.fileName() + " finished extracting!"), c.extracted);
  EXPECT_TRUE(elevated_.calls.isEmpty());
  EXPECT_TRUE(scripts_.isEmpty());
  EXPECT_TRUE(notifications_.shown.empty());
  EXPECT_FALSE(QFileInfo::exists(extractionFolder));
  EXPECT_TRUE(QFileInfo(archive).isFile());
  for (const char* outside : {"escaped.txt", "dl/escaped.txt", "dl/Evil/escaped.txt", "abs-escaped.txt", "ran"})
    EXPECT_FALSE(QFileInfo::exists(Dir(outside))) << outside;
}

const tools::ZipEntry kSetup{"setup.exe", "#!/bin/sh\ntouch ../../../ran\n", 0100755};

INSTANTIATE_TEST_SUITE_P(
    Archives, UnusableArchiveTest,
    ::testing::Values(
        Unusable{"not a zip", "Widget Pack/Widget Pack_2.1_REG.zip", {}, false},
        Unusable{"no setup", "Widget Pack/Widget Pack_2.1_REG.zip", {{"readme.txt", "no setup here"}}, true},
        Unusable{"dot dot", "Evil/Evil_1.0_REG.zip", {kSetup, {"../../../escaped.txt", "x"}}, false},
        Unusable{"dot dot inside", "Evil/Evil_1.0_REG.zip", {kSetup, {"lib/../../escaped.txt", "x"}}, false},
        Unusable{"absolute", "Evil/Evil_1.0_REG.zip", {kSetup, {"TMP/abs-escaped.txt", "x"}}, false},
        Unusable{
            "symlink", "Evil/Evil_1.0_REG.zip", {kSetup, {"link", "TMP", 0120777}, {"link/escaped.txt", "x"}}, false},
        Unusable{"quote in the install folder", "Bad\"Name/Bad\"Name_1.0_REG.zip", {kSetup}, true}),
    [](const ::testing::TestParamInfo<Unusable>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST_F(InstallerTest, ArchiveBeyondTheSizeLimitIsRefused) {
  TORVDashboardProductInstaller small(settings_, elevated_, notifications_, pageCalls_, ZipLimits{4096});
  AddZip("dl/Big/Big_1.0_REG.zip", {kSetup, {"blob.bin", std::string(8192, 'z')}});
  small.InstallProduct(Archive("Big", "1.0"));
  EXPECT_EQ(log_.last(), "There was an error downloading or installing Big");
  EXPECT_TRUE(elevated_.calls.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(Dir("dl/Big/Big_1.0_REG")));
}

TEST(InstallErrorTest, PhrasesMatchInOrderOfPrecedence) {
  const std::pair<const char*, const char*> cases[] = {
      {"Error: file in use", "Error"},
      {"Setup Error 5", "Error"},
      {"an error occurred", ""},
      {"ERROR", ""},
      {"No active internet connection available", "No active internet connection available"},
      {"Error: No active internet connection available", "No active internet connection available"},
      {"Incompatible or no ORV ZYN Core installation found (Error 3)",
       "Incompatible or no ORV ZYN Core installation found"},
      {"no active internet connection available", ""},
      {"", ""}};
  for (const auto& [line, phrase] : cases)
    EXPECT_EQ(TORVDashboardProductInstaller::MatchInstallError(line), phrase) << line;
}

TEST_F(InstallerTest, LogParsingStopsAtTheFirstLineWithAPhrase) {
  const std::pair<const char*, const char*> cases[] = {
      {"Copying\nNo active internet connection available\nError\n", "No active internet connection available"},
      {"Copying\nError in step 2\nNo active internet connection available\n", "Error"},
      {"Copying\r\nan error occurred\r\nDone\r\n", ""},
      {"", ""}};
  for (const auto& [text, phrase] : cases) {
    WriteFile(Dir("setup.log"), text);
    EXPECT_EQ(installer_.ParseInstallLog(Dir("setup.log")), phrase) << text;
  }
  EXPECT_EQ(log_.count("Parsing log file"), 4);
  EXPECT_EQ(installer_.ParseInstallLog(Dir("none.log")), "");
  EXPECT_EQ(log_.size(), 4);
}

}  // namespace
}  // namespace orv
