#pragma once

#include "platform/exception.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace orv {

// A system call failed; carries the error number and the system's text.
class EOSError : public Exception {
public:
  explicit EOSError(int errorCode);
  int ErrorCode() const { return errorCode_; }
  QString className() const override { return QStringLiteral("EOSError"); }

private:
  int errorCode_;
};

// Execute saw a non-zero exit code.
ORV_DECLARE_EXCEPTION(ECommandLine, Exception);

using TStringProc = std::function<void(const QString&)>;
using TIsCanceledFunc = std::function<bool()>;

// Runs one command line as a child process whose standard output and
// standard error share one pipe, hands the output to a callback while the
// child runs, and returns the exit code. The calling thread blocks for
// the whole run; callbacks run on it.
//
// The command line is split into program and arguments by the Windows
// rules (SplitCommandLine). A program without a slash is looked up in
// PATH; a Windows program (a file starting with "MZ") runs through wine
// when wine is installed. The child starts in a process group of its own,
// inherits none of our descriptors except standard input, and is killed
// when this process ends, however it ends.
class TCommandLine {
public:
  static void Execute(const QString& CommandLine);
  static void Execute(const QString& CommandLine, const QString& WorkingDirectory);
  static void Execute(const QString& CommandLine, const QString& WorkingDirectory, const TStringProc& OutputCallback,
                      const QStringList& Env);

  // Output arrives decoded from UTF-8 in pieces of at most 255 bytes; a
  // NUL byte ends its piece. When IsCanceledFunc returns true the child's
  // process group is killed and 0 is returned once the child has ended.
  static int32_t ExecuteEx(const QString& CommandLine, const QString& WorkingDirectory,
                           const TStringProc& OutputCallback, const QStringList& Env,
                           const TIsCanceledFunc& IsCanceledFunc);

  // The child's environment for a non-empty Env: the entries trimmed, the
  // variables a Windows program needs added from currentValue when Env
  // lacks them, sorted without regard to case; PATH-like entries are left
  // out unless Env sets PATH itself. Each entry is one "NAME=value".
  static QStringList GetEnvironment(const QStringList& Env, const std::function<QString(const QString&)>& currentValue);
};

}  // namespace orv
