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
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orv {

namespace {

constexpr size_t kPieceSize = 255;
constexpr size_t kBlockSize = 64 * 1024;
constexpr int kPipeSize = 1024 * 1024;

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

// A pipe whose ends are close-on-exec and clear of 0..2, so that dup2
// onto standard output and error never hits one of them.
std::pair<Fd, Fd> Pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw EOSError(errno);
  std::array<Fd, 2> ends{Fd(fds[0]), Fd(fds[1])};
  for (Fd& end : ends) {
    if (end.Get() > 2) continue;
    Fd moved(::fcntl(end.Get(), F_DUPFD_CLOEXEC, 3));
    if (moved.Get() < 0) throw EOSError(errno);
    end = std::move(moved);
  }
  return {std::move(ends[0]), std::move(ends[1])};
}

// Children die with the application (a crash or a kill included): every
// command run here, that is every package-manager command, since once the
// application is gone nobody reads their output or could cancel them.
// Product setups are started by the elevated port instead and are not
// tied: a setup cut off half-way would leave a broken installation, so it
// is left to finish. posix_spawn cannot ask for the parent-death signal,
// hence vfork and exec.

// Everything the child needs between vfork and exec, made beforehand: the
// child shares our memory and may only make system calls.
struct ChildSetup {
  char* const* argv;
  char* const* envp;
  const char* workingDir;  // nullptr keeps ours
  int output;              // becomes standard output and standard error
  int errorReport;         // close-on-exec; gets errno when the start fails
  pid_t parent;
};

[[noreturn]] void ReportStartFailure(int report) {
  const int error = errno;
  [[maybe_unused]] const ssize_t written = ::write(report, &error, sizeof error);
  ::_exit(127);
}

// The child's side of the start, ending in the program or in _exit.
[[noreturn]] void StartChild(const ChildSetup& setup) noexcept {
  // Killed when the forking thread ends, which lasts as long as this
  // process (ForkingThread); if the process ended before the prctl, the
  // child has been handed to another parent already.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) ReportStartFailure(setup.errorReport);
  if (::getppid() != setup.parent) ::_exit(127);
  // A group of its own, so that cancelling reaches the child's children.
  if (::setpgid(0, 0) != 0) ReportStartFailure(setup.errorReport);
  if (::dup2(setup.output, STDOUT_FILENO) < 0 || ::dup2(setup.output, STDERR_FILENO) < 0)
    ReportStartFailure(setup.errorReport);
  // Only the report stays open, at 3: descriptors that other code of this
  // process opened without close-on-exec stay ours as well.
  constexpr int kReport = 3;
  if (setup.errorReport != kReport && ::dup3(setup.errorReport, kReport, O_CLOEXEC) < 0)
    ReportStartFailure(setup.errorReport);
  ::closefrom(kReport + 1);
  if (setup.workingDir && ::chdir(setup.workingDir) != 0) ReportStartFailure(kReport);
  // Default handling and mask, whatever this process changed. Every signal
  // is still blocked (ForkingThread): handlers go first, as one that ran
  // now would run on our memory.
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction current {};
    const bool resetIgnored = number == SIGPIPE || number == SIGINT || number == SIGQUIT;
    if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler != SIG_DFL &&
        (current.sa_handler != SIG_IGN || resetIgnored))
      ::sigaction(number, &defaults, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(setup.argv[0], setup.argv, setup.envp);
  ReportStartFailure(kReport);
}

// vfork rather than fork: the child borrows our memory until its exec
// instead of copying the page tables, which costs tens of milliseconds per
// command beside the browser engine's memory. The caller stays suspended
// meanwhile.
pid_t VforkChild(const ChildSetup& setup) {
  const pid_t pid = ::vfork();
  if (pid == 0) StartChild(setup);
  return pid;
}

// Forks children on one thread that lives as long as the process. The
// parent-death signal comes when the *thread* that forked a child ends,
// and commands run on threads that come and go (a run left by an
// exception leaves its child running); forked here, the signal means that
// the application has ended. The thread blocks every signal, so the child
// starts with no handler able to run.
class ForkingThread {
public:
  static pid_t Fork(const ChildSetup& setup) {
    static const std::shared_ptr<Queue> queue = Start();
    std::packaged_task<pid_t()> task([&setup] {
      const pid_t pid = VforkChild(setup);
      if (pid < 0) throw EOSError(errno);
      return pid;
    });
    std::future<pid_t> forked = task.get_future();
    {
      const std::lock_guard lock(queue->mutex);
      queue->tasks.push_back(std::move(task));
    }
    queue->added.notify_one();
    return forked.get();
  }

private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable added;
    std::deque<std::packaged_task<pid_t()>> tasks;
  };

  static std::shared_ptr<Queue> Start() {
    auto queue = std::make_shared<Queue>();
    // Never joined, and sharing the queue, so neither goes before the
    // process does: destroying a condition variable that a thread waits on
    // would hang the exit.
    std::thread([queue] {
      sigset_t all;
      sigfillset(&all);
      ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
      for (;;) {
        std::unique_lock lock(queue->mutex);
        queue->added.wait(lock, [&] { return !queue->tasks.empty(); });
        std::packaged_task<pid_t()> task = std::move(queue->tasks.front());
        queue->tasks.pop_front();
        lock.unlock();
        task();
      }
    }).detach();
    return queue;
  }
};

