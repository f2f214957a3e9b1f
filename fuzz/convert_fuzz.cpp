// The converter's path for any input: load by content, then hand the image
// and the record the reader left to every writer that is built, with the
// converter's settings for that format. Odd records (depths, palettes, icon
// sizes from the file) reach the writers this way.
#include <cstdint>
#include <exception>

#include "app/targets.h"
#include "fuzz/fuzz_common.h"
#include "imageio/imageio.h"
#include "imageio/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pravik;
  iegMaxDecodedBytes = std::int64_t(64) << 20;
  // The track bar's position comes from the size, so that whole image files
  // (the replayed corpus) stay whole.
  TTargetSettings settings;
  settings.Quality = static_cast<int>(size % 101);
  TImageIO loaded;
  TReadOnlyMemoryStream in(data, static_cast<std::int64_t>(size));
  try {
    loaded.LoadFromStream(in);
  } catch (const std::exception&) {
    return 0;
  }
  // Writers scale and quantize whole images: keep each run short.
  if (loaded.AbortFlag || std::int64_t(loaded.IEBitmap().GetWidth()) * loaded.IEBitmap().GetHeight() > (1 << 18))
    return 0;
  // Each writer gets its own copy: several convert the image in place.
  for (int index = 0; index < kTargetFormatCount; ++index) {
    const TTargetFormat* target = TargetFormat(index);
    TImageIO io;
    io.IEBitmap().Assign(loaded.IEBitmap());
    io.IOParams().Assign(loaded.IOParams());
    try {
      if (target->SetParams != nullptr) target->SetParams(io.IOParams(), settings);
      TMemoryStream out;
      io.SaveToStream(out, target->FileType);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
