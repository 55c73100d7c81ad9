#pragma once

#include "platform/exception.h"

#include <QString>

#include <array>
#include <compare>
#include <cstdint>

namespace orv {

// A text that is not a valid value of the type it is converted to.
ORV_DECLARE_EXCEPTION(EConvertError, Exception);
// An index outside the valid range.
ORV_DECLARE_EXCEPTION(EArgumentOutOfRangeException, Exception);

using TVersionNumbers = std::array<std::int32_t, 4>;

// Four-part version: major, minor, release, build. All zero is the null
// version. Compares part by part, numerically.
class TVersion {
public:
  constexpr TVersion() = default;

  static constexpr TVersion Make(std::int32_t major, std::int32_t minor, std::int32_t release, std::int32_t build) {
    TVersion version;
    version.FNumbers = {major, minor, release, build};
    return version;
  }

  // Up to four dot-separated 32-bit numbers; missing trailing parts are 0
  // and the empty text is the null version. Throws EConvertError.
  static TVersion FromString(const QString& text);

  // Always four parts: "1.2.0.0".
  QString ToString() const;
  // Trailing zero parts dropped but at least major.minor: "3.0", "3.1.2",
  // "3.1.0.4"; the null version gives "".
  QString Normalized() const;

  bool IsNull() const { return FNumbers == TVersionNumbers{}; }
  void Clear() { FNumbers = {}; }

  // Parts 0..3; any other index throws EArgumentOutOfRangeException.
  std::int32_t operator[](int index) const;
  std::int32_t& operator[](int index);

  friend bool operator==(const TVersion&, const TVersion&) = default;
  friend std::strong_ordering operator<=>(const TVersion&, const TVersion&) = default;

private:
  TVersionNumbers FNumbers{};
};

}  // namespace orv
