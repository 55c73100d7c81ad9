#include "core/product_records.h"

#include "lib/text_escape.h"

#include <QDir>
#include <QFileInfo>

namespace orv {

namespace {

// The forms are one line with ": " after each key and ", " between members;
// string values are escaped so that any name reads back unchanged.
QString stringMember(const char* key, const QString& value) {
  return QLatin1Char('"') + QLatin1String(key) + QLatin1String("\": \"") + JsonEscape(value) + QLatin1Char('"');
}

QString boolMember(const char* key, bool value) {
  return QLatin1Char('"') + QLatin1String(key) + QLatin1String("\": ") + QLatin1String(value ? "true" : "false");
}

QString object(std::initializer_list<QString> members) {
  QString text = QStringLiteral("{");
  bool first = true;
  for (const QString& member : members) {
    if (!first) text += QLatin1String(", ");
    text += member;
    first = false;
  }
  return text + QLatin1Char('}');
}

qsizetype lastDelimiter(const QString& path) {
  return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
}

QString fileNamePart(const QString& path) { return path.mid(lastDelimiter(path) + 1); }

}  // namespace

TORVDashboardActiveDownload::TORVDashboardActiveDownload(TORVDashboardBrowser* ADashboard, const QString& AFilePath,
                                                         std::int64_t ATotalBytes)
    : FFilePath(AFilePath), FDashboard(ADashboard), FTotalBytes(static_cast<std::uint64_t>(ATotalBytes)) {}

TORVDashboardActiveDownload::~TORVDashboardActiveDownload() {
  if (FUnregister) FUnregister();
}

QString TORVDashboardActiveDownload::FileName() const { return fileNamePart(FFilePath); }

QString TORVDashboardActiveDownload::GenerateJSON() const {
  // The page expects the received count quoted and the total bare; both as
  // the signed rendering of the stored values.
  return object({stringMember("Name", FileName()),
                 stringMember("BytesReceived", QString::number(static_cast<qint64>(FBytesReceived))),
                 QStringLiteral("\"TotalBytes\": ") + QString::number(static_cast<qint64>(FTotalBytes))});
}

TORVDashboardDownload::TORVDashboardDownload(TORVDashboardBrowser* ADashboard, const QString& AFilePath,
                                             const QString& AProductName, const QString& AProductVersion,
                                             bool ARegistered)
    : FFilePath(AFilePath),
      FDashboard(ADashboard),
      FProductName(AProductName),
      FProductVersion(AProductVersion),
      FRegistered(ARegistered) {}

bool TORVDashboardDownload::FilePresent() const { return QFileInfo(FFilePath).isFile(); }

QString TORVDashboardDownload::FileDirectory() const { return FFilePath.left(lastDelimiter(FFilePath) + 1); }

QString TORVDashboardDownload::FileName() const { return fileNamePart(FFilePath); }

QString TORVDashboardDownload::FileNameNoExt() const {
  const QString name = FileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

QString TORVDashboardDownload::GenerateJSON() const {
  return object({stringMember("Name", FProductName), stringMember("Version", FProductVersion),
                 boolMember("Registered", FRegistered)});
}

bool TORVDashboardInstall::PathExists() const { return !FPath.isEmpty() && QFileInfo(FPath).isDir(); }

QString TORVDashboardInstall::GenerateJSON() const {
  return object(
      {stringMember("Name", FName), stringMember("Version", FVersion), boolMember("Registered", FRegistered)});
}

TORVDashboardRegistered::TORVDashboardRegistered(TORVDashboardBrowser* ADashboard, const QString& AProductName,
                                                 const QString& AProductVersion, const QString& AProductID,
                                                 const QString& AProductORVID)
    : FDashboard(ADashboard),
      FProductName(AProductName),
      FProductVersion(AProductVersion),
      FProductORVID(AProductORVID),
      FProductID(AProductID) {}

QString TORVDashboardRegistered::GenerateJSON() const {
  return object({stringMember("Name", FProductName), stringMember("Version", FProductVersion),
                 stringMember("ID", FProductID), stringMember("ORVID", FProductORVID)});
}

TORVKitwrightProductStatus::TORVKitwrightProductStatus(const QString& AProductName, const QString& AProductVersion,
                                                       const QString& AProductID, const QString& AProductStatus)
    : FProductName(AProductName),
      FProductVersion(AProductVersion),
      FProductStatus(AProductStatus),
      FProductID(AProductID) {}

QString TORVKitwrightProductStatus::GenerateJSON() const {
  return object({stringMember("Name", FProductName), stringMember("Version", FProductVersion),
                 stringMember("ID", FProductID), stringMember("Status", FProductStatus)});
}

}  // namespace orv
