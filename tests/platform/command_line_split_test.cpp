#include "platform/command_line_split.h"

#include <gtest/gtest.h>

#include <ostream>

namespace orv {
namespace {

struct SplitCase {
  const char* commandLine;
  QStringList expected;
};

// Test names stay short; a failure shows the command line.
void PrintTo(const SplitCase&, std::ostream* os) { *os << "case"; }

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, FollowsWindowsRules) {
  EXPECT_EQ(SplitCommandLine(QString::fromUtf8(GetParam().commandLine)), GetParam().expected) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    testing::Values(
        SplitCase{"", {}}, SplitCase{"   \t ", {}},
        SplitCase{R"("/opt/orv/orv.exe" list -detailed -json)", {"/opt/orv/orv.exe", "list", "-detailed", "-json"}},
        SplitCase{R"("/my dir/orv.exe"  a   b)", {"/my dir/orv.exe", "a", "b"}},
        SplitCase{R"(prog "a b" c)", {"prog", "a b", "c"}}, SplitCase{"prog a\tb", {"prog", "a", "b"}},
        SplitCase{R"(prog "")", {"prog", ""}}, SplitCase{R"(prog "" x)", {"prog", "", "x"}},
        // Doubled quotes inside a quoted part are one literal quote.
        SplitCase{R"(orv.exe config-read "a""b")", {"orv.exe", "config-read", "a\"b"}},
        SplitCase{R"(orv.exe config-write -p:"k=[""x"",y]")", {"orv.exe", "config-write", "-p:k=[\"x\",y]"}},
        SplitCase{R"(orv.exe credentials -set -email:"a b@c" -code:"x""y")",
                  {"orv.exe", "credentials", "-set", "-email:a b@c", "-code:x\"y"}},
        // Backslashes count only before a quote.
        SplitCase{R"(prog a\\b)", {"prog", "a\\\\b"}}, SplitCase{R"(prog a\"b)", {"prog", "a\"b"}},
        SplitCase{R"(prog a\\"b c")", {"prog", "a\\b c"}}, SplitCase{R"(prog a\\\"b)", {"prog", "a\\\"b"}},
        SplitCase{R"(prog "a\\" b)", {"prog", "a\\", "b"}}, SplitCase{R"(prog trailing\)", {"prog", "trailing\\"}},
        // Quotes join parts of one word.
        SplitCase{R"(prog ab"c d"ef)", {"prog", "abc def"}},
        SplitCase{R"(prog "unterminated arg)", {"prog", "unterminated arg"}},
        // The program name knows no escapes.
        SplitCase{R"("C:\dir\" x)", {"C:\\dir\\", "x"}}, SplitCase{R"(/bin/echo)", {"/bin/echo"}}));

TEST(QuoteArgumentTest, SplitGivesBackTheText) {
  const QStringList texts = {"",       "plain",    "two words",     "a\"b",           "\"\"",     "trail\\",
                             "a\\\"b", "a\\\\\"b", "\\\\server\\x", "-p:k=[\"x\",y]", "tab\there"};
  for (const QString& text : texts)
    EXPECT_EQ(SplitCommandLine("prog " + QuoteArgument(text) + " next"), QStringList({"prog", text, "next"}))
        << text.toStdString();
  // Text without backslashes is only wrapped, its quotes doubled.
  EXPECT_EQ(QuoteArgument(QStringLiteral("a\"b")), QStringLiteral("\"a\"\"b\""));
}

}  // namespace
}  // namespace orv
