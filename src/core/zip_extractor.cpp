#include "core/zip_extractor.h"

#include "core/zip_file_source.h"
#include "platform/confined_folder.h"
#include "platform/file_handle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <zip.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

namespace orv {

namespace {

using Status = ZipExtractResult::Status;

constexpr std::size_t kReadBufferSize = 1024 * 1024;
// The file type in a Unix mode as archives store it (the upper half of the
// external attributes), whatever system reads them.
constexpr zip_uint32_t kUnixTypeMask = 0170000;
constexpr zip_uint32_t kUnixLink = 0120000;
constexpr zip_uint32_t kUnixFolder = 0040000;

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;

struct EntryCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

ZipExtractResult failure(Status status, const QString& entry, const QString& message) {
  return ZipExtractResult{status, entry, message};
}

ArchiveHandle openChecked(const QString& path, QString& error) {
  zip_error_t zipError;
  zip_error_init(&zipError);
  ArchiveHandle archive(OpenZipFile(path, ZIP_RDONLY | ZIP_CHECKCONS, &zipError));
  if (!archive) error = QString::fromUtf8(zip_error_strerror(&zipError));
  zip_error_fini(&zipError);
  return archive;
}

struct Entry {
  zip_uint64_t index = 0;
  QString name;
  QStringList segments;  // relative path below the extraction folder
  bool directory = false;
  bool executable = false;
  zip_uint64_t size = 0;
};

// The entry's path as folder-relative segments, or nothing when the name
// could reach outside the folder. Backslashes count as separators because
// Windows archivers write them.
std::optional<QStringList> relativeSegments(QString name) {
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const bool driveLetter = name.size() >= 2 && name[1] == QLatin1Char(':');
  if (name.startsWith(QLatin1Char('/')) || driveLetter) return std::nullopt;
  QStringList segments;
  for (const QString& segment : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (segment == QLatin1String("..")) return std::nullopt;
    if (segment != QLatin1String(".")) segments << segment;
  }
  return segments;
}

// Reads and checks the whole directory before anything is written.
ZipExtractResult collectEntries(zip_t* archive, const ZipLimits& limits, std::vector<Entry>& entries) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  std::uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    Entry entry;
    entry.index = static_cast<zip_uint64_t>(i);
    const char* rawName = zip_get_name(archive, entry.index, ZIP_FL_ENC_GUESS);
    if (rawName == nullptr) return failure(Status::InvalidArchive, QString(), QStringLiteral("unreadable entry name"));
    entry.name = QString::fromUtf8(rawName);

    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, entry.index, 0, &opsys, &attributes) != 0)
      return failure(Status::InvalidArchive, entry.name, QStringLiteral("unreadable entry attributes"));
    const zip_uint32_t mode = opsys == ZIP_OPSYS_UNIX ? attributes >> 16 : 0;
    if ((mode & kUnixTypeMask) == kUnixLink)
      return failure(Status::UnsafeEntry, entry.name, QStringLiteral("symbolic link"));

    const std::optional<QStringList> segments = relativeSegments(entry.name);
    if (!segments) return failure(Status::UnsafeEntry, entry.name, QStringLiteral("path leaves the folder"));
    entry.segments = *segments;
    entry.directory = entry.name.endsWith(QLatin1Char('/')) || entry.name.endsWith(QLatin1Char('\\')) ||
                      (mode & kUnixTypeMask) == kUnixFolder;
    if (entry.segments.isEmpty()) {
      if (entry.directory) continue;  // "./": the folder itself
      return failure(Status::UnsafeEntry, entry.name, QStringLiteral("empty file name"));
    }
    entry.executable = (mode & 0111) != 0;

    zip_stat_t stat;
    if (zip_stat_index(archive, entry.index, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0)
      return failure(Status::InvalidArchive, entry.name, QStringLiteral("entry without size"));
    entry.size = stat.size;
    if (entry.size > limits.maxTotalBytes - total)
      return failure(Status::TooLarge, entry.name, QStringLiteral("archive expands beyond the size limit"));
    total += entry.size;
    entries.push_back(std::move(entry));
  }
  return {};
}

