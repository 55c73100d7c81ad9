#include "platform/system_known_folders.h"

#include <QDir>
#include <QStandardPaths>

namespace orv {

namespace {

QString withoutTrailingDelimiter(QString path) {
  while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
  return path;
}

QString standardLocation(QStandardPaths::StandardLocation location) {
  return withoutTrailingDelimiter(QStandardPaths::writableLocation(location));
}

}  // namespace

QString SystemKnownFolders::Downloads() const {
  const QString downloads = standardLocation(QStandardPaths::DownloadLocation);
  return downloads.isEmpty() ? Documents() : downloads;
}

QString SystemKnownFolders::Documents() const { return standardLocation(QStandardPaths::DocumentsLocation); }

QString SystemKnownFolders::LocalAppData() const { return standardLocation(QStandardPaths::GenericDataLocation); }

QString SystemKnownFolders::Temp() const { return withoutTrailingDelimiter(QDir::tempPath()); }

}  // namespace orv
