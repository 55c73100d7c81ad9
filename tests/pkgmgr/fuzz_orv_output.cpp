// Package-manager output of any shape: decoded in pieces, split into
// lines, scanned for progress and the build summary, and read as each of
// the JSON answers. Failures must be exceptions, never crashes.
#include "pkgmgr/line_splitter.h"
#include "pkgmgr/orv_runner.h"
#include "pkgmgr/orv_runners.h"
#include "pkgmgr/utf8_stream_decoder.h"

#include <cstddef>
#include <cstdint>

namespace {

template <class Read>
void Try(Read read) {
  try {
    read();
  } catch (const orv::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  // Pieces of at most 255 bytes, as the pipe delivers them; the first
  // byte varies the cut.
  const qsizetype step = size == 0 ? 1 : 1 + data[0] % 255;
  TUtf8StreamDecoder decoder;
  QStringList lines;
  TLineSplitter splitter(lines);
  for (qsizetype at = 0; at < bytes.size(); at += step)
    splitter.Append(decoder.Decode(bytes.sliced(at, qMin(step, bytes.size() - at))));
  splitter.Append(decoder.Finish());

  for (const QString& line : lines) {
    TAbstractOrvBuildRunner::ParseProgress(line, true);
    TAbstractOrvBuildRunner::ParseProgress(line, false);
  }
  TAbstractOrvBuildRunner::ExtractSummary(lines);

  const auto json = nlohmann::ordered_json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (json.is_discarded()) return 0;
  TProductInfoList local;
  Try([&] { ReadLocalProductList(json, local); });
  TProductInfoList remote;
  Try([&] { ReadRemoteProductList(json, remote); });
  TOrvInfo info;
  Try([&] { ReadInfo(json, info); });
  QString email, code;
  Try([&] { ReadCredentials(json, email, code); });
  return 0;
}
