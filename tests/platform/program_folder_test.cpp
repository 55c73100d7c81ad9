#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace orv {
namespace {

constexpr uint kRoot = 0;
constexpr uint kAlice = 1000;
constexpr uint kBob = 1001;

struct Case {
  const char* what;
  ProgramFolderFacts facts;
  bool beside;
};

TEST(ProgramFolder, DataGoesBesideOnlyAnOwnedCopyOutsideTheSystem) {
  const Case cases[] = {
      {"/usr/bin run as root", {QStringLiteral("/usr/bin"), kRoot, kRoot, true}, false},
      {"/usr/local/bin owned by the user", {QStringLiteral("/usr/local/bin"), kAlice, kAlice, true}, false},
      {"/opt tree owned by the user", {QStringLiteral("/opt/orv-dashboard/bin"), kAlice, kAlice, true}, false},
      {"/opt run as root", {QStringLiteral("/opt/orv-dashboard/bin"), kRoot, kRoot, true}, false},
      {"a name that only starts like /usr", {QStringLiteral("/usrland/build"), kAlice, kAlice, true}, true},
      {"the root folder", {QStringLiteral("/"), kRoot, kRoot, true}, false},
      {"build tree of the user", {QStringLiteral("/home/alice/src/build/src/app"), kAlice, kAlice, true}, true},
      {"build tree of root, run as root", {QStringLiteral("/root/build/src/app"), kRoot, kRoot, true}, true},
      {"unpacked copy in the temporary folder",
       {QStringLiteral("/tmp/orv-dashboard/usr/bin"), kAlice, kAlice, true},
       true},
      {"another user's tree, run as root", {QStringLiteral("/home/bob/build"), kBob, kRoot, true}, false},
      {"another user's tree the user may write", {QStringLiteral("/home/bob/build"), kBob, kAlice, true}, false},
      {"own folder without write permission", {QStringLiteral("/home/alice/ro"), kAlice, kAlice, false}, false},
      {"unknown folder", {QString(), kAlice, kAlice, true}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(DataBesideProgram(c.facts), c.beside) << c.what;
}

TEST(ProgramFolder, FactsOfRealFolders) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const ProgramFolderFacts own = ProgramFolderFactsOf(temp.path());
  EXPECT_EQ(own.folder, QFileInfo(temp.path()).canonicalFilePath());
  EXPECT_EQ(own.owner, own.user) << "a folder this process made is its user's";
  EXPECT_TRUE(DataBesideProgram(own));

  EXPECT_FALSE(DataBesideProgram(ProgramFolderFactsOf(QStringLiteral("/usr/bin"))));
  EXPECT_FALSE(DataBesideProgram(ProgramFolderFactsOf(temp.path() + QStringLiteral("/missing"))));
}

TEST(ProgramFolder, RootLeavesAnotherUsersFolderAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const QString folder = temp.path() + QStringLiteral("/build");
  ASSERT_TRUE(QDir().mkdir(folder));
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kNobody, kNobody), 0);
  const ProgramFolderFacts facts = ProgramFolderFactsOf(folder);
  EXPECT_TRUE(facts.writable) << "root may write anywhere";
  EXPECT_EQ(facts.owner, kNobody);
  EXPECT_FALSE(DataBesideProgram(facts));
}

}  // namespace
}  // namespace orv
