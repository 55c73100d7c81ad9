#include "app/debug_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <mutex>

namespace orv {

namespace {

constexpr int kKeptFiles = 3;

struct DebugLog {
  std::mutex mutex;
  QFile file;
  qint64 maxBytes = 0;
  bool verbose = false;
};

DebugLog& log() {
  static DebugLog instance;
  return instance;
}

// The log may name files and products the user works with: private to the
// user, like the settings.
void openPrivately(QFile& AFile) {
  if (AFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
    AFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// orv-dashboard.log becomes .1, .1 becomes .2, ...; the oldest goes.
void rotate(QFile& AFile) {
  const QString name = AFile.fileName();
  AFile.close();
  QFile::remove(name + QStringLiteral(".%1").arg(kKeptFiles));
  for (int i = kKeptFiles - 1; i >= 1; --i)
    QFile::rename(name + QStringLiteral(".%1").arg(i), name + QStringLiteral(".%1").arg(i + 1));
  QFile::rename(name, name + QStringLiteral(".1"));
  openPrivately(AFile);
}

const char* levelName(QtMsgType AType) {
  switch (AType) {
    case QtDebugMsg: return "debug";
    case QtInfoMsg: return "info";
    case QtWarningMsg: return "warning";
    case QtCriticalMsg: return "critical";
    case QtFatalMsg: return "fatal";
  }
  return "";
}

void write(QtMsgType AType, const QMessageLogContext& AContext, const QString& AMessage) {
  const QByteArray line = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
                           QLatin1String(AContext.category ? AContext.category : "default") + QLatin1Char(' ') +
                           QLatin1String(levelName(AType)) + QStringLiteral(": ") + AMessage + QLatin1Char('\n'))
                              .toUtf8();
  DebugLog& state = log();
  std::lock_guard lock(state.mutex);
  if (state.file.isOpen()) {
    if (state.file.size() + line.size() > state.maxBytes) rotate(state.file);
    state.file.write(line);
    state.file.flush();
  }
  const bool problem = AType == QtWarningMsg || AType == QtCriticalMsg || AType == QtFatalMsg;
  if (state.verbose || problem) std::fputs(line.constData(), stderr);
}

}  // namespace

QString DebugLogFile() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty()) state = QDir::homePath() + QStringLiteral("/.local/state");
  return state + QStringLiteral("/orvsoftware/orv-dashboard.log");
}

void InstallDebugLog(bool AVerbose, qint64 AMaxBytes) {
  DebugLog& state = log();
  {
    std::lock_guard lock(state.mutex);
    state.verbose = AVerbose;
    state.maxBytes = AMaxBytes;
    state.file.setFileName(DebugLogFile());
    QDir().mkpath(QFileInfo(state.file).path());
    openPrivately(state.file);
  }
  // The program's own debug output is always logged to the file; it is
  // rare (one line per product action) and what support asks for.
  QLoggingCategory::setFilterRules(QStringLiteral("orv.debug.debug=true"));
  qInstallMessageHandler(write);
}

}  // namespace orv
