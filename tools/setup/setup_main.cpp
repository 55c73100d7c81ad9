// The product setup stand-in. As setup.exe (in an extracted product
// archive) it installs the payload beside it into the folder of /DIR=,
// copies itself there as unins000.exe, records the install in the registry
// hive and writes its log into the log folder. As unins000.exe it removes
// the install folder and the registry key again.
//
// setup.json beside setup.exe describes the product and the test knobs:
//   "name", "version"     product name and version (the log's name)
//   "registryName"        key name below \Software\orvsoftware (default: name)
//   "payload"             files to install (used by orv-make-archive)
//   "logLines"            extra lines for the log, e.g. error phrases
//   "writeLog"            false: write no log (default true)
//   "install"             false: install nothing (default true)
//   "delayMs"             wait this long before doing anything (default 0)
//   "waitForFile"         wait until this file exists before doing anything
//                         (a minute at most), so a test decides when it goes on
//   "exitCode"            the exit code (default 0)
#include "platform/registry_hive.h"
#include "platform/system_known_folders.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <stdexcept>

namespace {

constexpr auto kUninstaller = "unins000.exe";
constexpr auto kUninstallData = "unins000.json";
constexpr auto kProductsKey = "\\Software\\orvsoftware\\";

using nlohmann::json;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

QString text(const json& manifest, const char* key, const QString& fallback = {}) {
  const auto it = manifest.find(key);
  return it != manifest.end() && it->is_string() ? QString::fromStdString(it->get<std::string>()) : fallback;
}

json readManifest(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw Failure("cannot read " + path.toStdString());
  json manifest = json::parse(file.readAll().toStdString(), nullptr, false);
  if (!manifest.is_object()) throw Failure(path.toStdString() + " is not a JSON object");
  return manifest;
}

QString registryKey(const json& manifest) {
  return QLatin1String(kProductsKey) + text(manifest, "registryName", text(manifest, "name"));
}

void copyFile(const QString& from, const QString& to) {
  QFile::remove(to);
  if (!QFile::copy(from, to)) throw Failure("cannot copy " + from.toStdString() + " to " + to.toStdString());
}

void copyTree(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString source = it.next();
    const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
    QDir().mkpath(QFileInfo(target).path());
    copyFile(source, target);
  }
}

// The switches after the Windows-rules split; an unsplit /DIR="..." keeps
// its quotes, which are dropped here. Unknown switches are ignored.
QString installFolder(const QStringList& arguments, const json& manifest) {
  for (const QString& argument : arguments) {
    if (!argument.startsWith(QLatin1String("/DIR="), Qt::CaseInsensitive)) continue;
    QString folder = argument.mid(5);
    if (folder.size() >= 2 && folder.startsWith(QLatin1Char('"')) && folder.endsWith(QLatin1Char('"')))
      folder = folder.mid(1, folder.size() - 2);
    return folder;
  }
  // Without /DIR a real setup would ask; the stand-in takes a fixed place.
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QLatin1String("/orvsoftware/products/") + text(manifest, "name");
}

void writeLog(const json& manifest, const QString& folder) {
  const QString logFolder = orv::SystemKnownFolders().LocalAppData() + QLatin1String("/orvsoftware/log");
  QDir().mkpath(logFolder);
  QFile log(logFolder + QLatin1Char('/') + text(manifest, "name") + QLatin1Char('_') + text(manifest, "version") +
            QLatin1String(".log"));
  if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
    throw Failure("cannot write " + log.fileName().toStdString());
  QTextStream out(&log);
  out << "Setup of " << text(manifest, "name") << ' ' << text(manifest, "version") << " started\n";
  out << "Destination folder: " << folder << '\n';
  for (const json& line : manifest.value("logLines", json::array()))
    if (line.is_string()) out << QString::fromStdString(line.get<std::string>()) << '\n';
  out << "Setup finished\n";
}

void install(const json& manifest, const QString& setupFolder, const QString& folder) {
  if (!QDir().mkpath(folder)) throw Failure("cannot create " + folder.toStdString());
  copyTree(setupFolder + QLatin1String("/payload"), folder);
  const QString uninstaller = folder + QLatin1Char('/') + QLatin1String(kUninstaller);
  copyFile(QCoreApplication::applicationFilePath(), uninstaller);
  QFile::setPermissions(uninstaller, QFile::permissions(uninstaller) | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                         QFileDevice::ExeOther);
  copyFile(setupFolder + QLatin1String("/setup.json"), folder + QLatin1Char('/') + QLatin1String(kUninstallData));

  orv::RegistryHive hive(orv::RegistryHive::DefaultFileName());
  const auto key = hive.OpenKey(registryKey(manifest), true);
  if (!key) throw Failure("cannot create the registry key");
  key->WriteString(QStringLiteral("InstallDir"), folder);
  key->WriteString(QStringLiteral("Version"), text(manifest, "version"));
}

int runSetup(const QStringList& arguments) {
  const QString setupFolder = QCoreApplication::applicationDirPath();
  const json manifest = readManifest(setupFolder + QLatin1String("/setup.json"));
  QThread::msleep(manifest.value("delayMs", 0u));
  if (const QString gate = text(manifest, "waitForFile"); !gate.isEmpty()) {
    const QDeadlineTimer limit(60000);
    while (!QFileInfo::exists(gate) && !limit.hasExpired()) QThread::msleep(10);
  }
  const QString folder = installFolder(arguments, manifest);
  if (manifest.value("install", true)) install(manifest, setupFolder, folder);
  if (manifest.value("writeLog", true)) writeLog(manifest, folder);
  return manifest.value("exitCode", 0);
}

int runUninstaller() {
  const QString folder = QCoreApplication::applicationDirPath();
  const json manifest = readManifest(folder + QLatin1Char('/') + QLatin1String(kUninstallData));
  orv::RegistryHive(orv::RegistryHive::DefaultFileName()).DeleteKey(registryKey(manifest));
  if (!QDir(folder).removeRecursively()) throw Failure("cannot remove " + folder.toStdString());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool uninstaller =
      QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().compare(QLatin1String(kUninstaller), Qt::CaseInsensitive) ==
      0;
  try {
    return uninstaller ? runUninstaller() : runSetup(app.arguments().mid(1));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", uninstaller ? kUninstaller : "setup.exe", e.what());
    return 1;
  }
}
