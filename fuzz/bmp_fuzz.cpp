// The BMP reader on any input.
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pravik::FuzzLoad(data, size, pravik::ioBMP);
}
