// UTF-8: the strict decoder to UTF-16, the structural walk, unl_UTF8Length and
// unl_StrUTF8ToUTF16.
//
// unl_StrUTF8ToUTF16 counts the units first (every byte that does not continue a sequence makes
// one unit, a four-byte lead one more), allocates them, and converts. Which failures are issued follows the two stages of the conversion: a string that fails the
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

std::size_t utf16_units_of_utf8(const unsigned char *in, std::size_t n) {
  std::size_t units = 0, i = 0;
#if defined(__SSE2__)
  // Per byte: one unit unless it continues a sequence, one more for a four-byte lead. The bytes'
  // counts gather in byte lanes (at most 2 a round, emptied every 127 rounds) and are summed with
  // the sum of absolute differences.
  const __m128i four_low = _mm_set1_epi8(-17);           // 0xF0..0xFF lie above, signed
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i sum = zero;
    for (int round = 0; round < 127 && i + 16 <= n; ++round, i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
      __m128i lead = _mm_cmpgt_epi8(v, _mm_set1_epi8(-65));   // -1 where not a continuation
      __m128i four = _mm_and_si128(_mm_cmpgt_epi8(v, four_low), _mm_cmplt_epi8(v, zero));
      sum = _mm_sub_epi8(_mm_sub_epi8(sum, lead), four);
    }
    __m128i total = _mm_sad_epu8(sum, zero);
    units += static_cast<std::size_t>(_mm_cvtsi128_si32(total)) +
             static_cast<std::size_t>(_mm_extract_epi16(total, 4));
  }
#endif
  for (; i < n; ++i) units += !continuation(in[i]) + (in[i] >= 0xF0);
  return units;
}

Outcome utf8_to_utf16(const unsigned char *in, std::size_t n, uint16_t *out) {
  std::size_t i = 0;
  uint16_t *o = out;
  while (i < n) {
    unsigned char b = in[i];
    if (b < 0x80) {
#if defined(__SSE2__)
      // Sixteen ASCII bytes at a time. Writing all sixteen units is safe even when fewer are
      // ASCII: the output has kSlack units of room beyond what the text makes.
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
      // Runs of two-byte characters (accented Latin, Greek, Cyrillic) stay in this loop.
      do {
        if (i + 1 >= n || in[i] < 0xC2 || !continuation(in[i + 1]))
          return {false, static_cast<std::size_t>(o - out), i};
        *o++ = static_cast<uint16_t>(((in[i] & 0x1F) << 6) | (in[i + 1] & 0x3F));
        i += 2;
      } while (i < n && (in[i] & 0xE0) == 0xC0);
      continue;
    }
    if (b < 0xF0) {
      // Runs of three-byte characters (CJK) stay in this loop.
      do {
        if (i + 2 >= n) return {false, static_cast<std::size_t>(o - out), i};
        unsigned char lead = in[i], c1 = in[i + 1], c2 = in[i + 2];
        unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        if (c1 < low || c1 > high || !continuation(c2))
          return {false, static_cast<std::size_t>(o - out), i};
        *o++ = static_cast<uint16_t>(((lead & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F));
        i += 3;
      } while (i < n && (in[i] & 0xF0) == 0xE0);
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

// The structural walk, sixteen bytes at a time: a byte must be a continuation byte exactly when a
// lead byte before it still expects one. Bit masks of the lead bytes shifted by one, two and three
// places give the bytes that must continue a sequence (with what spills over from the chunk
// before); a chunk where they differ from the continuation bytes, or that holds a byte 0xF8..0xFF,
// is walked again byte by byte to find where the walk stops.
bool walk_utf8(const unsigned char *in, std::size_t n, uint64_t *bytes, uint64_t *characters) {
  uint64_t count = 0;
  std::size_t i = 0;
  int expect = 0;
#if defined(__SSE2__)
  unsigned carry = 0;  // continuation bytes the previous chunk's leads expect in this one
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
    auto mask = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
    unsigned high = mask(v);
    if (high == 0 && carry == 0) {
      count += 16;
      continue;
    }
    unsigned continued = mask(_mm_cmplt_epi8(v, _mm_set1_epi8(-64)));
    unsigned lead = high & ~continued;
    unsigned from3 = mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-33)));   // 0xE0 and above
    unsigned from4 = mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-17)));   // 0xF0 and above
    unsigned from5 = mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-9)));    // 0xF8 and above
    from3 &= high;
    from4 &= high;
    from5 &= high;
    unsigned expected = (lead << 1) | (from3 << 2) | (from4 << 3) | carry;
    if ((expected & 0xFFFF) != continued || from5 != 0) break;  // the byte walk finds it
    carry = expected >> 16;
    count += static_cast<uint64_t>(16 - bit_count(continued));
  }
  if (carry != 0) {
    // A sequence runs on past the chunks walked: its lead was counted as a character already.
    expect = bit_count(carry);
    --count;
  }
#endif
  bool ok = true;
  while (i < n) {
    unsigned char b = in[i++];
    if (expect == 0) {
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
      if (!continuation(b)) {
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
  std::size_t room = utf16_units_of_utf8(bytes, n) + kSlack;
  if (room >= SIZE_MAX / sizeof(uint16_t)) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  auto *units = static_cast<uint16_t *>(std::malloc(room * sizeof(uint16_t)));
  if (units == nullptr) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  Outcome done = utf8_to_utf16(bytes, n, units);
  if (!done.ok) {
    std::free(units);
    if (!walk_utf8(bytes, n, nullptr, nullptr)) return UNL_CONVERSION_ERR;
    return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  }
  units[done.written] = 0;
  *out = units;
  return 0;
}

}  // extern "C"
