#pragma once

#include <QString>

#include <stdexcept>

namespace orv {

// Base of the program's exceptions. Carries the message as the program's
// own UTF-16 text and as UTF-8 for what().
class Exception : public std::runtime_error {
public:
  explicit Exception(const QString& message) : std::runtime_error(message.toStdString()), message_(message) {}
  const QString& message() const noexcept { return message_; }
  // The class name shown in error reports ("Error running %s: %s (%s)").
  virtual QString className() const { return QStringLiteral("Exception"); }

private:
  QString message_;
};

// Declares an exception class deriving from Base whose className() is its
// own name.
#define ORV_DECLARE_EXCEPTION(Name, Base)                                \
  class Name : public Base {                                             \
  public:                                                                \
    using Base::Base;                                                    \
    QString className() const override { return QStringLiteral(#Name); } \
  }

}  // namespace orv
