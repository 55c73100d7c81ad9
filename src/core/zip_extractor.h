#pragma once

#include <QString>

#include <cstdint>

namespace orv {

// Outcome of extracting a product archive.
struct ZipExtractResult {
  enum class Status { Ok, InvalidArchive, UnsafeEntry, TooLarge, IoError };

  Status status = Status::Ok;
  QString entry;    // the archive entry concerned, when there is one
  QString message;  // what went wrong, for the diagnostic output

  bool ok() const { return status == Status::Ok; }
};

struct ZipLimits {
  // Product archives are a few megabytes; anything beyond this is a broken
  // or hostile archive, not a product.
  std::uint64_t maxTotalBytes = std::uint64_t{4} << 30;
};

// True when the file is a ZIP archive whose directory passes the
// consistency check.
bool IsValidZipArchive(const QString& archivePath);

// Extracts every entry into folder, creating subfolders and overwriting
// existing files. The whole archive is checked before anything is written:
// absolute names, ".." segments and symbolic links are refused, so nothing
// lands outside folder; the declared sizes must stay within the limits, and
// an entry that inflates beyond its declared size stops the extraction.
// Executable bits recorded by Unix archivers are kept.
ZipExtractResult ExtractZipArchive(const QString& archivePath, const QString& folder, const ZipLimits& limits = {});

// Deletes the extraction folder with everything in it (symbolic links are
// removed, never followed). True when the folder is gone.
bool RemoveExtractionFolder(const QString& folder);

}  // namespace orv
