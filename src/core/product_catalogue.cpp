#include "core/product_catalogue.h"

#include "lib/utils.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "settings/dashboard_settings.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include <utility>

namespace orv {

namespace {

// (registry name, display name). Older setups named their keys before the
// products got their display names.
constexpr std::array<std::pair<const char*, const char*>, 6> kProductNames{{
    {"ZYNCore", "ORV ZYN Core"},
    {"ZYNCanvas", "ORV ZYN Canvas"},
    {"ZYNFlow", "ORV ZYN Flow"},
    {"KeystoneCore", "ORV Keystone Core"},
    {"Ledger", "ORV Ledger"},
    {"Conduit", "ORV Conduit"},
}};

const QString kArchiveSuffix = QStringLiteral(".zip");

// Unicode upper case, the same whatever the user's locale (a Turkish
// locale would turn "trial" into "TRİAL" and miss the edition tag).
QString upper(const QString& text) { return text.toUpper(); }

}  // namespace

const QString TORVDashboardProductCatalogue::ProductsKey = QStringLiteral("\\Software\\orvsoftware");
const QString TORVDashboardProductCatalogue::UninstallerName = QStringLiteral("unins000.exe");

const std::array<TORVDashboardIDERow, 19> TORVDashboardProductCatalogue::IDETable{{
    {"delphi12", "Delphi 12", "Delphi 12 Athens", "\\Software\\Embarcadero\\BDS\\23.0\\Globals"},
    {"delphi11", "Delphi 11", "Delphi 11 Alexandria", "\\Software\\Embarcadero\\BDS\\22.0\\Globals"},
    {"delphisydney", "Delphi Sydney", "Delphi 10.4 Sydney", "\\Software\\Embarcadero\\BDS\\21.0\\Globals"},
    {"delphirio", "Delphi Rio", "Delphi 10.3 Rio", "\\Software\\Embarcadero\\BDS\\20.0\\Globals"},
    {"delphitokyo", "Delphi Tokyo", "Delphi 10.2 Tokyo", "\\Software\\Embarcadero\\BDS\\19.0\\Globals"},
    {"delphiberlin", "Delphi Berlin", "Delphi 10.1 Berlin", "\\Software\\Embarcadero\\BDS\\18.0\\Globals"},
    {"delphiseattle", "Delphi Seattle", "Delphi 10 Seattle", "\\Software\\Embarcadero\\BDS\\17.0\\Globals"},
    {"delphixe8", "Delphi XE8", "Delphi XE8", "\\Software\\Embarcadero\\BDS\\16.0\\Globals"},
    {"delphixe7", "Delphi XE7", "Delphi XE7", "\\Software\\Embarcadero\\BDS\\15.0\\Globals"},
    {"delphixe6", "Delphi XE6", "Delphi XE6", "\\Software\\Embarcadero\\BDS\\14.0\\Globals"},
    {"delphixe5", "Delphi XE5", "Delphi XE5", "\\Software\\Embarcadero\\BDS\\12.0\\Globals"},
    {"delphixe4", "Delphi XE4", "Delphi XE4", "\\Software\\Embarcadero\\BDS\\11.0\\Globals"},
    {"delphixe3", "Delphi XE3", "Delphi XE3", "\\Software\\Embarcadero\\BDS\\10.0\\Globals"},
    {"delphixe2", "Delphi XE2", "Delphi XE2", "\\Software\\Embarcadero\\BDS\\9.0\\Globals"},
    {"delphixe", "Delphi XE", "Delphi XE", "\\Software\\Embarcadero\\BDS\\8.0\\Globals"},
    // The package manager's selection stores these three IDs as they are.
    {"delphixe2010", "Delphi 2010", "Delphi 2010", "\\Software\\Embarcadero\\BDS\\7.0\\Globals"},
    {"delphixe2009", "Delphi 2009", "Delphi 2009", "\\Software\\Embarcadero\\BDS\\6.0\\Globals"},
    {"delphixe2008", "Delphi 2008", "Delphi 2008", "\\Software\\Embarcadero\\BDS\\5.0\\Globals"},
    {"delphi2007", "Delphi 2007", "Delphi 2007", "\\Software\\Embarcadero\\BDS\\4.0\\Globals"},
}};

TORVDashboardProductCatalogue::TORVDashboardProductCatalogue(Registry& ARegistry,
                                                             const TORVDashboardSettings& ASettings,
                                                             const Processes& AProcesses,
                                                             TORVDashboardBrowser* ADashboard)
    : FRegistry(ARegistry), FSettings(ASettings), FProcesses(AProcesses), FDashboard(ADashboard) {}

TORVDashboardDownloadList TORVDashboardProductCatalogue::ScannedDownloads() const {
  TORVDashboardDownloadList downloads;
  const QString downloadDir = FSettings.ReadDownloadDir();
  if (!downloadDir.isEmpty() && QFileInfo(downloadDir).isDir()) scanFolder(downloadDir, downloadDir, downloads);
  return downloads;
}

// Depth first in the order the file system lists the entries. Linked
// folders are not entered: a link back to a parent would never end.
void TORVDashboardProductCatalogue::scanFolder(const QString& AFolder, const QString& ADownloadDir,
                                               TORVDashboardDownloadList& AList) const {
  QDirIterator entries(AFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  while (entries.hasNext()) {
    entries.next();
    const QFileInfo info = entries.fileInfo();
    if (!info.isSymLink() && info.isDir())
      scanFolder(info.filePath(), ADownloadDir, AList);
    else if (info.fileName().endsWith(kArchiveSuffix, Qt::CaseInsensitive))
      addDownload(info.fileName(), ADownloadDir, AList);
  }
}

// "<product>_<version>_<edition>.zip": version and edition are the last
// two fields, so a product name may hold "_" itself.
void TORVDashboardProductCatalogue::addDownload(const QString& AFileName, const QString& ADownloadDir,
                                                TORVDashboardDownloadList& AList) const {
  const QString base = AFileName.left(AFileName.lastIndexOf(QLatin1Char('.')));
  const qsizetype editionAt = base.lastIndexOf(QLatin1Char('_'));
  // (lastIndexOf counts a negative start from the end.)
  const qsizetype versionAt = editionAt > 0 ? base.lastIndexOf(QLatin1Char('_'), editionAt - 1) : -1;
  if (versionAt < 0) return;
  const QString version = base.mid(versionAt + 1, editionAt - versionAt - 1);
  if (!version.contains(QLatin1Char('.'))) return;
  const QString edition = upper(base.mid(editionAt + 1));
  if (edition != QLatin1String("REG") && edition != QLatin1String("TRIAL")) return;
  // The product name becomes a folder of the rebuilt path and of the
  // install folder: "." or ".." would point at a parent instead.
  const QString productName = base.left(versionAt);
  if (productName == QLatin1String(".") || productName == QLatin1String("..")) return;

  const QString path = ADownloadDir + productName + TORVZYNDashUtils::PathDelimiter + AFileName;
  AList.Add(
      std::make_unique<TORVDashboardDownload>(FDashboard, path, productName, version, edition == QLatin1String("REG")));
}

TORVDashboardInstallList TORVDashboardProductCatalogue::ScannedInstalls() const {
  TORVDashboardInstallList installs;
  const auto products = FRegistry.OpenKeyReadOnly(ProductsKey);
  if (!products) return installs;
  for (const QString& name : products->SubkeyNames()) {
    // The keys are written by product setups, not by us: one with values
    // of unexpected types is left out like any other unusable key.
    try {
      addInstall(name, installs);
    } catch (const ERegistryException& e) {
      TORVZYNDashUtils::Log(QStringLiteral("Skipping product key %1: %2").arg(name, QString::fromUtf8(e.what())));
    }
  }
  return installs;
}

void TORVDashboardProductCatalogue::addInstall(const QString& AKeyName, TORVDashboardInstallList& AList) const {
  const auto key = FRegistry.OpenKeyReadOnly(ProductsKey + QLatin1Char('\\') + AKeyName);
  if (!key) return;
  QString folder;
  if (const auto installDir = key->ReadString(QStringLiteral("InstallDir")))
    folder = *installDir;
  else if (const auto path = key->ReadString(QStringLiteral("Path")))
    folder = *path;
  folder = TORVZYNDashUtils::AddBackslash(folder);
  const QString uninstaller = folder + UninstallerName;
  if (folder.isEmpty() || !QFileInfo(folder).isDir() || !QFileInfo(uninstaller).isFile()) return;

  auto install = std::make_unique<TORVDashboardInstall>();
  install->SetName(RegistryNameToProductName(AKeyName));
  install->SetVersion(key->ReadString(QStringLiteral("Version")).value_or(QString()));
  install->SetPath(folder);
  install->SetUninstallLink(uninstaller);
  AList.Add(std::move(install));
}

TORVDashboardDownload* TORVDashboardProductCatalogue::FindDownload(const QString& AProductName,
                                                                   const QString& AProductVersion,
                                                                   bool ARegistered) const {
  const QString name = upper(AProductName);
  const QString version = upper(AProductVersion);
  for (const auto& download : FDownloadList)
    if (upper(download->ProductName()) == name && upper(download->ProductVersion()) == version &&
        download->Registered() == ARegistered)
      return download.get();
  return nullptr;
}

TORVDashboardInstall* TORVDashboardProductCatalogue::FindInstall(const QString& AName) const {
  const QString name = upper(AName);
  for (const auto& install : FInstallList)
    if (upper(install->Name()) == name) return install.get();
  return nullptr;
}

void TORVDashboardProductCatalogue::BuildIDEList(TORVZYNIDEList& AList) const {
  for (const TORVDashboardIDERow& row : IDETable) {
    auto ide = std::make_unique<TORVZYNIDE>(FDashboard);
    ide->SetID(QLatin1String(row.ID));
    ide->SetKitwrightName(QLatin1String(row.KitwrightName));
    ide->SetName(QLatin1String(row.Name));
    ide->SetInstalled(FRegistry.KeyExists(QLatin1String(row.RegistryKey)));
    AList.Add(std::move(ide));
  }
}

bool TORVDashboardProductCatalogue::IsProcessRunning(const QString& AExeName) const {
  return FProcesses.IsRunning(AExeName);
}

QString TORVDashboardProductCatalogue::RegistryNameToProductName(const QString& AName) {
  for (const auto& [registryName, productName] : kProductNames)
    if (AName == QLatin1String(registryName)) return QLatin1String(productName);
  return AName;
}

QString TORVDashboardProductCatalogue::ProductNameToRegistryName(const QString& AName) {
  for (const auto& [registryName, productName] : kProductNames)
    if (AName == QLatin1String(productName)) return QLatin1String(registryName);
  return AName;
}

}  // namespace orv
