#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orv {

// A native object that page scripts reach by name through the browser
// (a "bridge"): named string properties whose getter and setter run native
// code on the UI thread while the page's script waits. Failures are thrown
// as orv::Exception; the page sees them as script errors with the message.
class IHostObject {
public:
  virtual ~IHostObject() = default;
  virtual QStringList propertyNames() const = 0;
  virtual QString getProperty(const QString& name) = 0;
  virtual void setProperty(const QString& name, const QString& value) = 0;

  // Asked right after an assignment: what a read of the same property would
  // return now, computed without that read's own effects on the object, so
  // that the page can have it without a second trip. Nothing when the read
  // must run itself (its work reaches beyond the object, or it failed).
  virtual std::optional<QString> readAhead(const QString&) { return std::nullopt; }
  // The page used the answer readAhead gave in place of its read: do to the
  // object what that read would have done. Called before any other call of
  // the page reaches the object; never when the page did not use it.
  virtual void aheadReadTaken(const QString&) {}
};

}  // namespace orv
