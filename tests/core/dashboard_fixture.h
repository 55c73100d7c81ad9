#pragma once

// The dashboard controller on a recording engine and recording ports, in a
// user's world of temporary folders and hive: the page's side of the
// bridge (send, read, page calls) as helpers.
#include "core/dashboard_bridge.h"
#include "core/dashboard_browser.h"
#include "core/download_tracker.h"
#include "core/kitwright_coordinator.h"
#include "core/options_session.h"
#include "lib/utils.h"
#include "product_environment.h"
#include "support/fake_options_dialog.h"
#include "support/fake_ports.h"
#include "support/fake_web_browser.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace orv::test {

inline const QString kSite = QStringLiteral("http://127.0.0.1:8123");
// Nobody listens there: a test that reaches the vendor API by mistake
// fails at once.
inline const QString kNoApi = QStringLiteral("http://127.0.0.1:1");

// The page's message format, encoded as the page's encodeURIComponent does.
inline QString Message(const QString& json, const QString& customData = QString()) {
  QString message = QStringLiteral("jsevent://") + TORVZYNDashUtils::URLEncode(json);
  if (!customData.isNull()) message += QStringLiteral("customdata://") + TORVZYNDashUtils::URLEncode(customData);
  return message;
}

inline QString Event(const QString& name) { return Message(QStringLiteral("{\"EventName\":\"%1\"}").arg(name)); }

class DashboardFixture : public ProductEnvironment {
protected:
  void SetUp() override {
    ProductEnvironment::SetUp();
    service_ = std::make_shared<FakeService>();
    TORVZYNDashWebBrowserPlatformServices::Current()->AddPlatformService(IORVZYNDashWebBrowserService::IID(), service_);
    StartDashboard();
  }
  void TearDown() override {
    dashboard_.reset();
    TORVZYNDashWebBrowserPlatformServices::Current()->RemovePlatformService(IORVZYNDashWebBrowserService::IID());
    ProductEnvironment::TearDown();
  }

  // A new controller whose engine has started.
  void StartDashboard() {
    dashboard_.reset();
    dashboard_ =
        std::make_unique<TORVDashboardBrowser>(nullptr, false,
                                               TORVDashboardPorts{hive_, folders_, ui_, dialogs_, shell_,
                                                                  notifications_, processes_, elevated_, *optionsPort_},
                                               kSite, apiURL_);
    backend_ = service_->last.get();
    dashboard_->WebBrowser().Initialize();
    dashboard_->WebBrowser().DoEngineInitialized();
    bridge_ = backend_->bridges.value(QStringLiteral("DashboardBridge"));
    ASSERT_TRUE(bridge_);
  }

  void Send(const QString& message) { bridge_->setProperty(QStringLiteral("ObjectMessage"), message); }
  QString Read() { return bridge_->getProperty(QStringLiteral("ObjectMessage")); }
  QString Ask(const QString& eventName) {
    Send(Event(eventName));
    return Read();
  }

  // The scripts that reached the page since the last call, in order.
  QStringList PageCalls() {
    ui_.Pump();
    QStringList scripts;
    while (!backend_->scripts.empty()) {
      scripts << backend_->scripts.front().text;
      backend_->Complete(QStringLiteral("null"));
    }
    return scripts;
  }
  static QString LogScript(const QString& literal) {
    return QStringLiteral(
               "function log(p){  var mylog = document.getElementById(\"mylog\");  "
               "document.getElementById(\"mylog\").textContent = p;  console.log(p);}log(") +
           literal + QStringLiteral(");");
  }

  ManualUiThread ui_;
  ScriptedDialogs dialogs_;
  RecordingShell shell_;
  RecordingNotifications notifications_;
  FixedProcesses processes_;
  RecordingElevated elevated_;
  QString apiURL_ = kNoApi;
  FakeOptionsDialogs optionsDialogs_;
  // The dialogs the controller gets; a test may hand it real ones.
  TORVDashboardOptionsDialogs* optionsPort_ = &optionsDialogs_;
  std::shared_ptr<FakeService> service_;
  std::unique_ptr<TORVDashboardBrowser> dashboard_;
  FakeBackend* backend_ = nullptr;
  std::shared_ptr<IHostObject> bridge_;
};

}  // namespace orv::test
