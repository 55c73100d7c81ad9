#pragma once

#include <QString>
#include <QUrl>

namespace orv {

// The local page a browser shows in place of an address it could not
// load: the address, the engine's reason and a Retry link that loads the
// address again; with AOptions, an Options link to it beside Retry. The
// address and the reason come from outside and are HTML-escaped.
QString NavigationErrorPage(const QUrl& AAddress, const QString& AReason, const QUrl& AOptions = {});

// The reason given for a site that did not answer within ATimeoutMs.
QString NavigationTimeoutReason(int ATimeoutMs);

// The reason given for a page whose renderer ended each time it was loaded.
QString RendererEndedReason(int ATimes);

}  // namespace orv
