#pragma once

// A file system of a few KiB of its own at a temporary folder, to see what
// the program does when the disk fills up. Mounting needs root; a test
// skips with the reason where it is not allowed.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/mount.h>

namespace orv::test {

class SmallFileSystem {
public:
  explicit SmallFileSystem(const char* size = "size=64k") {
    const QByteArray path = QFile::encodeName(dir_.path());
    if (::mount("orv-test", path.constData(), "tmpfs", 0, size) == 0)
      mounted_ = true;
    else
      whyNot_ = std::string("cannot mount a small file system here: ") + std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& WhyNotMounted() const { return whyNot_; }
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

  // Takes all the room that is left with a file named "filler".
  void Fill() const {
    QFile filler(FilePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return;
    const QByteArray block(1024, 'x');
    while (filler.write(block) == block.size()) {
    }
  }

private:
  QTemporaryDir dir_;
  bool mounted_ = false;
  std::string whyNot_;
};

}  // namespace orv::test
