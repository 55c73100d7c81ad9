#include "lib/web_browser_origin.h"

namespace orv {

namespace {

int DefaultPort(const QString& scheme) {
  if (scheme == QLatin1String("http") || scheme == QLatin1String("ws")) return 80;
  if (scheme == QLatin1String("https") || scheme == QLatin1String("wss")) return 443;
  return -1;
}

}  // namespace

bool SameWebOrigin(const QUrl& a, const QUrl& b) {
  if (!a.isValid() || !b.isValid() || a.host().isEmpty() || b.host().isEmpty()) return false;
  // QUrl lower-cases scheme and host and decodes IDN hosts to one form.
  const QString scheme = a.scheme();
  return scheme == b.scheme() && a.host() == b.host() && a.port(DefaultPort(scheme)) == b.port(DefaultPort(scheme));
}

}  // namespace orv
