// The Netpbm reader (P1-P6, plain and binary, 1 to 16 bits).
#include "fuzz/fuzz_common.h"
#include "imageio/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pravik::FuzzLoad(data, size, pravik::ioPXM);
}