ZipExtractResult ioFailure(const Entry& entry, int error) {
  if (error == ELOOP)
    return failure(Status::UnsafeEntry, entry.name, QStringLiteral("path passes through a symbolic link"));
  return failure(Status::IoError, entry.name,
                 QStringLiteral("cannot write %1: %2").arg(entry.name, qt_error_string(error)));
}

ZipExtractResult makeFolder(ConfinedFolder& root, const Entry& entry) {
  if (const int error = root.MakeFolder(entry.segments)) return ioFailure(entry, error);
  return {};
}

ZipExtractResult writeEntry(zip_t* archive, const Entry& entry, ConfinedFolder& root, std::vector<char>& buffer) {
  EntryHandle source(zip_fopen_index(archive, entry.index, 0));
  if (!source) return failure(Status::InvalidArchive, entry.name, QString::fromUtf8(zip_strerror(archive)));
  const int descriptor = root.CreateFile(entry.segments);
  if (descriptor < 0) return ioFailure(entry, -descriptor);
  FileHandle output(descriptor);

  std::uint64_t written = 0;
  for (;;) {
    const zip_int64_t read = zip_fread(source.get(), buffer.data(), buffer.size());
    if (read < 0)
      return failure(Status::InvalidArchive, entry.name, QString::fromUtf8(zip_file_strerror(source.get())));
    if (read == 0) break;
    written += static_cast<std::uint64_t>(read);
    // The directory's size is what the limit was checked against.
    if (written > entry.size)
      return failure(Status::TooLarge, entry.name, QStringLiteral("entry inflates beyond its declared size"));
    if (const int error = output.WriteAll(buffer.data(), static_cast<std::size_t>(read)))
      return ioFailure(entry, error);
  }
  // Added to whatever the umask or an earlier file left.
  if (entry.executable)
    if (const int error = output.AddExecutableBits()) return ioFailure(entry, error);
  if (const int error = output.Close()) return ioFailure(entry, error);
  return {};
}

}  // namespace

bool IsValidZipArchive(const QString& archivePath) {
  QString error;
  return QFileInfo(archivePath).isFile() && openChecked(archivePath, error) != nullptr;
}

ZipExtractResult ExtractZipArchive(const QString& archivePath, const QString& folder, const ZipLimits& limits) {
  QString error;
  const ArchiveHandle archive = openChecked(archivePath, error);
  if (!archive) return failure(Status::InvalidArchive, QString(), error);

  std::vector<Entry> entries;
  if (ZipExtractResult checked = collectEntries(archive.get(), limits, entries); !checked.ok()) return checked;

  const QString rootPath = QDir::cleanPath(folder);
  if (!QDir().mkpath(rootPath))
    return failure(Status::IoError, QString(), QStringLiteral("cannot create folder ") + rootPath);
  ConfinedFolder root(rootPath);
  if (root.Error() != 0)
    return failure(Status::IoError, QString(),
                   QStringLiteral("cannot open folder %1: %2").arg(rootPath, qt_error_string(root.Error())));
  // Entries of a few megabytes are common; larger reads mean fewer calls.
  std::vector<char> buffer(kReadBufferSize);
  for (const Entry& entry : entries) {
    ZipExtractResult result =
        entry.directory ? makeFolder(root, entry) : writeEntry(archive.get(), entry, root, buffer);
    if (!result.ok()) return result;
  }
  return {};
}

bool RemoveExtractionFolder(const QString& folder) {
  const QFileInfo info(folder);
  if (info.isSymLink()) return QFile::remove(folder);
  if (!info.exists()) return true;
  return QDir(folder).removeRecursively();
}

}  // namespace orv
