// The GUI environment against the orv.exe stand-in: commands run as real
// child processes, background commands on the environment's own threads.
#include "pkgmgr/gui_environment.h"

#include "pkgmgr/multi_logger.h"

#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace orv {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// What the environment reported, guarded: events arrive on its threads.
class Recorder {
public:
  template <class Change>
  void Record(Change&& change) {
    {
      const std::lock_guard lock(mutex_);
      change();
      ++events;
    }
    changed_.notify_all();
  }
  template <class Reader>
  auto Read(Reader&& read) {
    const std::lock_guard lock(mutex_);
    return read();
  }
  // Waits until pred (called under the lock) holds; false on timeout.
  template <class Pred>
  bool WaitFor(Pred&& pred, std::chrono::milliseconds timeout = 20s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, pred);
  }

  int starts = 0;
  int finishes = 0;
  int updates = 0;
  int newVersions = 0;
  int runnersCreated = 0;
  QStringList lastProductIds;
  std::vector<TGUILogItem> logItems;
  QStringList output;
  int events = 0;

private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

class GuiEnvironment : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    WriteScene(Json::object());
  }

  // The default scene with the given top-level members replaced: one
  // installed product that is outdated, one local one without IDEs, and
  // one product only the repository offers.
  void WriteScene(const Json& changes) {
    const Json ides = {{"delphi12", {{"platforms", {{"win32intel", {{"built", true}, {"registered", true}}}}}}}};
    Json scene = {{"version", "2.5.0.0"},
                  {"latest_version", "2.5.0.0"},
                  {"folder_initialized", true},
                  {"credentials", {{"email", "dev@example.com"}, {"code", "secret"}}},
                  {"repositories",
                   {{"default",
                     {{"p.old", {{"name", "Old Pack"}, {"version", "2.0.0.0"}, {"vendor_id", "orv"}}},
                      {"p.new", {{"name", "New Pack"}, {"version", "1.0.0.0"}, {"vendor_id", "orv"}}},
                      {"p.remote", {{"name", "Remote Pack"}, {"version", "4.0.0.0"}, {"vendor_id", "v2"}}}}}}},
                  {"installed",
                   {{"p.old", {{"name", "Old Pack"}, {"version", "1.0.0.0"}, {"local", false}, {"ides", ides}}},
                    {"p.new", {{"name", "New Pack"}, {"version", "1.0.0.0"}, {"local", false}, {"ides", ides}}},
                    {"p.avail", {{"name", "Avail Pack"}, {"version", "0.9.0.0"}, {"local", true}}}}},
                  {"target_ides", {"delphi12"}},
                  {"target_platforms", {"win32intel"}},
                  {"config", Json::object()},
                  {"knobs", Json::object()}};
    for (const auto& [key, value] : changes.items()) scene[key] = value;
    QFile file(dir.filePath(QStringLiteral("orv-state.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(scene.dump()));
  }

  void MakeEnvironment(std::chrono::milliseconds shutdownWait = 10s) {
    env = std::make_unique<TGUIEnvironment>(shutdownWait);
    env->SetOnRunnerCreated([this](TOrvRunner& runner) {
      runner.SetExeFileName(QStringLiteral(ORV_STANDIN_EXE));
      runner.SetWorkingDir(dir.path());
      rec.Record([&] { ++rec.runnersCreated; });
    });
    env->SetOnRunStart([this] { rec.Record([&] { ++rec.starts; }); });
    env->SetOnRunFinish([this] { rec.Record([&] { ++rec.finishes; }); });
    env->SetOnNewVersionDetected([this] { rec.Record([&] { ++rec.newVersions; }); });
    env->SetOnCommandOutput([this](const QString& line) { rec.Record([&] { rec.output << line; }); });
    env->SetOnLogItemGenerated([this](const TGUILogItem& item) { rec.Record([&] { rec.logItems.push_back(item); }); });
    env->SetOnProductsUpdated([this](const TGUIProductList& rows) {
      QStringList ids;
      for (std::size_t i = 0; i < rows.size(); ++i) ids << rows[i].Id();
      rec.Record([&] {
        ++rec.updates;
        rec.lastProductIds = ids;
      });
    });
    // The object, not the pointer member, which the test resets while a
    // handler may still run.
    env->SetOnGetSelectedProducts([this, self = env.get()](TGUIProductSelection& selection) {
      selection.clear();
      const TGUIProductList& rows = self->Products();
      for (std::size_t i = 0; i < rows.size(); ++i)
        if (selectedIds.contains(rows[i].Id())) selection.push_back(&rows[i]);
    });
  }

  // Waits until the environment went idle at least finishes times and
  // every run that started has finished.
  void WaitIdle(int finishes) {
    ASSERT_TRUE(rec.WaitFor([&] { return rec.finishes >= finishes && rec.finishes == rec.starts; })) << "still running";
  }

  void Refresh(TProductFilter filter) {
    const int finishes = rec.Read([&] { return rec.finishes; });
    env->ChangeProductFilter(filter);
    WaitIdle(finishes + 1);
  }

  std::vector<QString> ErrorTexts() {
    return rec.Read([&] {
      std::vector<QString> texts;
      for (const TGUILogItem& item : rec.logItems)
        if (item.Level() == TLogLevel::Error) texts.push_back(item.Text());
      return texts;
    });
  }

  QTemporaryDir dir;
  Recorder rec;
  QStringList selectedIds;
  std::unique_ptr<TGUIEnvironment> env;
};

TEST_F(GuiEnvironment, OverlappingCommandsRaiseOneStartAndOneFinish) {
  MakeEnvironment();
  // The refresh's commands wait until the build has been counted, so the two
  // overlap however the threads are scheduled; gives up after 30 s rather
  // than hang when no build comes.
  const auto buildCounted = std::make_shared<std::promise<void>>();
  const std::shared_future<void> built = buildCounted->get_future().share();
  env->SetOnRunnerCreated([this, built, buildCounted](TOrvRunner& runner) {
    runner.SetExeFileName(QStringLiteral(ORV_STANDIN_EXE));
    runner.SetWorkingDir(dir.path());
    rec.Record([&] { ++rec.runnersCreated; });
    if (dynamic_cast<TOrvBuildRunner*>(&runner))
      buildCounted->set_value();
    else
      built.wait_for(30s);
  });
  env->ChangeProductFilter(TProductFilter::All);
  EXPECT_TRUE(env->IsRunning());  // counted before the thread starts
  env->ExecutePartialBuild();
  WaitIdle(1);
  rec.WaitFor([&] { return rec.updates == 2; });
  EXPECT_EQ(rec.Read([&] { return rec.starts; }), 1);
  EXPECT_EQ(rec.Read([&] { return rec.finishes; }), 1);
  EXPECT_THAT(ErrorTexts(), ElementsAre(QStringLiteral("orv.exe is already running")));

  // A later command is a new run of its own.
  EXPECT_TRUE(env->ConfigWrite(QStringLiteral("x"), {}));
  EXPECT_EQ(rec.Read([&] { return rec.starts; }), 2);
  EXPECT_EQ(rec.Read([&] { return rec.finishes; }), 2);
  EXPECT_FALSE(env->IsRunning());
}

struct StartCase {
  const char* name;
  bool stored;  // the package manager has credentials
  bool accept;  // the owner hands credentials over
  bool asked;   // OnRequestCredentials was raised
  TProductFilter filter;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class GuiEnvironmentStart : public GuiEnvironment, public ::testing::WithParamInterface<StartCase> {};

TEST_P(GuiEnvironmentStart, AsksForMissingCredentialsOnTheCallersThreadThenRefreshes) {
  const StartCase& c = GetParam();
  if (!c.stored) WriteScene({{"credentials", nullptr}});
  MakeEnvironment();
  int asked = 0;
  int updatesWhenAsked = -1;
  std::thread::id askedOn;
  env->SetOnRequestCredentials([&](QString& email, QString& code, bool& accepted) {
    ++asked;
    askedOn = std::this_thread::get_id();
    updatesWhenAsked = rec.Read([&] { return rec.updates; });
    EXPECT_TRUE(email.isEmpty());
    email = QStringLiteral("new@example.com");
    code = QStringLiteral("c0de");
    accepted = c.accept;
  });
  env->Start();
  ASSERT_TRUE(rec.WaitFor([&] { return rec.updates == 1; }));
  WaitIdle(0);
  EXPECT_EQ(asked, c.asked ? 1 : 0);
  if (c.asked) {
    EXPECT_EQ(askedOn, std::this_thread::get_id());
    EXPECT_EQ(updatesWhenAsked, 0);
  }
  EXPECT_TRUE(env->IsFilterActive(c.filter));
  EXPECT_EQ(env->GetInfo().HasCredentials(), c.filter == TProductFilter::All);
  EXPECT_EQ(rec.Read([&] { return rec.lastProductIds.contains(QStringLiteral("p.remote")); }),
            c.filter == TProductFilter::All);
  EXPECT_THAT(ErrorTexts(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, GuiEnvironmentStart,
                         ::testing::Values(StartCase{"Stored", true, false, false, TProductFilter::All},
                                           StartCase{"HandedOver", false, true, true, TProductFilter::All},
                                           StartCase{"Declined", false, false, true, TProductFilter::Installed}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GuiEnvironment, RefreshOfAnUninitialisedFolderEmptiesTheRows) {
  MakeEnvironment();
  Refresh(TProductFilter::All);
  ASSERT_EQ(env->Products().size(), 4u);

  WriteScene({{"folder_initialized", false}});
  MakeEnvironment();
  Refresh(TProductFilter::All);
  EXPECT_EQ(rec.Read([&] { return rec.updates; }), 2);
  EXPECT_THAT(rec.Read([&] { return rec.lastProductIds; }), IsEmpty());
  EXPECT_TRUE(env->Products().empty());
  EXPECT_THAT(ErrorTexts(), IsEmpty());
}

TEST_F(GuiEnvironment, InstalledFilterKeepsOnlyRowsWithALocalVersion) {
  MakeEnvironment();
  Refresh(TProductFilter::Installed);
  EXPECT_THAT(rec.Read([&] { return rec.lastProductIds; }),
              ElementsAre(QStringLiteral("p.old"), QStringLiteral("p.new"), QStringLiteral("p.avail")));
  EXPECT_TRUE(env->IsFilterActive(TProductFilter::Installed));
}

TEST_F(GuiEnvironment, FailingListCommandIsLoggedWithItsOutputAndRaisesNoUpdate) {
  WriteScene({{"knobs", {{"exit_code", {{"list", 1}}}}}});
  MakeEnvironment();
  Refresh(TProductFilter::All);
  const std::vector<TGUILogItem> items = rec.Read([&] { return rec.logItems; });
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Level(), TLogLevel::Error);
  EXPECT_EQ(items[0].Text(),
            QStringLiteral("Error running TOrvListRunner: Running failed: list -detailed -json (EOrvRunner)"));
  EXPECT_TRUE(items[0].Output().contains(QStringLiteral("\"p.avail\"")));
  EXPECT_EQ(env->LogItems().size(), 1u);
  EXPECT_EQ(rec.Read([&] { return rec.updates; }), 0);
}

TEST_F(GuiEnvironment, NewVersionIsNotifiedOnceAndOnlyForCommandsThatSucceeded) {
  WriteScene({{"knobs", {{"new_version_alert", true}, {"exit_code", {{"config-read", 1}}}}}});
  MakeEnvironment();
  QStringList values;
  EXPECT_FALSE(env->ConfigRead(QStringLiteral("x"), values));
  EXPECT_EQ(rec.Read([&] { return rec.newVersions; }), 0);
  EXPECT_TRUE(env->ConfigWrite(QStringLiteral("x"), {QStringLiteral("a")}));
  EXPECT_TRUE(env->ConfigWrite(QStringLiteral("x"), {QStringLiteral("b")}));
  EXPECT_EQ(rec.Read([&] { return rec.newVersions; }), 1);
}

TEST_F(GuiEnvironment, ConfigReadSplitsBracketedListsWithoutTrimming) {
  struct Case {
    const char* stored;
    QStringList expected;
  };
  const Case cases[] = {{"[a, b]", {QStringLiteral("a"), QStringLiteral(" b")}},
                        {"plain text", {QStringLiteral("plain text")}},
                        {"[]", {}},
                        {"  [x]  ", {QStringLiteral("x")}}};
  Json config = Json::object();
  for (std::size_t i = 0; i < std::size(cases); ++i) config["p" + std::to_string(i)] = cases[i].stored;
  WriteScene({{"config", config}});
  MakeEnvironment();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].stored);
    QStringList values{QStringLiteral("old")};
    EXPECT_TRUE(env->ConfigRead(QStringLiteral("p%1").arg(i), values));
    EXPECT_EQ(values, cases[i].expected);
  }
}

TEST_F(GuiEnvironment, ConfigWriteRoundTripsAndAFailedReadLeavesTheValues) {
  MakeEnvironment();
  const QString name = QStringLiteral("configuration for all products:delphi versions");
  QStringList values;
  ASSERT_TRUE(env->ConfigWrite(name, {QStringLiteral("delphi12, delphi11")}));
  ASSERT_TRUE(env->ConfigRead(name, values));
  EXPECT_THAT(values, ElementsAre(QStringLiteral("delphi12"), QStringLiteral(" delphi11")));
  ASSERT_TRUE(env->ConfigWrite(name, {QStringLiteral("a"), QStringLiteral("b")}));
  ASSERT_TRUE(env->ConfigRead(name, values));
  EXPECT_THAT(values, ElementsAre(QStringLiteral("a"), QStringLiteral("b")));
  ASSERT_TRUE(env->ConfigWrite(name, {}));
  ASSERT_TRUE(env->ConfigRead(name, values));
  EXPECT_THAT(values, IsEmpty());

  WriteScene({{"knobs", {{"exit_code", 1}}}});
  values = {QStringLiteral("kept")};
  EXPECT_FALSE(env->ConfigRead(name, values));
  EXPECT_FALSE(env->ConfigWrite(name, values));
  EXPECT_THAT(values, ElementsAre(QStringLiteral("kept")));
  EXPECT_EQ(ErrorTexts().size(), 2u);
}

TEST_F(GuiEnvironment, SelectionPredicates) {
  MakeEnvironment();
  Refresh(TProductFilter::All);
  ASSERT_EQ(env->Products().size(), 4u);
  // p.old: installed and outdated; p.new: installed, up to date;
  // p.avail: local without IDEs; p.remote: not installed.
  struct Case {
    QStringList selected;
    bool canInstall;
    bool canUninstall;
  };
  const Case cases[] = {
      {{}, false, false},
      {{QStringLiteral("p.remote")}, true, false},
      {{QStringLiteral("p.remote"), QStringLiteral("p.new")}, false, false},
      {{QStringLiteral("p.old"), QStringLiteral("p.remote")}, true, false},
      {{QStringLiteral("p.old"), QStringLiteral("p.new")}, false, true},
      {{QStringLiteral("p.avail")}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selected.join(u' ').toStdString());
    selectedIds = c.selected;
    EXPECT_EQ(env->CanInstallSelected(), c.canInstall);
    EXPECT_EQ(env->CanUninstallSelected(), c.canUninstall);
  }
  EXPECT_TRUE(env->CanBuild());
  EXPECT_TRUE(env->CanConfigure());
}

TEST_F(GuiEnvironment, UninstallReportsZeroTheParsedPercentagesThenHundred) {
  MakeEnvironment();
  Refresh(TProductFilter::All);
  selectedIds = {QStringLiteral("p.old"), QStringLiteral("p.new")};
  std::vector<int> reported;
  const int finishes = rec.Read([&] { return rec.finishes; });
  env->ExecuteUninstall([&](int percent) { rec.Record([&] { reported.push_back(percent); }); });
  WaitIdle(finishes + 1);

  std::vector<int> expected{0};
  for (const QString& line : rec.Read([&] { return rec.output; }))
    if (const auto progress = TAbstractOrvBuildRunner::ParseProgress(line, false))
      expected.push_back(progress->Percent);
  expected.push_back(100);
  ASSERT_GT(expected.size(), 3u);
  EXPECT_EQ(rec.Read([&] { return reported; }), expected);
  // The refresh after the command sees the products without IDEs.
  EXPECT_EQ(rec.Read([&] { return rec.updates; }), 2);
  const auto lock = env->LockProducts();
  EXPECT_EQ(env->Products().Find(QStringLiteral("p.old"))->Status(), TProductStatus::Available);
}

TEST_F(GuiEnvironment, InstallReportsProductProgressAndForwardsOutput) {
  MakeEnvironment();
  Refresh(TProductFilter::All);
  selectedIds = {QStringLiteral("p.remote")};
  std::vector<TGUIEnvironment::TProductProgressInfo> reported;
  const int finishes = rec.Read([&] { return rec.finishes; });
  env->ExecuteInstall([&](const TGUIEnvironment::TProductProgressInfo& progress) {
    rec.Record([&] { reported.push_back(progress); });
  });
  WaitIdle(finishes + 1);

  const auto progress = rec.Read([&] { return reported; });
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front().Percent, 0);
  EXPECT_TRUE(progress.front().ProductId.isEmpty());
  EXPECT_EQ(progress.back().Percent, 100);
  EXPECT_TRUE(progress.back().ProductId.isEmpty());
  EXPECT_EQ(progress.back().ProductPercent, 0);
  bool sawProduct = false;
  for (std::size_t i = 1; i + 1 < progress.size(); ++i) {
    EXPECT_EQ(progress[i].ProductId, QStringLiteral("p.remote"));
    sawProduct = sawProduct || progress[i].ProductPercent > 0;
  }
  EXPECT_TRUE(sawProduct);
  EXPECT_TRUE(rec.Read([&] { return rec.output.join(u'\n').contains(QStringLiteral("=== Build Summary ===")); }));
  const auto lock = env->LockProducts();
  EXPECT_EQ(env->Products().Find(QStringLiteral("p.remote"))->Status(), TProductStatus::Installed);
}

TEST_F(GuiEnvironment, CancelRunEndsTheCurrentCommands) {
  // Uncut, every command would wait ten minutes before each output line, so
  // only cancelling ends the refresh within the test's life.
  WriteScene({{"knobs", {{"delay_ms", 600000}}}});
  MakeEnvironment();
  env->ChangeProductFilter(TProductFilter::All);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.runnersCreated >= 1; }));
  // Each command of the refresh is cancelled as it becomes current.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (env->IsRunning() && std::chrono::steady_clock::now() < deadline) {
    env->CancelRun();
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_FALSE(env->IsRunning());
  WaitIdle(1);
}

