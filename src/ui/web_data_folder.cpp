#include "ui/web_data_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <vector>

namespace orv {

namespace {

struct CachedFolderItem {
  QString FFolder;
  const void* FInstance;
};

std::vector<CachedFolderItem>& Claims() {
  static std::vector<CachedFolderItem> claims;
  return claims;
}

QString Canonical(const QString& folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

bool IsPlainName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

}  // namespace

QString FullDataFolderName(const QString& ACacheFolder, const QString& ACacheFolderName) {
  QString folder = ACacheFolder;
  if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  if (IsPlainName(ACacheFolderName)) return folder + ACacheFolderName;
  const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  return folder + (program.isEmpty() ? QStringLiteral("EdgeCache") : program);
}

namespace CachedFolders {

void Claim(const QString& AFolder, const void* AInstance) { Claims().push_back({Canonical(AFolder), AInstance}); }

bool ClaimedByOther(const QString& AFolder, const void* AInstance) {
  const QString folder = Canonical(AFolder);
  return std::any_of(Claims().begin(), Claims().end(), [&](const CachedFolderItem& item) {
    return item.FInstance != AInstance && item.FFolder == folder;
  });
}

void ReleaseLast(const void* AInstance) {
  auto& claims = Claims();
  auto it = std::find_if(claims.rbegin(), claims.rend(),
                         [&](const CachedFolderItem& item) { return item.FInstance == AInstance; });
  if (it != claims.rend()) claims.erase(std::next(it).base());
}

void ReleaseAll(const void* AInstance) {
  std::erase_if(Claims(), [&](const CachedFolderItem& item) { return item.FInstance == AInstance; });
}

}  // namespace CachedFolders

bool DeleteDataFolder(const QString& AFolder, const QString& ACacheFolder) {
  QDir folder(AFolder);
  for (int attempt = 0; attempt < 50 && folder.exists(); ++attempt) {
    if (folder.removeRecursively()) break;
    QThread::msleep(1);
  }
  if (!ACacheFolder.isEmpty()) QDir().rmdir(ACacheFolder);
  return !folder.exists();
}

}  // namespace orv
