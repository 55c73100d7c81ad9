#include "pkgmgr/orv_runners.h"

#include "pkgmgr/core_types.h"
#include "pkgmgr/json_read.h"
#include "platform/command_line_split.h"

#include <memory>

namespace orv {

namespace {

using json_read::Json;

const QString kProductProgressOption = QStringLiteral(" -display-options:product-progress");

// Product identifiers joined by single spaces. An identifier that holds
// blanks or quotes is quoted, so that it stays one argument and cannot
// add options of its own.
QString JoinProductIds(const QStringList& ids) {
  QStringList parts;
  parts.reserve(ids.size());
  for (const QString& id : ids) {
    const bool plain = !id.contains(u' ') && !id.contains(u'\t') && !id.contains(u'"');
    parts << (plain ? id : QuoteArgument(id));
  }
  return parts.join(u' ');
}

// Adds one product per member of the list command's root object, in
// document order, and lets readFields fill it from the member's object.
template <class ReadFields>
void ReadProductList(const Json& root, TProductInfoList& products, ReadFields readFields) {
  if (!root.is_object()) throw EOrvRunner(QStringLiteral("Could not parse list result as JSON object"));
  for (const auto& [key, value] : root.items()) {
    TProductInfo& product = products.Add(std::make_unique<TProductInfo>());
    product.SetId(QString::fromStdString(key));
    if (!value.is_object())
      throw EOrvRunner(
          QStringLiteral("Could not parse product \"%1\" as JSON object from list command").arg(product.Id()));
    readFields(value, product);
  }
}

void ReadIDEs(const Json& productObject, TProductInfo& product) {
  const Json* ides = json_read::Object(productObject, "ides");
  if (!ides) return;
  for (const auto& [ideKey, ideValue] : ides->items()) {
    TProductIDEInfo& ide = product.IDEInfo(StringToIDEName(QString::fromStdString(ideKey)));
    const Json* platforms = ideValue.is_object() ? json_read::Object(ideValue, "platforms") : nullptr;
    if (!platforms) continue;
    for (const auto& [platformKey, platformValue] : platforms->items()) {
      TProductPlatformInfo& platform = ide.PlatformInfo(StringToPlatform(QString::fromStdString(platformKey)));
      if (!platformValue.is_object()) continue;
      platform.SetIsBuilt(json_read::Boolean(platformValue, "built"));
      platform.SetIsRegistered(json_read::Boolean(platformValue, "registered"));
    }
  }
}

const Json& InfoObject(const Json& root) {
  if (!root.is_object()) throw EOrvRunner(QStringLiteral("Could not parse info result as JSON object"));
  return root;
}

}  // namespace

// The members of a product that each list reader looks at; the runners
// build only these.
const std::initializer_list<std::string_view> kLocalProductFields = {"name", "version", "channel", "local", "ides"};
const std::initializer_list<std::string_view> kRemoteProductFields = {"name", "version", "vendor_id"};

void ReadLocalProductList(const Json& root, TProductInfoList& products) {
  ReadProductList(root, products, [](const Json& object, TProductInfo& product) {
    product.SetName(json_read::RequiredString(object, "name"));
    product.SetVersion(json_read::Version(object, "version"));
    product.SetChannel(json_read::String(object, "channel"));
    product.SetLocal(json_read::Boolean(object, "local"));
    ReadIDEs(object, product);
  });
}

void ReadRemoteProductList(const Json& root, TProductInfoList& products) {
  ReadProductList(root, products, [](const Json& object, TProductInfo& product) {
    product.SetName(json_read::RequiredString(object, "name"));
    product.SetVersion(json_read::Version(object, "version"));
    product.SetVendorId(json_read::String(object, "vendor_id"));
  });
}

void ReadInfo(const Json& root, TOrvInfo& info) {
  const Json& object = InfoObject(root);
  info.SetVersion(json_read::Version(object, "orv version"));
  info.SetLocation(json_read::String(object, "orv location"));
  info.SetWorkingFolder(json_read::String(object, "working folder"));
  info.SetFolderInitialized(json_read::Boolean(object, "folder initialized"));
  info.SetHasCredentials(json_read::Boolean(object, "has credentials"));
  info.SetConfigFile(json_read::String(object, "config file"));
}

void ReadCredentials(const Json& root, QString& email, QString& code) {
  const Json& object = InfoObject(root);
  email = json_read::String(object, "email");
  code = json_read::String(object, "code");
}

void TOrvListRunner::RunList() {
  Run(QStringLiteral("list -detailed -json"));
  ReadLocalProductList(JsonOutput(kLocalProductFields), FProducts);
}

void TOrvListRemoteRunner::RunListRemote() {
  Run(WithRepository(QStringLiteral("list-remote -json")));
  ReadRemoteProductList(JsonOutput(kRemoteProductFields), FProducts);
}

void TOrvInfoRunner::RunInfo(TOrvInfo& Info) {
  Run(WithRepository(QStringLiteral("info -json")));
  ReadInfo(JsonOutput(), Info);
}

void TOrvCredentialsRunner::RunGetCredentials(QString& Email, QString& Code) {
  Email.clear();
  Code.clear();
  SetIgnoreExitCode(false);
  Run(WithRepository(QStringLiteral("credentials -print -json")));
  ReadCredentials(JsonOutput(), Email, Code);
}

void TOrvCredentialsRunner::RunSetCredentials(const QString& Email, const QString& Code) {
  SetIgnoreExitCode(false);
  Run(WithRepository(QStringLiteral("credentials -set -email:") + QuoteArgument(Email) + QStringLiteral(" -code:") +
                     QuoteArgument(Code)));
}

void TOrvBuildRunner::RunBuild() {
  FProductProgress = true;
  QString args = QStringLiteral("build");
  if (!ProductIds().isEmpty()) args += u' ' + JoinProductIds(ProductIds());
  if (FFullBuild) args += QStringLiteral(" -full");
  RunCommand(WithRepository(args + kProductProgressOption));
}

void TOrvInstallRunner::RunInstall() {
  FProductProgress = true;
  RunCommand(WithRepository(QStringLiteral("install ") + JoinProductIds(ProductIds()) + kProductProgressOption));
}

void TOrvUninstallRunner::RunUninstall() { RunCommand(QStringLiteral("uninstall ") + JoinProductIds(ProductIds())); }

bool TOrvSelfUpdateRunner::RunSelfUpdate() {
  Run(WithRepository(QStringLiteral("self-update")));
  return OutputText().contains(QStringLiteral("ORV Kitwright has been updated from version"));
}

void TOrvConfigureRunner::RunConfigure() { Run(QStringLiteral("config")); }

QString TOrvConfigReadRunner::RunConfigRead(const QString& ParamName) {
  Run(QStringLiteral("config-read ") + QuoteArgument(ParamName));
  FValue = OutputText();
  return FValue;
}

void TOrvConfigWriteRunner::RunConfigWrite(const QString& ParamName, const QString& ParamValue) {
  Run(QStringLiteral("config-write -p:") + QuoteArgument(ParamName + u'=' + ParamValue));
}

}  // namespace orv
