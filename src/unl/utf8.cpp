// UTF-8: the strict decoder to UTF-16, the structural walk, unl_UTF8Length and
// unl_StrUTF8ToUTF16.
//
// unl_StrUTF8ToUTF16 converts in one pass into a buffer of one unit per input byte (never too
// small: every UTF-8 sequence yields at most one unit per byte) and gives back the unused tail.
// Which failures are issued follows the two stages of the conversion: a string that fails the
// structural walk is refused quietly, one that passes it but is not well-formed UTF-8 (an overlong
// form, a surrogate, a value above U+10FFFF, a sequence cut short by the end) is issued.
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "unl/unl_internal.h"

namespace tesmar::unl {
namespace {

inline bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

Outcome utf8_to_utf16(const unsigned char *in, std::size_t n, uint16_t *out) {
  std::size_t i = 0;
  uint16_t *o = out;
  while (i < n) {
    unsigned char b = in[i];
    if (b < 0x80) {
#if defined(__SSE2__)
      // Sixteen ASCII bytes at a time. Writing all sixteen units is safe even when fewer are
      // ASCII: the output has room for one unit per input byte and o - out <= i.
      const __m128i zero = _mm_setzero_si128();
      while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        int mask = _mm_movemask_epi8(v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 8), _mm_unpackhi_epi8(v, zero));
        if (mask != 0) {
          int ascii = __builtin_ctz(static_cast<unsigned>(mask));
          o += ascii;
          i += static_cast<std::size_t>(ascii);
          break;
        }
        o += 16;
        i += 16;
      }
#endif
      while (i < n && in[i] < 0x80) *o++ = in[i++];
      continue;
    }
    if (b < 0xC2) return {false, static_cast<std::size_t>(o - out), i};
    if (b < 0xE0) {
      if (i + 1 >= n || !continuation(in[i + 1])) return {false, static_cast<std::size_t>(o - out), i};
      *o++ = static_cast<uint16_t>(((b & 0x1F) << 6) | (in[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    if (b < 0xF0) {
      if (i + 2 >= n) return {false, static_cast<std::size_t>(o - out), i};
      unsigned char c1 = in[i + 1], c2 = in[i + 2];
      unsigned char low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
      if (c1 < low || c1 > high || !continuation(c2))
        return {false, static_cast<std::size_t>(o - out), i};
      *o++ = static_cast<uint16_t>(((b & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F));
      i += 3;
      continue;
    }
    if (b < 0xF5) {
      if (i + 3 >= n) return {false, static_cast<std::size_t>(o - out), i};
      unsigned char c1 = in[i + 1], c2 = in[i + 2], c3 = in[i + 3];
      unsigned char low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
      if (c1 < low || c1 > high || !continuation(c2) || !continuation(c3))
        return {false, static_cast<std::size_t>(o - out), i};
      uint32_t code = (static_cast<uint32_t>(b & 0x07) << 18) | ((c1 & 0x3Fu) << 12) |
                      ((c2 & 0x3Fu) << 6) | (c3 & 0x3Fu);
      code -= 0x10000;
      *o++ = static_cast<uint16_t>(0xD800 | (code >> 10));
      *o++ = static_cast<uint16_t>(0xDC00 | (code & 0x3FF));
      i += 4;
      continue;
    }
    return {false, static_cast<std::size_t>(o - out), i};
  }
  return {true, static_cast<std::size_t>(o - out), 0};
}

bool walk_utf8(const unsigned char *in, std::size_t n, uint64_t *bytes, uint64_t *characters) {
  uint64_t count = 0;
  std::size_t i = 0;
  int expect = 0;
  bool ok = true;
  while (i < n) {
    if (expect == 0) {
#if defined(__SSE2__)
      while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        if (_mm_movemask_epi8(v) != 0) break;
        count += 16;
        i += 16;
      }
      if (i >= n) break;
#endif
      unsigned char b = in[i++];
      if (b < 0x80) {
        ++count;
      } else if ((b & 0xE0) == 0xC0) {
        expect = 1;
      } else if ((b & 0xF0) == 0xE0) {
        expect = 2;
      } else if ((b & 0xF8) == 0xF0) {
        expect = 3;
      } else {
        ok = false;
        break;
      }
    } else {
      if (!continuation(in[i++])) {
        ok = false;
        break;
      }
      if (--expect == 0) ++count;
    }
  }
  if (bytes != nullptr) *bytes = i;
  if (characters != nullptr) *characters = count;
  return ok;
}

}  // namespace tesmar::unl

using namespace tesmar::unl;

extern "C" {

mpm_Status unl_UTF8Length(const char *in, const char *end, uint64_t *bytes, uint64_t *characters) {
  if (in == nullptr) {
    if (bytes != nullptr) *bytes = 0;
    if (characters != nullptr) *characters = 0;
    return in == end ? 0 : UNL_CONVERSION_ERR;
  }
  std::size_t n = end != nullptr ? (end > in ? static_cast<std::size_t>(end - in) : 0) : std::strlen(in);
  return walk_utf8(reinterpret_cast<const unsigned char *>(in), n, bytes, characters)
             ? 0
             : UNL_CONVERSION_ERR;
}

mpm_Status unl_StrUTF8ToUTF16(uint32_t, const char *in, uint16_t **out) {
  if (out == nullptr) return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  *out = nullptr;
  if (in == nullptr) return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  const auto *bytes = reinterpret_cast<const unsigned char *>(in);
  std::size_t n = std::strlen(in);
  if (n >= SIZE_MAX / sizeof(uint16_t)) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  auto *units = static_cast<uint16_t *>(std::malloc((n + 1) * sizeof(uint16_t)));
  if (units == nullptr) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  Outcome done = utf8_to_utf16(bytes, n, units);
  if (!done.ok) {
    std::free(units);
    if (!walk_utf8(bytes, n, nullptr, nullptr)) return UNL_CONVERSION_ERR;
    return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  }
  units[done.written] = 0;
  // Give back a tail that is more than a quarter of the block.
  if (done.written + 1 < (n + 1) - (n + 1) / 4) {
    void *smaller = std::realloc(units, (done.written + 1) * sizeof(uint16_t));
    if (smaller != nullptr) units = static_cast<uint16_t *>(smaller);
  }
  *out = units;
  return 0;
}

}  // extern "C"
