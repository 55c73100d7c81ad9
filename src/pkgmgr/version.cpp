#include "pkgmgr/version.h"

#include <QStringList>

namespace orv {

namespace {

void CheckIndex(int index) {
  if (index < 0 || index > 3) throw EArgumentOutOfRangeException(QStringLiteral("Index out of range"));
}

}  // namespace

TVersion TVersion::FromString(const QString& text) {
  TVersion version;
  if (text.isEmpty()) return version;
  const auto invalid = [&text] {
    return EConvertError(QStringLiteral("'%1' is not a valid version number").arg(text));
  };
  const QStringList parts = text.split(u'.');
  if (parts.size() > 4) throw invalid();
  for (qsizetype i = 0; i < parts.size(); ++i) {
    // Leading or trailing blanks make a part invalid, as does anything
    // beyond the 32-bit range.
    const QString& part = parts[i];
    bool ok = false;
    const int number = part.toInt(&ok);
    if (!ok || part.trimmed() != part) throw invalid();
    version.FNumbers[static_cast<std::size_t>(i)] = number;
  }
  return version;
}

QString TVersion::ToString() const {
  return QStringLiteral("%1.%2.%3.%4").arg(FNumbers[0]).arg(FNumbers[1]).arg(FNumbers[2]).arg(FNumbers[3]);
}

QString TVersion::Normalized() const {
  if (IsNull()) return {};
  QString text = QString::number(FNumbers[0]) + u'.' + QString::number(FNumbers[1]);
  if (FNumbers[3] != 0)
    text += u'.' + QString::number(FNumbers[2]) + u'.' + QString::number(FNumbers[3]);
  else if (FNumbers[2] != 0)
    text += u'.' + QString::number(FNumbers[2]);
  return text;
}

std::int32_t TVersion::operator[](int index) const {
  CheckIndex(index);
  return FNumbers[static_cast<std::size_t>(index)];
}

std::int32_t& TVersion::operator[](int index) {
  CheckIndex(index);
  return FNumbers[static_cast<std::size_t>(index)];
}

}  // namespace orv
