#include "run_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>

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

// The text with each secret replaced by a mask that tells nothing of it,
// not even its length. Longer secrets first, so that one holding another
// is not left half shown.
std::string Masked(std::string text, std::vector<std::string> secrets) {
  static const std::string kMask = "****";
  std::sort(secrets.begin(), secrets.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + kMask.size()))
      text.replace(at, secret.size(), kMask);
  }
  return text;
}

}  // namespace

void AppendRunLog(const std::string& folder, const std::string& commandLine, const std::string& transcript,
                  long long omittedBytes, int exitCode, const std::vector<std::string>& secrets) {
  const QDir logs(QString::fromStdString(folder) + QStringLiteral("/Logs"));
  if (!logs.mkpath(QStringLiteral("."))) return;
  QFile file(logs.filePath(QStringLiteral("orv.log.html")));
  const bool isNew = !file.exists();
  // QFile creates its file with the umask's permissions; set before the
  // first byte is written.
  if (!file.open(QIODevice::Append) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return;
  std::string entry;
  if (isNew)
    entry += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>ORV Kitwright log</title></head><body>\n";
  entry += "<h3>" + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString() + " orv " +
           HtmlEscape(Masked(commandLine, secrets)) + "</h3>\n<pre>" + HtmlEscape(Masked(transcript, secrets));
  if (omittedBytes > 0) entry += "(" + std::to_string(omittedBytes) + " bytes of bulk output not logged)\n";
  entry += "</pre>\n<p>Exit code " + std::to_string(exitCode) + "</p>\n";
  file.write(entry.data(), static_cast<qint64>(entry.size()));
}

}  // namespace orv::standin
