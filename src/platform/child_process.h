#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>

namespace orv {

// Every program the application starts is started here, in one of three
// ways, under one policy:
// - the child gets standard input, output and error as its way sets them,
//   and no other descriptor of ours, also none that other code of this
//   process opened without close-on-exec;
// - every signal's disposition is the default and the signal mask is empty;
// - it runs the program with the arguments exactly as given, no shell;
// - a program that cannot be started (missing, not executable, working
//   folder missing) is reported with the system's error number, never as an
//   exit code of the program;
// - between fork and exec the child makes system calls only: the program is
//   multi-threaded, so anything else could hang on a lock another thread
//   held at the fork.
//
// The three ways:
// - CapturedChild (the package manager): output on a pipe, a process group
//   of its own so cancelling reaches its children; when this process ends,
//   however it ends, the child and every process it started end too (a
//   keeper stands between us and the child for that, see child_keeper.h);
// - StartDetached (the desktop's handlers): a session of its own, a child of
//   init (or of a subreaper such as the user's service manager), nobody
//   waits, no zombie;
// - RunWaited (product setups): a session of its own, waited for while the
//   caller keeps its events going, and deliberately left to finish when
//   this process ends, since a setup cut off half-way breaks an installation.

// What to start.
struct ChildCommand {
  // A path (a relative one is taken from our working folder, whatever the
  // child's is) or a bare name looked up in our PATH. It is also argv[0].
  QString program;
  // argv[1] onwards.
  QStringList arguments;
  // Empty: ours.
  QString workingFolder;
  // "NAME=value" entries that make up the child's whole environment;
  // unset: ours.
  std::optional<QStringList> environment;
};

// How a child ended, or that it never ran.
struct ChildEnd {
  // An errno value when the program could not be started (or its end not
  // learnt); the fields below mean nothing then.
  int error = 0;
  // Ended by a signal: code is the signal's number, else the exit code.
  bool signaled = false;
  int code = 0;
};

// A child whose standard output and standard error share one pipe that
// the caller reads; standard input is ours. Not copyable.
class CapturedChild {
public:
  explicit CapturedChild(const ChildCommand& command);
  CapturedChild(const CapturedChild&) = delete;
  CapturedChild& operator=(const CapturedChild&) = delete;
  // A child not waited for yet runs on (until this process ends) and is
  // reaped in the background, so no zombie remains.
  ~CapturedChild();

  // 0 when the program runs, else why it could not be started.
  int StartError() const { return startError_; }

  // Reads what is waiting without blocking: the byte count, 0 when nothing
  // is waiting or every writer has closed the pipe.
  std::size_t Read(char* buffer, std::size_t size);
  // Waits up to timeoutMs for the child to end, waking early when output
  // arrives; true once it has ended (it is not reaped yet).
  bool WaitForEnd(int timeoutMs);
  // Kills the child's whole process group (its keeper included) with
  // kEndGroupSignal: killing the child alone would leave its children
  // running.
  void EndGroup() const;
  static constexpr int kEndGroupSignal = 9;  // SIGKILL
  // Waits for the end and reaps the child.
  ChildEnd Wait();

private:
  int startError_ = 0;
  int pid_ = -1;
  bool reaped_ = false;
  int readFd_ = -1;
  int pidFd_ = -1;
  bool pipeOpen_ = true;
};

// Starts a program that lives on without us, with our standard
// descriptors. 0, or why it could not be started.
int StartDetached(const ChildCommand& command);

// Runs a program with /dev/null as its standard descriptors and waits for
// its end, calling whileWaiting about every 50 ms meanwhile (the UI thread
// processes its events there). If whileWaiting throws, the child runs on
// and is reaped in the background.
ChildEnd RunWaited(const ChildCommand& command, const std::function<void()>& whileWaiting);

// The words of a command the user wrote (such as $TERMINAL), split as Qt's
// QProcess::splitCommand does: blanks separate, double quotes group, three
// double quotes stand for one literal double quote. No shell is involved.
QStringList SplitUserCommand(const QString& command);

}  // namespace orv