// A handler's body that blocks until the test opens the gate, like a
// handler waiting for the thread that destroys the environment. It gives
// up after 30 s, so that a destructor waiting for it fails the test rather
// than hanging it.
class Gate {
public:
  void Pass() {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, 30s, [this] { return open_; });
    passed_ = true;
  }
  bool WaitEntered() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [this] { return entered_; });
  }
  void Open() {
    {
      const std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  bool Passed() {
    const std::lock_guard lock(mutex_);
    return passed_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool open_ = false;
  bool passed_ = false;
};

// A command still running when the destructor gives up waiting must not
// touch freed memory (ASan and TSan runs), and raises no events later.
class GuiEnvironmentShutdown : public GuiEnvironment, public ::testing::WithParamInterface<int> {};

TEST_P(GuiEnvironmentShutdown, DestructorCancelsWaitsAndDetaches) {
  const std::chrono::milliseconds wait(GetParam());
  // The install waits ten minutes for a build tool of its own: only
  // cancelling ends it within the test's life.
  WriteScene({{"knobs", {{"grandchild_seconds", 600}}}});
  MakeEnvironment(wait);
  Refresh(TProductFilter::All);  // the rows the selection names
  // Without a wait, the install thread is held in its output handler while
  // the environment goes: a thread that outlives the environment for sure.
  Gate held;
  if (wait == 0ms)
    env->SetOnCommandOutput([this, &held](const QString& line) {
      rec.Record([&] { rec.output << line; });
      if (line.startsWith(QStringLiteral("Waiting for the build tool"))) held.Pass();
    });
  selectedIds = {QStringLiteral("p.remote")};
  // The tokens die with the threads' closures, which tells us when the
  // background threads ended.
  auto installToken = std::make_shared<int>(0);
  auto updateToken = std::make_shared<int>(0);
  std::weak_ptr<int> installAlive = installToken;
  std::weak_ptr<int> updateAlive = updateToken;
  std::atomic<int> progressCalls{0};
  const int runners = rec.Read([&] { return rec.runnersCreated; });
  const int starts = rec.Read([&] { return rec.starts; });
  env->ExecuteInstall([&progressCalls, token = std::move(installToken)](const auto&) { ++progressCalls; });
  ASSERT_TRUE(rec.WaitFor([&] { return rec.runnersCreated > runners && rec.starts == starts + 1; }));
  // Waits for idle in the background, polling once a second, so it is
  // still waiting when the environment goes.
  env->ExecuteSelfUpdate([&progressCalls, token = std::move(updateToken)](int) { ++progressCalls; });
  // The install child runs once it reports the wait for its build tool.
  ASSERT_TRUE(rec.WaitFor([&] { return !rec.output.filter(QStringLiteral("Waiting for the build tool")).isEmpty(); }))
      << rec.Read([&] { return rec.output.join(u'\n').toStdString(); });

  const int runnersBeforeShutdown = rec.Read([&] { return rec.runnersCreated; });
  const auto before = std::chrono::steady_clock::now();
  env.reset();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, wait + 3s);
  if (wait == 0ms) {
    EXPECT_FALSE(installAlive.expired());
    EXPECT_FALSE(held.Passed()) << "the destructor waited for the held handler";
  }
  const int eventsAtDestruction = rec.Read([&] { return rec.events; });
  const int progressAtDestruction = progressCalls.load();
  held.Open();

  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while ((!installAlive.expired() || !updateAlive.expired()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(installAlive.expired());
  EXPECT_TRUE(updateAlive.expired());
  EXPECT_EQ(rec.Read([&] { return rec.events; }), eventsAtDestruction);
  EXPECT_EQ(progressCalls.load(), progressAtDestruction);
  EXPECT_EQ(GlobalLogger(), nullptr);
  // The install's closing refresh, the waiting self-update: nothing starts
  // once the shutdown has begun (with a wait, the destructor would have
  // seen it start; without one it would have started after the deadline).
  EXPECT_EQ(rec.Read([&] { return rec.runnersCreated; }), runnersBeforeShutdown);
}

INSTANTIATE_TEST_SUITE_P(Waits, GuiEnvironmentShutdown, ::testing::Values(0, 10000),
                         [](const auto& info) { return "Wait" + std::to_string(info.param) + "ms"; });

// Where the handler that blocks is raised: during the command, in the
// owner's progress callback, and after the run has ended (so only the wait
// for handlers in flight stands in the way).
enum class BlockedIn { CommandOutput, Progress, RunFinish };

struct BlockedCase {
  const char* name;
  BlockedIn where;
};

void PrintTo(const BlockedCase& c, std::ostream* os) { *os << c.name; }

class GuiEnvironmentBlockedHandler : public GuiEnvironment, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(GuiEnvironmentBlockedHandler, DestructorKeepsItsLimitAndNothingLaterReachesTheOwner) {
  const BlockedIn where = GetParam().where;
  MakeEnvironment(200ms);
  Refresh(TProductFilter::All);
  selectedIds = {QStringLiteral("p.remote")};
  Gate gate;
  if (where == BlockedIn::CommandOutput) env->SetOnCommandOutput([&gate](const QString&) { gate.Pass(); });
  if (where == BlockedIn::RunFinish) env->SetOnRunFinish([&gate] { gate.Pass(); });
  // The token dies with the install thread's closure, after its runner.
  // Its end is signalled rather than polled, so that what the thread did
  // before is ordered before the test's own cleanup (ThreadSanitizer sees
  // no order through a polled weak pointer).
  auto closureGone = std::make_shared<std::promise<void>>();
  std::future<void> threadDone = closureGone->get_future();
  std::shared_ptr<void> token(nullptr, [closureGone](void*) { closureGone->set_value(); });
  std::atomic<int> progressCalls{0};
  env->ExecuteInstall([&gate, &progressCalls, where, token = std::move(token)](const auto&) {
    ++progressCalls;
    if (where == BlockedIn::Progress) gate.Pass();
  });
  ASSERT_TRUE(gate.WaitEntered());
  const int eventsAtDestruction = rec.Read([&] { return rec.events; });
  const int progressAtDestruction = progressCalls.load();

  const int runnersBeforeShutdown = rec.Read([&] { return rec.runnersCreated; });
  const auto before = std::chrono::steady_clock::now();
  env.reset();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_FALSE(gate.Passed()) << "the destructor waited for the blocked handler";
  EXPECT_LT(took, 10s);  // for a limit of 200 ms, on however loaded a machine

  // Released, the handler returns into a thread that carries on with
  // nobody to report to.
  gate.Open();
  EXPECT_EQ(threadDone.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(rec.Read([&] { return rec.events; }), eventsAtDestruction);
  EXPECT_EQ(progressCalls.load(), progressAtDestruction);
  EXPECT_EQ(GlobalLogger(), nullptr);
  // The install's closing refresh, the waiting self-update: nothing starts
  // once the shutdown has begun (with a wait, the destructor would have
  // seen it start; without one it would have started after the deadline).
  EXPECT_EQ(rec.Read([&] { return rec.runnersCreated; }), runnersBeforeShutdown);
}

INSTANTIATE_TEST_SUITE_P(Cases, GuiEnvironmentBlockedHandler,
                         ::testing::Values(BlockedCase{"CommandOutput", BlockedIn::CommandOutput},
                                           BlockedCase{"Progress", BlockedIn::Progress},
                                           BlockedCase{"RunFinish", BlockedIn::RunFinish}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MergeCase {
  const char* name;
  TProductFilter filter;
  // Local: id, version, has IDE info, local flag. Remote: id, version, vendor.
  std::vector<std::tuple<const char*, const char*, bool, bool>> local;
  std::vector<std::tuple<const char*, const char*, const char*>> remote;
  // id, status, local version, remote version, vendor.
  std::vector<std::tuple<const char*, TProductStatus, const char*, const char*, const char*>> rows;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class MergeProductsTable : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeProductsTable, RowsAfterMergeAndFilter) {
  const MergeCase& c = GetParam();
  TProductInfoList local;
  for (const auto& [id, version, ide, isLocal] : c.local) {
    TProductInfo& product = local.Add(std::make_unique<TProductInfo>());
    product.SetId(QString::fromUtf8(id));
    product.SetName(QString::fromUtf8(id).toUpper());
    product.SetVersion(TVersion::FromString(QString::fromUtf8(version)));
    product.SetLocal(isLocal);
    if (ide) product.IDEInfo(TIDEName::delphi12);
  }
  TProductInfoList remote;
  for (const auto& [id, version, vendor] : c.remote) {
    TProductInfo& product = remote.Add(std::make_unique<TProductInfo>());
    product.SetId(QString::fromUtf8(id));
    product.SetName(QStringLiteral("remote ") + QString::fromUtf8(id));
    product.SetVersion(TVersion::FromString(QString::fromUtf8(version)));
    product.SetVendorId(QString::fromUtf8(vendor));
  }
  TGUIProductList rows;
  rows.Add(std::make_unique<TGUIProduct>());  // an earlier row goes away
  MergeProducts(rows, local, remote);
  ApplyProductFilter(rows, c.filter);

  ASSERT_EQ(rows.size(), c.rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [id, status, localVersion, remoteVersion, vendor] = c.rows[i];
    SCOPED_TRACE(id);
    EXPECT_EQ(rows[i].Id(), QString::fromUtf8(id));
    EXPECT_EQ(rows[i].Status(), status);
    EXPECT_EQ(rows[i].LocalVersion(), TVersion::FromString(QString::fromUtf8(localVersion)));
    EXPECT_EQ(rows[i].RemoteVersion(), TVersion::FromString(QString::fromUtf8(remoteVersion)));
    EXPECT_EQ(rows[i].VendorId(), QString::fromUtf8(vendor));
  }
}

using S = TProductStatus;
INSTANTIATE_TEST_SUITE_P(
    Cases, MergeProductsTable,
    ::testing::Values(MergeCase{"AllKeepsEveryRow",
                                TProductFilter::All,
                                {{"a", "1.0", true, false}, {"b", "2.0", false, false}},
                                {{"c", "3.0", "v"}, {"a", "1.5", "va"}},
                                {{"a", S::Installed, "1.0", "1.5", "va"},
                                 {"b", S::Available, "2.0", "", ""},
                                 {"c", S::NotInstalled, "", "", "v"}}},
                      MergeCase{"InstalledDropsRemoteOnlyAndVersionlessRows",
                                TProductFilter::Installed,
                                {{"a", "1.0", true, false}, {"b", "2.0", false, false}, {"n", "", true, false}},
                                {{"c", "3.0", "v"}},
                                {{"a", S::Installed, "1.0", "", ""}, {"b", S::Available, "2.0", "", ""}}},
                      MergeCase{"LocalFlagKeepsTheRemoteVersionNull",
                                TProductFilter::All,
                                {{"l", "1.0", true, true}, {"f", "1.0", true, false}},
                                {{"l", "9.0", "vl"}, {"f", "9.0", "vf"}},
                                {{"l", S::Installed, "1.0", "", "vl"}, {"f", S::Installed, "1.0", "9.0", "vf"}}},
                      MergeCase{"DuplicateRemoteIdsUpdateTheFirstRow",
                                TProductFilter::All,
                                {},
                                {{"d", "1.0", "v1"}, {"d", "2.0", "v2"}},
                                {{"d", S::NotInstalled, "", "", "v2"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orv
