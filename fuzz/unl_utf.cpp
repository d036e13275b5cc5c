// The UTF-8, UTF-16 and UTF-32 operations on arbitrary input: nothing read past the end, and what
// converts must convert back to the same text.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tesmar/tesmar.h"

namespace {
struct Started {
  Started() {
    tmx_Initialize(0);
    unl_Initialize(0);
    mpm_output_function = [](const char *, FILE *) { return 0; };
  }
} started;

void check(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // As UTF-8: measured with an end pointer over the exact bytes, and as a terminated string.
  const char *begin = reinterpret_cast<const char *>(data);
  uint64_t bytes = 0, chars = 0;
  unl_UTF8Length(begin, begin + size, &bytes, &chars);
  check(bytes <= size && chars <= bytes);
  std::string text(begin, size);
  uint16_t *units = nullptr;
  if (unl_StrUTF8ToUTF16(0, text.c_str(), &units) == 0) {
    char *back = nullptr;
    check(unl_StrUTF16ToUTF8(0, units, &back) == 0);
    check(std::strcmp(back, text.c_str()) == 0);
    std::free(back);
  } else {
    check(units == nullptr);
  }
  std::free(units);

  // As UTF-16 code units (an odd last byte is dropped).
  std::vector<uint16_t> u16(size / 2 + 1, 0);
  std::memcpy(u16.data(), data, size / 2 * 2);
  unl_UTF16Length(u16.data(), u16.data() + size / 2, &bytes, &chars);
  check(bytes <= size && chars <= size / 2);
  char *utf8 = nullptr;
  if (unl_StrUTF16ToUTF8(0, u16.data(), &utf8) == 0) {
    uint16_t *again = nullptr;
    check(unl_StrUTF8ToUTF16(0, utf8, &again) == 0);
    std::size_t n = 0;
    while (u16[n] != 0) ++n;
    check(std::memcmp(again, u16.data(), (n + 1) * 2) == 0);
    std::free(again);
  }
  std::free(utf8);

  // As UTF-32 code points, allocated and into a buffer of the documented size.
  std::vector<uint32_t> u32(size / 4 + 1, 0);
  std::memcpy(u32.data(), data, size / 4 * 4);
  char *allocated = nullptr;
  mpm_Status status = unl_StrUTF32ToUTF8(u32.data(), &allocated);
  std::vector<char> buffer(4 * u32.size() + 1);
  char *into = buffer.data();
  check(unl_StrUTF32ToUTF8(u32.data(), &into) == status);
  if (status == 0) check(std::strcmp(allocated, buffer.data()) == 0);
  std::free(allocated);
  mpm_DiscardPending(0);
  return 0;
}
