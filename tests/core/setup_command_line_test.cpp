#include "core/setup_command_line.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(SetupCommandLine, SilentInstallLine) {
  const auto parameters = SetupParameters(R"(C:\Products\Reg\Widget Pack)", true);
  ASSERT_TRUE(parameters);
  const auto line = ElevatedCommandLine(R"(D:\Dl\Widget Pack\Widget Pack_2.1_REG\)", "setup.exe", *parameters);
  ASSERT_TRUE(line);
  EXPECT_EQ(
      *line,
      R"(/C cd "D:\Dl\Widget Pack\Widget Pack_2.1_REG\" && start /wait setup.exe /DIR="C:\Products\Reg\Widget Pack")"
      " /SILENT /VERYSILENT /NOCHECKBDS /SUPPRESSMSGBOXES /NOCLOSEAPPLICATIONS /NORESTART");
}

TEST(SetupCommandLine, InteractiveLinesEndWithOneSpace) {
  EXPECT_EQ(SetupParameters("C:\\Any", false), QString());
  EXPECT_EQ(ElevatedCommandLine("D:\\x\\", "setup.exe", *SetupParameters("C:\\Any", false)),
            R"(/C cd "D:\x\" && start /wait setup.exe )");
  EXPECT_EQ(ElevatedCommandLine("C:\\P\\", "unins000.exe", UninstallParameters(true)),
            R"(/C cd "C:\P\" && start /wait unins000.exe /SILENT /VERYSILENT /SUPPRESSMSGBOXES /NORESTART)");
  EXPECT_EQ(UninstallParameters(false), QString());
}

TEST(SetupCommandLine, FoldersThatWouldLeaveTheirQuotesAreRefused) {
  EXPECT_FALSE(ElevatedCommandLine(R"(D:\x" & calc & ")", "setup.exe", ""));
  EXPECT_FALSE(SetupParameters(R"(C:\P" /LOG="x)", true));
  EXPECT_FALSE(SetupParameters("C:\\P\\", true));  // \" would escape the closing quote
}

}  // namespace
}  // namespace orv
