#include "core/zip_extractor.h"

#include "product_archive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orv {
namespace {

using tools::ZipEntry;
using Status = ZipExtractResult::Status;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(data);
}

// Every file and link below root, relative, sorted.
QStringList Tree(const QString& root) {
  QStringList names;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) names << QDir(root).relativeFilePath(it.next());
  names.sort();
  return names;
}

class ZipExtractorTest : public ::testing::Test {
protected:
  // The archive lies in work/ and extracts into work/out; the sibling
  // folder work/outside must stay untouched by any archive.
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    ASSERT_TRUE(QDir(temp_.path()).mkpath("work/out"));
    ASSERT_TRUE(QDir(temp_.path()).mkpath("work/outside"));
  }

  QString Archive(const std::vector<ZipEntry>& entries) {
    const QString path = temp_.filePath("work/archive.zip");
    const auto error = tools::WriteZip(path.toStdString(), entries);
    EXPECT_FALSE(error) << *error;
    return path;
  }

  QString Out() const { return temp_.filePath("work/out"); }

  QTemporaryDir temp_;
};

TEST_F(ZipExtractorTest, ExtractsSubfoldersOverwritesAndKeepsExecutableBits) {
  const QString archive = Archive({
      {"setup.exe", "#!/bin/sh\n", 0100755},
      {"payload/", ""},
      {"payload/lib/deep/unit.pas", "unit x;"},
      {"docs\\readme.txt", "backslash folders"},  // as Windows archivers write them
      {"empty.txt", ""},
  });
  WriteFile(Out() + "/payload/lib/deep/unit.pas", "old and longer content");
  ASSERT_TRUE(IsValidZipArchive(archive));

  const ZipExtractResult result = ExtractZipArchive(archive, Out());
  ASSERT_TRUE(result.ok()) << result.message.toStdString();
  EXPECT_EQ(ReadAll(Out() + "/payload/lib/deep/unit.pas"), "unit x;");
  EXPECT_EQ(ReadAll(Out() + "/docs/readme.txt"), "backslash folders");
  EXPECT_EQ(ReadAll(Out() + "/empty.txt"), "");
  EXPECT_TRUE(QFileInfo(Out() + "/setup.exe").isExecutable());
  EXPECT_FALSE(QFileInfo(Out() + "/empty.txt").isExecutable());

  EXPECT_TRUE(RemoveExtractionFolder(Out()));
  EXPECT_FALSE(QFileInfo::exists(Out()));
  EXPECT_TRUE(RemoveExtractionFolder(Out()));  // already gone
}

// The archive is read through a buffer whose reads grow from a few
// kilobytes to a megabyte: entries of sizes around those steps, stored and
// packed, between small ones that make the reader jump, come out whole.
TEST_F(ZipExtractorTest, ExtractsEntriesOfEverySizeAroundTheReadSteps) {
  const int sizes[] = {0, 1, 8191, 8192, 8193, 16 * 1024 + 5, 1024 * 1024 - 1, 1024 * 1024 + 1, 3 * 1024 * 1024 + 7};
  std::mt19937 random(1);
  std::vector<ZipEntry> entries;
  for (const int size : sizes) {
    for (const bool stored : {true, false}) {
      std::string data(static_cast<std::size_t>(size), '\0');
      // Half random, half repeated, so packed entries shrink but not to nothing.
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = i % 2 == 0 ? char(random()) : char(i / 7);
      entries.push_back({(stored ? "stored/" : "packed/") + std::to_string(size), data, 0100644, stored});
      entries.push_back({"small/after" + std::to_string(size) + (stored ? "s" : "p"), "x"});
    }
  }
  const ZipExtractResult result = ExtractZipArchive(Archive(entries), Out());
  ASSERT_TRUE(result.ok()) << result.message.toStdString();
  for (const ZipEntry& entry : entries)
    EXPECT_TRUE(ReadAll(Out() + "/" + QString::fromStdString(entry.name)) == QByteArray::fromStdString(entry.data))
        << entry.name;
}

TEST_F(ZipExtractorTest, InvalidArchivesAreNotExtracted) {
  const QString garbage = temp_.filePath("work/garbage.zip");
  WriteFile(garbage, "PK\x03\x04 this is not really a zip archive");
  QByteArray truncated = ReadAll(Archive({{"a.txt", std::string(1000, 'a')}}));
  const QString cut = temp_.filePath("work/cut.zip");
  WriteFile(cut, truncated.left(truncated.size() - 10));

  for (const QString& path : {garbage, cut, temp_.filePath("work/missing.zip")}) {
    EXPECT_FALSE(IsValidZipArchive(path)) << path.toStdString();
    EXPECT_EQ(ExtractZipArchive(path, Out()).status, Status::InvalidArchive) << path.toStdString();
  }
  EXPECT_TRUE(Tree(Out()).isEmpty());
}

