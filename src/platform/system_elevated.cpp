#include "platform/system_elevated.h"

#include "platform/command_line_split.h"
#include "platform/program_launch.h"
#include "platform/ui_thread.h"

#include <QDir>
#include <QProcess>

#include <linux/close_range.h>
#include <unistd.h>

namespace orv {

namespace {

constexpr int kNotStarted = 31;
constexpr int kPollMilliseconds = 50;

}  // namespace

int SystemElevated::Run(const QString& folder, const QString& program, const QString& parameters) {
  const QString path = QDir(folder).filePath(program);
  // The switches are split as the arguments of a Windows command line; the
  // program word in front only takes the program's place and is dropped.
  QStringList argv = LaunchArgv(path, SplitCommandLine(QLatin1String("setup ") + parameters).mid(1));

  QProcess process;
  process.setProgram(argv.takeFirst());
  process.setArguments(argv);
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
