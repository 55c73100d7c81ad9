#include "platform/confined_folder.h"

#include <QFile>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orv {

namespace {

constexpr mode_t kFileMode = 0666;  // narrowed by the umask like any new file
constexpr mode_t kFolderMode = 0777;

// One resolution by the kernel that refuses symbolic links in every segment
// and anything that would leave the starting folder. -1 and errno on failure.
int openBeneath(int folder, const char* path, int flags) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.mode = (flags & O_CREAT) != 0 ? kFileMode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, folder, path, &how, sizeof how));
}

// One step of a step-by-step walk: a name in the folder at hand. "..",
// "." and empty names, and names holding a slash, would leave that folder
// or name another; the kernel's resolution refuses what escapes on its own.
bool isPlainName(const QByteArray& name) {
  return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

// The error of a failed open of name in folder, with ELOOP for a symbolic
// link: opening a link as a folder without following it says ENOTDIR.
int openError(int folder, const char* name, int error) {
  struct stat info;
  if (error == ENOTDIR && fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) return ELOOP;
  return error;
}

}  // namespace

ConfinedFolder::Resolution ConfinedFolder::Available() {
  static const Resolution available = [] {
    const int probe = openBeneath(AT_FDCWD, ".", O_PATH | O_DIRECTORY);
    if (probe < 0) return Resolution::StepByStep;
    close(probe);
    return Resolution::Kernel;
  }();
  return available;
}

ConfinedFolder::ConfinedFolder(const QString& root, Resolution resolution)
    : root_(open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
      resolution_(resolution),
      known_{QString()} {
  if (root_ < 0) root_ = -errno;
}

ConfinedFolder::~ConfinedFolder() {
  if (root_ >= 0) close(root_);
}

int ConfinedFolder::MakeFolder(const QStringList& segments) {
  const int folder = walk(segments, segments.size(), true);
  if (folder < 0) return -folder;
  close(folder);
  for (qsizetype count = 1; count <= segments.size(); ++count) known_.insert(segments.first(count).join(u'/'));
  return 0;
}

int ConfinedFolder::CreateFile(const QStringList& segments) {
  const QStringList folder = segments.first(segments.size() - 1);
  if (!known_.contains(folder.join(u'/')))
    if (const int error = MakeFolder(folder)) return -error;
  constexpr int flags = O_WRONLY | O_CREAT | O_TRUNC;
  const int file = openBelow(segments, flags);
  if (file != -ENOENT && file != -ENOTDIR) return file;
  // A remembered folder has gone or been replaced since: make it again,
  // which also says what is in the way.
  if (const int error = MakeFolder(folder)) return -error;
  return openBelow(segments, flags);
}

// Opens the entry named by segments; a file descriptor or minus an errno value.
int ConfinedFolder::openBelow(const QStringList& segments, int flags) {
  if (root_ < 0) return root_;
  if (resolution_ == Resolution::Kernel) {
    const int file = openBeneath(root_, QFile::encodeName(segments.join(u'/')).constData(), flags);
    return file >= 0 ? file : -errno;
  }
  const int folder = walk(segments, segments.size() - 1, false);
  if (folder < 0) return folder;
  const QByteArray name = QFile::encodeName(segments.last());
  if (!isPlainName(name)) {
    close(folder);
    return -EINVAL;
  }
  const int file = openat(folder, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  const int result = file >= 0 ? file : -openError(folder, name.constData(), errno);
  close(folder);
  return result;
}

// Opens the folder named by the first count segments one segment at a time,
// never following a link; with make, missing folders are made on the way.
// A file descriptor or minus an errno value.
int ConfinedFolder::walk(const QStringList& segments, qsizetype count, bool make) {
  if (root_ < 0) return root_;
  int folder = fcntl(root_, F_DUPFD_CLOEXEC, 0);
  if (folder < 0) return -errno;
  for (qsizetype i = 0; i < count; ++i) {
    const QByteArray name = QFile::encodeName(segments[i]);
    int error = isPlainName(name) ? 0 : EINVAL;
    if (error == 0 && make && mkdirat(folder, name.constData(), kFolderMode) != 0 && errno != EEXIST) error = errno;
    const int next = error != 0 ? -1 : openat(folder, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && error == 0) error = openError(folder, name.constData(), errno);
    close(folder);
    if (error != 0) return -error;
    folder = next;
  }
  return folder;
}

}  // namespace orv
