#include "ui/variant_json.h"

#include "lib/text_escape.h"

#include <QLocale>

#include <cmath>
#include <utility>

namespace orv {

namespace {

void appendNumber(QString& out, double value) {
  // Beyond 2^53 not every integer is a double, so larger whole numbers keep
  // the floating form.
  constexpr double kExactIntegers = 9007199254740992.0;
  if (!std::isfinite(value))
    out += QLatin1String("null");
  else if (std::trunc(value) == value && std::fabs(value) <= kExactIntegers)
    out += QString::number(static_cast<qint64>(value));
  else
    out += QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void appendValue(QString& out, const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Bool: out += value.toBool() ? QLatin1String("true") : QLatin1String("false"); return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong: out += QString::number(value.toLongLong()); return;
    case QMetaType::Float:
    case QMetaType::Double: appendNumber(out, value.toDouble()); return;
    case QMetaType::QString: out += JsonQuote(value.toString()); return;
    case QMetaType::QByteArray: out += JsonQuote(QString::fromUtf8(value.toByteArray())); return;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
      out += QLatin1Char('[');
      bool first = true;
      for (const QVariant& item : value.toList()) {
        if (!std::exchange(first, false)) out += QLatin1Char(',');
        appendValue(out, item);
      }
      out += QLatin1Char(']');
      return;
    }
    case QMetaType::QVariantMap: {
      out += QLatin1Char('{');
      const QVariantMap map = value.toMap();
      for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it != map.cbegin()) out += QLatin1Char(',');
        out += JsonQuote(it.key()) + QLatin1Char(':');
        appendValue(out, it.value());
      }
      out += QLatin1Char('}');
      return;
    }
    default: out += QLatin1String("null"); return;
  }
}

}  // namespace

QString VariantJson(const QVariant& AValue) {
  QString out;
  appendValue(out, AValue);
  return out;
}

}  // namespace orv
