// Synchronous requests of the HTTP request engine on Qt's UI thread: the
// wait keeps the thread's own events going. Not under ThreadSanitizer: Qt's
// hand-over of posted work between threads is not instrumented, so the
// detector reports races it cannot see the ordering of.
#include "cloud_engine_fixture.h"
#include "platform/qt_ui_thread.h"
#include "support/qt_printers.h"
#include "support/raw_http_server.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace orv {
namespace {

using test::RawHttpServer;
using test::TResult;

// ---- synchronous requests on the application's UI thread ------------------

// The test's thread is Qt's UI thread; a synchronous request waits there
// with the thread's own events going.
class CloudResponsiveTest : public test::CloudEngineTest {
protected:
  void SetUp() override {
    test::CloudEngineTest::SetUp();
    cloud_ = MakeCloud(ui_);
  }
  QtUiThread ui_;
};

// The server answers only once work posted to the UI thread and a timer
// there have run, which they can only do while the request is waited for.
TEST_F(CloudResponsiveTest, PostedWorkAndTimersRunWhileASynchronousRequestWaits) {
  std::mutex mutex;
  std::condition_variable ran;
  bool posted = false;
  bool timed = false;
  const auto mark = [&](bool& flag) {
    std::lock_guard lock(mutex);
    flag = true;
    ran.notify_all();
  };
  RawHttpServer server([&](const std::string&) {
    std::unique_lock lock(mutex);
    const bool both = ran.wait_for(lock, std::chrono::seconds(10), [&] { return posted && timed; });
    return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", both ? "responsive" : "frozen"));
  });
  Prepare(server.URL(), rmGET);
  ui_.post([&] { mark(posted); });
  QTimer::singleShot(1, [&] { mark(timed); });
  TResult* result = nullptr;
  ASSERT_EQ(Run(&result), std::nullopt);
  EXPECT_EQ(result->FResultString, "responsive");
  EXPECT_EQ(trace_.callbacks, 1);
  EXPECT_EQ(trace_.callbackThread, std::this_thread::get_id()) << "the callback runs on the UI thread";
}

// Closing the window quits the application: the wait ends at once and the
// request is cancelled instead of running into its time-outs.
TEST_F(CloudResponsiveTest, QuittingDuringTheWaitCancelsTheRequest) {
  RawHttpServer server([&](const std::string&) {
    ui_.post([] { QCoreApplication::quit(); });
    return RawHttpServer::Stall();
  });
  Prepare(server.URL(), rmGET);
  cloud_->Request().FTimeout = 120000;
  cloud_->Request().FReadTimeout = 120000;
  bool returned = false;
  ui_.post([&] {
    EXPECT_EQ(Run(), std::nullopt);
    returned = true;
  });
  QCoreApplication::exec();
  EXPECT_TRUE(returned);
  EXPECT_EQ(trace_.callbacks, 0);
  EXPECT_TRUE(trace_.events.contains("cancelled")) << trace_.events.join("\n").toStdString();
}

// Work that runs during the wait cannot start a second wait of the same
// component: it is refused after its callback, and the first goes on.
TEST_F(CloudResponsiveTest, ARequestMadeDuringTheWaitIsRefused) {
  std::mutex mutex;
  std::condition_variable refused;
  bool done = false;
  RawHttpServer server([&](const std::string&) {
    std::unique_lock lock(mutex);
    refused.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
    return RawHttpServer::Reply(RawHttpServer::Response(200, "OK", "first"));
  });
  Prepare(server.URL(), rmGET);
  std::optional<QString> nestedError;
  ui_.post([&] {
    nestedError = Run();
    std::lock_guard lock(mutex);
    done = true;
    refused.notify_all();
  });
  TResult* result = nullptr;
  ASSERT_EQ(Run(&result), std::nullopt);
  EXPECT_EQ(result->FResultString, "first");
  EXPECT_EQ(nestedError, QStringLiteral("Request [N] refused: another request is still outstanding"));
  EXPECT_EQ(trace_.callbacks, 2);
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace orv
