// Archives from the download folder are outside input: extraction must
// neither crash nor write outside its folder, whatever the bytes.
#include "core/zip_extractor.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QTemporaryDir temp;
  if (!temp.isValid()) return 0;
  const QString archive = temp.filePath("archive.zip");
  QFile file(archive);
  if (!file.open(QIODevice::WriteOnly)) return 0;
  file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  file.close();

  orv::ZipLimits limits;
  limits.maxTotalBytes = 16 << 20;
  orv::ExtractZipArchive(archive, temp.filePath("out/inside"), limits);
  // Nothing may appear beside the extraction folder.
  const QStringList beside =
      QDir(temp.filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  if (beside.size() > 1 || (beside.size() == 1 && beside.front() != QLatin1String("inside"))) std::abort();
  return 0;
}
