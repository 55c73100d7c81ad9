#pragma once

#include "pkgmgr/orv_runner.h"
#include "pkgmgr/product_info.h"
#include "pkgmgr/version.h"

#include <QString>

#include <nlohmann/json.hpp>

namespace orv {

// The package manager's description of itself ("info -json").
class TOrvInfo {
public:
  const TVersion& Version() const { return FVersion; }
  void SetVersion(const TVersion& value) { FVersion = value; }
  const QString& Location() const { return FLocation; }
  void SetLocation(const QString& value) { FLocation = value; }
  const QString& WorkingFolder() const { return FWorkingFolder; }
  void SetWorkingFolder(const QString& value) { FWorkingFolder = value; }
  bool FolderInitialized() const { return FFolderInitialized; }
  void SetFolderInitialized(bool value) { FFolderInitialized = value; }
  bool HasCredentials() const { return FHasCredentials; }
  void SetHasCredentials(bool value) { FHasCredentials = value; }
  const QString& ConfigFile() const { return FConfigFile; }
  void SetConfigFile(const QString& value) { FConfigFile = value; }

private:
  TVersion FVersion;
  QString FLocation;
  QString FWorkingFolder;
  bool FFolderInitialized = false;
  bool FHasCredentials = false;
  QString FConfigFile;
};

// Readers of the package manager's JSON answers, as the runners use them.
// They raise EOrvRunner when the answer is not a JSON object, and the JSON
// layer's errors for missing or mistyped values; products read before a
// failure stay in the list.
void ReadLocalProductList(const nlohmann::ordered_json& root, TProductInfoList& products);
void ReadRemoteProductList(const nlohmann::ordered_json& root, TProductInfoList& products);
void ReadInfo(const nlohmann::ordered_json& root, TOrvInfo& info);
void ReadCredentials(const nlohmann::ordered_json& root, QString& email, QString& code);

// "list -detailed -json": the locally known products with their IDE and
// platform state.
class TOrvListRunner : public TOrvRunner {
public:
  TProductInfoList& Products() { return FProducts; }
  void RunList();

private:
  TProductInfoList FProducts;
};

// "list-remote -json": the products the repository offers.
class TOrvListRemoteRunner : public TOrvRunner {
public:
  TProductInfoList& Products() { return FProducts; }
  void RunListRemote();

private:
  TProductInfoList FProducts;
};

// "info -json".
class TOrvInfoRunner : public TOrvRunner {
public:
  const TOrvInfo& Info() const { return FInfo; }
  void RunInfo() { RunInfo(FInfo); }
  void RunInfo(TOrvInfo& Info);

private:
  TOrvInfo FInfo;
};

// The account credentials stored in the package manager.
class TOrvCredentialsRunner : public TOrvRunner {
public:
  // "credentials -print -json".
  void RunGetCredentials(QString& Email, QString& Code);
  // "credentials -set -email:"E" -code:"C"": stores a new pair.
  void RunSetCredentials(const QString& Email, const QString& Code);
};

// "build [ids] [-full] -display-options:product-progress".
class TOrvBuildRunner : public TAbstractOrvBuildRunner {
public:
  bool FullBuild() const { return FFullBuild; }
  void SetFullBuild(bool value) { FFullBuild = value; }
  void RunBuild();

private:
  bool FFullBuild = false;
};

// "install ids -display-options:product-progress".
class TOrvInstallRunner : public TAbstractOrvBuildRunner {
public:
  void RunInstall();
};

// "uninstall ids": overall progress only.
class TOrvUninstallRunner : public TAbstractOrvBuildRunner {
public:
  void RunUninstall();
};

// "self-update": true when the package manager reports that it updated
// itself.
class TOrvSelfUpdateRunner : public TOrvRunner {
public:
  bool RunSelfUpdate();
};

// "config".
class TOrvConfigureRunner : public TOrvRunner {
public:
  void RunConfigure();
};

// "config-read "name"": the value as the output text.
class TOrvConfigReadRunner : public TOrvRunner {
public:
  const QString& Value() const { return FValue; }
  QString RunConfigRead(const QString& ParamName);

private:
  QString FValue;
};

// "config-write -p:"name=value"".
class TOrvConfigWriteRunner : public TOrvRunner {
public:
  void RunConfigWrite(const QString& ParamName, const QString& ParamValue);
};

}  // namespace orv
