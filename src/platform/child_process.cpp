#include "platform/child_process.h"

#include "platform/child_launch.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <array>
#include <cerrno>
#include <exception>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orv {

static_assert(std::is_same_v<pid_t, int>, "process ids are kept as int in the header");
static_assert(CapturedChild::kEndGroupSignal == SIGKILL);

namespace {

using child_launch::Grouping;
using child_launch::Launch;

constexpr int kPipeSize = 1024 * 1024;
constexpr int kPumpMilliseconds = 50;

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
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

private:
  int fd_ = -1;
};

// Moves a close-on-exec descriptor above 2, so that placing the child's
// standard descriptors never overwrites it. Invalid (errno set) on failure.
Fd AboveStandard(Fd fd) {
  if (fd.Get() < 0 || fd.Get() > 2) return fd;
  return Fd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3));
}

// A close-on-exec pipe with both ends above 2; 0 or errno.
int MakePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
  readEnd = AboveStandard(Fd(fds[0]));
  writeEnd = AboveStandard(Fd(fds[1]));
  return readEnd.Get() < 0 || writeEnd.Get() < 0 ? errno : 0;
}

ChildEnd EndFromStatus(int status) {
  if (WIFSIGNALED(status)) return {0, true, WTERMSIG(status)};
  return {0, false, WEXITSTATUS(status)};
}

// Waits for a child of ours and reaps it.
ChildEnd Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return {errno, false, 0};
  }
  return EndFromStatus(status);
}

// Reaps a child that nobody waits for any more, so that no zombie stays.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] { Reap(pid); }).detach();
  } catch (...) {
    // Without a thread the zombie stays until this process ends.
  }
}

bool Ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// A descriptor that becomes readable when the child ends; invalid where
// the kernel has none.
Fd PidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
  return Fd();
#endif
}

// The file that the command's program names: a path taken from our working
// folder (the child's must not change its meaning), or a bare name found
// in our PATH. Empty when there is none.
QString ExecutablePath(const QString& program) {
  if (program.isEmpty()) return {};
  if (program.contains(u'/')) return QFileInfo(program).absoluteFilePath();
  return QStandardPaths::findExecutable(program);
}

// The command as the C strings a launch points to, made before the fork.
class PreparedCommand {
public:
  explicit PreparedCommand(const ChildCommand& command) {
    const QString path = ExecutablePath(command.program);
    if (path.isEmpty()) {
      error_ = ENOENT;
      return;
    }
    path_ = QFile::encodeName(path);
    folder_ = QFile::encodeName(command.workingFolder);
    argvStrings_.push_back(QFile::encodeName(command.program));
    for (const QString& argument : command.arguments) argvStrings_.push_back(argument.toLocal8Bit());
    argv_ = Pointers(argvStrings_);
    if (command.environment) {
      for (const QString& entry : *command.environment) envStrings_.push_back(entry.toLocal8Bit());
      envp_ = Pointers(envStrings_);
    }
    launch_.path = path_.constData();
    launch_.argv = argv_.data();
    launch_.envp = command.environment ? envp_.data() : environ;
    launch_.workingFolder = folder_.isEmpty() ? nullptr : folder_.constData();
    launch_.parent = ::getpid();
  }

