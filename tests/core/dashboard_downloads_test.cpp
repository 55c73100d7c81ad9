// Download tracking: the page announces a download, the engine starts it,
// and the controller names the file, follows it and tells the page.
#include "dashboard_fixture.h"
#include "lib/text_escape.h"
#include "support/fake_downloads.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace orv {
namespace {

using test::Message;

// Sets the default locale for one test.
class LocaleScope {
public:
  explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
  ~LocaleScope() { QLocale::setDefault(saved_); }

private:
  QLocale saved_;
};

struct EngineDownload {
  std::shared_ptr<FakeDownloadOperation> operation;
  std::shared_ptr<FakeDownloadStarting> args;
};

class DashboardDownloadsTest : public test::DashboardFixture {
protected:
  QString DownloadDir() const { return Dir(QStringLiteral("dl")) + QLatin1Char('/'); }

  // The page's announcement, as the page sends it before the transfer.
  void Announce(const QString& action) {
    Send(Message(QStringLiteral("{\"EventName\":\"DOWNLOAD\"}"), action));
    PageCalls();
  }

  // The engine starts a download it would save as proposedName in its own
  // folder.
  EngineDownload Start(const QString& proposedName = QStringLiteral("Widget Pack_2.1.zip"), qint64 total = -1) {
    auto operation = std::make_shared<FakeDownloadOperation>();
    operation->totalBytes = total;
    auto args = std::make_shared<FakeDownloadStarting>(operation, Dir(QStringLiteral("engine/")) + proposedName);
    dashboard_->WebBrowser().DoDownloadStarting(args);
    return {operation, args};
  }

