#include "pkgmgr/command_line.h"

#include "lib/text_trim.h"
#include "pkgmgr/utf8_stream_decoder.h"
#include "platform/child_process.h"
#include "platform/command_line_split.h"
#include "platform/program_launch.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace orv {

namespace {

constexpr size_t kPieceSize = 255;
constexpr size_t kBlockSize = 64 * 1024;

QString SystemErrorText(int errorCode) {
  std::array<char, 256> buffer{};
  return QString::fromLocal8Bit(strerror_r(errorCode, buffer.data(), buffer.size()));
}

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

// The command to run: the resolved program, or wine with the program when
// the program is a Windows executable and wine is installed.
ChildCommand ProgramCommand(const QString& commandLine, const QString& workingDirectory, const QStringList& env) {
  QStringList args = SplitCommandLine(commandLine);
  if (args.isEmpty() || args.first().isEmpty()) throw EOSError(ENOENT);
  const QString path = ResolveProgram(args.first());
  if (path.isEmpty()) throw EOSError(ENOENT);
  args = LaunchArgv(path, args.mid(1));
  ChildCommand command{args.takeFirst(), args, workingDirectory, std::nullopt};
  if (!env.isEmpty())
    command.environment = TCommandLine::GetEnvironment(
        env, [](const QString& name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); });
  return command;
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
  // A captured child dies with the application (a crash or a kill
  // included): once the application is gone nobody reads the output of a
  // package-manager command or could cancel it.
  CapturedChild child(ProgramCommand(CommandLine, WorkingDirectory, Env));
  if (child.StartError()) throw EOSError(child.StartError());
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
      child.EndGroup();
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

  const ChildEnd end = child.Wait();
  if (end.error) throw EOSError(end.error);
  if (!end.signaled) return end.code;
  // A killed child reports the signal as a shell would; our own kill is no
  // failure of the command.
  return canceled && end.code == CapturedChild::kEndGroupSignal ? 0 : 128 + end.code;
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
