// The GIF reader through the load front: the first image, then the
// composition of every frame (index past the last), which walks the disposal
// and canvas code as well.
#include <exception>

#include "fuzz/fuzz_common.h"
#include "imageio/formats.h"
#include "imageio/params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pravik;
  FuzzLoad(data, size, ioGIF);
  TImageIO io;
  io.IOParams().GIF_IMAGEINDEX = 1 << 20;
  TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
  try {
    io.LoadFromStreamGIF(stream);
  } catch (const std::exception&) {
  }
  return 0;
}