  static QString Logged(const QString& text) { return LogScript(JsStringLiteral(text)); }
};

TEST(FormatByteSize, WholeUnitsWithZeroDecimalsInTheUsersLocale) {
  struct Case {
    std::int64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {-5, ""},
      {-1, ""},
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1.00 KB"},
      {1536, "1.00 KB"},
      {1048575, "1023.00 KB"},
      {1048576, "1.00 MB"},
      {3221225472, "3.00 GB"},
      {std::int64_t(1) << 40, "1.00 TB"},
      // Past the last unit the count grows in TB.
      {std::int64_t(1) << 50, "1024.00 TB"},
      {std::numeric_limits<std::int64_t>::max(), "8388607.00 TB"},
  };
  const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
  for (const Case& c : cases)
    EXPECT_EQ(TORVDashboardDownloadTracker::FormatByteSize(c.bytes), QLatin1String(c.text)) << c.bytes;

  const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(TORVDashboardDownloadTracker::FormatByteSize(1536), QStringLiteral("1,00 KB"));
  EXPECT_EQ(TORVDashboardDownloadTracker::FormatByteSize(1048575), QStringLiteral("1023,00 KB"))
      << "no group separator";
}

// Where a download goes and whether the page takes it over, by what the
// page announced before it.
TEST_F(DashboardDownloadsTest, TheAnnouncementNamesTheFileBelowTheDownloadFolder) {
  struct Case {
    QString action;  // null: nothing announced
    QString proposed;
    QString target;  // relative to the download folder; null: the engine's own location (empty path)
    bool handled;
    QString refusal;  // the log line's reason when the product's names are refused
  };
  const QString kept = QStringLiteral("Widget Pack/Widget Pack_2.1_REG.zip");
  const QString unannounced = QStringLiteral("Widget Pack_2.1.zip");
  const auto action = [](const QString& members) -> QString {
    return QStringLiteral("{\"EventName\":\"DOWNLOAD\",") + members + QLatin1Char('}');
  };
  const QString path = QStringLiteral("it contains a path separator");
  const Case cases[] = {
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"2.1\",\"Registered\":true")),
       unannounced,
       kept,
       true,
       {}},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"2.1\",\"Registered\":false")),
       unannounced,
       QStringLiteral("Widget Pack/Widget Pack_2.1_TRIAL.zip"),
       true,
       {}},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"2.1\"")), unannounced, kept, true, {}},
      {QStringLiteral("{\"EventName\":\"download-update\",\"Name\":\"Widget Pack\",\"Version\":\"2.1\"}"),
       unannounced,
       kept,
       true,
       {}},
      {action(QStringLiteral("\"Name\":\"Ä b\",\"Version\":\"2.1\"")),
       QStringLiteral("x.tar.gz"),
       QStringLiteral("Ä b/Ä b_2.1_REG.gz"),
       true,
       {}},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"2.1\"")),
       QStringLiteral("archive"),
       QStringLiteral("Widget Pack/Widget Pack_2.1_REG"),
       true,
       {}},
      // A version written as a number keeps its spelling.
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":2.10")),
       unannounced,
       QStringLiteral("Widget Pack/Widget Pack_2.10_REG.zip"),
       true,
       {}},
      // A colon elsewhere than after a leading letter names no drive.
      {action(QStringLiteral("\"Name\":\"1:W\",\"Version\":\"2.1:b\"")),
       unannounced,
       QStringLiteral("1:W/1:W_2.1:b_REG.zip"),
       true,
       {}},
      {action(QStringLiteral("\"Name\":\"Widget Pack\"")), unannounced, {}, false, {}},
      {action(QStringLiteral("\"Version\":\"2.1\"")), unannounced, {}, false, {}},
      {QStringLiteral("{\"EventName\":\"INSTALL\",\"Name\":\"Widget Pack\",\"Version\":\"2.1\"}"),
       unannounced,
       {},
       false,
       {}},
      {QStringLiteral("not json"), unannounced, {}, false, {}},
      {QStringLiteral("[1]"), unannounced, {}, false, {}},
      {{}, unannounced, unannounced, false, {}},
      // Names that would leave the download folder: the engine's own name
      // in the download folder instead.
      {action(QStringLiteral("\"Name\":\"..\",\"Version\":\"2.1\"")), unannounced, unannounced, false,
       QStringLiteral("it names a folder instead of a file")},
      {action(QStringLiteral("\"Name\":\".\",\"Version\":\"2.1\"")), unannounced, unannounced, false,
       QStringLiteral("it names a folder instead of a file")},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"..\"")), unannounced, unannounced, false,
       QStringLiteral("it names a folder instead of a file")},
      {action(QStringLiteral("\"Name\":\"../../etc\",\"Version\":\"2.1\"")), unannounced, unannounced, false, path},
      {action(QStringLiteral("\"Name\":\"/tmp/x\",\"Version\":\"2.1\"")), unannounced, unannounced, false, path},
      {action(QStringLiteral("\"Name\":\"a\\\\b\",\"Version\":\"2.1\"")), unannounced, unannounced, false, path},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"2.1/../../x\"")), unannounced, unannounced, false,
       path},
      {action(QStringLiteral("\"Name\":\"C:evil\",\"Version\":\"2.1\"")), unannounced, unannounced, false,
       QStringLiteral("it starts with a drive")},
      {action(QStringLiteral("\"Name\":\"Widget Pack\",\"Version\":\"z:\"")), unannounced, unannounced, false,
       QStringLiteral("it starts with a drive")},
      {action(QStringLiteral("\"Name\":\"a\\u0000b\",\"Version\":\"2.1\"")), unannounced, unannounced, false,
       QStringLiteral("it contains a NUL character")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action.toStdString());
    StartDashboard();
    if (!c.action.isNull()) Announce(c.action);
    const EngineDownload download = Start(c.proposed);
    const QString expected = c.target.isNull() ? QString() : DownloadDir() + c.target;
    EXPECT_EQ(download.args->resultFilePath, expected) << c.action.toStdString();
    EXPECT_EQ(download.args->handled, c.handled) << c.action.toStdString();
    EXPECT_TRUE(dashboard_->Downloads().ProductAction().isEmpty()) << "the announcement is used up";
    ASSERT_EQ(dashboard_->Downloads().ActiveDownloads().Count(), 1u) << "every download is tracked";
    // A refused announcement is forgotten, as if there had been none.
    const bool unannouncedTreatment = c.action.isNull() || !c.refusal.isEmpty();
    EXPECT_EQ(dashboard_->Downloads().ActiveDownloads()[0].Action(), unannouncedTreatment ? QString() : c.action);
    const QStringList logged =
        c.refusal.isEmpty()
            ? QStringList()
            : QStringList{Logged(QStringLiteral("The download is not named after the product: its name or version "
                                                "is refused, as ") +
                                 c.refusal + QLatin1Char('.'))};
    EXPECT_EQ(PageCalls(), logged) << c.action.toStdString();
  }
}

