#pragma once

#include <QString>
#include <QUrl>

namespace orv {

// The local page a browser shows in place of an address it could not
// load: the address, the engine's reason and a Retry link that loads the
// address again. Both come from outside and are HTML-escaped.
QString NavigationErrorPage(const QUrl& AAddress, const QString& AReason);

// The reason given for a site that did not answer within ATimeoutMs.
QString NavigationTimeoutReason(int ATimeoutMs);

}  // namespace orv
