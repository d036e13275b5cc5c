// Fuzz target: arbitrary bytes restored as a saved-model file in the binary form
// (restore_support.h says what must hold).
#include "restore_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  return restore_one(data, size, MDA_BINARY);
}