// A download not named after a product never replaces a file the user has
// in the download folder.
TEST_F(DashboardDownloadsTest, ADownloadWithoutAProductNameTakesAFreeName) {
  WriteFile(DownloadDir() + QStringLiteral("Widget Pack_2.1.zip"), "mine");
  WriteFile(DownloadDir() + QStringLiteral("Widget Pack_2.1 (1).zip"), "mine too");
  WriteFile(DownloadDir() + QStringLiteral("notes"), "no extension");
  const struct {
    QString action;  // null: nothing announced
    QString proposed;
    QString target;
  } cases[] = {
      {{}, QStringLiteral("Widget Pack_2.1.zip"), QStringLiteral("Widget Pack_2.1 (2).zip")},
      {QStringLiteral("{\"EventName\":\"DOWNLOAD\",\"Name\":\"..\",\"Version\":\"2.1\"}"),
       QStringLiteral("Widget Pack_2.1.zip"), QStringLiteral("Widget Pack_2.1 (2).zip")},
      {{}, QStringLiteral("notes"), QStringLiteral("notes (1)")},
      {{}, QStringLiteral("new.zip"), QStringLiteral("new.zip")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proposed.toStdString());
    StartDashboard();
    if (!c.action.isNull()) Announce(c.action);
    EXPECT_EQ(Start(c.proposed).args->resultFilePath, DownloadDir() + c.target);
  }
  EXPECT_EQ(ReadFile(DownloadDir() + QStringLiteral("Widget Pack_2.1.zip")), "mine");
}

TEST_F(DashboardDownloadsTest, AnAnnouncedDownloadReportsItsProgressAndHandsThePageItsActionBack) {
  const QString action = QStringLiteral(
      "{\"EventName\":\"DOWNLOAD\",\"Name\":\"Grüße\",\"Version\":\"2.1\",\"TotalBytes\":5000,\"Note\":\"a\\nb\"}");
  Announce(action);
  const EngineDownload download = Start(QStringLiteral("g.zip"), 4000);
  download.operation->Enter(DownloadState::InProgress);
  EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QStringLiteral("Download"));
  download.operation->Receive(1536, 4000);

  // The page's size wins over the engine's, and the counts come after the
  // page's own members even where it has one of that name.
  EXPECT_EQ(PageCalls(),
            (QStringList{Logged(QStringLiteral("Grüße_2.1_REG.zip in progress !")), LogScript(QStringLiteral("''")),
                         Logged(QStringLiteral("Grüße_2.1_REG.zip [1.00 KB / 4.00 KB]")),
                         QStringLiteral("DownloadProgress({\"EventName\":\"DOWNLOAD\",\"Name\":\"Gr\\u00fc\\u00dfe\","
                                        "\"Version\":\"2.1\",\"TotalBytes\":5000,\"Note\":\"a\\nb\","
                                        "\"BytesReceived\":1536,\"TotalBytes\":5000});")}));

  download.operation->Enter(DownloadState::Completed);
  EXPECT_EQ(PageCalls(), (QStringList{Logged(QStringLiteral("Grüße_2.1_REG.zip completed !")),
                                      QStringLiteral("DownloadFinished(") + action + QStringLiteral(");")}));
  EXPECT_TRUE(dashboard_->Downloads().ActiveDownloads().IsEmpty());
  EXPECT_FALSE(dashboard_->Statuses().Has(sDownloading));
  EXPECT_FALSE(download.operation->Listened()) << "the record's handlers went with it";
  EXPECT_TRUE(shell_.opened.isEmpty());
}

