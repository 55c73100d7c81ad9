#include "core/dashboard_page.h"

#include "lib/text_escape.h"
#include "platform/ui_thread.h"

namespace orv {

TORVDashboardPage::TORVDashboardPage(UiThread& AUi, TScriptRunner ARunScript)
    : FUi(AUi), FShared(std::make_shared<TShared>()) {
  FShared->runScript = std::move(ARunScript);
}

// Destroyed on the UI thread, where the queued calls run: the flag is seen
// by every call that runs after this.
TORVDashboardPage::~TORVDashboardPage() { FShared->detached = true; }

void TORVDashboardPage::ExecuteScript(const QString& AScript) { Post(AScript, true); }

void TORVDashboardPage::Log(const QString& AMessage) {
  // The text goes in as a string literal and out through textContent, so
  // quotes, backslashes, line breaks and markup reach the page unchanged.
  Post(QStringLiteral("function log(p){  var mylog = document.getElementById(\"mylog\");  "
                      "document.getElementById(\"mylog\").textContent = p;  console.log(p);}log(%1);")
           .arg(JsStringLiteral(AMessage)),
       false);
}

void TORVDashboardPage::SetActiveTheme(const QString& ATheme) {
  ExecuteScript(QStringLiteral("setActiveTheme({\"IDETheme\": %1});").arg(JsonQuote(ATheme)));
}

void TORVDashboardPage::ProductInstallAbort() { ExecuteScript(QStringLiteral("ProductInstallAbort();")); }

void TORVDashboardPage::ProductInstallFinished(const QString& ADownloadJSON) {
  ExecuteScript(QStringLiteral("ProductInstallFinished(") + ADownloadJSON + QStringLiteral(");"));
}

void TORVDashboardPage::ProductUninstallFinished(const QString& AInstallJSON) {
  ExecuteScript(QStringLiteral("ProductUninstallFinished(") + AInstallJSON + QStringLiteral(");"));
}

void TORVDashboardPage::DownloadProgress(const QString& AJSON) {
  ExecuteScript(QStringLiteral("DownloadProgress(") + AJSON + QStringLiteral(");"));
}

void TORVDashboardPage::DownloadFinished(const QString& AJSON) {
  ExecuteScript(QStringLiteral("DownloadFinished(") + AJSON + QStringLiteral(");"));
}

void TORVDashboardPage::DownloadFailed(const QString& AJSON) {
  ExecuteScript(QStringLiteral("DownloadFailed(") + AJSON + QStringLiteral(");"));
}

void TORVDashboardPage::Post(const QString& AScript, bool ADropWhileClosing) {
  FUi.post([shared = FShared, AScript, ADropWhileClosing] {
    if (shared->detached || (ADropWhileClosing && shared->ownerDestroying)) return;
    shared->runScript(AScript);
  });
}

}  // namespace orv
