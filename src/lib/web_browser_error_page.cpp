#include "lib/web_browser_error_page.h"

namespace orv {

namespace {

// %1 the address as text, %2 the reason, %3 the address for the link, %4
// the Options link or nothing.
const char kErrorPage[] = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8">
<title>Page not available</title><style>
html,body{margin:0;height:100%;background:#d7ebf6;color:#1d2b36;font-family:sans-serif}
body{display:flex;align-items:center;justify-content:center}
main{max-width:44em;padding:2em}
#address{font-family:monospace;word-break:break-all}
#retry,#options{display:inline-block;padding:.5em 2em;border-radius:4px;background:#1d6fa5;color:#fff;text-decoration:none}
#options{margin-left:1em;background:#4f6475}
</style></head><body><main>
<h1>This page could not be shown</h1>
<p><span id="address">%1</span> could not be reached.</p>
<p id="reason">%2</p>
<p><a id="retry" href="%3">Retry</a>%4</p>
</main></body></html>
)HTML";

}  // namespace

QString NavigationErrorPage(const QUrl& AAddress, const QString& AReason, const QUrl& AOptions) {
  const QString options = AOptions.isEmpty() ? QString()
                                             : QStringLiteral("<a id=\"options\" href=\"%1\">Options</a>")
                                                   .arg(QString::fromLatin1(AOptions.toEncoded()).toHtmlEscaped());
  // One pass: a "%2" inside the address is not a place to fill.
  return QString::fromLatin1(kErrorPage)
      .arg(AAddress.toString().toHtmlEscaped(), AReason.toHtmlEscaped(),
           QString::fromLatin1(AAddress.toEncoded()).toHtmlEscaped(), options);
}

QString NavigationTimeoutReason(int ATimeoutMs) {
  return QStringLiteral("The site did not answer within %1 seconds.").arg(ATimeoutMs / 1000.0);
}

QString RendererEndedReason(int ATimes) {
  return QStringLiteral("The page stopped working each time it was loaded (%1 times in a row).").arg(ATimes);
}

}  // namespace orv
