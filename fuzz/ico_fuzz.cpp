// The icon and cursor readers on any input (the same directory layout).
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pravik::FuzzLoad(data, size, pravik::ioICO);
  return pravik::FuzzLoad(data, size, pravik::ioCUR);
}
