#include "platform/confined_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace orv {
namespace {

using Resolution = ConfinedFolder::Resolution;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes text through a descriptor CreateFile returned, and closes it.
void WriteAndClose(int descriptor, const QByteArray& text) {
  ASSERT_GE(descriptor, 0) << strerror(-descriptor);
  EXPECT_EQ(write(descriptor, text.constData(), static_cast<size_t>(text.size())), text.size());
  close(descriptor);
}

// Runs every case with the kernel's resolution (where this system has it)
// and with the one for systems without it.
class ConfinedFolderTest : public ::testing::TestWithParam<Resolution> {
protected:
  // Writes go below work/root; work/outside must stay as it is.
  void SetUp() override {
    if (GetParam() == Resolution::Kernel && ConfinedFolder::Available() != Resolution::Kernel)
      GTEST_SKIP() << "the kernel cannot resolve paths beneath a folder here";
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(QDir(temp_.path()).mkpath("work/root"));
    ASSERT_TRUE(QDir(temp_.path()).mkpath("work/outside"));
    ASSERT_TRUE(QFile(Outside("secret.txt")).open(QIODevice::WriteOnly));
  }

  QString Root(const QString& relative = QString()) const {
    return temp_.filePath(QStringLiteral("work/root/") + relative);
  }
  QString Outside(const QString& relative = QString()) const {
    return temp_.filePath(QStringLiteral("work/outside/") + relative);
  }
  QStringList OutsideNames() const {
    return QDir(Outside()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
  }

  // Puts a link at relativeLink below the root, in place of whatever was there.
  void Place(const char* relativeLink, const QString& target) const {
    ASSERT_TRUE(QDir().mkpath(Root("a/b")));
    const QString link = Root(QString::fromUtf8(relativeLink));
    const QFileInfo present(link);
    if (present.isDir() && !present.isSymLink()) QDir(link).removeRecursively();
    ASSERT_TRUE(QFile::link(target, link)) << relativeLink;
  }

  // What can be in the way of the file a/b/f.txt, found there from the start
  // or put there after a first file made and remembered the folder a/b.
  void CheckObstacles(bool remembered) {
    struct Obstacle {
      const char* what;
      std::function<void()> place;
      int fileError;    // of CreateFile, 0 when the file is written
      int folderError;  // of MakeFolder for a/b afterwards
    };
    const Obstacle obstacles[] = {
        {"the first folder is a link", [&] { Place("a", Outside()); }, ELOOP, ELOOP},
        {"the inner folder is a link", [&] { Place("a/b", Outside()); }, ELOOP, ELOOP},
        {"the file is a link", [&] { Place("a/b/f.txt", Outside("secret.txt")); }, ELOOP, 0},
        {"the file is a dangling link", [&] { Place("a/b/f.txt", Outside("new.txt")); }, ELOOP, 0},
        {"the folder is a link inside the root", [&] { Place("a/b", Root()); }, ELOOP, ELOOP},
        {"a file is where the folder goes",
         [&] {
           QDir(Root("a/b")).removeRecursively();
           QDir().mkpath(Root("a"));
           QFile(Root("a/b")).open(QIODevice::WriteOnly);
         },
         ENOTDIR, ENOTDIR},
        {"a folder is where the file goes", [&] { QDir().mkpath(Root("a/b/f.txt")); }, EISDIR, 0},
        {"the inner folder is gone", [&] { QDir(Root("a/b")).removeRecursively(); }, 0, 0},
        {"the whole tree is gone", [&] { QDir(Root("a")).removeRecursively(); }, 0, 0},
    };
    for (const Obstacle& obstacle : obstacles) {
      SCOPED_TRACE(obstacle.what);
      QDir(Root()).removeRecursively();
      QDir().mkpath(Root());
      ConfinedFolder root(Root(), GetParam());
      if (remembered) WriteAndClose(root.CreateFile({"a", "b", "first.txt"}), "first");
      obstacle.place();

      const int result = root.CreateFile({"a", "b", "f.txt"});
      if (obstacle.fileError == 0) {
        WriteAndClose(result, "written");
        EXPECT_EQ(ReadAll(Root("a/b/f.txt")), "written");
      } else {
        if (result >= 0) close(result);
        EXPECT_EQ(result, -obstacle.fileError) << (result < 0 ? strerror(-result) : "written");
      }
      EXPECT_EQ(root.MakeFolder({"a", "b"}), obstacle.folderError);
      EXPECT_EQ(OutsideNames(), QStringList{"secret.txt"});
      EXPECT_EQ(ReadAll(Outside("secret.txt")), "");
    }
  }

  QTemporaryDir temp_;
};

TEST_P(ConfinedFolderTest, MakesFoldersAndFilesBelowTheRoot) {
  ConfinedFolder root(Root(), GetParam());
  ASSERT_EQ(root.Error(), 0);
  WriteAndClose(root.CreateFile({"top.txt"}), "top");
  WriteAndClose(root.CreateFile({"a", "b", "c", "deep.txt"}), "deep");
  WriteAndClose(root.CreateFile({"a", "b", "c", "deep.txt"}), "again");  // truncated, not appended
  WriteAndClose(root.CreateFile({"a", "b", "beside.txt"}), "beside");
  EXPECT_EQ(root.MakeFolder({"a", "empty"}), 0);
  EXPECT_EQ(root.MakeFolder({"a", "empty"}), 0);

  EXPECT_EQ(ReadAll(Root("top.txt")), "top");
  EXPECT_EQ(ReadAll(Root("a/b/c/deep.txt")), "again");
  EXPECT_EQ(ReadAll(Root("a/b/beside.txt")), "beside");
  EXPECT_TRUE(QFileInfo(Root("a/empty")).isDir());
}

TEST_P(ConfinedFolderTest, ARootThatCannotBeOpenedFailsEveryCall) {
  ConfinedFolder root(Root("missing"), GetParam());
  EXPECT_EQ(root.Error(), ENOENT);
  EXPECT_EQ(root.CreateFile({"a", "x.txt"}), -ENOENT);
  EXPECT_EQ(root.MakeFolder({"a"}), ENOENT);
}

TEST_P(ConfinedFolderTest, ALinkNamingTheRootItselfIsFollowed) {
  ASSERT_TRUE(QFile::link(Root(), temp_.filePath("work/root-link")));
  ConfinedFolder root(temp_.filePath("work/root-link"), GetParam());
  WriteAndClose(root.CreateFile({"a", "x.txt"}), "x");
  EXPECT_EQ(ReadAll(Root("a/x.txt")), "x");
}

// Names that would leave the root, or name no entry in it, fail without
// writing anything: refused by the walk itself, or by the kernel for a
// single segment that holds a whole path.
TEST_P(ConfinedFolderTest, RefusesSegmentsThatLeaveTheRoot) {
  const QStringList cases[] = {
      {"..", "escaped.txt"},
      {"a", "..", "..", "escaped.txt"},
      {"../escaped.txt"},
      {"a/../../escaped.txt"},
      {"..", "outside", "secret.txt"},
      {Outside("escaped.txt")},
      {Outside(), "escaped.txt"},
      {"", "escaped.txt"},
      {"a", "", "escaped.txt"},
      {"."},
      {"a", "."},
  };
  for (const QStringList& segments : cases) {
    SCOPED_TRACE(segments.join(u'|').toStdString());
    ConfinedFolder root(Root(), GetParam());
    const int result = root.CreateFile(segments);
    if (result >= 0) close(result);
    EXPECT_LT(result, 0);
    EXPECT_NE(root.MakeFolder(segments), 0);
    EXPECT_EQ(OutsideNames(), QStringList{"secret.txt"});
    EXPECT_EQ(ReadAll(Outside("secret.txt")), "");
    EXPECT_FALSE(QFileInfo::exists(temp_.filePath("work/escaped.txt")));
  }
  EXPECT_EQ(QDir(Root()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
}

TEST_P(ConfinedFolderTest, RefusesLinksFoundInTheWay) { CheckObstacles(false); }

TEST_P(ConfinedFolderTest, RefusesLinksSwappedInForARememberedFolder) { CheckObstacles(true); }

const auto kResolutions = ::testing::Values(Resolution::Kernel, Resolution::StepByStep);
const auto kResolutionName = [](const ::testing::TestParamInfo<Resolution>& info) {
  return info.param == Resolution::Kernel ? std::string("Kernel") : std::string("StepByStep");
};
INSTANTIATE_TEST_SUITE_P(Resolutions, ConfinedFolderTest, kResolutions, kResolutionName);

}  // namespace
}  // namespace orv
