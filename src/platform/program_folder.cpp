#include "platform/program_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include <unistd.h>

namespace orv {

namespace {

// Where package managers and system installs put programs.
bool UnderSystemPrefix(const QString& AFolder) {
  static const QStringList prefixes{QStringLiteral("/usr"),  QStringLiteral("/opt"), QStringLiteral("/bin"),
                                    QStringLiteral("/sbin"), QStringLiteral("/lib"), QStringLiteral("/lib64"),
                                    QStringLiteral("/snap"), QStringLiteral("/app"), QStringLiteral("/nix")};
  const QString folder = QDir::cleanPath(AFolder);
  if (folder == QLatin1String("/")) return true;
  return std::any_of(prefixes.begin(), prefixes.end(), [&](const QString& prefix) {
    return folder == prefix || folder.startsWith(prefix + QLatin1Char('/'));
  });
}

}  // namespace

bool DataBesideProgram(const ProgramFolderFacts& AFacts) {
  return !AFacts.folder.isEmpty() && AFacts.writable && AFacts.owner == AFacts.user &&
         !UnderSystemPrefix(AFacts.folder);
}

ProgramFolderFacts ProgramFolderFactsOf(const QString& AFolder) {
  const QFileInfo info(AFolder);
  return {info.canonicalFilePath(), info.ownerId(), static_cast<uint>(::geteuid()), info.isDir() && info.isWritable()};
}

}  // namespace orv
