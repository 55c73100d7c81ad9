#include "run_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

namespace orv::standin {

namespace {

std::string HtmlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

void AppendRunLog(const std::string& folder, const std::string& commandLine, const std::string& transcript,
                  long long omittedBytes, int exitCode) {
  const QDir logs(QString::fromStdString(folder) + QStringLiteral("/Logs"));
  if (!logs.mkpath(QStringLiteral("."))) return;
  QFile file(logs.filePath(QStringLiteral("orv.log.html")));
  const bool isNew = !file.exists();
  if (!file.open(QIODevice::Append)) return;
  std::string entry;
  if (isNew)
    entry += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>ORV Kitwright log</title></head><body>\n";
  entry += "<h3>" + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() + " orv " +
           HtmlEscape(commandLine) + "</h3>\n<pre>" + HtmlEscape(transcript);
  if (omittedBytes > 0) entry += "(" + std::to_string(omittedBytes) + " bytes of bulk output not logged)\n";
  entry += "</pre>\n<p>Exit code " + std::to_string(exitCode) + "</p>\n";
  file.write(entry.data(), static_cast<qint64>(entry.size()));
}

}  // namespace orv::standin
