#include "core/setup_command_line.h"

namespace orv {

namespace {

bool HasQuote(const QString& value) { return value.contains(QLatin1Char('"')); }

}  // namespace

std::optional<QString> SetupParameters(const QString& AInstallFolder, bool ASilent) {
  if (!ASilent) return QString();
  if (HasQuote(AInstallFolder) || AInstallFolder.endsWith(QLatin1Char('\\'))) return std::nullopt;
  return QStringLiteral("/DIR=\"") + AInstallFolder +
         QStringLiteral("\" /SILENT /VERYSILENT /NOCHECKBDS /SUPPRESSMSGBOXES /NOCLOSEAPPLICATIONS /NORESTART");
}

QString UninstallParameters(bool ASilent) {
  return ASilent ? QStringLiteral("/SILENT /VERYSILENT /SUPPRESSMSGBOXES /NORESTART") : QString();
}

std::optional<QString> ElevatedCommandLine(const QString& AFolder, const QString& AFile, const QString& AParameters) {
  if (HasQuote(AFolder)) return std::nullopt;
  return QStringLiteral("/C cd \"") + AFolder + QStringLiteral("\" && start /wait ") + AFile + QLatin1Char(' ') +
         AParameters;
}

}  // namespace orv
