#pragma once

// What a TORVDashboardPage delivered: log lines (decoded from the log
// script) apart from the other page calls.
#include "core/dashboard_page.h"

#include <QStringList>

namespace orv::test {

class PageRecorder {
public:
  TORVDashboardPage::TScriptRunner Runner() {
    return [this](const QString& script) { Record(script); };
  }

  QStringList scripts;  // page calls other than log lines
  QStringList log;      // the texts of the log lines

private:
  void Record(const QString& script) {
    static const QString kLogCall = QStringLiteral("}log(");
    if (!script.startsWith(QStringLiteral("function log(p){"))) {
      scripts << script;
      return;
    }
    const qsizetype start = script.indexOf(kLogCall) + kLogCall.size();
    log << Unquote(script.mid(start, script.size() - start - 2));  // without ");"
  }

public:
  // The text of a single-quoted JavaScript string literal.
  static QString Unquote(const QString& literal) {
    QString text;
    for (qsizetype i = 1; i + 1 < literal.size(); ++i) {
      QChar c = literal[i];
      if (c == u'\\' && i + 2 < literal.size()) {
        c = literal[++i];
        if (c == u'n')
          c = u'\n';
        else if (c == u'r')
          c = u'\r';
        else if (c == u't')
          c = u'\t';
        else if (c == u'u') {
          c = QChar(literal.mid(i + 1, 4).toUShort(nullptr, 16));
          i += 4;
        }
      }
      text += c;
    }
    return text;
  }
};

}  // namespace orv::test
