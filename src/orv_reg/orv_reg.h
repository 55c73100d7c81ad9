#pragma once

#include <QStringList>

#include <cstdio>

namespace orv {

// The reg.exe-shaped command line over the registry hive:
//   query  KEY [/v NAME | /ve] [/s]
//   add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
//   delete KEY [/v NAME | /ve | /va] [/f]
//   export [KEY] FILE [/y]
//   import FILE
// KEY starts with HKCU or HKEY_CURRENT_USER. Returns the exit code (0 or 1).
int RunOrvReg(const QStringList& arguments, const QString& hiveFile, std::FILE* out, std::FILE* err);

}  // namespace orv
