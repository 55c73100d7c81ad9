#include "core/download_tracker.h"

#include "core/dashboard_page.h"
#include "core/page_action_fields.h"
#include "lib/text_escape.h"
#include "lib/utils.h"
#include "platform/exception.h"
#include "settings/dashboard_settings.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace orv {

namespace {

using nlohmann::ordered_json;

QString fileNamePart(const QString& APath) {
  const qsizetype delimiter = std::max(APath.lastIndexOf(QLatin1Char('/')), APath.lastIndexOf(QLatin1Char('\\')));
  return APath.mid(delimiter + 1);
}

// The extension of the path's file name with its dot; empty without one.
QString extensionOf(const QString& APath) {
  const QString name = fileNamePart(APath);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot);
}

// Why a product name or version from the page cannot name a file below
// the download folder; empty when it can.
QString pathPartRefusal(const QString& APart) {
  if (APart == QLatin1String(".") || APart == QLatin1String(".."))
    return QStringLiteral("it names a folder instead of a file");
  if (APart.contains(QLatin1Char('/')) || APart.contains(QLatin1Char('\\')))
    return QStringLiteral("it contains a path separator");
  if (APart.contains(QChar(u'\0'))) return QStringLiteral("it contains a NUL character");
  if (APart.size() >= 2 && APart[1] == QLatin1Char(':') && APart[0].isLetter() && APart[0].unicode() < 128)
    return QStringLiteral("it starts with a drive");
  return {};
}

