#include "platform/program_launch.h"

#include <QFile>
#include <QStandardPaths>

namespace orv {

bool IsWindowsProgram(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(2) == "MZ";
}

QStringList LaunchArgv(const QString& programPath, const QStringList& arguments) {
  QStringList argv{programPath};
  argv += arguments;
  if (IsWindowsProgram(programPath)) {
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (!wine.isEmpty()) argv.prepend(wine);
  }
  return argv;
}

}  // namespace orv