// A started child with the read end of its output pipe. A child that is
// left before it was reaped (an exception from a callback) keeps running
// while the application does; a detached thread reaps it so that no
// zombie remains.
class Child {
public:
  Child(const QString& commandLine, const QString& workingDirectory, const QStringList& env);
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  // Reads what is waiting without blocking: the byte count, 0 when
  // nothing is waiting or the pipe has closed.
  size_t Read(char* buffer, size_t size);
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

  auto [readFd, writeFd] = Pipe();
  readFd_ = std::move(readFd);
  if (::fcntl(readFd_.Get(), F_SETFL, ::fcntl(readFd_.Get(), F_GETFL) | O_NONBLOCK) != 0) throw EOSError(errno);
  // A roomier pipe lets a chatty child write on while we handle what it
  // wrote; without one the default size does.
  ::fcntl(readFd_.Get(), F_SETPIPE_SZ, kPipeSize);
  auto [reportReadFd, reportWriteFd] = Pipe();
  const QByteArray workingDir = QFile::encodeName(workingDirectory);

  const ChildSetup setup{argv.data(),
                         env.isEmpty() ? environ : envp.data(),
                         workingDir.isEmpty() ? nullptr : workingDir.constData(),
                         writeFd.Get(),
                         reportWriteFd.Get(),
                         ::getpid()};
  const pid_t pid = ForkingThread::Fork(setup);
  writeFd.Reset();
  reportWriteFd.Reset();
  // The report pipe closes at the exec, or brings the reason of a failure.
  int error = 0;
  ssize_t got = 0;
  while ((got = ::read(reportReadFd.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (got > 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    throw EOSError(error);
  }
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

size_t Child::Read(char* buffer, size_t size) {
  if (!pipeOpen_) return 0;
  for (;;) {
    const ssize_t got = ::read(readFd_.Get(), buffer, size);
    if (got > 0) return static_cast<size_t>(got);
    if (got == 0) pipeOpen_ = false;  // every writer has gone
    if (got == 0 || errno != EINTR) return 0;
  }
}

bool Child::HasEnded() const {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

bool Child::WaitForEnd(int timeoutMs) {
  std::array<pollfd, 2> fds{};
  nfds_t count = 0;
  if (pidFd_.Get() >= 0) fds[count++] = {pidFd_.Get(), POLLIN, 0};
  const nfds_t pipeIndex = count;
  // A closed pipe would wake poll at once; leave it out from then on.
  if (pipeOpen_) fds[count++] = {readFd_.Get(), POLLIN, 0};
  if (::poll(fds.data(), count, timeoutMs) > 0 && pipeOpen_ && (fds[pipeIndex].revents & (POLLHUP | POLLERR)) &&
      !(fds[pipeIndex].revents & POLLIN))
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
  QString text;  // reused for every piece
  auto deliver = [&OutputCallback, &text] {
    if (!text.isEmpty()) OutputCallback(text);
  };
  // Callers get the output in pieces of at most 255 bytes, each ending at
  // its first NUL; the pipe is read in large blocks, which costs a fraction
  // of a system call per piece.
  auto deliverPieces = [&](const char* bytes, size_t size) {
    for (size_t at = 0; at < size; at += kPieceSize) {
      const size_t length = std::min(kPieceSize, size - at);
      const auto* nul = static_cast<const char*>(std::memchr(bytes + at, 0, length));
      decoder.Decode(QByteArrayView(bytes + at, nul ? nul - (bytes + at) : static_cast<qsizetype>(length)), text);
      if (nul) text += decoder.Finish();
      deliver();
    }
  };

  // Reads only what is waiting, so the cancellation predicate is polled at
  // least every 500 ms; once a wait has seen the end, the pipe is read
  // until it is found empty once more.
  bool canceled = false;
  bool endedBefore = false;
  bool ended = false;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBlockSize);
  while (!endedBefore) {
    if (IsCanceledFunc && IsCanceledFunc()) {
      child.KillGroup();
      canceled = true;
    }
    if (const size_t got = child.Read(buffer.get(), kBlockSize)) {
      if (OutputCallback) deliverPieces(buffer.get(), got);
      continue;
    }
    endedBefore = ended;
    ended = child.WaitForEnd(500);
  }
  if (OutputCallback) {
    text = decoder.Finish();
    deliver();
  }

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

  std::stable_sort(entries.begin(), entries.end(),
                   [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

  QStringList block;
  for (const QString& entry : entries) {
    if (entry.isEmpty()) continue;
    if (!hasPath && entry.startsWith(u"PATH", Qt::CaseInsensitive)) continue;
    block << entry;
  }
  return block;
}

}  // namespace orv
