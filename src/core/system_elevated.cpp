#include "core/system_elevated.h"

#include "pkgmgr/command_line_split.h"
#include "platform/ui_thread.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <linux/close_range.h>
#include <unistd.h>

namespace orv {

namespace {

constexpr int kNotStarted = 31;
constexpr int kPollMilliseconds = 50;

bool IsWindowsProgram(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(2) == "MZ";
}

}  // namespace

int SystemElevated::Run(const QString& folder, const QString& program, const QString& parameters) {
  const QString path = QDir(folder).filePath(program);
  // The switches are split as the arguments of a Windows command line; the
  // program word in front only takes the program's place and is dropped.
  QStringList arguments = SplitCommandLine(QLatin1String("setup ") + parameters).mid(1);
  QString executable = path;
  if (IsWindowsProgram(path)) {
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (!wine.isEmpty()) {
      arguments.prepend(executable);
      executable = wine;
    }
  }

  QProcess process;
  process.setProgram(executable);
  process.setArguments(arguments);
  process.setWorkingDirectory(folder);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  // Descriptors that other code of this process opened without
  // close-on-exec must not reach the setup; marking them (rather than
  // closing) keeps QProcess's own start-up pipe working until the exec.
  process.setChildProcessModifier([] { ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC); });
  process.start();
  if (!process.waitForStarted()) return kNotStarted;
  while (process.state() != QProcess::NotRunning && !process.waitForFinished(kPollMilliseconds))
    uiThread_.processPendingEvents();
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : kNotStarted;
}

}  // namespace orv
