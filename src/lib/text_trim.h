#pragma once

#include <QString>
#include <QStringView>

namespace orv {

// The text without leading and trailing characters at or below the space
// character (control characters included, unlike QString::trimmed, which
// also strips Unicode spaces but keeps control characters).
inline QStringView TrimmedSpaceAndControl(QStringView text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin].unicode() <= u' ') ++begin;
  while (end > begin && text[end - 1].unicode() <= u' ') --end;
  return text.mid(begin, end - begin);
}

inline QString TrimSpaceAndControl(QStringView text) { return TrimmedSpaceAndControl(text).toString(); }

}  // namespace orv
