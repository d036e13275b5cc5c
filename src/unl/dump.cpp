// unl_DumpUTF16 and unl_DumpUTF8: code units in hexadecimal, one character per line.
#include <cstdio>

#include "unl/unl_internal.h"

namespace {

void summary(uint64_t bytes, uint64_t characters) {
  std::printf("bytes: %lu chars: %lu\n", static_cast<unsigned long>(bytes),
              static_cast<unsigned long>(characters));
}

}  // namespace

extern "C" {

mpm_Status unl_DumpUTF16(const uint16_t *in, const uint16_t *end) {
  if (in == nullptr) return UNL_CONVERSION_ERR;
  uint64_t bytes = 0, characters = 0;
  bool open = false;
  const uint16_t *p = in;
  for (; end != nullptr ? p < end : *p != 0; ++p) {
    uint16_t u = *p;
    bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
    if (open ? !low : low) return UNL_CONVERSION_ERR;
    std::printf("%04X ", u);
    bytes += 2;
    open = !open && high;
    if (!open) {
      std::printf("\n");
      ++characters;
    }
  }
  if (end == nullptr) {
    std::printf("%04X\n", 0u);
    bytes += 2;
    ++characters;
  }
  summary(bytes, characters);
  return 0;
}

mpm_Status unl_DumpUTF8(const char *in, const char *end) {
  if (in == nullptr) return UNL_CONVERSION_ERR;
  uint64_t bytes = 0, characters = 0;
  int expect = 0;
  const auto *p = reinterpret_cast<const unsigned char *>(in);
  const auto *stop = reinterpret_cast<const unsigned char *>(end);
  for (; stop != nullptr ? p < stop : *p != 0; ++p) {
    unsigned char b = *p;
    if (expect == 0) {
      if (b >= 0x80) {
        if ((b & 0xE0) == 0xC0) expect = 1;
        else if ((b & 0xF0) == 0xE0) expect = 2;
        else if ((b & 0xF8) == 0xF0) expect = 3;
        else return UNL_CONVERSION_ERR;
      }
    } else {
      if ((b & 0xC0) != 0x80) return UNL_CONVERSION_ERR;
      --expect;
    }
    std::printf("%02X ", b);
    ++bytes;
    if (expect == 0) {
      std::printf("\n");
      ++characters;
    }
  }
  if (stop == nullptr) {
    std::printf("%02X\n", 0u);
    ++bytes;
    ++characters;
  }
  summary(bytes, characters);
  return 0;
}

}  // extern "C"
