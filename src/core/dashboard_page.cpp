#include "core/dashboard_page.h"

#include "core/ui_pipeline.h"
#include "lib/text_escape.h"

namespace orv {

namespace {

// Joined calls stop growing at this size, so that the engine starts each
// script at once; the next call starts another script.
constexpr qsizetype kMaxJoinedScript = 256 * 1024;

// What a page function that throws leaves behind: the page's console
// (which the application's log hears), and nothing else.
const QString kGuardEnd = QStringLiteral("}catch(e){console.error(e)}");

}  // namespace

TORVDashboardPage::TORVDashboardPage(UiPipeline& APipeline, TScriptRunner ARunScript)
    : FPipeline(APipeline), FRunScript(std::move(ARunScript)) {
  FPipeline.SetOnDrained([this] { Flush(); });
}

void TORVDashboardPage::ExecuteScript(const QString& AScript) { Add({{}, {}, AScript, true}); }

void TORVDashboardPage::Log(const QString& AMessage) {
  // The text goes in as a string literal and out through textContent, so
  // quotes, backslashes, line breaks and markup reach the page unchanged.
  Add({{},
       {},
       QStringLiteral("function log(p){  var mylog = document.getElementById(\"mylog\");  "
                      "document.getElementById(\"mylog\").textContent = p;  console.log(p);}log(%1);")
           .arg(JsStringLiteral(AMessage)),
       false});
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
  Joinable(QStringLiteral("KitwrightOutput"), JsStringLiteral(AText));
}

void TORVDashboardPage::KitwrightActionProgress(int APercent, const QString& AProductName, int AProductPercent,
                                                const QString& AKind) {
  Joinable(QStringLiteral("KitwrightActionProgress"), QStringLiteral("%1, %2, %3, %4")
                                                          .arg(QString::number(APercent), JsonQuote(AProductName),
                                                               QString::number(AProductPercent), JsonQuote(AKind)));
}

void TORVDashboardPage::KitwrightActionFinished() { ExecuteScript(QStringLiteral("KitwrightActionFinished();")); }

void TORVDashboardPage::Joinable(const QString& AFunction, const QString& AArguments) {
  Add({AFunction, AArguments, {}, true});
}

void TORVDashboardPage::Add(TCall ACall) {
  if (FPipeline.Draining()) {
    FCalls.push_back(std::move(ACall));
    return;
  }
  FPipeline.Post([this, call = std::move(ACall)]() mutable { FCalls.push_back(std::move(call)); });
}

void TORVDashboardPage::Flush() {
  const std::vector<TCall> calls = std::move(FCalls);
  FCalls.clear();
  for (auto call = calls.begin(); call != calls.end();) {
    if (!call->Function.isEmpty()) {
      auto last = call;
      while (last != calls.end() && !last->Function.isEmpty()) ++last;
      RunJoined(call, last);
      call = last;
      continue;
    }
    if (!call->DropWhileClosing || !FOwnerDestroying) FRunScript(call->Script);
    ++call;
  }
}

// A lone call goes as it is: failing alone, it takes nothing with it.
// Several go as one script, a run of one function as a loop over its
// arguments, each call in a guard of its own.
void TORVDashboardPage::RunJoined(std::vector<TCall>::const_iterator AFirst, std::vector<TCall>::const_iterator ALast) {
  if (FOwnerDestroying) return;
  if (AFirst + 1 == ALast) {
    FRunScript(AFirst->Function + QLatin1Char('(') + AFirst->Arguments + QStringLiteral(");"));
    return;
  }
  QString script;
  QString openLoop;  // the function whose loop the script ends in
  bool any = false;
  const auto closeLoop = [&] {
    if (openLoop.isEmpty()) return;
    script += QStringLiteral("])try{") + openLoop + QStringLiteral("(...a)") + kGuardEnd;
    openLoop.clear();
  };
  const auto send = [&] {
    closeLoop();
    if (any) FRunScript(script);
    script.clear();
    any = false;
  };
  for (auto call = AFirst; call != ALast; ++call) {
    if (call->Function == openLoop) {
      script += QStringLiteral(",[") + call->Arguments + QLatin1Char(']');
    } else {
      closeLoop();
      const auto next = call + 1;
      if (next != ALast && next->Function == call->Function) {
        script += QStringLiteral("for(const a of [[") + call->Arguments + QLatin1Char(']');
        openLoop = call->Function;
      } else {
        script +=
            QStringLiteral("try{") + call->Function + QLatin1Char('(') + call->Arguments + QLatin1Char(')') + kGuardEnd;
      }
    }
    any = true;
    if (script.size() >= kMaxJoinedScript) send();
  }
  send();
}

}  // namespace orv
