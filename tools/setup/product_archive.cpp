#include "product_archive.h"

#include <zip.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace orv::tools {

namespace {

struct ArchiveDiscarder {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::optional<std::string> WriteZip(const std::filesystem::path& archivePath, const std::vector<ZipEntry>& entries) {
  int code = ZIP_ER_OK;
  std::unique_ptr<zip_t, ArchiveDiscarder> archive(zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!archive) return "cannot create " + archivePath.string();
  for (const ZipEntry& entry : entries) {
    const bool directory = !entry.name.empty() && entry.name.back() == '/';
    zip_int64_t index = -1;
    if (directory) {
      index = zip_dir_add(archive.get(), entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      // The archive reads the data when it is closed; entries outlive that.
      zip_source_t* source = zip_source_buffer(archive.get(), entry.data.data(), entry.data.size(), 0);
      if (source == nullptr) return zip_strerror(archive.get());
      index = zip_file_add(archive.get(), entry.name.c_str(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) return zip_strerror(archive.get());
    // The fastest deflate level: archives are made on request and the setup
    // binary inside is large.
    if (!directory && zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index),
                                               entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, entry.stored ? 0 : 1) != 0)
      return zip_strerror(archive.get());
    const std::uint32_t mode = directory ? 040755 : entry.unixMode;
    if (zip_file_set_external_attributes(archive.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         mode << 16) != 0)
      return zip_strerror(archive.get());
  }
  if (zip_close(archive.get()) != 0) return zip_strerror(archive.get());
  archive.release();
  return std::nullopt;
}

std::vector<ZipEntry> ProductArchiveEntries(const std::filesystem::path& setupExe, const nlohmann::json& manifest) {
  std::vector<ZipEntry> entries{
      {"setup.exe", readFile(setupExe), 0100755},
      {"setup.json", manifest.dump(2) + "\n"},
  };
  if (const auto payload = manifest.find("payload"); payload != manifest.end() && payload->is_object())
    for (const auto& [path, content] : payload->items())
      entries.push_back({"payload/" + path, content.is_string() ? content.get<std::string>() : content.dump()});
  return entries;
}

}  // namespace orv::tools
