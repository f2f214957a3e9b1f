// libFuzzer target: the JPEG reader through the load front.
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pravik::FuzzLoad(data, size, pravik::ioJPEG);
}
