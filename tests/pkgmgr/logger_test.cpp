#include "pkgmgr/logger.h"
#include "pkgmgr/gui_logger.h"
#include "pkgmgr/multi_logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orv {
namespace {

// Records what reaches it, as "Operation:text"; can be told to throw.
class RecordingLogger : public TLogger {
public:
  struct Shared {
    std::mutex mutex;
    std::vector<QString> calls;
  };

  RecordingLogger(std::shared_ptr<Shared> shared, QString name, bool ignoresVerbosity = false, bool throws = false)
      : shared_(std::move(shared)), name_(std::move(name)), ignores_(ignoresVerbosity), throws_(throws) {}

  void Error(const QString& m) override { Record(u"Error:" + m); }
  void Info(const QString& m) override { Record(u"Info:" + m); }
  void Trace(const QString& m) override { Record(u"Trace:" + m); }
  void StartSection(TMessageType, const QString& label) override { Record(u"StartSection:" + label); }
  void FinishSection(TMessageType, bool) override { Record(QStringLiteral("FinishSection:")); }
  void CreateConnectionPoint(TConnectionPoint& point) override {
    Record(u"CreateConnectionPoint:" + QString::number(point.Guid[0]));
  }
  std::unique_ptr<TLoggerState> Push() override {
    Record(QStringLiteral("Push:"));
    return std::make_unique<TLoggerState>();
  }
  void Pop(std::unique_ptr<TLoggerState> state) override {
    Record(state ? QStringLiteral("Pop:state") : QStringLiteral("Pop:empty"));
  }
  QString ProcessMsg(const QString& m) override { return name_ + u">" + m; }
  void ResetPercentAction() override { Record(QStringLiteral("ResetPercentAction:")); }
  void SetPercentAction(const std::function<std::int32_t()>&) override {}
  bool IgnoresVerbosity() const override { return ignores_; }

private:
  void Record(const QString& call) {
    if (throws_) throw std::runtime_error("sink failed");
    const std::lock_guard lock(shared_->mutex);
    shared_->calls.push_back(name_ + u" " + call);
  }

