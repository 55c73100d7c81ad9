// The floor of the download bench: the least a program can do to let the
// engine download a file, one QWebEngineView on the site's page with a
// profile on disk as the application has, every download accepted into one
// folder. Each line on standard input is an address to download, started
// as the page starts it (a link with the download attribute, clicked); each
// ended download prints one line:
//
//   finished SECONDS BYTES      (or "failed SECONDS BYTES")
//
// the time from the click being asked for to the engine reporting the end.
// The program ends when standard input does.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cstdio>

#include <unistd.h>

namespace {

// Clicks a link to the address in the page, as the dashboard page does.
QString ClickScript(const QString& url) {
  const QString quoted =
      QString::fromUtf8(QJsonDocument::fromVariant(QVariantList{url}).toJson(QJsonDocument::Compact));
  return QStringLiteral(
             "(() => { const a = document.createElement('a'); a.href = %1[0];"
             " a.setAttribute('download', ''); document.body.append(a); a.click(); a.remove(); })()")
      .arg(quoted);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: bare_web_download PAGE_URL PROFILE_DIR DOWNLOAD_DIR\n", stderr);
    return 2;
  }
  // As the application does: Chromium refuses to start its sandbox as root.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QApplication app(argc, argv);
  const QString profileDir = QString::fromLocal8Bit(argv[2]);
  const QString downloadDir = QString::fromLocal8Bit(argv[3]);

  QWebEngineProfile profile(QStringLiteral("bare"));
  profile.setPersistentStoragePath(profileDir);
  profile.setCachePath(profileDir + QStringLiteral("/Cache"));
  QWebEngineView view;
  QWebEnginePage page(&profile);
  view.setPage(&page);
  view.resize(1400, 800);

  QElapsedTimer clock;
  int number = 0;
  QObject::connect(&profile, &QWebEngineProfile::downloadRequested, [&](QWebEngineDownloadRequest* request) {
    request->setDownloadDirectory(downloadDir);
    request->setDownloadFileName(QStringLiteral("download-%1").arg(++number));
    QObject::connect(request, &QWebEngineDownloadRequest::isFinishedChanged, request, [&clock, request] {
      if (!request->isFinished()) return;
      const bool completed = request->state() == QWebEngineDownloadRequest::DownloadCompleted;
      std::printf("%s %.6f %lld\n", completed ? "finished" : "failed", static_cast<double>(clock.nsecsElapsed()) / 1e9,
                  static_cast<long long>(request->receivedBytes()));
      std::fflush(stdout);
    });
    request->accept();
  });

  // Addresses arrive one a line; the page must have loaded before the
  // first click, so lines wait for it.
  bool loaded = false;
  QByteArray pending;
  auto startDownloads = [&] {
    if (!loaded) return;
    for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
      const QString url = QString::fromUtf8(pending.left(end)).trimmed();
      pending.remove(0, end + 1);
      if (url.isEmpty()) continue;
      clock.start();
      page.runJavaScript(ClickScript(url));
    }
  };
  QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool ok) {
    if (!ok) {
      std::fputs("the page did not load\n", stderr);
      QApplication::exit(1);
      return;
    }
    loaded = true;
    std::puts("ready");
    std::fflush(stdout);
    startDownloads();
  });
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[4096];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      input.setEnabled(false);
      QApplication::quit();
      return;
    }
    pending.append(buffer, got);
    startDownloads();
  });

  view.setUrl(QUrl(QString::fromLocal8Bit(argv[1])));
  view.show();
  return QApplication::exec();
}
