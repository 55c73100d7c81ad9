// orv-make-archive: builds a product archive around the setup stand-in.
//   orv-make-archive --setup SETUP_EXE --manifest SETUP_JSON --out ARCHIVE_ZIP
#include "product_archive.h"

#include <fstream>
#include <iostream>
#include <map>

namespace {

int usage() {
  std::cerr << "usage: orv-make-archive --setup SETUP_EXE --manifest SETUP_JSON --out ARCHIVE_ZIP\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  if (argc != 7 || options.size() != 3 || !options.contains("--setup") || !options.contains("--manifest") ||
      !options.contains("--out"))
    return usage();
  try {
    std::ifstream manifestFile(options["--manifest"]);
    if (!manifestFile) throw std::runtime_error("cannot read " + options["--manifest"]);
    const nlohmann::json manifest = nlohmann::json::parse(manifestFile);
    const auto entries = orv::tools::ProductArchiveEntries(options["--setup"], manifest);
    if (const auto error = orv::tools::WriteZip(options["--out"], entries)) throw std::runtime_error(*error);
  } catch (const std::exception& e) {
    std::cerr << "orv-make-archive: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
