#pragma once

#include <QString>
#include <QStringList>

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
};

}  // namespace orv