  std::shared_ptr<Shared> shared_;
  QString name_;
  bool ignores_;
  bool throws_;
};

struct MultiLoggerTest : ::testing::Test {
  std::shared_ptr<RecordingLogger::Shared> shared = std::make_shared<RecordingLogger::Shared>();
  std::unique_ptr<RecordingLogger> Sink(const QString& name, bool ignores = false, bool throws = false) {
    return std::make_unique<RecordingLogger>(shared, name, ignores, throws);
  }
};

TEST_F(MultiLoggerTest, VerbosityAdmitsLevelsAtOrAboveItUnlessTheSinkIgnoresIt) {
  struct Case {
    TVerbosity verbosity;
    std::vector<QString> expected;
  };
  const std::vector<Case> cases = {
      {TVerbosity::trace,
       {"plain Error:plain>e", "all Error:all>e", "plain Info:plain>i", "all Info:all>i", "plain Info:plain>p",
        "all Info:all>p", "plain Trace:plain>t", "all Trace:all>t"}},
      {TVerbosity::info,
       {"plain Error:plain>e", "all Error:all>e", "plain Info:plain>i", "all Info:all>i", "plain Info:plain>p",
        "all Info:all>p", "all Trace:all>t"}},
      {TVerbosity::error,
       {"plain Error:plain>e", "all Error:all>e", "all Info:all>i", "all Info:all>p", "all Trace:all>t"}},
  };
  for (const Case& c : cases) {
    shared->calls.clear();
    TMultiLogger logger;
    logger.AddLogger(Sink(QStringLiteral("plain")));
    logger.AddLogger(Sink(QStringLiteral("all"), /*ignores=*/true));
    logger.SetVerbosity(c.verbosity);
    logger.Write(TVerbosity::error, QStringLiteral("e"));
    logger.Write(TVerbosity::info, QStringLiteral("i"));
    logger.Progress(QStringLiteral("p"), TProductProgressInfo(QStringLiteral("x.y")));
    logger.Write(TVerbosity::trace, QStringLiteral("t"));
    EXPECT_EQ(shared->calls, c.expected) << "verbosity " << static_cast<int>(c.verbosity);
  }
}

TEST_F(MultiLoggerTest, NewMultiLoggerHasTraceVerbosityAndKeepsConstructionOrder) {
  std::vector<std::unique_ptr<TLogger>> sinks;
  sinks.push_back(Sink(QStringLiteral("a")));
  sinks.push_back(Sink(QStringLiteral("b")));
  TMultiLogger logger(std::move(sinks));
  EXPECT_EQ(logger.Verbosity(), TVerbosity::trace);
  logger.Trace(QStringLiteral("t"));
  EXPECT_EQ(shared->calls, (std::vector<QString>{"a Trace:a>t", "b Trace:b>t"}));
}

TEST_F(MultiLoggerTest, FailingSinkDoesNotStopDeliveryToTheNext) {
  TMultiLogger logger;
  logger.AddLogger(Sink(QStringLiteral("bad"), false, /*throws=*/true));
  logger.AddLogger(Sink(QStringLiteral("good")));
  logger.Error(QStringLiteral("e"));
  logger.Info(QStringLiteral("i"));
  logger.Progress(QStringLiteral("p"), TProductProgressInfo());
  logger.StartSection(TMessageType::Build, QStringLiteral("s"));
  logger.FinishSection(TMessageType::Build, false);
  const TMultiLogger::TState state = logger.Push();
  EXPECT_EQ(shared->calls, (std::vector<QString>{"good Error:good>e", "good Info:good>i", "good Info:good>p",
                                                 "good StartSection:s", "good FinishSection:", "good Push:"}));
  ASSERT_EQ(state.size(), 2u);
  EXPECT_EQ(state[0], nullptr);
  EXPECT_NE(state[1], nullptr);
}

TEST_F(MultiLoggerTest, PercentActionsLetASinkFailureThrough) {
  TMultiLogger logger;
  logger.AddLogger(Sink(QStringLiteral("bad"), false, /*throws=*/true));
  logger.AddLogger(Sink(QStringLiteral("good")));
  EXPECT_THROW(logger.ResetPercentAction(), std::runtime_error);
  EXPECT_TRUE(shared->calls.empty());
}

TEST_F(MultiLoggerTest, PopHandsEachSinkItsOwnEntryAndSkipsMissingOnes) {
  TMultiLogger logger;
  logger.AddLogger(Sink(QStringLiteral("a")));
  logger.AddLogger(Sink(QStringLiteral("b")));
  logger.AddLogger(Sink(QStringLiteral("c")));
  TMultiLogger::TState state;
  state.push_back(nullptr);
  state.push_back(std::make_unique<TLoggerState>());
  logger.Pop(std::move(state));
  EXPECT_EQ(shared->calls, (std::vector<QString>{"a Pop:empty", "b Pop:state"}));
}

TEST_F(MultiLoggerTest, CreateConnectionPointMakesAFreshGuidBeforeTheSinksSeeIt) {
  TMultiLogger logger;
  logger.AddLogger(Sink(QStringLiteral("a")));
  TConnectionPoint first;
  TConnectionPoint second;
  logger.CreateConnectionPoint(first);
  logger.CreateConnectionPoint(second);
  EXPECT_NE(first.Guid, TConnectionPoint().Guid);
  EXPECT_NE(first.Guid, second.Guid);
  EXPECT_EQ(shared->calls.front(), u"a CreateConnectionPoint:" + QString::number(first.Guid[0]));
}

TEST_F(MultiLoggerTest, LoggingFromSeveralThreadsWhileSinksAreAdded) {
  TMultiLogger logger;
  logger.AddLogger(Sink(QStringLiteral("first")));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&logger] {
      for (int i = 0; i < 200; ++i) logger.Info(QString::number(i));
    });
  }
  threads.emplace_back([this, &logger] {
    for (int i = 0; i < 10; ++i) logger.AddLogger(Sink(QStringLiteral("late")));
    logger.SetVerbosity(TVerbosity::info);
  });
  for (auto& thread : threads) thread.join();
  const auto firstCalls = std::count_if(shared->calls.begin(), shared->calls.end(),
                                        [](const QString& call) { return call.startsWith(u"first "); });
  EXPECT_EQ(firstCalls, 800);
}

