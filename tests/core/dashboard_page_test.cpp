// The road to the page: the pipeline that carries work from any thread to
// the UI thread, and the page calls that travel on it.
#include "core/dashboard_page.h"
#include "core/ui_pipeline.h"
#include "support/fake_ports.h"
#include "support/page_calls.h"
#include "support/page_recorder.h"

#include <QStringList>

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace orv {
namespace {

using test::PageCallsOf;

TEST(UiPipelineTest, WorkRunsInOrderOnTheUiThreadAndAFailureStopsNothing) {
  test::ManualUiThread ui;
  UiPipeline pipeline(ui);
  QStringList ran;
  QStringList errors;
  pipeline.SetOnError([&](const std::exception& e) { errors << QString::fromUtf8(e.what()); });
  pipeline.SetOnDrained([&] { ran << QStringLiteral("drained"); });
  pipeline.Post([&] {
    EXPECT_TRUE(pipeline.Draining());
    ran << QStringLiteral("one");
    pipeline.Post([&] { ran << QStringLiteral("posted while draining"); });
  });
  pipeline.Post([] { throw std::runtime_error("broken"); });
  pipeline.Post([&] { ran << QStringLiteral("two"); });
  EXPECT_TRUE(ran.isEmpty()) << "never inside the caller";
  EXPECT_FALSE(pipeline.Draining());
  ui.Pump();
  EXPECT_EQ(ran, (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("drained"),
                              QStringLiteral("posted while draining"), QStringLiteral("drained")}));
  EXPECT_EQ(errors, QStringList{QStringLiteral("broken")});

  // Closing drops what is queued and what comes later.
  pipeline.Post([&] { ran << QStringLiteral("queued"); });
  pipeline.Close();
  pipeline.Post([&] { ran << QStringLiteral("late"); });
  ui.Pump();
  EXPECT_EQ(ran.size(), 5);
}

TEST(UiPipelineTest, AnItemThatClosesThePipelineEndsTheDrain) {
  test::ManualUiThread ui;
  UiPipeline pipeline(ui);
  int ran = 0;
  pipeline.Post([&] {
    ++ran;
    pipeline.Close();
  });
  pipeline.Post([&] { ++ran; });
  ui.Pump();
  EXPECT_EQ(ran, 1);
}

class DashboardPageTest : public ::testing::Test {
protected:
  QStringList Scripts() {
    ui_.Pump();
    return std::exchange(recorder_.scripts, {});
  }

  test::ManualUiThread ui_;
  UiPipeline pipeline_{ui_};
  test::PageRecorder recorder_;
  TORVDashboardPage page_{pipeline_, recorder_.Runner()};
};

// A lone call goes as it is; output and progress calls in a row share a
// script, each guarded, a run of one function as a loop; any other call
// ends the script, and the order stays.
TEST_F(DashboardPageTest, JoinedCallsAreGuardedOneByOneAndKeepTheirOrder) {
  page_.KitwrightOutput(QStringLiteral("alone"));
  EXPECT_EQ(Scripts(), QStringList{QStringLiteral("KitwrightOutput('alone');")});

  page_.KitwrightOutput(QStringLiteral("one"));
  page_.KitwrightOutput(QStringLiteral("it's [two]"));
  page_.KitwrightActionProgress(40, QStringLiteral("Sample \"Pack\""), 75, QStringLiteral("Install"));
  page_.KitwrightActionFinished();
  page_.KitwrightOutput(QStringLiteral("three"));
  page_.KitwrightActionProgress(100, QString(), 0, QStringLiteral("Uninstall"));
  const QStringList scripts = Scripts();
  EXPECT_EQ(scripts, (QStringList{
                         QStringLiteral("for(const a of [['one'],['it\\'s [two]']])try{KitwrightOutput(...a)}catch(e){"
                                        "console.error(e)}try{KitwrightActionProgress(40, \"Sample \\\"Pack\\\"\", 75, "
                                        "\"Install\")}catch(e){console.error(e)}"),
                         QStringLiteral("KitwrightActionFinished();"),
                         QStringLiteral("try{KitwrightOutput('three')}catch(e){console.error(e)}"
                                        "try{KitwrightActionProgress(100, \"\", 0, \"Uninstall\")}catch(e){console."
                                        "error(e)}"),
                     }));
  EXPECT_EQ(PageCallsOf(scripts),
            (QStringList{QStringLiteral("KitwrightOutput('one');"), QStringLiteral("KitwrightOutput('it\\'s [two]');"),
                         QStringLiteral("KitwrightActionProgress(40, \"Sample \\\"Pack\\\"\", 75, \"Install\");"),
                         QStringLiteral("KitwrightActionFinished();"), QStringLiteral("KitwrightOutput('three');"),
                         QStringLiteral("KitwrightActionProgress(100, \"\", 0, \"Uninstall\");")}));
}

// Output lines and progress reports alternating in any way: every call
// arrives once and in order, and each run of two or more calls of one
// function travels as one loop over its arguments.
TEST_F(DashboardPageTest, MixedRunsKeepTheirOrderWithOneLoopPerRun) {
  // O: an output line, P: a progress report, all in one drain.
  const QString patterns[] = {QStringLiteral("OOOPPOPOO"), QStringLiteral("POOOOP"), QStringLiteral("PPPP"),
                              QStringLiteral("OPOPOP"), QStringLiteral("OOPPOOPPO")};
  for (const QString& pattern : patterns) {
    QStringList expected;
    int loops = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
      const QString n = QString::number(i);
      if (pattern[i] == u'O') {
        page_.KitwrightOutput(n);
        expected << QStringLiteral("KitwrightOutput('%1');").arg(n);
      } else {
        page_.KitwrightActionProgress(i, n, i, QStringLiteral("Install"));
        expected << QStringLiteral("KitwrightActionProgress(%1, \"%1\", %1, \"Install\");").arg(n);
      }
      const bool runStarts = i == 0 || pattern[i - 1] != pattern[i];
      if (!runStarts && (i < 2 || pattern[i - 2] != pattern[i])) ++loops;
    }
    const QStringList scripts = Scripts();
    ASSERT_EQ(scripts.size(), 1) << pattern.toStdString();
    EXPECT_EQ(scripts[0].count(QStringLiteral("for(const a of")), loops) << pattern.toStdString();
    EXPECT_EQ(PageCallsOf(scripts), expected) << pattern.toStdString();
  }
}

