#pragma once

#include "platform/exception.h"
#include "support/qt_printers.h"

#include <QString>

#include <functional>
#include <utility>

namespace orv::test {

// The class name and message of the error f raises ("no error" when none).
using Error = std::pair<QString, QString>;

inline Error errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return {e.className(), e.message()};
  }
  return {QStringLiteral("no error"), QString()};
}

}  // namespace orv::test
