#include "pkgmgr/command_line.h"

#include <gtest/gtest.h>

#include <ostream>

namespace orv {
namespace {

struct EnvCase {
  const char* name;
  QStringList env;
  QStringList expected;
};

void PrintTo(const EnvCase& c, std::ostream* os) { *os << c.name; }

// Every variable of the current environment is "<NAME>-value".
QString FakeCurrent(const QString& name) { return name + "-value"; }

class EnvironmentBlockTest : public testing::TestWithParam<EnvCase> {};

TEST_P(EnvironmentBlockTest, BuildsSortedBlock) {
  EXPECT_EQ(TCommandLine::GetEnvironment(GetParam().env, FakeCurrent), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvironmentBlockTest,
    testing::Values(
        EnvCase{"OnlyPathextIsDropped",
                {"PATHEXT=.COM;.EXE"},
                {"ALLUSERSPROFILE=ALLUSERSPROFILE-value", "APPDATA=APPDATA-value", "SYSTEMDRIVE=SYSTEMDRIVE-value",
                 "SYSTEMROOT=SYSTEMROOT-value", "TEMP=TEMP-value", "TMP=TMP-value"}},
        EnvCase{"MixedCasePathKeepsPathext",
                {"PATHEXT=.EXE", "Path=C:\\bin", "zeta=1", "Alpha=2"},
                {"ALLUSERSPROFILE=ALLUSERSPROFILE-value", "Alpha=2", "APPDATA=APPDATA-value", "Path=C:\\bin",
                 "PATHEXT=.EXE", "SYSTEMDRIVE=SYSTEMDRIVE-value", "SYSTEMROOT=SYSTEMROOT-value", "TEMP=TEMP-value",
                 "TMP=TMP-value", "zeta=1"}},
        EnvCase{"GivenWindowsVariablesAreNotAdded",
                {" temp = C:\\t", "appdata=x", "ALLUSERSPROFILE=a", "SystemRoot=r", "SYSTEMDRIVE=d", "TMP=m", "PATH=p"},
                {"ALLUSERSPROFILE=a", "appdata=x", "PATH=p", "SYSTEMDRIVE=d", "SystemRoot=r", "temp = C:\\t", "TMP=m"}},
        EnvCase{"TrimsAndSkipsEmptyEntries",
                {"  \t", "\x01 X=1 \r\n", "PATH=p"},
                {"ALLUSERSPROFILE=ALLUSERSPROFILE-value", "APPDATA=APPDATA-value", "PATH=p",
                 "SYSTEMDRIVE=SYSTEMDRIVE-value", "SYSTEMROOT=SYSTEMROOT-value", "TEMP=TEMP-value", "TMP=TMP-value",
                 "X=1"}},
        // "=C:=C:\dir" names nothing (its "=" stands at position 0).
        EnvCase{"LeadingEqualsNamesNothing",
                {"=TEMP=x", "PATH=p", "TEMPORARY=y"},
                {"=TEMP=x", "ALLUSERSPROFILE=ALLUSERSPROFILE-value", "APPDATA=APPDATA-value", "PATH=p",
                 "SYSTEMDRIVE=SYSTEMDRIVE-value", "SYSTEMROOT=SYSTEMROOT-value", "TEMP=TEMP-value", "TEMPORARY=y",
                 "TMP=TMP-value"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orv
