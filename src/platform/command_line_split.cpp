#include "platform/command_line_split.h"

namespace orv {

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

}  // namespace

QStringList SplitCommandLine(const QString& commandLine) {
  QStringList result;
  const qsizetype n = commandLine.size();
  qsizetype i = 0;
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i == n) return result;

  QString program;
  bool quoted = false;
  for (; i < n && (quoted || !IsBlank(commandLine[i])); ++i) {
    if (commandLine[i] == u'"')
      quoted = !quoted;
    else
      program += commandLine[i];
  }
  result << program;

  while (true) {
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i == n) break;
    QString arg;
    quoted = false;
    while (i < n && (quoted || !IsBlank(commandLine[i]))) {
      qsizetype backslashes = 0;
      while (i < n && commandLine[i] == u'\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && commandLine[i] == u'"') {
        arg += QString(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          arg += u'"';
          ++i;
        } else if (quoted && i + 1 < n && commandLine[i + 1] == u'"') {
          arg += u'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += QString(backslashes, u'\\');
        if (i < n && (quoted || !IsBlank(commandLine[i]))) {
          arg += commandLine[i];
          ++i;
        }
      }
    }
    result << arg;
  }
  return result;
}

QString QuoteArgument(const QString& text) {
  QString quoted;
  quoted.reserve(text.size() + 2);
  quoted += u'"';
  qsizetype backslashes = 0;
  for (const QChar c : text) {
    if (c == u'\\') {
      ++backslashes;
    } else {
      if (c == u'"') quoted += QString(backslashes, u'\\') + u'"';
      backslashes = 0;
    }
    quoted += c;
  }
  quoted += QString(backslashes, u'\\');
  quoted += u'"';
  return quoted;
}

}  // namespace orv