// The JSON library's own reading, numbers as numbers: what goes back to
// the page keeps its types, and only a number is a size. (ParseJSON keeps
// numbers as their written text, for reading names and versions.)
std::optional<ordered_json> parseWithNumbers(const QString& AJSON) {
  ordered_json value = ordered_json::parse(AJSON.toStdString(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

// A size the page gave, as a signed 64-bit count; none for anything but a
// number in that range.
std::optional<std::int64_t> sizeOf(const ordered_json* AValue) {
  constexpr auto largest = std::numeric_limits<std::int64_t>::max();
  if (!AValue) return std::nullopt;
  if (AValue->is_number_unsigned()) {
    const auto value = AValue->get<std::uint64_t>();
    return value <= static_cast<std::uint64_t>(largest) ? std::optional<std::int64_t>(value) : std::nullopt;
  }
  if (AValue->is_number_integer()) return AValue->get<std::int64_t>();
  if (AValue->is_number_float()) {
    // Whole counts only: a fraction is cut off, as the engine counts bytes.
    const double value = AValue->get<double>();
    if (std::isfinite(value) && std::abs(value) < 0x1p63) return static_cast<std::int64_t>(value);
  }
  return std::nullopt;
}

// The page's own action text for a page call: as it is when it is JSON,
// otherwise as one string, so that the call stays a valid script.
QString pageArgument(const QString& AAction) {
  return TORVZYNDashUtils::ParseJSON(AAction) ? AAction : JsonQuote(AAction);
}

// The page's action object with the counts appended after its own
// members, in compact JSON that is ASCII throughout; the record's own form
// when the action is no object.
QString progressJSON(const TORVDashboardActiveDownload& ADownload) {
  const auto action = parseWithNumbers(ADownload.Action());
  if (!action || !action->is_object()) return ADownload.GenerateJSON();
  QString text = QString::fromStdString(action->dump(-1, ' ', true));
  text.chop(1);  // the closing brace
  if (!action->empty()) text += QLatin1Char(',');
  return text + QStringLiteral("\"BytesReceived\":") + QString::number(static_cast<qint64>(ADownload.BytesReceived())) +
         QStringLiteral(",\"TotalBytes\":") + QString::number(static_cast<qint64>(ADownload.TotalBytes())) +
         QLatin1Char('}');
}

bool isDownloadEvent(const QString& AEventName) {
  const QString upper = QLocale().toUpper(AEventName);
  return upper == QLatin1String("DOWNLOAD") || upper == QLatin1String("DOWNLOAD-UPDATE");
}

// What becomes of a download the engine starts.
struct DownloadPlan {
  QString targetPath;                      // empty: the engine's own location
  bool named = false;                      // named after the product; the page takes it over
  bool announced = true;                   // false: followed as if the page had not announced it
  QString refusal;                         // why the product's names could not name the file
  std::optional<std::int64_t> totalBytes;  // the size the page gave
};

// The engine's own file name in the download folder.
// The engine's file name in the download folder, which is the user's own
// (Downloads by default): a file there is never replaced, the download gets
// the first free name as browsers choose one, "name (1).zip".
DownloadPlan unannouncedPlan(const QString& ADownloadDir, const QString& AProposedPath) {
  const QString name = fileNamePart(AProposedPath);
  const QString extension = extensionOf(name);
  const QString stem = name.left(name.size() - extension.size());
  QString path = ADownloadDir + name;
  for (int copy = 1; QFileInfo::exists(path); ++copy)
    path = ADownloadDir + stem + QStringLiteral(" (%1)").arg(copy) + extension;
  return {path, false, false, {}, {}};
}

// Named after the product as <folder>/<Name>/<Name>_<Version>_<REG|TRIAL>
// with the engine's extension, when the announcement is a download's and
// names both; otherwise the engine's own location.
DownloadPlan announcedPlan(const QString& AAction, const QString& ADownloadDir, const QString& AProposedPath) {
  DownloadPlan plan;
  const auto data = TORVZYNDashUtils::ParseJSON(AAction);
  if (!data) return plan;
  const auto numbers = parseWithNumbers(AAction);
  plan.totalBytes = sizeOf(TORVZYNDashUtils::GetJSONValue(numbers ? &*numbers : nullptr, QStringLiteral("TotalBytes")));
  const QString name = PageActionText(*data, "Name");
  const QString version = PageActionText(*data, "Version");
  if (!isDownloadEvent(PageActionText(*data, "EventName")) || name.isEmpty() || version.isEmpty()) return plan;

  QString refusal = pathPartRefusal(name);
  if (refusal.isEmpty()) refusal = pathPartRefusal(version);
  if (!refusal.isEmpty()) {
    // Nothing may be written outside the download folder: the download
    // goes there under the engine's name, as if the page had not announced
    // it.
    DownloadPlan unnamed = unannouncedPlan(ADownloadDir, AProposedPath);
    unnamed.refusal = refusal;
    unnamed.totalBytes = plan.totalBytes;
    return unnamed;
  }
  const QString edition = PageActionRegistered(*data) ? QStringLiteral("REG") : QStringLiteral("TRIAL");
  plan.targetPath = ADownloadDir + name + TORVZYNDashUtils::PathDelimiter + name + QLatin1Char('_') + version +
                    QLatin1Char('_') + edition + extensionOf(AProposedPath);
  plan.named = true;
  return plan;
}

}  // namespace

TORVDashboardDownloadTracker::TORVDashboardDownloadTracker(const TORVDashboardSettings& ASettings,
                                                           TORVDashboardPage& APage, Shell& AShell,
                                                           TORVDashboardStatuses& AStatus,
                                                           TORVDashboardBrowser* ADashboard,
                                                           std::function<void(const QString&)> AReportError)
    : FSettings(ASettings),
      FPage(APage),
      FShell(AShell),
      FStatus(AStatus),
      FDashboard(ADashboard),
      FReportError(std::move(AReportError)) {}

TORVDashboardDownloadTracker::~TORVDashboardDownloadTracker() { CancelDownloads(); }

QString TORVDashboardDownloadTracker::FormatByteSize(std::int64_t ABytes) {
  static const std::array<QString, 5> units{QStringLiteral("Bytes"), QStringLiteral("KB"), QStringLiteral("MB"),
                                            QStringLiteral("GB"), QStringLiteral("TB")};
  if (ABytes < 0) return {};
  std::size_t divisions = 0;
  // Beyond the last unit the count simply grows.
  while (ABytes >= 1024 && divisions + 1 < units.size()) {
    ABytes /= 1024;
    ++divisions;
  }
  // The quotient is whole: its decimals are always zero.
  const QString number = divisions == 0 ? QString::number(ABytes)
                                        : QString::number(ABytes) + QLocale().decimalPoint() + QStringLiteral("00");
  return number + QLatin1Char(' ') + units[divisions];
}

void TORVDashboardDownloadTracker::RegisterDownloadHandler(IDownloadEvents* AEvents) {
  if (!AEvents) return;
  FDownloadStartingEventHandlerToken = AEvents->AddDownloadStarting(
      [this](const std::shared_ptr<IDownloadStarting>& AArgs) { HandleEngineEvent([&] { DownloadStarting(AArgs); }); });
}

void TORVDashboardDownloadTracker::RemoveDownloadHandler(IDownloadEvents* AEvents) {
  if (AEvents) AEvents->RemoveDownloadStarting(FDownloadStartingEventHandlerToken);
}

void TORVDashboardDownloadTracker::CancelDownloads() {
  // Out of the list first: an engine that reports the cancel at once must
  // not remove records while they are being cancelled. Leaving this scope
  // destroys them, which removes their handlers.
  const TORVDashboardActiveDownloadList downloads = std::move(FActiveDownloadList);
  for (const auto& download : downloads) download->Cancel();
}

// Engine events come from the engine's own signals: an error (a settings
// file that cannot be read) goes to the log instead of into the engine.
void TORVDashboardDownloadTracker::HandleEngineEvent(const std::function<void()>& AWork) {
  try {
    AWork();
  } catch (const Exception& e) {
    FReportError(e.message());
  }
}

void TORVDashboardDownloadTracker::DownloadStarting(const std::shared_ptr<IDownloadStarting>& AArgs) {
  const std::shared_ptr<IDownloadOperation> operation = AArgs->DownloadOperation();
  if (!operation) return;

  // The announcement belongs to this download whatever it holds.
  const QString action = std::exchange(FProductAction, QString());
  const QString downloadDir = FSettings.ReadDownloadDir();
  const QString proposedPath = AArgs->ResultFilePath();
  const DownloadPlan plan =
      action.isEmpty() ? unannouncedPlan(downloadDir, proposedPath) : announcedPlan(action, downloadDir, proposedPath);
  if (!plan.refusal.isEmpty())
    FPage.Log(QStringLiteral("The download is not named after the product: its name or version is refused, as ") +
              plan.refusal + QLatin1Char('.'));
  AArgs->SetResultFilePath(plan.targetPath);
  // The engine's own download interface stays for downloads the page did
  // not name.
  AArgs->SetHandled(plan.named);

  auto download = std::make_unique<TORVDashboardActiveDownload>(
      FDashboard, plan.targetPath, plan.totalBytes.value_or(operation->TotalBytesToReceive()));
  download->SetAction(plan.announced ? action : QString());
  TORVDashboardActiveDownload* record = download.get();
  // The handlers live inside the operation and hold it by plain pointer;
  // the record's hooks hold it (and the arguments) until the record goes.
  IDownloadOperation* engine = operation.get();
  const DownloadEventToken stateToken = operation->AddStateChanged([this, record, engine] {
    HandleEngineEvent([&] {
      switch (engine->State()) {
        case DownloadState::InProgress: DownloadInProgress(*record); break;
        case DownloadState::Interrupted: DownloadInterrupted(*record); break;
        case DownloadState::Completed: DownloadCompleted(*record); break;
      }
    });
  });
  const DownloadEventToken bytesToken = operation->AddBytesReceivedChanged([this, record, engine] {
    record->SetBytesReceived(static_cast<std::uint64_t>(engine->BytesReceived()));
    // An engine that knew no size at the start may know it by now; a size
    // the page gave stays.
    if (static_cast<std::int64_t>(record->TotalBytes()) < 0)
      record->SetTotalBytes(static_cast<std::uint64_t>(engine->TotalBytesToReceive()));
    HandleEngineEvent([&] { DownloadBytesChanged(*record); });
  });
  download->SetUnregisterHandlers([operation, stateToken, bytesToken] {
    operation->RemoveStateChanged(stateToken);
    operation->RemoveBytesReceivedChanged(bytesToken);
  });
  download->SetCancel([AArgs] { AArgs->Cancel(); });
  FActiveDownloadList.Add(std::move(download));
}

void TORVDashboardDownloadTracker::DownloadInProgress(TORVDashboardActiveDownload& ADownload) {
  FPage.Log(ADownload.FileName() + QStringLiteral(" in progress !"));
  FStatus.Include(sDownloading);
}

void TORVDashboardDownloadTracker::DownloadBytesChanged(TORVDashboardActiveDownload& ADownload) {
  FStatus.Include(sDownloading);
  FPage.Log(ADownload.FileName() + QStringLiteral(" [") +
            FormatByteSize(static_cast<std::int64_t>(ADownload.BytesReceived())) + QStringLiteral(" / ") +
            FormatByteSize(static_cast<std::int64_t>(ADownload.TotalBytes())) + QLatin1Char(']'));
  FPage.DownloadProgress(progressJSON(ADownload));
}

void TORVDashboardDownloadTracker::DownloadCompleted(TORVDashboardActiveDownload& ADownload) {
  FPage.Log(ADownload.FileName() + QStringLiteral(" completed !"));
  if (!ADownload.Action().isEmpty()) {
    // The page's own action back: it tells a plain download from the
    // first half of an update.
    FPage.DownloadFinished(pageArgument(ADownload.Action()));
  } else {
    FPage.DownloadFinished(ADownload.GenerateJSON());
    TORVZYNDashUtils::OpenFile(FShell, FSettings.ReadDownloadDir());
  }
  EndDownload(ADownload);
}

void TORVDashboardDownloadTracker::DownloadInterrupted(TORVDashboardActiveDownload& ADownload) {
  FPage.Log(ADownload.FileName() + QStringLiteral(" interrupted !"));
  FPage.DownloadFailed(ADownload.Action().isEmpty() ? QString() : pageArgument(ADownload.Action()));
  EndDownload(ADownload);
}

// Destroys the record (its handlers go with it). The status clears even
// while other downloads still run.
void TORVDashboardDownloadTracker::EndDownload(TORVDashboardActiveDownload& ADownload) {
  FActiveDownloadList.Remove(&ADownload);
  FStatus.Exclude(sDownloading);
}

}  // namespace orv
