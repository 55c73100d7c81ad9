#include "pkgmgr/orv_runners.h"

#include "child_scripts.h"
#include "platform/command_line_split.h"
#include "support/error_of.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <ostream>
#include <thread>

namespace orv {
namespace {

using testing_support::ChildScripts;

// Points a runner at a script standing in for the package manager.
template <class Runner>
Runner& Prepared(Runner& runner, const QString& exe, const QString& repository = {}) {
  runner.SetExeFileName(exe);
  runner.SetRepository(repository);
  return runner;
}

struct ArgsCase {
  const char* name;
  QString repository;
  std::function<void(const QString& exe, const QString& repository)> run;
  QString expected;
};

void PrintTo(const ArgsCase& c, std::ostream* os) { *os << c.name; }

class RunnerArgumentsTest : public testing::TestWithParam<ArgsCase> {
protected:
  ChildScripts scripts_;
};

// The stand-in writes the arguments it received to a file and fails, so
// the failure message shows the exact argument string and the file shows
// what reached the child.
TEST_P(RunnerArgumentsTest, BuildsTheArgumentString) {
  const QString received = scripts_.Path("args.txt");
  const QString exe = scripts_.Write(
      "orv.exe", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + received.toUtf8() + "'; exit 1");
  EXPECT_EQ(test::errorOf([&] { GetParam().run(exe, GetParam().repository); }),
            test::Error(QStringLiteral("EOrvRunner"), "Running failed: " + GetParam().expected));
  QFile file(received);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts),
            SplitCommandLine("orv.exe " + GetParam().expected).mid(1));
}

const QString kRepo = QStringLiteral("main");
const QString kDelphiVersions = QStringLiteral("configuration for all products:delphi versions");

template <class Runner>
std::function<void(const QString&, const QString&)> With(std::function<void(Runner&)> run) {
  return [run](const QString& exe, const QString& repository) {
    Runner runner;
    run(Prepared(runner, exe, repository));
  };
}

