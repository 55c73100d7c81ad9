#include "platform/system_processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace orv {

namespace {

// The registry of process names ignores only the case of ASCII letters.
bool equalsAsciiCaseInsensitive(QStringView a, QStringView b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode();
    char16_t y = b[i].unicode();
    if (x >= u'A' && x <= u'Z') x += u'a' - u'A';
    if (y >= u'A' && y <= u'Z') y += u'a' - u'A';
    if (x != y) return false;
  }
  return true;
}

bool nameMatches(const QString& executable, const QString& exeName) {
  if (executable.isEmpty()) return false;
  // Programs under wine show Windows paths in their argv[0].
  const qsizetype slash = std::max(executable.lastIndexOf(QLatin1Char('/')), executable.lastIndexOf(QLatin1Char('\\')));
  return equalsAsciiCaseInsensitive(executable, exeName) ||
         equalsAsciiCaseInsensitive(QStringView(executable).mid(slash + 1), exeName);
}

QString readFirstLine(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readLine()).trimmed();
}

// argv[0], up to the first NUL of the command line.
QString readArgv0(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray cmdline = file.read(4096);
  return QString::fromUtf8(cmdline.left(cmdline.indexOf('\0')));
}

}  // namespace

SystemProcesses::SystemProcesses(QString procRoot) : procRoot_(std::move(procRoot)) {}

bool SystemProcesses::IsRunning(const QString& exeName) const {
  const QDir proc(procRoot_);
  bool found = false;
  for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool isPid = false;
    entry.toUInt(&isPid);
    if (!isPid) continue;
    const QString dir = proc.filePath(entry) + QLatin1Char('/');
    if (nameMatches(readFirstLine(dir + QLatin1String("comm")), exeName) ||
        nameMatches(QFileInfo(dir + QLatin1String("exe")).symLinkTarget(), exeName) ||
        nameMatches(readArgv0(dir + QLatin1String("cmdline")), exeName)) {
      found = true;
      break;
    }
  }
  return found;
}

}  // namespace orv
