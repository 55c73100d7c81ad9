// The product setup stand-in as the installer meets it: packed by
// orv-make-archive, extracted, run through the elevated port with the
// silent switches, and removed again by the unins000.exe it left behind.
#include "core/setup_command_line.h"
#include "core/zip_extractor.h"
#include "platform/registry_hive.h"
#include "platform/system_elevated.h"
#include "platform/ui_thread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <fcntl.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

namespace orv {
namespace {

class CountingUiThread final : public UiThread {
public:
  void post(std::function<void()> task) override { task(); }
  void invokeAndWait(const std::function<void()>& task) override { task(); }
  void processPendingEvents() override {
    if (++pumped == 2 && onSecondPump) onSecondPump();
  }
  bool isCurrent() const override { return true; }
  int pumped = 0;
  std::function<void()> onSecondPump;
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SetupStandInTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    qputenv("ORV_REGISTRY_FILE", temp_.filePath("registry.reg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", temp_.filePath("data").toLocal8Bit());
  }
  void TearDown() override {
    qunsetenv("ORV_REGISTRY_FILE");
    qunsetenv("XDG_DATA_HOME");
  }

  // Packs a product archive with the real tool and extracts it the way the
  // installer does; returns the extraction folder.
  QString Extract(const nlohmann::json& manifest) {
    const QString manifestPath = temp_.filePath("setup.json");
    QFile file(manifestPath);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(manifest.dump()));
    file.close();
    const QString name = QString::fromStdString(manifest["name"]);
    const QString archive =
        temp_.filePath("dl/" + name + "/" + name + "_" + QString::fromStdString(manifest["version"]) + "_REG.zip");
    QDir().mkpath(QFileInfo(archive).path());
    QProcess tool;
    tool.start(ORV_MAKE_ARCHIVE, {"--setup", ORV_SETUP_EXE, "--manifest", manifestPath, "--out", archive});
    EXPECT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    const QString folder = archive.chopped(4);
    const ZipExtractResult extracted = ExtractZipArchive(archive, folder);
    EXPECT_TRUE(extracted.ok()) << extracted.message.toStdString();
    return folder;
  }

  QString LogFile(const QString& nameAndVersion) const {
    return temp_.filePath("data/orvsoftware/log/" + nameAndVersion + ".log");
  }

  std::unique_ptr<RegistryKey> ProductKey(const QString& registryName) {
    return RegistryHive(temp_.filePath("registry.reg")).OpenKeyReadOnly("\\Software\\orvsoftware\\" + registryName);
  }

  QTemporaryDir temp_;
  CountingUiThread ui_;
  SystemElevated elevated_{ui_};
};

TEST_F(SetupStandInTest, InstallsSilentlyAndUninstallsAgain) {
  const QString setupFolder = Extract({{"name", "Widget Pack"},
                                       {"version", "2.1"},
                                       {"registryName", "WidgetPack"},
                                       {"payload", {{"lib/unit.pas", "unit x;"}, {"readme.txt", "hello"}}}});
  const QString installDir = temp_.filePath("products/Reg/Widget Pack");
  EXPECT_EQ(elevated_.Run(setupFolder, "setup.exe", *SetupParameters(installDir, true)), 0);

  EXPECT_EQ(ReadAll(installDir + "/lib/unit.pas"), "unit x;");
  EXPECT_EQ(ReadAll(installDir + "/readme.txt"), "hello");
  EXPECT_TRUE(QFileInfo(installDir + "/unins000.exe").isExecutable());
  const auto key = ProductKey("WidgetPack");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadString("InstallDir"), installDir);
  EXPECT_EQ(key->ReadString("Version"), QString("2.1"));
  EXPECT_TRUE(ReadAll(LogFile("Widget Pack_2.1")).contains("Widget Pack 2.1"));

  EXPECT_EQ(elevated_.Run(installDir, "unins000.exe", UninstallParameters(true)), 0);
  EXPECT_FALSE(QFileInfo::exists(installDir));
  EXPECT_FALSE(ProductKey("WidgetPack"));
}

TEST_F(SetupStandInTest, WritesErrorPhrasesAndExitCodesItIsToldTo) {
  // The setup goes on only once the UI has been kept alive twice meanwhile.
  const QString gate = temp_.filePath("pumped twice");
  ui_.onSecondPump = [&] { EXPECT_TRUE(QFile(gate).open(QIODevice::WriteOnly)); };
  const QString setupFolder = Extract({{"name", "ORV Ledger"},
                                       {"version", "5.0.4"},
                                       {"install", false},
                                       {"logLines", {"No active internet connection available"}},
                                       {"exitCode", 3},
                                       {"waitForFile", gate.toStdString()}});
  EXPECT_EQ(elevated_.Run(setupFolder, "setup.exe", *SetupParameters(temp_.filePath("p/ORV Ledger"), true)), 3);
  EXPECT_TRUE(ReadAll(LogFile("ORV Ledger_5.0.4")).contains("No active internet connection available"));
  EXPECT_FALSE(QFileInfo::exists(temp_.filePath("p/ORV Ledger")));
  EXPECT_FALSE(ProductKey("ORV Ledger"));
  EXPECT_GT(ui_.pumped, 1);  // the UI stayed alive while the setup ran
}

TEST_F(SetupStandInTest, ElevatedRunSplitsSwitchesByWindowsRulesInTheFolder) {
  const QString folder = temp_.filePath("probe \"dir\"");  // blanks and quotes are no problem here
  QDir().mkpath(folder);
  QFile probe(folder + "/probe.exe");
  ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
  probe.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.txt\nexit 7\n");
  probe.close();
  probe.setPermissions(probe.permissions() | QFileDevice::ExeOwner);

  EXPECT_EQ(elevated_.Run(folder, "probe.exe", R"(/DIR="/x/Widget Pack" /SILENT "a""b" c\"d)"), 7);
  EXPECT_EQ(ReadAll(folder + "/args.txt"), "/DIR=/x/Widget Pack\n/SILENT\na\"b\nc\"d\n");
  EXPECT_EQ(elevated_.Run(folder, "missing.exe", ""), 31);
}

TEST_F(SetupStandInTest, ElevatedRunKeepsOurDescriptorsToItself) {
  const QString folder = temp_.path();
  QFile probe(folder + "/fdprobe.exe");
  ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
  probe.write("#!/bin/sh\ntest -e /proc/$$/fd/$1 && exit 1\nexit 0\n");
  probe.close();
  probe.setPermissions(probe.permissions() | QFileDevice::ExeOwner);

  const int inheritable = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(inheritable, 3);
  EXPECT_EQ(elevated_.Run(folder, "fdprobe.exe", QString::number(inheritable)), 0);
  ::close(inheritable);
}

}  // namespace
}  // namespace orv
