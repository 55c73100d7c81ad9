#pragma once

// A user's world for discovery and install tests: a temporary registry
// hive, fixed known folders under one temporary folder, the settings over
// both, and helpers to lay files and keys out.
#include "platform/registry_hive.h"
#include "settings/dashboard_settings.h"
#include "support/fake_ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orv::test {

class ProductEnvironment : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    // Child processes (the setup stand-in) find the same hive and log
    // folder through the environment.
    qputenv("ORV_REGISTRY_FILE", hive_.FileName().toLocal8Bit());
    qputenv("XDG_DATA_HOME", folders_.LocalAppData().toLocal8Bit());
    SetSetting("DOWNLOADDIR", Dir("dl"));
  }
  void TearDown() override {
    qunsetenv("ORV_REGISTRY_FILE");
    qunsetenv("XDG_DATA_HOME");
  }

  QString Dir(const QString& relative) const { return temp_.filePath(relative); }

  void SetSetting(const QString& name, const QString& value) {
    hive_.OpenKey(TORVDashboardSettings::SettingsKey, true)->WriteString(name, value);
  }
  void SetFlag(const QString& name, bool value) {
    hive_.OpenKey(TORVDashboardSettings::SettingsKey, true)->WriteBool(name, value);
  }

  // Creates the file (and its folders) with the given content.
  static void WriteFile(const QString& path, const QByteArray& content = {}) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
  }
  static QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir temp_;
  RegistryHive hive_{temp_.filePath("registry.reg")};
  FixedFolders folders_{temp_.path()};
  TORVDashboardSettings settings_{hive_, folders_};
};

}  // namespace orv::test
