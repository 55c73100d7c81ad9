#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace orv {

// A folder that files are written below without ever following a symbolic
// link inside it: every path is resolved from the folder itself, and a link
// in any segment is refused, also one swapped in for a folder while writing.
// Folders made or found are remembered, so each is made only once; a
// remembered folder that has gone since is made again.
//
// Segments are plain names: "..", ".", empty and absolute segments fail
// (EINVAL, or the kernel's EXDEV) and never reach outside the folder.
//
// Results are errno values: 0 or a file descriptor on success, ELOOP when a
// segment is a symbolic link.
class ConfinedFolder {
public:
  // How a path below the folder is resolved: by the kernel in one call, or
  // one segment at a time where that call is missing (older kernels,
  // sandboxes that filter it).
  enum class Resolution { Kernel, StepByStep };

  // The kernel's resolution when this system offers it.
  static Resolution Available();

  // Opens root, which must be an existing folder (a link naming the root
  // itself is followed). Check Error() before use.
  explicit ConfinedFolder(const QString& root, Resolution resolution = Available());
  ~ConfinedFolder();
  ConfinedFolder(const ConfinedFolder&) = delete;
  ConfinedFolder& operator=(const ConfinedFolder&) = delete;

  // Why the root could not be opened, or 0.
  int Error() const { return root_ < 0 ? -root_ : 0; }

  // Makes the folder named by segments and its parents; an existing one is
  // checked again. 0 or an errno value (ENOTDIR: a file is in the way).
  int MakeFolder(const QStringList& segments);

  // Creates or truncates the file named by segments (at least one) for
  // writing, making its folder first. A file descriptor for the caller to
  // close, or minus an errno value.
  int CreateFile(const QStringList& segments);

private:
  int openBelow(const QStringList& segments, int flags);
  int walk(const QStringList& segments, qsizetype count, bool make);

  int root_ = -1;
  Resolution resolution_;
  QSet<QString> known_;  // folders below root, as "a/b", made or checked before
};

}  // namespace orv
