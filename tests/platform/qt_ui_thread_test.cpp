#include "platform/qt_ui_thread.h"
#include "platform/exception.h"

#include <QCoreApplication>
#include <QStringList>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orv {
namespace {

class QtUiThreadTest : public ::testing::Test {
protected:
  QtUiThread ui_;
};

TEST_F(QtUiThreadTest, PostRunsLaterInRequestOrderNeverInsideTheCaller) {
  std::vector<int> order;
  ui_.post([&] { order.push_back(1); });
  ui_.post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  ui_.processPendingEvents();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

QStringList capturedWarnings;

TEST_F(QtUiThreadTest, PostedWorkThatThrowsIsLoggedAndTheQueueGoesOn) {
  capturedWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { capturedWarnings << text; });
  bool after = false;
  ui_.post([] { throw Exception(QStringLiteral("Malformed registry file 'r.reg', line 3: bad value")); });
  ui_.post([] { throw 42; });
  ui_.post([&] { after = true; });
  ui_.processPendingEvents();
  qInstallMessageHandler(previous);

  EXPECT_TRUE(after);
  EXPECT_EQ(
      capturedWarnings,
      (QStringList{QStringLiteral("Work on the UI thread failed: Malformed registry file 'r.reg', line 3: bad value"),
                   QStringLiteral("Work on the UI thread failed with an unknown error")}));
}

TEST_F(QtUiThreadTest, InvokeAndWaitRunsDirectlyOnTheUiThreadAndWaitsFromOthers) {
  bool ranInline = false;
  ui_.invokeAndWait([&] { ranInline = true; });
  EXPECT_TRUE(ranInline);
  EXPECT_TRUE(ui_.isCurrent());

  bool onUiThread = false;
  bool workerSawResult = false;
  std::thread worker([&] {
    EXPECT_FALSE(ui_.isCurrent());
    ui_.invokeAndWait([&] { onUiThread = ui_.isCurrent(); });
    workerSawResult = onUiThread;
    ui_.post([] { QCoreApplication::quit(); });
  });
  QCoreApplication::exec();
  worker.join();
  EXPECT_TRUE(workerSawResult);
}

}  // namespace
}  // namespace orv
