// The PCX reader (and, through the tagged-stream check, its frame).
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pravik::FuzzLoad(data, size, pravik::ioDCX);
  return pravik::FuzzLoad(data, size, pravik::ioPCX);
}