// Only a number in range is a size; the page's object goes back with its
// own types.
TEST_F(DashboardDownloadsTest, ASizeTheEngineKnowsStaysUnlessThePageGivesANumber) {
  struct Case {
    const char* total;  // the page's member, as written
    qint64 expected;
  };
  const Case cases[] = {
      {"\"5000\"", 4096}, {"true", 4096},   {"null", 4096}, {"1e30", 4096}, {"18446744073709551615", 4096},
      {"5000", 5000},     {"5000.9", 5000}, {"-7", -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.total);
    StartDashboard();
    Announce(QStringLiteral("{\"EventName\":\"DOWNLOAD\",\"Name\":\"W\",\"Version\":\"1.0\",\"TotalBytes\":%1}")
                 .arg(QLatin1String(c.total)));
    Start(QStringLiteral("w.zip"), 4096);
    EXPECT_EQ(static_cast<qint64>(dashboard_->Downloads().ActiveDownloads()[0].TotalBytes()), c.expected);
  }

  StartDashboard();
  Announce(
      QStringLiteral("{\"EventName\":\"DOWNLOAD\",\"Name\":\"W\",\"Version\":\"1.0\",\"TotalBytes\":\"5000\","
                     "\"Ratio\":1.50,\"List\":[1,\"2\"]}"));
  const EngineDownload download = Start(QStringLiteral("w.zip"), 4096);
  download.operation->Receive(10);
  EXPECT_EQ(PageCalls(),
            (QStringList{Logged(QStringLiteral("W_1.0_REG.zip [10 Bytes / 4.00 KB]")),
                         QStringLiteral("DownloadProgress({\"EventName\":\"DOWNLOAD\",\"Name\":\"W\","
                                        "\"Version\":\"1.0\",\"TotalBytes\":\"5000\",\"Ratio\":1.5,"
                                        "\"List\":[1,\"2\"],\"BytesReceived\":10,\"TotalBytes\":4096});")}));
}

TEST_F(DashboardDownloadsTest, AnUnannouncedDownloadTakesTheSizeTheEngineLearnsAndOpensTheFolderAtTheEnd) {
  const EngineDownload download = Start(QStringLiteral("notes.zip"));
  // No size known yet: an empty text and -1.
  download.operation->Receive(10);
  // The engine learns the size with later bytes.
  download.operation->Receive(20, 3 * 1024 * 1024);
  EXPECT_EQ(PageCalls(),
            (QStringList{Logged(QStringLiteral("notes.zip [10 Bytes / ]")),
                         QStringLiteral("DownloadProgress({\"Name\": \"notes.zip\", \"BytesReceived\": \"10\", "
                                        "\"TotalBytes\": -1});"),
                         Logged(QStringLiteral("notes.zip [20 Bytes / 3.00 MB]")),
                         QStringLiteral("DownloadProgress({\"Name\": \"notes.zip\", \"BytesReceived\": \"20\", "
                                        "\"TotalBytes\": 3145728});")}));

  download.operation->Enter(DownloadState::Completed);
  EXPECT_EQ(PageCalls(), (QStringList{Logged(QStringLiteral("notes.zip completed !")),
                                      QStringLiteral("DownloadFinished({\"Name\": \"notes.zip\", \"BytesReceived\": "
                                                     "\"20\", \"TotalBytes\": 3145728});")}));
  EXPECT_EQ(shell_.opened, QStringList{DownloadDir()});
}

