// The runners against the orv.exe stand-in: both sides of the command
// line and output formats must agree.
#include "pkgmgr/orv_runners.h"
#include "support/error_of.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace orv {
namespace {

using Json = nlohmann::ordered_json;

class StandInRunners : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    WriteScene(Json::object());
  }

  void WriteScene(const Json& knobs) {
    const Json scene = {{"version", "2.5.0.0"},
                        {"latest_version", "2.6.0.0"},
                        {"folder_initialized", true},
                        {"credentials", nullptr},
                        {"repositories",
                         {{"default",
                           {{"x.y", {{"name", "Sample Pack"}, {"version", "1.2.0.0"}, {"vendor_id", "orv"}}},
                            {"a.b", {{"name", "Other"}, {"version", "2.0.0.0"}, {"vendor_id", "v2"}}}}}}},
                        {"installed",
                         {{"x.y",
                           {{"name", "Sample Pack"},
                            {"version", "1.1.0.0"},
                            {"local", false},
                            {"ides", {{"delphi12", {{"platforms", {{"win64xintel", {{"built", true}}}}}}}}}}}}},
                        {"knobs", knobs}};
    QFile file(dir.filePath(QStringLiteral("orv-state.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(scene.dump()));
  }

  template <class Runner>
  std::unique_ptr<Runner> Make() {
    auto runner = std::make_unique<Runner>();
    runner->SetExeFileName(QStringLiteral(ORV_STANDIN_EXE));
    runner->SetWorkingDir(dir.path());
    return runner;
  }

  QTemporaryDir dir;
};

TEST_F(StandInRunners, InfoAndListsParseIntoTheModel) {
  auto info = Make<TOrvInfoRunner>();
  info->RunInfo();
  EXPECT_EQ(info->Info().Version().Normalized(), QStringLiteral("2.5"));
  EXPECT_TRUE(info->Info().FolderInitialized());
  EXPECT_FALSE(info->Info().HasCredentials());

  auto list = Make<TOrvListRunner>();
  list->RunList();
  ASSERT_EQ(list->Products().size(), 1u);
  const TProductInfo& product = list->Products()[0];
  EXPECT_EQ(product.Version(), TVersion::Make(1, 1, 0, 0));
  EXPECT_TRUE(product.HasIDEInfo());
  ASSERT_EQ(product.IDEInfoMap().count(TIDEName::delphi12), 1u);
  EXPECT_TRUE(product.IDEInfoMap().at(TIDEName::delphi12)->PlatformInfoMap().at(TPlatform::win64Xintel)->IsBuilt());
}

TEST_F(StandInRunners, CredentialsRoundTripThroughTheCommandLineQuoting) {
  auto set = Make<TOrvCredentialsRunner>();
  set->RunSetCredentials(QStringLiteral("dev@example.com"), QStringLiteral("a \"quoted\" code"));
  QString email;
  QString code;
  Make<TOrvCredentialsRunner>()->RunGetCredentials(email, code);
  EXPECT_EQ(email, QStringLiteral("dev@example.com"));
  EXPECT_EQ(code, QStringLiteral("a \"quoted\" code"));

  auto remote = Make<TOrvListRemoteRunner>();
  remote->RunListRemote();
  ASSERT_EQ(remote->Products().size(), 2u);
  EXPECT_EQ(remote->Products()[1].VendorId(), QStringLiteral("v2"));
}

TEST_F(StandInRunners, InstallReportsProgressSummaryAndChangesTheLocalList) {
  auto install = Make<TOrvInstallRunner>();
  install->ProductIds() = QStringList{QStringLiteral("a.b")};
  std::vector<TProgressInfo> progress;
  install->SetOnProgress([&progress](const TProgressInfo& info) { progress.push_back(info); });
  install->RunInstall();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().Percent, 100);
  EXPECT_EQ(progress.back().ProductId, QStringLiteral("a.b"));
  EXPECT_EQ(progress.back().ProductPercent, 100);
  ASSERT_EQ(install->Summary().size(), 2);
  EXPECT_EQ(install->Summary()[0], QStringLiteral("a.b 2.0.0.0: 4 packages built"));

  auto list = Make<TOrvListRunner>();
  list->RunList();
  ASSERT_NE(list->Products().Find(QStringLiteral("a.b")), nullptr);
  EXPECT_TRUE(list->Products().Find(QStringLiteral("a.b"))->HasIDEInfo());

  auto uninstall = Make<TOrvUninstallRunner>();
  uninstall->ProductIds() = QStringList{QStringLiteral("a.b")};
  std::vector<TProgressInfo> overall;
  uninstall->SetOnProgress([&overall](const TProgressInfo& info) { overall.push_back(info); });
  uninstall->RunUninstall();
  ASSERT_FALSE(overall.empty());
  EXPECT_EQ(overall.back().Percent, 100);
  EXPECT_TRUE(overall.back().ProductId.isEmpty());
}

TEST_F(StandInRunners, ConfigValuesRoundTripThroughTheCommandLineQuoting) {
  const QString name = QStringLiteral("odd \"name\":x");
  Make<TOrvConfigWriteRunner>()->RunConfigWrite(name, QStringLiteral("[delphi12, delphi11]"));
  EXPECT_EQ(Make<TOrvConfigReadRunner>()->RunConfigRead(name), QStringLiteral("[delphi12, delphi11]\r\n"));
}

TEST_F(StandInRunners, SelfUpdateAndAlertsAreRecognised) {
  WriteScene({{"new_version_alert", true}, {"low_disk_alert", true}});
  auto info = Make<TOrvInfoRunner>();
  info->RunInfo();
  EXPECT_TRUE(info->NewVersionDetected());
  EXPECT_EQ(info->AlertDiskSpace().size(), 2);
  EXPECT_EQ(info->Info().Version(), TVersion::Make(2, 5, 0, 0));

  EXPECT_TRUE(Make<TOrvSelfUpdateRunner>()->RunSelfUpdate());
  EXPECT_FALSE(Make<TOrvSelfUpdateRunner>()->RunSelfUpdate());
}

TEST_F(StandInRunners, KnobFailuresReachTheRunnersAsErrors) {
  WriteScene({{"exit_code", {{"list", 1}}}});
  EXPECT_EQ(test::errorOf([&] { Make<TOrvListRunner>()->RunList(); }),
            test::Error(QStringLiteral("EOrvRunner"), QStringLiteral("Running failed: list -detailed -json")));
  WriteScene({{"non_json", true}});
  EXPECT_EQ(test::errorOf([&] { Make<TOrvInfoRunner>()->RunInfo(); }),
            test::Error(QStringLiteral("EOrvRunner"), QStringLiteral("Could not parse info result as JSON object")));
}

TEST_F(StandInRunners, TinyWritesAndHugeOutputStillGiveWholeLines) {
  WriteScene({{"chunk_bytes", 3}});
  auto list = Make<TOrvListRunner>();
  list->RunList();
  EXPECT_EQ(list->Products().size(), 1u);

  WriteScene({{"huge_output_mib", 4}});
  auto install = Make<TOrvInstallRunner>();
  install->ProductIds() = QStringList{QStringLiteral("x.y")};
  int lines = 0;
  install->SetOnOutputLine([&lines](const QString&) { ++lines; });
  install->RunInstall();
  EXPECT_GT(lines, 4 * 1024 * 1024 / 80);
  EXPECT_EQ(install->Summary().size(), 2);
}

}  // namespace
}  // namespace orv
