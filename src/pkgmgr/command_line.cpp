#include "pkgmgr/command_line.h"

#include "lib/text_trim.h"
#include "pkgmgr/utf8_stream_decoder.h"
#include "platform/command_line_split.h"
#include "platform/program_launch.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orv {

namespace {

QString SystemErrorText(int errorCode) {
  std::array<char, 256> buffer{};
  return QString::fromLocal8Bit(strerror_r(errorCode, buffer.data(), buffer.size()));
}

// Owns one file descriptor.
class Fd {
public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

private:
  int fd_ = -1;
};

// The file that a program name of the command line denotes. Names with a
// slash are taken relative to our own current directory (the child's
// working folder must not change their meaning); bare names are looked up
// in our PATH, accepting a Windows program that lacks the execute bit.
QString ResolveProgram(const QString& program) {
  if (program.contains(u'/')) return QFileInfo(program).absoluteFilePath();
  QString found = QStandardPaths::findExecutable(program);
  if (!found.isEmpty()) return found;
  const QStringList dirs = qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts);
  for (const QString& dir : dirs) {
    const QString candidate = dir + u'/' + program;
    if (QFileInfo(candidate).isFile() && IsWindowsProgram(candidate)) return candidate;
  }
  return {};
}

// The argv to execute: the resolved program, or wine with the program when
// the program is a Windows executable and wine is installed.
std::vector<std::string> ProgramArgv(const QString& commandLine) {
  QStringList args = SplitCommandLine(commandLine);
  if (args.isEmpty() || args.first().isEmpty()) throw EOSError(ENOENT);
  const QString path = ResolveProgram(args.first());
  if (path.isEmpty()) throw EOSError(ENOENT);
  args = LaunchArgv(path, args.mid(1));
  std::vector<std::string> argv;
  argv.reserve(args.size());
  for (const QString& arg : args) argv.push_back(QFile::encodeName(arg).toStdString());
  return argv;
}

std::vector<char*> CStringArray(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

class SpawnFileActions {
public:
  SpawnFileActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* Get() { return &attributes_; }

private:
  posix_spawnattr_t attributes_;
};

void Check(int result) {
  if (result != 0) throw EOSError(result);
}

// A started child with the read end of its output pipe. A child that is
// left before it was reaped (an exception from a callback) keeps running;
// a detached thread reaps it so that no zombie remains.
class Child {
public:
  Child(const QString& commandLine, const QString& workingDirectory, const QStringList& env);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  // Bytes waiting in the pipe, 0 when none or when the pipe has closed.
  int Waiting() const;
  ssize_t Read(char* buffer, size_t size) const { return ::read(readFd_.Get(), buffer, size); }
  // Waits up to timeoutMs for the child to end, waking early when output
  // arrives; true when it has ended.
  bool WaitForEnd(int timeoutMs);
  void KillGroup() const { ::kill(-pid_, SIGKILL); }
  // Waits for the end and returns the wait status.
  int Reap();

private:
  bool HasEnded() const;

  pid_t pid_ = -1;
  bool reaped_ = false;
  Fd readFd_;
  Fd pidFd_;
  bool pipeOpen_ = true;
};

Child::Child(const QString& commandLine, const QString& workingDirectory, const QStringList& env) {
  std::vector<std::string> argvStrings = ProgramArgv(commandLine);
  std::vector<char*> argv = CStringArray(argvStrings);

  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  if (!env.isEmpty()) {
    const QStringList entries = TCommandLine::GetEnvironment(
        env, [](const QString& name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); });
    for (const QString& entry : entries) envStrings.push_back(entry.toStdString());
    envp = CStringArray(envStrings);
  }

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw EOSError(errno);
  readFd_ = Fd(fds[0]);
  Fd writeFd(fds[1]);
  // Keep the write end clear of 0..2 so that dup2 onto 1 and 2 always
  // yields descriptors without close-on-exec.
  if (writeFd.Get() <= 2) {
    Fd moved(::fcntl(writeFd.Get(), F_DUPFD_CLOEXEC, 3));
    if (moved.Get() < 0) throw EOSError(errno);
    writeFd = std::move(moved);
  }
  if (::fcntl(readFd_.Get(), F_SETFL, ::fcntl(readFd_.Get(), F_GETFL) | O_NONBLOCK) != 0)
    throw EOSError(errno);

  SpawnFileActions actions;
  Check(posix_spawn_file_actions_adddup2(actions.Get(), writeFd.Get(), STDOUT_FILENO));
  Check(posix_spawn_file_actions_adddup2(actions.Get(), writeFd.Get(), STDERR_FILENO));
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors that other code of this process opened without
  // close-on-exec stay ours as well.
  Check(posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3));