TEST_F(ZipExtractorTest, HostileEntriesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    ZipEntry hostile;
  };
  const Case cases[] = {
      {"parent segment", {"../outside/x.txt", "escaped"}},
      {"nested parent segment", {"payload/../../outside/x.txt", "escaped"}},
      {"backslash parent segment", {"..\\outside\\x.txt", "escaped"}},
      {"absolute name", {QString(temp_.path() + "/work/outside/x.txt").toStdString(), "escaped"}},
      {"drive letter", {"C:/outside/x.txt", "escaped"}},
      {"symbolic link", {"link", "../outside", 0120777}},
  };
  for (const Case& c : cases) {
    // A harmless entry first: a refused archive must leave nothing at all.
    const QString archive = Archive({{"first.txt", "first"}, c.hostile, {"link/x.txt", "through the link"}});
    const ZipExtractResult result = ExtractZipArchive(archive, Out());
    EXPECT_EQ(result.status, Status::UnsafeEntry) << c.what;
    EXPECT_EQ(result.entry.toStdString(), c.hostile.name) << c.what;
    EXPECT_TRUE(Tree(Out()).isEmpty()) << c.what << ": " << Tree(Out()).join(", ").toStdString();
    EXPECT_TRUE(Tree(temp_.filePath("work/outside")).isEmpty()) << c.what;
  }
}

TEST_F(ZipExtractorTest, DoesNotWriteThroughALinkAlreadyInTheFolder) {
  ASSERT_TRUE(QFile::link(temp_.filePath("work/outside"), Out() + "/payload"));
  const QString archive = Archive({{"payload/x.txt", "escaped"}});
  EXPECT_EQ(ExtractZipArchive(archive, Out()).status, Status::UnsafeEntry);
  EXPECT_TRUE(Tree(temp_.filePath("work/outside")).isEmpty());

  // Removing the folder removes the link, not what it points at.
  WriteFile(temp_.filePath("work/outside/keep.txt"), "keep");
  EXPECT_TRUE(RemoveExtractionFolder(Out()));
  EXPECT_EQ(ReadAll(temp_.filePath("work/outside/keep.txt")), "keep");
}

TEST_F(ZipExtractorTest, DoesNotWriteThroughLinksAtAnyDepth) {
  struct Case {
    const char* link;    // below the extraction folder
    const char* target;  // below work/
    ZipEntry entry;
  };
  const Case cases[] = {
      {"payload/deep", "outside", {"payload/deep/lib/x.txt", "escaped"}},
      {"payload/deep", "outside", {"payload/deep/", ""}},
      {"payload/x.txt", "outside/secret.txt", {"payload/x.txt", "escaped"}},
      {"payload/x.txt", "outside/new.txt", {"payload/x.txt", "escaped"}},  // dangling
      {"payload/deep", "out", {"payload/deep/x.txt", "in a loop"}},        // pointing inside
  };
  WriteFile(temp_.filePath("work/outside/secret.txt"), "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry.name);
    QDir(Out()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(Out() + "/payload"));
    ASSERT_TRUE(QFile::link(temp_.filePath("work/") + c.target, Out() + "/" + c.link));
    // Earlier entries make and remember the folders on the way.
    const QString archive = Archive({{"payload/first.txt", "first"}, c.entry, {"payload/last.txt", "last"}});

    const ZipExtractResult result = ExtractZipArchive(archive, Out());
    EXPECT_EQ(result.status, Status::UnsafeEntry);
    EXPECT_EQ(result.entry.toStdString(), c.entry.name);
    EXPECT_EQ(Tree(temp_.filePath("work/outside")), QStringList{"secret.txt"});
    EXPECT_EQ(ReadAll(temp_.filePath("work/outside/secret.txt")), "");
    EXPECT_FALSE(QFileInfo::exists(Out() + "/x.txt"));
  }
}

TEST_F(ZipExtractorTest, ReportsAFileWhereAFolderMustGo) {
  const ZipExtractResult result = ExtractZipArchive(Archive({{"lib", "a file"}, {"lib/unit.pas", "unit x;"}}), Out());
  EXPECT_EQ(result.status, Status::IoError);
  EXPECT_EQ(result.entry, "lib/unit.pas");
  EXPECT_EQ(ReadAll(Out() + "/lib"), "a file");
}

TEST_F(ZipExtractorTest, SizeIsBounded) {
  const QString archive = Archive({{"a.bin", std::string(600, 'a')}, {"b.bin", std::string(600, 'b')}});
  const ZipExtractResult tooLarge = ExtractZipArchive(archive, Out(), ZipLimits{1000});
  EXPECT_EQ(tooLarge.status, Status::TooLarge);
  EXPECT_EQ(tooLarge.entry, "b.bin");
  EXPECT_TRUE(Tree(Out()).isEmpty());
  EXPECT_TRUE(ExtractZipArchive(archive, Out(), ZipLimits{1200}).ok());
}

TEST_F(ZipExtractorTest, ReportsWhenAFileCannotBeWritten) {
  ASSERT_TRUE(QDir().mkpath(Out() + "/taken.txt"));  // a folder where a file must go
  const ZipExtractResult result = ExtractZipArchive(Archive({{"taken.txt", "x"}}), Out());
  EXPECT_EQ(result.status, Status::IoError);
  EXPECT_EQ(result.entry, "taken.txt");
}

}  // namespace
}  // namespace orv
