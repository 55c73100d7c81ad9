#pragma once

#include "platform/notifications.h"

namespace orv {

// Desktop notifications over the freedesktop notification service on the
// session bus. Sending does not wait for the service; without a bus or a
// service nothing is shown and nothing fails.
class DBusNotifications final : public Notifications {
public:
  void Show(const QString& name, const QString& title, const QString& body) override;
};

}  // namespace orv
