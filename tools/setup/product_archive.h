#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orv::tools {

// One entry of a ZIP archive to write. Names are stored as given, so tests
// can also build archives no honest archiver would make.
// A name ending in "/" makes a folder entry.
struct ZipEntry {
  std::string name;
  std::string data;
  std::uint32_t unixMode = 0100644;  // file type and permission bits (folders: 040755)
  bool stored = false;               // kept uncompressed, so its size in the archive is known
};

// Writes a new archive (replacing any file there). Returns the error text,
// or nothing on success.
std::optional<std::string> WriteZip(const std::filesystem::path& archive, const std::vector<ZipEntry>& entries);

// The entries of a product archive made from a setup manifest:
//   setup.exe    the setup stand-in (copied from setupExe, executable)
//   setup.json   the manifest itself
//   payload/...  one file per member of the manifest's "payload" object
//                (relative path -> text content)
// Throws std::runtime_error when setupExe cannot be read.
std::vector<ZipEntry> ProductArchiveEntries(const std::filesystem::path& setupExe, const nlohmann::json& manifest);

}  // namespace orv::tools
