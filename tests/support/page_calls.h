#pragma once

// The page calls in the scripts the dashboard sends, one "F(args);" each:
// joined calls arrive guarded one by one, runs of one function as a loop
// over their arguments.
#include <QString>
#include <QStringList>

namespace orv::test {

namespace page_calls_detail {

// The index just past the bracket that closes the one at AOpen, skipping
// string literals; -1 when it never closes.
inline qsizetype PastClosing(const QString& AText, qsizetype AOpen) {
  int depth = 0;
  QChar quote;
  for (qsizetype i = AOpen; i < AText.size(); ++i) {
    const QChar c = AText[i];
    if (!quote.isNull()) {
      if (c == u'\\')
        ++i;
      else if (c == quote)
        quote = QChar();
    } else if (c == u'\'' || c == u'"') {
      quote = c;
    } else if (c == u'(' || c == u'[' || c == u'{') {
      ++depth;
    } else if ((c == u')' || c == u']' || c == u'}') && --depth == 0) {
      return i + 1;
    }
  }
  return -1;
}

inline const QString kGuardEnd = QStringLiteral("}catch(e){console.error(e)}");

}  // namespace page_calls_detail

// Anything that is no page call in these forms comes back as it is.
inline QStringList PageCallsOf(const QString& AScript) {
  using namespace page_calls_detail;
  static const QString kTry = QStringLiteral("try{");
  static const QString kLoop = QStringLiteral("for(const a of [");
  QStringList calls;
  qsizetype at = 0;
  while (at < AScript.size()) {
    if (AScript.mid(at).startsWith(kLoop)) {
      QStringList arguments;
      qsizetype item = at + kLoop.size();
      while (item < AScript.size() && AScript[item] == u'[') {
        const qsizetype end = PastClosing(AScript, item);
        if (end < 0) return calls << AScript.mid(at);
        arguments << AScript.mid(item + 1, end - item - 2);
        item = end + (end < AScript.size() && AScript[end] == u',' ? 1 : 0);
      }
      const QString head = QStringLiteral("])") + kTry;
      if (!AScript.mid(item).startsWith(head)) return calls << AScript.mid(at);
      const qsizetype name = item + head.size();
      const qsizetype open = AScript.indexOf(u'(', name);
      const QString function = AScript.mid(name, open - name);
      const QString tail = QStringLiteral("(...a)") + kGuardEnd;
      if (!AScript.mid(open).startsWith(tail)) return calls << AScript.mid(at);
      for (const QString& argument : arguments) calls << function + QLatin1Char('(') + argument + QStringLiteral(");");
      at = open + tail.size();
    } else if (AScript.mid(at).startsWith(kTry)) {
      const qsizetype open = AScript.indexOf(u'(', at);
      const qsizetype end = open < 0 ? -1 : PastClosing(AScript, open);
      if (end < 0 || !AScript.mid(end).startsWith(kGuardEnd)) return calls << AScript.mid(at);
      calls << AScript.mid(at + kTry.size(), end - at - kTry.size()) + QLatin1Char(';');
      at = end + kGuardEnd.size();
    } else {
      const qsizetype open = AScript.indexOf(u'(', at);
      const qsizetype end = open < 0 ? -1 : PastClosing(AScript, open);
      if (end < 0 || end >= AScript.size() || AScript[end] != u';') return calls << AScript.mid(at);
      calls << AScript.mid(at, end + 1 - at);
      at = end + 1;
    }
  }
  return calls;
}

inline QStringList PageCallsOf(const QStringList& AScripts) {
  QStringList calls;
  for (const QString& script : AScripts) calls << PageCallsOf(script);
  return calls;
}

}  // namespace orv::test
