#pragma once

#include <QString>

namespace orv {

// Desktop notifications. Showing one never fails loudly: without a
// notification service nothing is shown.
class Notifications {
public:
  virtual ~Notifications() = default;
  virtual void Show(const QString& name, const QString& title, const QString& body) = 0;
};

}  // namespace orv
