#pragma once

#include <QUrl>

namespace orv {

// True when both addresses have the same web origin: scheme, host and port
// (default ports filled in). Addresses without a host, such as data: or
// about: pages, have an opaque origin and match nothing.
bool SameWebOrigin(const QUrl& a, const QUrl& b);

}  // namespace orv
