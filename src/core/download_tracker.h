#pragma once

#include "core/dashboard_status.h"
#include "core/product_records.h"
#include "lib/download.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace orv {

class Shell;
class TORVDashboardBrowser;
class TORVDashboardPage;
class TORVDashboardSettings;

// Downloads: the page announces each one before it starts the transfer in
// the browser; the engine's download-starting event names the file after
// the announcement, and the transfer's states and byte counts reach the
// page and its log until it ends. UI thread only.
class TORVDashboardDownloadTracker {
public:
  // AReportError shows a failure of an engine event in the page's log;
  // ADashboard owns the records.
  TORVDashboardDownloadTracker(const TORVDashboardSettings& ASettings, TORVDashboardPage& APage, Shell& AShell,
                               TORVDashboardStatuses& AStatus, TORVDashboardBrowser* ADashboard,
                               std::function<void(const QString&)> AReportError);
  // Cancels the downloads in progress.
  ~TORVDashboardDownloadTracker();
  TORVDashboardDownloadTracker(const TORVDashboardDownloadTracker&) = delete;
  TORVDashboardDownloadTracker& operator=(const TORVDashboardDownloadTracker&) = delete;

  // A "DOWNLOAD" or "DOWNLOAD-UPDATE" message's custom data: the next
  // download the engine starts belongs to it.
  void AnnounceDownload(const QString& ACustomData) { FProductAction = ACustomData; }
  const QString& ProductAction() const { return FProductAction; }
  const TORVDashboardActiveDownloadList& ActiveDownloads() const { return FActiveDownloadList; }

  // The engine's download events, for each new engine; Remove before the
  // engine goes.
  void RegisterDownloadHandler(IDownloadEvents* AEvents);
  void RemoveDownloadHandler(IDownloadEvents* AEvents);
  void CancelDownloads();

  // A byte count as the download log shows it ("1.00 KB"); empty when
  // negative.
  static QString FormatByteSize(std::int64_t ABytes);

private:
  void HandleEngineEvent(const std::function<void()>& AWork);
  void DownloadStarting(const std::shared_ptr<IDownloadStarting>& AArgs);
  void DownloadInProgress(TORVDashboardActiveDownload& ADownload);
  void DownloadBytesChanged(TORVDashboardActiveDownload& ADownload);
  void DownloadCompleted(TORVDashboardActiveDownload& ADownload);
  void DownloadInterrupted(TORVDashboardActiveDownload& ADownload);
  void EndDownload(TORVDashboardActiveDownload& ADownload);

  const TORVDashboardSettings& FSettings;
  TORVDashboardPage& FPage;
  Shell& FShell;
  TORVDashboardStatuses& FStatus;
  TORVDashboardBrowser* FDashboard;
  std::function<void(const QString&)> FReportError;
  QString FProductAction;
  TORVDashboardActiveDownloadList FActiveDownloadList;
  DownloadEventToken FDownloadStartingEventHandlerToken = 0;
};

}  // namespace orv
