#include "platform/program_launch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv {
namespace {

class ProgramLaunchTest : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldPath_ = qgetenv("PATH");
  }
  void TearDown() override { qputenv("PATH", oldPath_); }

  QString Write(const QString& name, const QByteArray& content, bool executable = false) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
  }
  // A wine on PATH that only has to exist.
  QString InstallWine() {
    QDir().mkpath(dir_.filePath(QStringLiteral("bin")));
    const QString wine = Write(QStringLiteral("bin/wine"), "#!/bin/sh\n", true);
    qputenv("PATH", QFile::encodeName(dir_.filePath(QStringLiteral("bin"))));
    return wine;
  }

  QTemporaryDir dir_;
  QByteArray oldPath_;
};

TEST_F(ProgramLaunchTest, NativeProgramRunsItself) {
  const QString program = Write(QStringLiteral("setup.exe"), "#!/bin/sh\n", true);
  InstallWine();
  EXPECT_FALSE(IsWindowsProgram(program));
  EXPECT_EQ(LaunchArgv(program, {QStringLiteral("/SILENT"), QStringLiteral("a b")}),
            (QStringList{program, QStringLiteral("/SILENT"), QStringLiteral("a b")}));
}

TEST_F(ProgramLaunchTest, WindowsProgramRunsThroughWineWhenInstalled) {
  const QString program = Write(QStringLiteral("setup.exe"), QByteArray("MZ\x90\x00", 4));
  EXPECT_TRUE(IsWindowsProgram(program));
  qputenv("PATH", QFile::encodeName(dir_.filePath(QStringLiteral("nowhere"))));
  EXPECT_EQ(LaunchArgv(program, {QStringLiteral("/SILENT")}), (QStringList{program, QStringLiteral("/SILENT")}));

  const QString wine = InstallWine();
  EXPECT_EQ(LaunchArgv(program, {QStringLiteral("/SILENT")}), (QStringList{wine, program, QStringLiteral("/SILENT")}));
}

TEST_F(ProgramLaunchTest, MissingOrShortFileIsNotAWindowsProgram) {
  EXPECT_FALSE(IsWindowsProgram(dir_.filePath(QStringLiteral("missing.exe"))));
  EXPECT_FALSE(IsWindowsProgram(Write(QStringLiteral("short.exe"), "M")));
}

}  // namespace
}  // namespace orv