#endif
  const QByteArray workingDir = QFile::encodeName(workingDirectory);
  if (!workingDir.isEmpty())
    Check(posix_spawn_file_actions_addchdir_np(actions.Get(), workingDir.constData()));

  SpawnAttributes attributes;
  // A group of its own, so that cancelling reaches the child's children;
  // default signal handling and mask whatever this process changed.
  sigset_t emptyMask;
  sigemptyset(&emptyMask);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  Check(posix_spawnattr_setpgroup(attributes.Get(), 0));
  Check(posix_spawnattr_setsigmask(attributes.Get(), &emptyMask));
  Check(posix_spawnattr_setsigdefault(attributes.Get(), &defaults));
  Check(posix_spawnattr_setflags(attributes.Get(),
                                 POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

  pid_t pid = -1;
  const int result = posix_spawn(&pid, argv[0], actions.Get(), attributes.Get(), argv.data(),
                                 env.isEmpty() ? environ : envp.data());
  writeFd.Reset();
  if (result != 0) throw EOSError(result);
  pid_ = pid;
#ifdef SYS_pidfd_open
  pidFd_ = Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
#endif
}

Child::~Child() {
  if (reaped_ || pid_ < 0) return;
  try {
    std::thread([pid = pid_] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // Without a thread the zombie stays until this process ends.
  }
}

int Child::Waiting() const {
  int waiting = 0;
  if (!pipeOpen_ || ::ioctl(readFd_.Get(), FIONREAD, &waiting) != 0) return 0;
  return waiting;
}

bool Child::HasEnded() const {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid != 0;
}

bool Child::WaitForEnd(int timeoutMs) {
  std::array<pollfd, 2> fds{};
  nfds_t count = 0;
  if (pidFd_.Get() >= 0) fds[count++] = {pidFd_.Get(), POLLIN, 0};
  const nfds_t pipeIndex = count;
  // A closed pipe would wake poll at once; leave it out from then on.
  if (pipeOpen_) fds[count++] = {readFd_.Get(), POLLIN, 0};
  if (::poll(fds.data(), count, timeoutMs) > 0 && pipeOpen_ &&
      (fds[pipeIndex].revents & (POLLHUP | POLLERR)) && !(fds[pipeIndex].revents & POLLIN))
    pipeOpen_ = false;
  return HasEnded();
}

int Child::Reap() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) throw EOSError(errno);
  }
  reaped_ = true;
  return status;
}

}  // namespace

EOSError::EOSError(int errorCode)
    : Exception(QStringLiteral("System Error.  Code: %1.\n%2").arg(errorCode).arg(SystemErrorText(errorCode))),
      errorCode_(errorCode) {}

void TCommandLine::Execute(const QString& CommandLine) { Execute(CommandLine, QString(), {}, {}); }

void TCommandLine::Execute(const QString& CommandLine, const QString& WorkingDirectory) {
  Execute(CommandLine, WorkingDirectory, {}, {});
}

void TCommandLine::Execute(const QString& CommandLine, const QString& WorkingDirectory,
                           const TStringProc& OutputCallback, const QStringList& Env) {
  const int32_t code = ExecuteEx(CommandLine, WorkingDirectory, OutputCallback, Env, {});
  if (code != 0) throw ECommandLine(QStringLiteral("Could not execute command line. Exit code: %1").arg(code));
}

int32_t TCommandLine::ExecuteEx(const QString& CommandLine, const QString& WorkingDirectory,
                                const TStringProc& OutputCallback, const QStringList& Env,
                                const TIsCanceledFunc& IsCanceledFunc) {
  Child child(CommandLine, WorkingDirectory, Env);
  TUtf8StreamDecoder decoder;
  auto deliver = [&OutputCallback](const QString& text) {
    if (!text.isEmpty()) OutputCallback(text);
  };

  // Reads only what is waiting, so the cancellation predicate is polled at
  // least every 500 ms; once a wait has seen the end, the pipe is read
  // until it is found empty once more.
  bool canceled = false;
  bool endedBefore = false;
  bool ended = false;
  char buffer[255];
  while (!endedBefore) {
    if (IsCanceledFunc && IsCanceledFunc()) {
      child.KillGroup();
      canceled = true;
    }
    if (child.Waiting() > 0) {
      const ssize_t got = child.Read(buffer, sizeof buffer);
      if (got > 0 && OutputCallback) {
        // A NUL ends the piece; what follows it in this read is dropped.
        const auto* nul = static_cast<const char*>(std::memchr(buffer, 0, static_cast<size_t>(got)));
        if (nul)
          deliver(decoder.Decode(QByteArrayView(buffer, nul - buffer)) + decoder.Finish());
        else
          deliver(decoder.Decode(QByteArrayView(buffer, got)));
      }
      continue;
    }
    endedBefore = ended;
    ended = child.WaitForEnd(500);
  }
  if (OutputCallback) deliver(decoder.Finish());

  const int status = child.Reap();
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (canceled && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return 0;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : status;
}

QStringList TCommandLine::GetEnvironment(const QStringList& Env,
                                         const std::function<QString(const QString&)>& currentValue) {
  static const std::array<QString, 6> kWindowsNames = {
      QStringLiteral("ALLUSERSPROFILE"), QStringLiteral("APPDATA"), QStringLiteral("SYSTEMROOT"),
      QStringLiteral("SYSTEMDRIVE"),     QStringLiteral("TEMP"),    QStringLiteral("TMP")};
  QStringList entries;
  entries.reserve(Env.size() + static_cast<qsizetype>(kWindowsNames.size()));
  for (const QString& entry : Env) entries << TrimSpaceAndControl(entry);

  std::array<bool, kWindowsNames.size()> present{};
  bool hasPath = false;
  for (const QString& entry : Env) {
    const qsizetype equals = entry.indexOf(u'=');
    if (equals <= 0) continue;
    const QString name = TrimSpaceAndControl(QStringView(entry).left(equals));
    if (name.compare(u"PATH", Qt::CaseInsensitive) == 0) hasPath = true;
    for (size_t i = 0; i < kWindowsNames.size(); ++i)
      if (name.compare(kWindowsNames[i], Qt::CaseInsensitive) == 0) present[i] = true;
  }
  for (size_t i = 0; i < kWindowsNames.size(); ++i)
    if (!present[i]) entries << kWindowsNames[i] + u'=' + currentValue(kWindowsNames[i]);

  std::stable_sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) < 0;
  });

  QStringList block;
  for (const QString& entry : entries) {
    if (entry.isEmpty()) continue;
    if (!hasPath && entry.startsWith(u"PATH", Qt::CaseInsensitive)) continue;
    block << entry;
  }
  return block;
}

}  // namespace orv
