// The TGA reader: header, colour map, raw and run-length pixels, extension area.
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pravik::FuzzLoad(data, size, pravik::ioTGA);
}