template <class Runner>
std::function<void(const QString&, const QString&)> WithIds(QStringList ids, std::function<void(Runner&)> run) {
  return With<Runner>([ids, run](Runner& runner) {
    runner.ProductIds() = ids;
    run(runner);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunnerArgumentsTest,
    testing::Values(
        ArgsCase{"List", kRepo, With<TOrvListRunner>([](auto& r) { r.RunList(); }), "list -detailed -json"},
        ArgsCase{"ListRemote", {}, With<TOrvListRemoteRunner>([](auto& r) { r.RunListRemote(); }), "list-remote -json"},
        ArgsCase{"ListRemoteRepo", kRepo, With<TOrvListRemoteRunner>([](auto& r) { r.RunListRemote(); }),
                 "list-remote -json -repo:main"},
        ArgsCase{"InfoRepo", kRepo, With<TOrvInfoRunner>([](auto& r) { r.RunInfo(); }), "info -json -repo:main"},
        ArgsCase{"CredentialsPrint", kRepo, With<TOrvCredentialsRunner>([](auto& r) {
                   QString email = "old", code = "old";
                   r.RunGetCredentials(email, code);
                 }),
                 "credentials -print -json -repo:main"},
        ArgsCase{"CredentialsSet",
                 {},
                 With<TOrvCredentialsRunner>([](auto& r) {
                   r.RunSetCredentials(QStringLiteral("a b@c.d"), QStringLiteral("x\"y\\"));
                 }),
                 R"(credentials -set -email:"a b@c.d" -code:"x""y\\")"},
        ArgsCase{"BuildFullNoIds",
                 {},
                 WithIds<TOrvBuildRunner>({},
                                          [](auto& r) {
                                            r.SetFullBuild(true);
                                            r.RunBuild();
                                          }),
                 "build -full -display-options:product-progress"},
        ArgsCase{"BuildIdsRepo", kRepo, WithIds<TOrvBuildRunner>({"a", "b"}, [](auto& r) { r.RunBuild(); }),
                 "build a b -display-options:product-progress -repo:main"},
        ArgsCase{"Install",
                 {},
                 WithIds<TOrvInstallRunner>({"a", "b"}, [](auto& r) { r.RunInstall(); }),
                 "install a b -display-options:product-progress"},
        ArgsCase{"InstallNoIdsRepo", kRepo, WithIds<TOrvInstallRunner>({}, [](auto& r) { r.RunInstall(); }),
                 "install  -display-options:product-progress -repo:main"},
        // An identifier cannot add arguments of its own.
        ArgsCase{"InstallIdWithBlanksAndQuotes",
                 {},
                 WithIds<TOrvInstallRunner>({"x -full", "a\"b", "c"}, [](auto& r) { r.RunInstall(); }),
                 R"(install "x -full" "a""b" c -display-options:product-progress)"},
        ArgsCase{"UninstallIgnoresRepo", kRepo,
                 WithIds<TOrvUninstallRunner>({"a", "b"}, [](auto& r) { r.RunUninstall(); }), "uninstall a b"},
        ArgsCase{"SelfUpdateRepo", kRepo, With<TOrvSelfUpdateRunner>([](auto& r) { r.RunSelfUpdate(); }),
                 "self-update -repo:main"},
        ArgsCase{"ConfigureIgnoresRepo", kRepo, With<TOrvConfigureRunner>([](auto& r) { r.RunConfigure(); }), "config"},
        ArgsCase{"ConfigRead", kRepo, With<TOrvConfigReadRunner>([](auto& r) { r.RunConfigRead(kDelphiVersions); }),
                 R"(config-read "configuration for all products:delphi versions")"},
        ArgsCase{"ConfigReadQuote",
                 {},
                 With<TOrvConfigReadRunner>([](auto& r) { r.RunConfigRead("a\"b"); }),
                 R"(config-read "a""b")"},
        ArgsCase{"ConfigWrite", kRepo, With<TOrvConfigWriteRunner>([](auto& r) {
                   r.RunConfigWrite(kDelphiVersions, QStringLiteral("[delphi11,delphi12]"));
                 }),
                 R"(config-write -p:"configuration for all products:delphi versions=[delphi11,delphi12]")"}),
    [](const auto& info) { return std::string(info.param.name); });

// Runners whose output is parsed, fed from a script that prints a text.
class RunnerOutputTest : public testing::Test {
protected:
  QString Printing(const QByteArray& output, int exitCode = 0) {
    scripts_.WriteFile("output.txt", output);
    return scripts_.Write("orv.exe",
                          "cat '" + scripts_.Path("output.txt").toUtf8() + "'; exit " + QByteArray::number(exitCode));
  }
  ChildScripts scripts_;
};

enum class Parser { List, ListRemote, Info, Credentials };

struct ParseErrorCase {
  const char* name;
  Parser parser;
  QByteArray output;
  QString message;
  QString className;
};

void PrintTo(const ParseErrorCase& c, std::ostream* os) { *os << c.name; }

class RunnerParseErrorTest : public RunnerOutputTest, public testing::WithParamInterface<ParseErrorCase> {};

TEST_P(RunnerParseErrorTest, RaisesItsMessage) {
  const QString exe = Printing(GetParam().output);
  const test::Error error = test::errorOf([&] {
    switch (GetParam().parser) {
      case Parser::List: {
        TOrvListRunner runner;
        Prepared(runner, exe).RunList();
        break;
      }
      case Parser::ListRemote: {
        TOrvListRemoteRunner runner;
        Prepared(runner, exe).RunListRemote();
        break;
      }
      case Parser::Info: {
        TOrvInfoRunner runner;
        Prepared(runner, exe).RunInfo();
        break;
      }
      case Parser::Credentials: {
        TOrvCredentialsRunner runner;
        QString email, code;
        Prepared(runner, exe).RunGetCredentials(email, code);
        break;
      }
    }
  });
  EXPECT_EQ(error, test::Error(GetParam().className, GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunnerParseErrorTest,
    testing::Values(
        ParseErrorCase{"ListArray", Parser::List, "[]", "Could not parse list result as JSON object", "EOrvRunner"},
        ParseErrorCase{"ListNotJson", Parser::List, "Error: no folder", "Could not parse list result as JSON object",
                       "EOrvRunner"},
        ParseErrorCase{"ListEmpty", Parser::List, "", "Could not parse list result as JSON object", "EOrvRunner"},
        ParseErrorCase{"ListProductString", Parser::List, R"({"p": "x"})",
                       "Could not parse product \"p\" as JSON object from list command", "EOrvRunner"},
        ParseErrorCase{"ListNoName", Parser::List, R"({"p": {"version": "1.0"}})", "Value 'name' not found",
                       "EJSONException"},
        ParseErrorCase{"ListNullName", Parser::List, R"({"p": {"name": null}})", "Value 'name' not found",
                       "EJSONException"},
        ParseErrorCase{"ListNameObject", Parser::List, R"({"p": {"name": {}}})",
                       "Conversion from object to string is not supported", "EJSONException"},
        ParseErrorCase{"ListLocalString", Parser::List, R"({"p": {"name": "P", "local": "yes"}})",
                       "Conversion from string to Boolean is not supported", "EJSONException"},
        ParseErrorCase{"ListBuiltNumber", Parser::List,
                       R"({"p": {"name": "P", "ides": {"delphi12": {"platforms": {"win32intel": {"built": 1}}}}}})",
                       "Conversion from number to Boolean is not supported", "EJSONException"},
        ParseErrorCase{"ListBadVersion", Parser::List, R"({"p": {"name": "P", "version": "1.x"}})",
                       "'1.x' is not a valid version number", "EConvertError"},
        ParseErrorCase{"ListRemoteArray", Parser::ListRemote, "[1]", "Could not parse list result as JSON object",
                       "EOrvRunner"},
        ParseErrorCase{"ListRemoteProductArray", Parser::ListRemote, R"({"a": {"name": "A"}, "b": []})",
                       "Could not parse product \"b\" as JSON object from list command", "EOrvRunner"},
        ParseErrorCase{"ListRemoteVendorArray", Parser::ListRemote, R"({"a": {"name": "A", "vendor_id": []}})",
                       "Conversion from array to string is not supported", "EJSONException"},
        ParseErrorCase{"InfoArray", Parser::Info, "[]", "Could not parse info result as JSON object", "EOrvRunner"},
        ParseErrorCase{"InfoBadVersion", Parser::Info, R"({"orv version": "1.2.3.4.5"})",
                       "'1.2.3.4.5' is not a valid version number", "EConvertError"},
        ParseErrorCase{"CredentialsString", Parser::Credentials, R"("x")", "Could not parse info result as JSON object",
                       "EOrvRunner"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunnerOutputTest, ListReadsProductsInDocumentOrderUpToABrokenOne) {
  TOrvListRunner runner;
  Prepared(runner, Printing(R"({
    "zeta": {"name": "Zeta", "version": "3.1", "channel": "stable", "local": true,
             "ides": {"delphi12": {"platforms": {"win64xintel": {"built": true, "registered": false},
                                                 "Win64xintel": {"registered": true},
                                                 "linux64": null}},
                      "delphi13": {}}},
    "alpha": {"name": "Alpha", "version": null, "channel": null, "ides": {"nothing": 1}},
    "beta": {"name": "Beta", "ides": []},
    "gamma": "broken"
  })"));
  EXPECT_THROW(runner.RunList(), EOrvRunner);
  TProductInfoList& products = runner.Products();
  ASSERT_EQ(products.size(), 4u);

  const TProductInfo& zeta = products[0];
  EXPECT_EQ(zeta.Id(), "zeta");
  EXPECT_EQ(zeta.Name(), "Zeta");
  EXPECT_EQ(zeta.Version(), TVersion::Make(3, 1, 0, 0));
  EXPECT_EQ(zeta.Channel(), "stable");
  EXPECT_TRUE(zeta.Local());
  ASSERT_EQ(zeta.IDEInfoMap().size(), 2u);  // delphi12 and the unknown delphi13
  EXPECT_TRUE(zeta.IDEInfoMap().count(UnknownIDEName));
  const auto& platforms = zeta.IDEInfoMap().at(TIDEName::delphi12)->PlatformInfoMap();
  ASSERT_EQ(platforms.size(), 3u);
  EXPECT_TRUE(platforms.at(TPlatform::win64Xintel)->IsBuilt());
  EXPECT_FALSE(platforms.at(TPlatform::win64Xintel)->IsRegistered());
  EXPECT_TRUE(platforms.at(UnknownPlatform)->IsRegistered());  // the capital X is not known
  EXPECT_FALSE(platforms.at(TPlatform::linux64)->IsBuilt());

  const TProductInfo& alpha = products[1];
  EXPECT_EQ(alpha.Name(), "Alpha");
  EXPECT_TRUE(alpha.Version().IsNull());
  EXPECT_TRUE(alpha.Channel().isEmpty());
  EXPECT_FALSE(alpha.Local());
  EXPECT_TRUE(alpha.HasIDEInfo());  // unknown IDE keys still count

  EXPECT_FALSE(products[2].HasIDEInfo());
  EXPECT_EQ(products[3].Id(), "gamma");
  EXPECT_TRUE(products[3].Name().isEmpty());
}

TEST_F(RunnerOutputTest, ListRemoteReadsNameVersionAndVendor) {
  TOrvListRemoteRunner runner;
  Prepared(runner, Printing(R"({"b": {"name": "B", "version": "2.0.4", "vendor_id": "orv", "local": "ignored"},
                                "a": {"name": "A"}})"))
      .RunListRemote();
  ASSERT_EQ(runner.Products().size(), 2u);
  EXPECT_EQ(runner.Products()[0].Id(), "b");
  EXPECT_EQ(runner.Products()[0].Version(), TVersion::Make(2, 0, 4, 0));
  EXPECT_EQ(runner.Products()[0].VendorId(), "orv");
  EXPECT_EQ(runner.Products()[1].Name(), "A");
  EXPECT_TRUE(runner.Products()[1].VendorId().isEmpty());
}

TEST_F(RunnerOutputTest, InfoFillsItsOwnRecordOrTheGivenOne) {
  const QString exe = Printing(
      "There is a new version of ORV Kitwright available\r\nline 2\r\nline 3\r\n"
      R"({"orv version": "2.5", "orv location": "/opt/orv", "working folder": "/w",
          "folder initialized": true, "has credentials": false, "config file": "/w/orv.json"})");
  TOrvInfoRunner runner;
  Prepared(runner, exe).RunInfo();
  EXPECT_EQ(runner.Info().Version(), TVersion::Make(2, 5, 0, 0));
  EXPECT_EQ(runner.Info().Location(), "/opt/orv");
  EXPECT_EQ(runner.Info().WorkingFolder(), "/w");
  EXPECT_TRUE(runner.Info().FolderInitialized());
  EXPECT_FALSE(runner.Info().HasCredentials());
  EXPECT_EQ(runner.Info().ConfigFile(), "/w/orv.json");
  EXPECT_TRUE(runner.NewVersionDetected());

  TOrvInfoRunner other;
  TOrvInfo info;
  Prepared(other, exe).RunInfo(info);
  EXPECT_EQ(info.Location(), "/opt/orv");
  EXPECT_TRUE(other.Info().Location().isEmpty());
}

TEST_F(RunnerOutputTest, CredentialsAreReadWithDefaults) {
  TOrvCredentialsRunner runner;
  QString email = "old", code = "old";
  Prepared(runner, Printing(R"({"email": "me@example.com"})")).RunGetCredentials(email, code);
  EXPECT_EQ(email, "me@example.com");
  EXPECT_TRUE(code.isEmpty());
}

TEST_F(RunnerOutputTest, ConfigReadReturnsTheOutputText) {
  TOrvConfigReadRunner runner;
  EXPECT_EQ(Prepared(runner, Printing("[delphi11,delphi12]\n")).RunConfigRead(QStringLiteral("p")),
            "[delphi11,delphi12]\r\n");
  EXPECT_EQ(runner.Value(), "[delphi11,delphi12]\r\n");
}

TEST_F(RunnerOutputTest, SelfUpdateLooksForThePhrase) {
  TOrvSelfUpdateRunner updated;
  EXPECT_TRUE(Prepared(updated, Printing("ORV Kitwright has been updated from version 2.4 to 2.5\n")).RunSelfUpdate());
  TOrvSelfUpdateRunner current;
  EXPECT_FALSE(Prepared(current, Printing("ORV Kitwright is up to date\n")).RunSelfUpdate());
}

// Cancel from another thread while the stand-in installs: the run ends
// without an error, with the lines that had arrived.
TEST(StandInCancelTest, CanceledInstallEndsNormally) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TOrvCredentialsRunner credentials;
  credentials.SetExeFileName(QStringLiteral(ORV_STANDIN_EXE));
  credentials.SetWorkingDir(dir.path());
  credentials.RunSetCredentials(QStringLiteral("dev@example.com"), QStringLiteral("code"));

  // Far more output than the pipe holds: while the first progress call
  // waits for the other thread's Cancel, the full pipe stops the stand-in,
  // so it cannot reach its summary however slowly that thread runs.
  qputenv("ORV_STANDIN_HUGE_OUTPUT_MIB", "8");
  TOrvInstallRunner install;
  install.SetExeFileName(QStringLiteral(ORV_STANDIN_EXE));
  install.SetWorkingDir(dir.path());
  install.ProductIds() = {QStringLiteral("orv.samplepack")};
  std::atomic<int> progressCalls{0};
  std::promise<void> progressed;
  std::promise<void> canceled;
  install.SetOnProgress([&](const TProgressInfo&) {
    if (progressCalls++ > 0) return;
    progressed.set_value();
    canceled.get_future().wait();
  });
  std::thread canceller([&] {
    progressed.get_future().wait();
    install.Cancel();
    canceled.set_value();
  });
  EXPECT_NO_THROW(install.RunInstall());
  if (progressCalls == 0) progressed.set_value();  // a failed run must not leave the canceller waiting
  canceller.join();
  qunsetenv("ORV_STANDIN_HUGE_OUTPUT_MIB");
  EXPECT_TRUE(install.IsCanceled());
  EXPECT_EQ(install.LastExitCode(), 0);
  EXPECT_GE(progressCalls, 1);
  EXPECT_TRUE(install.Summary().isEmpty());
}

}  // namespace
}  // namespace orv
