#pragma once

#include <QWebEnginePage>

#include <functional>

namespace orv {

// The page of a backend's view: carries the host-object calls that arrive
// as prompts whose text starts with the channel's marker (the rest is the
// call's notice, the prompt's default text its request), and reports main-frame navigations
// and console messages.
class QtWebPage : public QWebEnginePage {
public:
  using HostObjectCall = std::function<QString(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice)>;
  using NavigationStarting = std::function<bool(const QUrl& AURL)>;
  using ConsoleMessage = std::function<void(JavaScriptConsoleMessageLevel ALevel, const QString& AMessage, int ALine,
                                            const QString& ASource)>;

  QtWebPage(QWebEngineProfile* AProfile, QObject* AParent, QString AMarker, HostObjectCall AHostObjectCall,
            NavigationStarting ANavigationStarting, ConsoleMessage AConsoleMessage);

protected:
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                const QString& sourceID) override;

private:
  QString FMarker;
  HostObjectCall FHostObjectCall;
  NavigationStarting FNavigationStarting;
  ConsoleMessage FConsoleMessage;
};

}  // namespace orv
