#pragma once

// The HTTP request engine's component with the libcurl engine, as the
// engine's suites drive it: one component on a UI thread the test chooses,
// and a trace of everything a request told the caller.
#include "lib/cloud_base_curl.h"
#include "platform/ui_thread.h"
#include "support/fake_ports.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace orv::test {

using TResult = TORVZYNDashCloudBaseRequestResult;

// Everything one request told the caller, in order.
struct Trace {
  QStringList events;
  int callbacks = 0;
  std::thread::id callbackThread;
};

class CloudEngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterCurlCloudBaseService();
    cloud_ = MakeCloud(ui_);
  }
  void TearDown() override {
    cloud_.reset();
    UnregisterCurlCloudBaseService();
  }

  std::unique_ptr<TORVZYNDashCloudBase> MakeCloud(UiThread& ui) {
    auto cloud = std::make_unique<TORVZYNDashCloudBase>(ui);
    cloud->OnRequestStarted = [this](auto&, TResult&) { trace_.events << "started"; };
    cloud->OnRequestLog = [this](auto&, TResult&, const QString& message) { trace_.events << message; };
    cloud->OnRequestComplete = [this](auto&, TResult& r) {
      trace_.events << QStringLiteral("complete %1").arg(r.FResponseCode);
    };
    cloud->OnRequestCancelled = [this](auto&, TResult&) { trace_.events << "cancelled"; };
    cloud->OnRequestsComplete = [this](auto&) { trace_.events << "all complete"; };
    return cloud;
  }

  void Prepare(const std::string& url, TORVZYNDashCloudBaseRequestMethod method, const QString& path = "/p") {
    TORVZYNDashCloudBaseRequest& request = cloud_->Request();
    request.Clear();
    request.FName = "N";
    request.FHost = QString::fromStdString(url);
    request.FPath = path;
    request.FMethod = method;
  }

  TORVZYNDashCustomCloudBase::TRequestResultEvent Callback() {
    return [this](TResult& r) {
      ++trace_.callbacks;
      trace_.callbackThread = std::this_thread::get_id();
      trace_.events << QStringLiteral("callback %1").arg(r.FResponseCode);
    };
  }

  // Runs the request synchronously; the error it raised, if any.
  std::optional<QString> Run(TResult** result = nullptr) {
    try {
      TResult* r = cloud_->ExecuteRequest(Callback(), nullptr, false);
      if (result) *result = r;
    } catch (const EORVZYNDashCloudBaseException& e) {
      if (result) *result = cloud_->RequestResult();
      return e.message();
    }
    return std::nullopt;
  }

  test::ManualUiThread ui_;
  std::unique_ptr<TORVZYNDashCloudBase> cloud_;
  Trace trace_;
};

}  // namespace orv::test
