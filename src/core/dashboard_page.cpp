#include "core/dashboard_page.h"

#include "lib/text_escape.h"
#include "platform/ui_thread.h"

namespace orv {

namespace {

// Calls joined into one script stop growing at this size; the next call
// starts another script.
constexpr qsizetype kMaxJoinedScript = 1 << 20;

}  // namespace

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

void TORVDashboardPage::KitwrightOutput(const QString& AText) {
  PostJoinable(QStringLiteral("KitwrightOutput(") + JsStringLiteral(AText) + QStringLiteral(");"));
}

void TORVDashboardPage::KitwrightActionProgress(int APercent, const QString& AProductName, int AProductPercent,
                                                const QString& AKind) {
  PostJoinable(
      QStringLiteral("KitwrightActionProgress(%1, %2, %3, %4);")
          .arg(QString::number(APercent), JsonQuote(AProductName), QString::number(AProductPercent), JsonQuote(AKind)));
}

void TORVDashboardPage::KitwrightActionFinished() { ExecuteScript(QStringLiteral("KitwrightActionFinished();")); }

void TORVDashboardPage::PostJoinable(const QString& ACall) {
  std::shared_ptr<QString> script;
  {
    const std::lock_guard lock(FShared->joinLock);
    QString* open = FShared->openScript.get();
    if (open && open->size() < kMaxJoinedScript) {
      *open += ACall;
      return;
    }
    script = std::make_shared<QString>(ACall);
    FShared->openScript = script;
  }
  FUi.post([shared = FShared, script] {
    QString text;
    {
      const std::lock_guard lock(shared->joinLock);
      if (shared->openScript == script) shared->openScript.reset();
      text = std::move(*script);
    }
    if (shared->detached || shared->ownerDestroying) return;
    shared->runScript(text);
  });
}

void TORVDashboardPage::Post(const QString& AScript, bool ADropWhileClosing) {
  {
    // Calls after this one must not join a script queued before it.
    const std::lock_guard lock(FShared->joinLock);
    FShared->openScript.reset();
  }
  FUi.post([shared = FShared, AScript, ADropWhileClosing] {
    if (shared->detached || (ADropWhileClosing && shared->ownerDestroying)) return;
    shared->runScript(AScript);
  });
}

}  // namespace orv
