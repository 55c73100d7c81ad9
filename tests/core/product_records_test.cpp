#include "core/product_records.h"
#include "core/ide_record.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace orv {
namespace {

struct FormCase {
  const char* what;
  std::function<QString()> render;
  const char* expected;
};

TEST(ProductRecords, JsonFormsKeepTheirExactLayout) {
  const FormCase cases[] = {
      {"registered archive",
       [] { return TORVDashboardDownload(nullptr, "/d/X/X_1.2_REG.zip", "X", "1.2", true).GenerateJSON(); },
       R"({"Name": "X", "Version": "1.2", "Registered": true})"},
      {"trial archive",
       [] { return TORVDashboardDownload(nullptr, "/d/X/X_1.2_TRIAL.zip", "X", "1.2", false).GenerateJSON(); },
       R"({"Name": "X", "Version": "1.2", "Registered": false})"},
      {"install",
       [] {
         TORVDashboardInstall install;
         install.SetName("Widget Pack");
         install.SetVersion("2.1");
         install.SetPath("/opt/wp/");
         return install.GenerateJSON();
       },
       R"({"Name": "Widget Pack", "Version": "2.1", "Registered": false})"},
      {"active download before any byte", [] { return TORVDashboardActiveDownload(nullptr, "", 0).GenerateJSON(); },
       R"({"Name": "", "BytesReceived": "0", "TotalBytes": 0})"},
      {"active download under way",
       [] {
         TORVDashboardActiveDownload download(nullptr, "/d/X/X_1.2_REG.zip", 5000);
         download.SetBytesReceived(1234);
         return download.GenerateJSON();
       },
       R"({"Name": "X_1.2_REG.zip", "BytesReceived": "1234", "TotalBytes": 5000})"},
      {"active download of unknown size keeps the signed value",
       [] { return TORVDashboardActiveDownload(nullptr, "/d/f.zip", -1).GenerateJSON(); },
       R"({"Name": "f.zip", "BytesReceived": "0", "TotalBytes": -1})"},
      {"registered product has no release date",
       [] { return TORVDashboardRegistered(nullptr, "ORV Ledger", "5.0", "17", "orv.ledger").GenerateJSON(); },
       R"({"Name": "ORV Ledger", "Version": "5.0", "ID": "17", "ORVID": "orv.ledger"})"},
      {"package-manager status",
       [] { return TORVKitwrightProductStatus("ORV Weave", "1.0.0", "orv.weave", "not installed").GenerateJSON(); },
       R"({"Name": "ORV Weave", "Version": "1.0.0", "ID": "orv.weave", "Status": "not installed"})"},
      {"quote, backslash and line break are escaped",
       [] { return TORVDashboardDownload(nullptr, "", "A \"B\" C:\\x\n", "1.0", true).GenerateJSON(); },
       R"({"Name": "A \"B\" C:\\x\n", "Version": "1.0", "Registered": true})"},
  };
  for (const FormCase& c : cases) EXPECT_EQ(c.render(), QString::fromUtf8(c.expected)) << c.what;
}

TEST(ProductRecords, EscapedFormsReadBackAsTheOriginalText) {
  const QString name = QStringLiteral("Pack \"Ä\" \\ \t\u0001 </script>");
  const TORVDashboardRegistered registered(nullptr, name, "1", "2", "3");
  const auto tree = nlohmann::json::parse(registered.GenerateJSON().toStdString());
  EXPECT_EQ(QString::fromStdString(tree.at("Name").get<std::string>()), name);
}

TEST(ProductRecords, ArchivePathParts) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("Widget Pack_2.1.0_REG.zip");
  const TORVDashboardDownload download(nullptr, path, "Widget Pack", "2.1.0", true);
  EXPECT_EQ(download.FileName(), "Widget Pack_2.1.0_REG.zip");
  EXPECT_EQ(download.FileNameNoExt(), "Widget Pack_2.1.0_REG");
  EXPECT_EQ(download.FileDirectory(), dir.path() + "/");
  EXPECT_FALSE(download.FilePresent());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_TRUE(download.FilePresent());

  const TORVDashboardDownload bare(nullptr, "noext", "", "", false);
  EXPECT_EQ(bare.FileNameNoExt(), "noext");
  EXPECT_EQ(bare.FileDirectory(), "");
}

TEST(ProductRecords, InstallPathExistsOnlyForAFolder) {
  QTemporaryDir dir;
  TORVDashboardInstall install;
  EXPECT_FALSE(install.PathExists());
  install.SetPath(dir.path() + "/");
  EXPECT_TRUE(install.PathExists());
  install.SetPath(dir.path() + "/gone/");
  EXPECT_FALSE(install.PathExists());
}

TEST(ProductRecords, RemovingAnActiveDownloadUnregistersItsHandlersOnce) {
  TORVDashboardActiveDownloadList list;
  int unregistered = 0;
  auto* kept = list.Add(std::make_unique<TORVDashboardActiveDownload>(nullptr, "/a.zip", 10));
  auto* removed = list.Add(std::make_unique<TORVDashboardActiveDownload>(nullptr, "/b.zip", 10));
  removed->SetUnregisterHandlers([&] { ++unregistered; });
  EXPECT_TRUE(list.Remove(removed));
  EXPECT_EQ(unregistered, 1);
  EXPECT_FALSE(list.Remove(removed));
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(&list[0], kept);

  kept->SetUnregisterHandlers([&] { ++unregistered; });
  list.Clear();
  EXPECT_EQ(unregistered, 2);
}

TEST(ProductRecords, IdeAssignCopiesIdentityButNotTheUsersChoice) {
  TORVZYNIDE source(nullptr);
  source.SetID("delphi11");
  source.SetName("Delphi 11 Alexandria");
  source.SetKitwrightName("Delphi 11");
  source.SetInstalled(true);
  source.SetSelected(false);

  TORVZYNIDE target(nullptr);
  target.SetKitwrightName("kept");
  target.SetSelected(true);
  target.Assign(source);
  EXPECT_EQ(target.ID(), "delphi11");
  EXPECT_EQ(target.Name(), "Delphi 11 Alexandria");
  EXPECT_TRUE(target.Installed());
  EXPECT_EQ(target.KitwrightName(), "kept");
  EXPECT_TRUE(target.Selected());
}

}  // namespace
}  // namespace orv
