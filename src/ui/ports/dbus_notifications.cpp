#include "ui/ports/dbus_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace orv {

void DBusNotifications::Show(const QString& name, const QString& title, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage notify = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // The service renders the body as markup; the program's texts are plain.
  QString plainBody = body.toHtmlEscaped();
  notify << name << 0u << QString() << title << plainBody << QStringList() << QVariantMap() << -1;
  bus.send(notify);
}

}  // namespace orv