// A package manager printing at full speed: the scripts stay small enough
// for the engine to start each at once, and no line is lost or moved.
TEST_F(DashboardPageTest, LongRunsAreCutIntoBoundedScripts) {
  const QString line(1000, QLatin1Char('x'));
  QStringList expected;
  for (int i = 0; i < 1000; ++i) {
    page_.KitwrightOutput(line + QString::number(i));
    expected << QStringLiteral("KitwrightOutput('%1');").arg(line + QString::number(i));
  }
  const QStringList scripts = Scripts();
  EXPECT_GT(scripts.size(), 1);
  for (const QString& script : scripts) EXPECT_LT(script.size(), 300 * 1024);
  EXPECT_EQ(PageCallsOf(scripts), expected);
}

// Calls from other threads keep their order among each other and with the
// UI thread's own calls made while the pipeline's work runs (labelled
// tsan: the thread sanitizer runs this).
TEST_F(DashboardPageTest, CallsFromAWorkerKeepTheirOrderWithWorkOnTheUiThread) {
  constexpr int kLines = 2000;
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i) {
      page_.KitwrightOutput(QString::number(i));
      if (i % 100 == 99) pipeline_.Post([this] { page_.KitwrightActionFinished(); });
    }
  });
  QStringList calls;
  ASSERT_TRUE(ui_.PumpUntil([&] {
    calls << PageCallsOf(std::exchange(recorder_.scripts, {}));
    return calls.size() == kLines + kLines / 100;
  }));
  worker.join();
  int next = 0;
  for (const QString& call : calls) {
    if (call == QLatin1String("KitwrightActionFinished();")) {
      EXPECT_EQ(next % 100, 0) << "after line " << next - 1;
      continue;
    }
    EXPECT_EQ(call, QStringLiteral("KitwrightOutput('%1');").arg(next));
    ++next;
  }
  EXPECT_EQ(next, kLines);
}

// The main window going away stops page calls but not the log.
TEST_F(DashboardPageTest, WhileTheWindowClosesOnlyTheLogReachesThePage) {
  page_.OwnerDestroying();
  page_.KitwrightOutput(QStringLiteral("a"));
  page_.KitwrightOutput(QStringLiteral("b"));
  page_.KitwrightActionFinished();
  page_.Log(QStringLiteral("closing"));
  EXPECT_TRUE(Scripts().isEmpty());
  EXPECT_EQ(recorder_.log, QStringList{QStringLiteral("closing")});
}

}  // namespace
}  // namespace orv