TEST(GUILogger, SendsEachLevelToTheCallbackAndDiscardsWithoutOne) {
  std::vector<std::pair<TLogLevel, QString>> seen;
  TGUILogger silent;
  silent.Error(QStringLiteral("lost"));
  silent.Progress(QStringLiteral("lost"), TProductProgressInfo());

  TGUILogger logger([&seen](TLogLevel level, const QString& text) { seen.emplace_back(level, text); });
  logger.Error(QStringLiteral("e"));
  logger.Info(QStringLiteral("i"));
  logger.Trace(QStringLiteral("t"));
  logger.Progress(QStringLiteral("p"), TProductProgressInfo(QStringLiteral("x")));
  EXPECT_EQ(seen,
            (std::vector<std::pair<TLogLevel, QString>>{
                {TLogLevel::Error, "e"}, {TLogLevel::Info, "i"}, {TLogLevel::Trace, "t"}, {TLogLevel::Info, "p"}}));
  logger.SetOnLogMessage({});
  logger.Error(QStringLiteral("dropped"));
  EXPECT_EQ(seen.size(), 4u);
}

TEST(GlobalLogger, InstallingReturnsThePreviousLogger) {
  auto first = std::make_shared<TMultiLogger>();
  EXPECT_EQ(SetGlobalLogger(first), nullptr);
  EXPECT_EQ(GlobalLogger(), first);
  EXPECT_EQ(SetGlobalLogger(nullptr), first);
  EXPECT_EQ(GlobalLogger(), nullptr);
}

TEST(ProductProgressInfo, ToStringPadsThePercentageAndCapsItAtHundred) {
  struct Case {
    const char* id;
    int processed;
    int total;
    const char* expected;
  };
  const Case cases[] = {
      {"x.y", 1, 3, "[x.y:  33%]"},
      {"id", 0, 0, "[id: 100%]"},
      {"id", 5, 3, "[id: 100%]"},
      {"id", 0, 4, "[id:   0%]"},
      {"id", 3, 3, "[id: 100%]"},
      {"", 1, 2, ""},
      {"big", 2000000000, 2100000000, "[big:  95%]"},
  };
  for (const Case& c : cases) {
    TProductProgressInfo info(QString::fromUtf8(c.id));
    info.ProcessedPackages = c.processed;
    info.SetTotalPackages(c.total);
    EXPECT_EQ(info.ToString(), QString::fromUtf8(c.expected)) << c.id << " " << c.processed << "/" << c.total;
  }
}

TEST(ProductProgressInfo, CountersStayExactUnderConcurrentIncrements) {
  constexpr int threadCount = 4;
  constexpr int perThread = 2500;
  TProductProgressInfo info(QStringLiteral("x.y"));
  info.SetTotalPackages(threadCount * perThread);
  std::atomic<int> finishedSeen{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < perThread; ++i) {
        info.DoAtomicIncrement();
        if (info.Finished()) ++finishedSeen;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(info.ProcessedPackages.load(), threadCount * perThread);
  EXPECT_TRUE(info.Finished());
  EXPECT_GE(finishedSeen.load(), 1);
  EXPECT_EQ(info.ToString(), QStringLiteral("[x.y: 100%]"));
}

}  // namespace
}  // namespace orv
