#include "ui/qt_web_page.h"

namespace orv {

QtWebPage::QtWebPage(QWebEngineProfile* AProfile, QObject* AParent, QString AMarker, HostObjectCall AHostObjectCall,
                     NavigationStarting ANavigationStarting, ConsoleMessage AConsoleMessage)
    : QWebEnginePage(AProfile, AParent),
      FMarker(std::move(AMarker)),
      FHostObjectCall(std::move(AHostObjectCall)),
      FNavigationStarting(std::move(ANavigationStarting)),
      FConsoleMessage(std::move(AConsoleMessage)) {}

bool QtWebPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                                 QString* result) {
  if (!msg.startsWith(FMarker)) return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
  *result = FHostObjectCall(securityOrigin, defaultValue, QStringView(msg).mid(FMarker.size()));
  return true;
}

bool QtWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  if (isMainFrame && !FNavigationStarting(url)) return false;
  return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void QtWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                         const QString& sourceID) {
  FConsoleMessage(level, message, lineNumber, sourceID);
}

}  // namespace orv
