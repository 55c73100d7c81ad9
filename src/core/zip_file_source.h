#pragma once

#include <QString>

#include <zip.h>

namespace orv {

// Opens an archive file read-only, like zip_open, but reads it through one
// buffer whose reads grow while reading on (up to a megabyte) and stay small
// after a jump to another entry's header. libzip's own file reading takes
// small reads plus a seek and stats per entry, which add up with thousands
// of entries. Returns the archive, or null with error set.
zip_t* OpenZipFile(const QString& path, int flags, zip_error_t* error);

}  // namespace orv
