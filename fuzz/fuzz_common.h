// Shared body of the decoder fuzz targets: load the input through the front
// with one format's reader (or by content), swallowing the exceptions the
// front lets pass; anything else (a crash, a sanitizer report, a hang) is a bug.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "imageio/imageio.h"
#include "imageio/limits.h"
#include "imageio/stream.h"

namespace pravik {

// fileType 0: detect by content.
inline int FuzzLoad(const std::uint8_t* data, std::size_t size, int fileType) {
  iegMaxDecodedBytes = std::int64_t(256) << 20;  // stay inside libFuzzer's memory limit
  TImageIO io;
  TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
  try {
    if (fileType == 0) io.LoadFromStream(stream);
    else io.LoadFromStreamFormat(stream, fileType);
  } catch (const std::exception&) {
  }
  return 0;
}

}  // namespace pravik
