#pragma once

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace orv::bench {

// The vendor-site stand-in with the demo scene on a free loopback port, for
// as long as the object lives. Its request log (standard error, one
// "METHOD path status" line per request) is either dropped or left to be
// read from Process(); a log nobody reads would fill the pipe and stall the
// stand-in.
class VendorSiteStandIn {
public:
  enum class RequestLog { Drop, Read };

  explicit VendorSiteStandIn(RequestLog ALog) {
    QFile::copy(QStringLiteral(ORV_DEMO_SCENE), FData.filePath(QStringLiteral("site.json")));
    if (ALog == RequestLog::Drop) FProcess.setStandardErrorFile(QProcess::nullDevice());
    FProcess.start(QStringLiteral(ORV_VENDOR_SITE_BIN),
                   {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), FData.path()});
    static const QRegularExpression listening(QStringLiteral("^listening on (http://\\S+)$"),
                                              QRegularExpression::MultilineOption);
    QString output;
    while (!listening.match(output).hasMatch() && FProcess.waitForReadyRead(10000))
      output += QString::fromUtf8(FProcess.readAllStandardOutput());
    FURL = listening.match(output).captured(1);
    if (FURL.isEmpty()) {
      std::fprintf(stderr, "the vendor-site stand-in did not start\n");
      std::exit(1);
    }
    FProcess.setReadChannel(QProcess::StandardError);
  }
  ~VendorSiteStandIn() {
    FProcess.terminate();
    FProcess.waitForFinished();
  }
  VendorSiteStandIn(const VendorSiteStandIn&) = delete;
  VendorSiteStandIn& operator=(const VendorSiteStandIn&) = delete;

  const QString& URL() const { return FURL; }
  QProcess& Process() { return FProcess; }

private:
  QTemporaryDir FData;
  QProcess FProcess;
  QString FURL;
};

}  // namespace orv::bench
