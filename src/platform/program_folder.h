#pragma once

#include <QString>

namespace orv {

// What decides whether a program may keep its data in its own folder.
struct ProgramFolderFacts {
  QString folder;  // absolute, symbolic links resolved
  uint owner = 0;  // the folder's owner
  uint user = 0;   // the effective user of the program
  bool writable = false;
};

// True only for a copy of the program the user owns and can write outside
// the system's prefixes: a build tree or an unpacked archive. An installed
// program's folder belongs to the system even when root can write it, and
// a folder of another user is not ours to fill.
bool DataBesideProgram(const ProgramFolderFacts& AFacts);

// The facts of AFolder for the effective user of this process.
ProgramFolderFacts ProgramFolderFactsOf(const QString& AFolder);

}  // namespace orv
