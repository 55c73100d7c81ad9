#include "pkgmgr/orv_runner.h"

#include "lib/text_trim.h"
#include "pkgmgr/command_line.h"
#include "pkgmgr/line_splitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace orv {

namespace {

const QString kExeName = QStringLiteral("orv.exe");

QString OwnExecutableDir() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

std::optional<int32_t> ParseDecimal(QStringView text) {
  bool ok = false;
  const int32_t value = TrimmedSpaceAndControl(text).toInt(&ok, 10);
  return ok ? std::optional<int32_t>(value) : std::nullopt;
}

// The three characters before a "%]" at index end, as a number.
std::optional<int32_t> PercentBefore(const QString& line, qsizetype end) {
  return ParseDecimal(QStringView(line).mid(end - 3, 3));
}

}  // namespace

TOrvRunner::TOrvRunner() : FWorkingDir(QDir::currentPath()) {
  const QString besideUs = QDir(OwnExecutableDir()).filePath(kExeName);
  FExeFileName = QFileInfo::exists(besideUs) ? besideUs : kExeName;
}

TOrvRunner::~TOrvRunner() = default;

QString TOrvRunner::OutputText() const {
  QString text;
  qsizetype size = 0;
  for (const QString& line : FOutput) size += line.size() + 2;
  text.reserve(size);
  for (const QString& line : FOutput) text += line + QStringLiteral("\r\n");
  return text;
}

void TOrvRunner::Run(const QString& Args, const TOutputLineProc& Callback) {
  const QString commandLine = u'"' + FExeFileName + QStringLiteral("\" ") + Args;
  // The output is split as it arrives, each character looked at once. A
  // line goes to the listeners as soon as its break arrived (one printed
  // before a long step shows during that step); a line without its break
  // yet waits for a later piece or the end.
  TLineSplitter splitter(FOutput);
  qsizetype next = 0;
  const bool listening = FOnOutputLine || Callback;
  auto deliverBefore = [&](qsizetype end) {
    for (; next < end; ++next) {
      const QString line = FOutput[next];
      if (FOnOutputLine) FOnOutputLine(line);
      if (Callback) Callback(line);
    }
  };
  const int32_t exitCode = TCommandLine::ExecuteEx(
      commandLine, FWorkingDir,
      [&](const QString& chunk) {
        splitter.Append(chunk);
        if (listening) deliverBefore(FOutput.size() - (splitter.LastLineOpen() ? 1 : 0));
      },
      {}, [this] { return FIsCanceled.load(); });
  if (listening) deliverBefore(FOutput.size());

  ExtractAlerts();
  FLastExitCode = exitCode;
  if (!FIgnoreExitCode) CheckExitCode(Args);
}

void TOrvRunner::ExtractAlerts() {
  static const QString kNewVersion = QStringLiteral("There is a new version of ORV Kitwright available");
  static const QString kDiskSpaceBegin = QStringLiteral("WARNING: You only have");
  static const QString kDiskSpaceEnd = QStringLiteral("MB left in disk. ORV Kitwright might not work properly.");
  // One pass into a new list: removing lines in place would cost a move
  // of the rest of the output per alert.
  QStringList kept;
  kept.reserve(FOutput.size());
  for (qsizetype i = 0; i < FOutput.size();) {
    const QStringView line = TrimmedSpaceAndControl(FOutput[i]);
    QStringList* alert = nullptr;
    qsizetype count = 0;
    if (line.startsWith(kNewVersion)) {
      alert = &FAlertNewVersion;
      count = 3;
    } else if (line.startsWith(kDiskSpaceBegin) && line.endsWith(kDiskSpaceEnd)) {
      alert = &FAlertDiskSpace;
      count = 2;
    }
    if (!alert) {
      kept << FOutput[i++];
      continue;
    }
    for (const qsizetype end = qMin(i + count, FOutput.size()); i < end; ++i) *alert << FOutput[i];
  }
  FOutput = std::move(kept);
}

QString TOrvRunner::WithRepository(const QString& Args) const {
  return FRepository.isEmpty() ? Args : Args + QStringLiteral(" -repo:") + FRepository;
}

void TOrvRunner::CheckExitCode(const QString& Args) const {
  if (FLastExitCode != 0) throw EOrvRunner(QStringLiteral("Running failed: %1").arg(Args));
}

const nlohmann::ordered_json& TOrvRunner::JsonOutput() {
  if (!FJsonOutput) {
    auto value = nlohmann::ordered_json::parse(OutputText().toStdString(), nullptr, false);
    if (value.is_discarded()) value = nullptr;
    FJsonOutput = std::move(value);
  }
  return *FJsonOutput;
}

std::optional<TProgressInfo> TAbstractOrvBuildRunner::ParseProgress(const QString& Line, bool ProductProgress) {
  // Positions below are 0-based; a 1-based position is one more, so an
  // absent match (-1) counts as position 0.
  const qsizetype p1 = Line.indexOf(u"%]");
  if (p1 < 3) return std::nullopt;
  const std::optional<int32_t> percent = PercentBefore(Line, p1);
  if (!percent) return std::nullopt;
  TProgressInfo info;
  info.Percent = *percent;
  if (ProductProgress) {
    const qsizetype p2 = Line.indexOf(u"%]", p1 + 1);
    const qsizetype bracket = Line.indexOf(u'[', p1 + 1);
    const qsizetype colon = Line.indexOf(u':', p1 + 1);
    if (p2 - colon >= 3 && colon > bracket) {
      info.ProductId = TrimSpaceAndControl(QStringView(Line).mid(bracket + 1, colon - bracket - 1));
      info.ProductPercent = PercentBefore(Line, p2).value_or(0);
    }
  }
  return info;
}

QStringList TAbstractOrvBuildRunner::ExtractSummary(const QStringList& Output) {
  static const QString kMarker = QStringLiteral("=== Build Summary ===");
  QStringList summary;
  bool started = false;
  for (const QString& line : Output) {
    const qsizetype bracket = line.indexOf(u']');
    const QStringView cut = QStringView(line).mid(bracket + 1);
    if (!started) {
      started = cut.contains(kMarker);
      continue;
    }
    if (TrimmedSpaceAndControl(cut).isEmpty()) break;
    summary << cut.toString();
  }
  return summary;
}

void TAbstractOrvBuildRunner::RunCommand(const QString& Args) {
  Run(Args, [this](const QString& line) {
    if (!FOnProgress) return;
    if (const std::optional<TProgressInfo> progress = ParseProgress(line, FProductProgress)) FOnProgress(*progress);
  });
  FSummary = ExtractSummary(Output());
}

}  // namespace orv
