#include "lib/text_escape.h"

namespace orv {

namespace {

void appendUnicodeEscape(QString& out, char16_t c) {
  out += QStringLiteral("\\u") + QString::number(c, 16).rightJustified(4, QLatin1Char('0'));
}

// Escapes shared by JSON and JavaScript string literals.
bool appendCommonEscape(QString& out, QChar ch) {
  switch (ch.unicode()) {
    case u'\\': out += QLatin1String("\\\\"); return true;
    case u'\b': out += QLatin1String("\\b"); return true;
    case u'\f': out += QLatin1String("\\f"); return true;
    case u'\n': out += QLatin1String("\\n"); return true;
    case u'\r': out += QLatin1String("\\r"); return true;
    case u'\t': out += QLatin1String("\\t"); return true;
    default:
      if (ch.unicode() < 0x20) {
        appendUnicodeEscape(out, ch.unicode());
        return true;
      }
      return false;
  }
}

}  // namespace

QString JsonEscape(const QString& text) {
  QString out;
  out.reserve(text.size() + 8);
  for (QChar ch : text) {
    if (ch == QLatin1Char('"'))
      out += QLatin1String("\\\"");
    else if (!appendCommonEscape(out, ch))
      out += ch;
  }
  return out;
}

QString JsonQuote(const QString& text) { return QLatin1Char('"') + JsonEscape(text) + QLatin1Char('"'); }

QString JsStringLiteral(const QString& text) {
  QString out;
  out.reserve(text.size() + 10);
  out += QLatin1Char('\'');
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar ch = text[i];
    if (ch == QLatin1Char('\''))
      out += QLatin1String("\\'");
    else if (ch == QLatin1Char('"'))
      out += QLatin1String("\\\"");
    else if (ch == QLatin1Char('<') && i + 1 < text.size() && text[i + 1] == QLatin1Char('/'))
      out += QLatin1String("<\\/");
    else if (ch.unicode() == 0x2028 || ch.unicode() == 0x2029)
      appendUnicodeEscape(out, ch.unicode());
    else if (!appendCommonEscape(out, ch))
      out += ch;
    if (ch == QLatin1Char('<') && i + 1 < text.size() && text[i + 1] == QLatin1Char('/')) ++i;
  }
  out += QLatin1Char('\'');
  return out;
}

}  // namespace orv