  // ENOENT when there is no program to run.
  int Error() const { return error_; }
  Launch& Get() { return launch_; }

private:
  static std::vector<char*> Pointers(std::vector<QByteArray>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (QByteArray& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  int error_ = 0;
  QByteArray path_;
  QByteArray folder_;
  std::vector<QByteArray> argvStrings_;
  std::vector<QByteArray> envStrings_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
  Launch launch_;
};

// Starts the launch and learns whether the program runs: the report pipe
// closes at the exec, or brings the reason of the failure. The pid, or
// minus errno (the failed child reaped).
pid_t StartConfirmed(Launch& launch) {
  Fd reportRead;
  Fd reportWrite;
  if (const int error = MakePipe(reportRead, reportWrite)) return -error;
  launch.report = reportWrite.Get();
  const pid_t pid = child_launch::Start(launch);
  reportWrite.Reset();
  if (pid < 0) return pid;
  int error = 0;
  ssize_t got = 0;
  while ((got = ::read(reportRead.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (got <= 0) return pid;
  Reap(pid);
  return -error;
}

}  // namespace

CapturedChild::CapturedChild(const ChildCommand& command) {
  PreparedCommand prepared(command);
  if ((startError_ = prepared.Error())) return;
  Fd readEnd;
  Fd writeEnd;
  if ((startError_ = MakePipe(readEnd, writeEnd))) return;
  if (::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    startError_ = errno;
    return;
  }
  // A roomier pipe lets a chatty child write on while the caller handles
  // what it wrote; without one the default size does.
  ::fcntl(readEnd.Get(), F_SETPIPE_SZ, kPipeSize);

  Launch& launch = prepared.Get();
  launch.stdio[1] = launch.stdio[2] = writeEnd.Get();
  launch.grouping = Grouping::Kept;
  const pid_t pid = StartConfirmed(launch);
  if (pid < 0) {
    startError_ = -pid;
    return;
  }
  pid_ = pid;
  readFd_ = readEnd.Release();
  pidFd_ = PidFd(pid).Release();
}

CapturedChild::~CapturedChild() {
  if (readFd_ >= 0) ::close(readFd_);
  if (pidFd_ >= 0) ::close(pidFd_);
  if (pid_ > 0 && !reaped_) ReapInBackground(pid_);
}

std::size_t CapturedChild::Read(char* buffer, std::size_t size) {
  if (readFd_ < 0 || !pipeOpen_) return 0;
  for (;;) {
    const ssize_t got = ::read(readFd_, buffer, size);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) pipeOpen_ = false;  // every writer has gone
    if (got == 0 || errno != EINTR) return 0;
  }
}

bool CapturedChild::WaitForEnd(int timeoutMs) {
  if (pid_ <= 0 || reaped_) return true;
  std::array<pollfd, 2> fds{};
  nfds_t count = 0;
  if (pidFd_ >= 0) fds[count++] = {pidFd_, POLLIN, 0};
  const nfds_t pipeIndex = count;
  // A closed pipe would wake poll at once; it is left out from then on.
  if (pipeOpen_) fds[count++] = {readFd_, POLLIN, 0};
  if (::poll(fds.data(), count, timeoutMs) > 0 && pipeOpen_ && (fds[pipeIndex].revents & (POLLHUP | POLLERR)) &&
      !(fds[pipeIndex].revents & POLLIN))
    pipeOpen_ = false;
  return Ended(pid_);
}

void CapturedChild::EndGroup() const {
  if (pid_ > 0 && !reaped_) ::kill(-pid_, kEndGroupSignal);
}

ChildEnd CapturedChild::Wait() {
  if (pid_ <= 0) return {startError_ ? startError_ : ECHILD, false, 0};
  if (reaped_) return {ECHILD, false, 0};
  reaped_ = true;
  return Reap(pid_);
}

int StartDetached(const ChildCommand& command) {
  PreparedCommand prepared(command);
  if (prepared.Error()) return prepared.Error();
  Launch& launch = prepared.Get();
  launch.grouping = Grouping::Detached;
  const pid_t middle = StartConfirmed(launch);
  if (middle < 0) return -middle;
  // The middle process has ended by now, or is about to; the program is
  // init's child.
  Reap(middle);
  return 0;
}

ChildEnd RunWaited(const ChildCommand& command, const std::function<void()>& whileWaiting) {
  PreparedCommand prepared(command);
  if (prepared.Error()) return {prepared.Error(), false, 0};
  Fd null = AboveStandard(Fd(::open("/dev/null", O_RDWR | O_CLOEXEC)));
  if (null.Get() < 0) return {errno, false, 0};
  Launch& launch = prepared.Get();
  launch.stdio[0] = launch.stdio[1] = launch.stdio[2] = null.Get();
  launch.grouping = Grouping::NewSession;
  const pid_t pid = StartConfirmed(launch);
  if (pid < 0) return {-pid, false, 0};
  null.Reset();

  const Fd pidFd = PidFd(pid);
  try {
    while (!Ended(pid)) {
      if (pidFd.Get() >= 0) {
        pollfd end{pidFd.Get(), POLLIN, 0};
        if (::poll(&end, 1, kPumpMilliseconds) > 0) continue;
      } else {
        ::poll(nullptr, 0, kPumpMilliseconds);
      }
      if (whileWaiting) whileWaiting();
    }
  } catch (...) {
    ReapInBackground(pid);
    throw;
  }
  return Reap(pid);
}

QStringList SplitUserCommand(const QString& command) { return QProcess::splitCommand(command); }

}  // namespace orv
