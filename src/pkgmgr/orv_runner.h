#pragma once

#include "platform/exception.h"
#include "platform/mapped_buffer.h"

#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace orv {

// A package-manager command failed or its output could not be used.
ORV_DECLARE_EXCEPTION(EOrvRunner, Exception);

using TOutputLineProc = std::function<void(const QString&)>;
// A line of the kept output (no alert line), as UTF-8 without its break.
using TKeptLineProc = std::function<void(QByteArrayView)>;

struct TProgressInfo {
  int32_t Percent = 0;
  QString ProductId;
  int32_t ProductPercent = 0;
};

using TProgressCallback = std::function<void(const TProgressInfo&)>;

// Runs one package-manager command: builds the command line, runs it,
// splits the output into lines for listeners and parsers, takes the
// package manager's alert messages out of it and checks the exit code.
// One object per command; Cancel may be called from another thread.
class TOrvRunner {
public:
  TOrvRunner();
  virtual ~TOrvRunner();
  TOrvRunner(const TOrvRunner&) = delete;
  TOrvRunner& operator=(const TOrvRunner&) = delete;

  const QString& ExeFileName() const { return FExeFileName; }
  void SetExeFileName(const QString& value) { FExeFileName = value; }
  const QString& WorkingDir() const { return FWorkingDir; }
  void SetWorkingDir(const QString& value) { FWorkingDir = value; }
  const TOutputLineProc& OnOutputLine() const { return FOnOutputLine; }
  void SetOnOutputLine(TOutputLineProc value) { FOnOutputLine = std::move(value); }
  bool IgnoreExitCode() const { return FIgnoreExitCode; }
  void SetIgnoreExitCode(bool value) { FIgnoreExitCode = value; }
  const QString& Repository() const { return FRepository; }
  void SetRepository(const QString& value) { FRepository = value; }

  // The captured output, one entry per line, without the alert lines;
  // made from the output text on first demand.
  const QStringList& Output() const;
  // The output as one text, every line followed by CR LF.
  QString OutputText() const { return QString::fromUtf8(OutputBytes()); }
  int32_t LastExitCode() const { return FLastExitCode; }
  bool IsCanceled() const { return FIsCanceled.load(); }
  void Cancel() { FIsCanceled = true; }

  // A run of this runner contained the new-version alert.
  bool NewVersionDetected() const { return !FAlertNewVersion.isEmpty(); }
  const QStringList& AlertNewVersion() const { return FAlertNewVersion; }
  const QStringList& AlertDiskSpace() const { return FAlertDiskSpace; }

protected:
  // Runs the package manager with the argument string; every complete
  // output line goes to OnOutputLine, then to Callback; each line kept in
  // the output (alerts are taken out as they end) goes to KeptLine first.
  void Run(const QString& Args, const TOutputLineProc& Callback = {}, const TKeptLineProc& KeptLine = {});
  QString WithRepository(const QString& Args) const;
  void CheckExitCode(const QString& Args) const;
  // The output parsed as JSON on first demand; null when it is not JSON.
  // With product fields, the objects one level below the root keep only
  // those members: what a long list answer holds beyond them is never built.
  const nlohmann::ordered_json& JsonOutput(std::initializer_list<std::string_view> ProductFields = {});

private:
  QByteArrayView OutputBytes() const {
    return QByteArrayView(FOutputText.data(), static_cast<qsizetype>(FOutputText.size()));
  }

  QString FExeFileName;
  QString FWorkingDir;
  // The output is kept as one UTF-8 text, every line followed by CR LF:
  // a third of the memory of a list of lines, with no allocation per line,
  // and the very text that JsonOutput parses.
  MappedBuffer FOutputText;
  mutable QStringList FOutput;
  mutable qsizetype FOutputMadeOf = -1;  // the size of the text FOutput was made of
  std::optional<nlohmann::ordered_json> FJsonOutput;
  TOutputLineProc FOnOutputLine;
  std::atomic<bool> FIsCanceled{false};
  QStringList FAlertNewVersion;
  QStringList FAlertDiskSpace;
  bool FIgnoreExitCode = false;
  int32_t FLastExitCode = 0;
  QString FRepository;
};

// What the build, install and uninstall runners share: the product
// identifiers, progress lines and the build summary.
class TAbstractOrvBuildRunner : public TOrvRunner {
public:
  QStringList& ProductIds() { return FProductIds; }
  const QStringList& ProductIds() const { return FProductIds; }
  const QStringList& Summary() const { return FSummary; }
  const TProgressCallback& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TProgressCallback value) { FOnProgress = std::move(value); }

  // The progress a line reports ("[ 40%]", with ProductProgress also
  // "[ 40%] [x.y:  75%]"); none when the line is not a progress line.
  static std::optional<TProgressInfo> ParseProgress(const QString& Line, bool ProductProgress);
  // The lines after "=== Build Summary ===" up to the first blank one,
  // each cut to the text after its first "]".
  static QStringList ExtractSummary(const QStringList& Output);

protected:
  // Runs with the progress parser on every line, then takes the summary.
  void RunCommand(const QString& Args);

  bool FProductProgress = false;

private:
  QStringList FProductIds;
  QStringList FSummary;
  TProgressCallback FOnProgress;
};

}  // namespace orv