TEST_F(DashboardDownloadsTest, AnInterruptedDownloadFailsWithTheActionOrWithNothing) {
  const QString action = QStringLiteral("{\"EventName\":\"DOWNLOAD\",\"Name\":\"W\",\"Version\":\"1.0\"}");
  Announce(action);
  const EngineDownload announced = Start();
  const EngineDownload unannounced = Start(QStringLiteral("other.zip"));
  announced.operation->Enter(DownloadState::InProgress);
  unannounced.operation->Enter(DownloadState::InProgress);
  PageCalls();

  announced.operation->Enter(DownloadState::Interrupted);
  EXPECT_EQ(PageCalls(), (QStringList{Logged(QStringLiteral("W_1.0_REG.zip interrupted !")),
                                      QStringLiteral("DownloadFailed(") + action + QStringLiteral(");")}));
  // The status clears with the first download that ends.
  EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QString());
  EXPECT_EQ(dashboard_->Downloads().ActiveDownloads().Count(), 1u);

  unannounced.operation->Enter(DownloadState::Interrupted);
  EXPECT_EQ(PageCalls(),
            (QStringList{LogScript(QStringLiteral("''")), Logged(QStringLiteral("other.zip interrupted !")),
                         QStringLiteral("DownloadFailed();")}));
  EXPECT_TRUE(shell_.opened.isEmpty());
}

// The page's text goes back unchanged when it is JSON; anything else
// arrives as one string, so the page call stays a valid script.
TEST_F(DashboardDownloadsTest, AnActionThatIsNoJsonReachesThePageAsAString) {
  Announce(QStringLiteral("x); window.hacked = (1"));
  const EngineDownload download = Start();
  download.operation->Receive(5);
  download.operation->Enter(DownloadState::Completed);
  EXPECT_EQ(PageCalls(), (QStringList{Logged(QStringLiteral(" [5 Bytes / ]")),
                                      QStringLiteral("DownloadProgress({\"Name\": \"\", \"BytesReceived\": \"5\", "
                                                     "\"TotalBytes\": -1});"),
                                      Logged(QStringLiteral(" completed !")),
                                      QStringLiteral("DownloadFinished(\"x); window.hacked = (1\");")}));
}

// Engine events come from the engine's signals: an unreadable settings file
// is told in the page's log, never thrown into the engine.
TEST_F(DashboardDownloadsTest, AnUnreadableSettingsFileIsToldInThePage) {
  WriteFile(hive_.FileName(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"X\"=bad\n");
  EXPECT_NO_THROW(Start());
  const QStringList calls = PageCalls();
  ASSERT_EQ(calls.size(), 1);
  EXPECT_TRUE(calls[0].contains(QStringLiteral("The action failed: Malformed registry file")))
      << calls[0].toStdString();
  EXPECT_TRUE(dashboard_->Downloads().ActiveDownloads().IsEmpty());
}

TEST_F(DashboardDownloadsTest, EveryNewEngineGetsTheHandlerOnce) {
  Start();
  dashboard_->WebBrowser().DeInitialize();
  dashboard_->WebBrowser().Initialize();
  dashboard_->WebBrowser().DoEngineInitialized();
  Start();
  EXPECT_EQ(dashboard_->Downloads().ActiveDownloads().Count(), 2u);
}

// Closing cancels each running download while it is still followed, and
// only then lets go of it.
TEST_F(DashboardDownloadsTest, ClosingCancelsTheDownloadsThenRemovesTheirHandlers) {
  const EngineDownload first = Start();
  const EngineDownload second = Start(QStringLiteral("b.zip"));
  dashboard_.reset();

  for (const EngineDownload& download : {first, second}) {
    EXPECT_EQ(download.args->cancelled, 1);
    EXPECT_TRUE(download.args->listenedWhenCancelled);
    EXPECT_FALSE(download.operation->Listened());
  }
}

TEST_F(DashboardDownloadsTest, AnEngineMayReportTheCancelAtOnce) {
  std::vector<EngineDownload> downloads{Start(), Start(QStringLiteral("b.zip")), Start(QStringLiteral("c.zip"))};
  for (const EngineDownload& download : downloads) download.args->interruptWhenCancelled = true;
  dashboard_.reset();
  for (const EngineDownload& download : downloads) {
    EXPECT_EQ(download.args->cancelled, 1);
    EXPECT_FALSE(download.operation->Listened());
  }
}

}  // namespace
}  // namespace orv
