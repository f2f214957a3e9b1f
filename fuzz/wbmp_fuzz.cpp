// The WBMP reader.
#include "fuzz/fuzz_common.h"
#include "imageio/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pravik::FuzzLoad(data, size, pravik::ioWBMP);
}
