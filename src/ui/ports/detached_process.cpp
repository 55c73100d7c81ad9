#include "detached_process.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>

#include <linux/close_range.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

namespace orv {

bool StartDetachedProcess(const QString& AProgram, const QStringList& AArguments, const QString& AWorkingFolder) {
  const QString path = QStandardPaths::findExecutable(AProgram);
  if (path.isEmpty()) return false;
  // Everything the children use is made here: between fork and exec only
  // async-signal-safe calls are allowed.
  std::vector<QByteArray> words{QFile::encodeName(path)};
  for (const QString& argument : AArguments) words.push_back(argument.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const QByteArray folder = QFile::encodeName(AWorkingFolder);

  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) {
      if (!folder.isEmpty() && ::chdir(folder.constData()) != 0) ::_exit(127);
      ::close_range(3, ~0U, 0);
      // The engine ignores SIGPIPE; the handler's own pipelines need it.
      ::signal(SIGPIPE, SIG_DFL);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::_exit(0);
  }
  // The middle process ends at once; the program is init's child by now.
  if (child > 0) {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return child > 0;
}

}  // namespace orv
