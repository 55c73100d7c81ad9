#include "platform/system_elevated.h"

#include "platform/child_process.h"
#include "platform/command_line_split.h"
#include "platform/program_launch.h"
#include "platform/ui_thread.h"

#include <QDir>

namespace orv {

namespace {

constexpr int kNotStarted = 31;

}  // namespace

int SystemElevated::Run(const QString& folder, const QString& program, const QString& parameters) {
  const QString path = QDir(folder).filePath(program);
  // The switches are split as the arguments of a Windows command line; the
  // program word in front only takes the program's place and is dropped.
  QStringList argv = LaunchArgv(path, SplitCommandLine(QLatin1String("setup ") + parameters).mid(1));
  const QString executable = argv.takeFirst();
  // Not tied to the application: a setup cut off half-way would leave a
  // broken installation, so it is left to finish whatever becomes of us.
  const ChildEnd end =
      RunWaited({executable, argv, folder, std::nullopt}, [this] { uiThread_.processPendingEvents(); });
  return end.error || end.signaled ? kNotStarted : end.code;
}

}  // namespace orv
