#pragma once

#include <QWebEnginePage>

#include <functional>

namespace orv {

// The page of a backend's view: carries the host-object calls that arrive
// as prompts with the channel's marker, and reports main-frame navigations.
class QtWebPage : public QWebEnginePage {
public:
  using HostObjectCall = std::function<QString(const QUrl& ASecurityOrigin, QStringView ARequest)>;
  using NavigationStarting = std::function<bool(const QUrl& AURL)>;

  QtWebPage(QWebEngineProfile* AProfile, QObject* AParent, QString AMarker, HostObjectCall AHostObjectCall,
            NavigationStarting ANavigationStarting);

protected:
  bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                        QString* result) override;
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
  QString FMarker;
  HostObjectCall FHostObjectCall;
  NavigationStarting FNavigationStarting;
};

}  // namespace orv
