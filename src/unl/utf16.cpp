// UTF-16: the strict encoder to UTF-8, the structural walk, unl_UTF16Length and
// unl_StrUTF16ToUTF8.
//
// unl_StrUTF16ToUTF8 finds the terminator, counts the bytes (a unit makes one to three, each half
// of a pair two), allocates them and converts. A string that fails the structural walk is refused quietly; one that passes it but ends in an
// open pair is issued as a conversion failure.
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "unl/unl_internal.h"

namespace tesmar::unl {
namespace {

// The encoder stores whole little-endian words.
static_assert(std::endian::native == std::endian::little);

inline bool high_surrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool low_surrogate(uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

// Aligned 16-byte loads never cross a page, so reading a little beyond the terminator is harmless;
// the address sanitizer cannot know that, and is told to leave this loop alone.
#if defined(__SSE2__)
__attribute__((no_sanitize("address")))
#endif
std::size_t utf16_length(const uint16_t *in) {
  const uint16_t *p = in;
#if defined(__SSE2__)
  if (reinterpret_cast<uintptr_t>(p) % 2 == 0) {
    while (reinterpret_cast<uintptr_t>(p) % 16 != 0) {
      if (*p == 0) return static_cast<std::size_t>(p - in);
      ++p;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;;) {
      __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(p));
      int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, zero));
      if (mask != 0) return static_cast<std::size_t>(p - in) + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
      p += 8;
    }
  }
#endif
  while (*p != 0) ++p;
  return static_cast<std::size_t>(p - in);
}

std::size_t utf8_bytes_of_utf16(const uint16_t *in, std::size_t n) {
  std::size_t bytes = 0, i = 0;
#if defined(__SSE2__)
  // Per unit 3, less one below 0x800, less one more below 0x80, less one for a surrogate; summed
  // in 16-bit lanes, emptied before they can overflow.
  const __m128i above_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i above_two = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  const __m128i three = _mm_set1_epi16(3);
  const __m128i zero = _mm_setzero_si128();
  while (i + 8 <= n) {
    __m128i sum = zero;
    for (int k = 0; k < 4096 && i + 8 <= n; ++k, i += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
      __m128i top = _mm_and_si128(v, above_two);
      __m128i count = _mm_add_epi16(three, _mm_cmpeq_epi16(_mm_and_si128(v, above_ascii), zero));
      count = _mm_add_epi16(count, _mm_cmpeq_epi16(top, zero));
      count = _mm_add_epi16(count, _mm_cmpeq_epi16(top, surrogate));
      sum = _mm_add_epi16(sum, count);
    }
    __m128i wide = _mm_madd_epi16(sum, _mm_set1_epi16(1));
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), wide);
    bytes += static_cast<std::size_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
  }
#endif
  for (; i < n; ++i) {
    uint16_t u = in[i];
    bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : (u >= 0xD800 && u <= 0xDFFF) ? 2 : 3;
  }
  return bytes;
}

// One unit below the surrogates or above them as one to three bytes, without a branch: the bytes
// go out as one little-endian word (the output has room for it) and the pointer moves by their
// number.
inline unsigned char *put_bmp(unsigned char *o, uint32_t x) {
  uint32_t two = (0xC0 | (x >> 6)) | ((0x80 | (x & 0x3F)) << 8);
  uint32_t three =
      (0xE0 | (x >> 12)) | ((0x80 | ((x >> 6) & 0x3F)) << 8) | ((0x80 | (x & 0x3F)) << 16);
  uint32_t above_ascii = 0u - static_cast<uint32_t>(x >= 0x80);   // all ones or zero
  uint32_t above_two = 0u - static_cast<uint32_t>(x >= 0x800);
  uint32_t word = (x & ~above_ascii) | (two & above_ascii & ~above_two) | (three & above_two);
  std::memcpy(o, &word, 4);
  return o + 1 + (above_ascii & 1) + (above_two & 1);
}

Outcome utf16_to_utf8(const uint16_t *in, std::size_t n, unsigned char *out) {
  std::size_t i = 0;
  unsigned char *o = out;
  while (i < n) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i above_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i above_two = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogates = _mm_set1_epi16(static_cast<short>(0xD800));
  const __m128i low6 = _mm_set1_epi16(0x3F);
  const __m128i continuation = _mm_set1_epi16(0x80);
  while (i + 16 <= n) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 8));
    // Sixteen ASCII units: two packs.
    __m128i high = _mm_or_si128(_mm_and_si128(v, above_ascii), _mm_and_si128(w, above_ascii));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_packus_epi16(v, w));
      o += 16;
      i += 16;
      continue;
    }
    // Otherwise eight units of the BMP without surrogates: each unit's bytes are formed in a
    // 32-bit lane (lead | second << 8 | third << 16) with its length, then stored one after the
    // other (the output has room for a whole word past the end).
    __m128i top = _mm_and_si128(v, above_two);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(top, surrogates)) != 0) break;
    __m128i is_ascii = _mm_cmpeq_epi16(_mm_and_si128(v, above_ascii), zero);
    __m128i is_two = _mm_cmpeq_epi16(top, zero);  // ASCII included
    __m128i trail = _mm_or_si128(_mm_and_si128(v, low6), continuation);
    __m128i lead2 = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
    __m128i lead3 = _mm_or_si128(_mm_srli_epi16(v, 12), _mm_set1_epi16(0xE0));
    __m128i middle = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 6), low6), continuation);
    __m128i pair2 = _mm_or_si128(lead2, _mm_slli_epi16(trail, 8));
    __m128i pair3 = _mm_or_si128(lead3, _mm_slli_epi16(middle, 8));
    __m128i pair = _mm_or_si128(_mm_and_si128(is_two, pair2), _mm_andnot_si128(is_two, pair3));
    __m128i low = _mm_or_si128(_mm_and_si128(is_ascii, v), _mm_andnot_si128(is_ascii, pair));
    __m128i third = _mm_andnot_si128(is_two, trail);
    alignas(16) uint32_t words[8];
    alignas(16) uint16_t lengths[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(words), _mm_unpacklo_epi16(low, third));
    _mm_store_si128(reinterpret_cast<__m128i *>(words + 4), _mm_unpackhi_epi16(low, third));
    _mm_store_si128(reinterpret_cast<__m128i *>(lengths),
                    _mm_add_epi16(_mm_set1_epi16(3), _mm_add_epi16(is_ascii, is_two)));
    for (int k = 0; k < 8; ++k) {
      std::memcpy(o, &words[k], 4);
      o += lengths[k];
    }
    i += 8;
  }
#endif
  // The units the blocks left: a block with surrogates, and the end.
  std::size_t stop = n - i < 8 ? n : i + 8;
  while (i < stop) {
    uint16_t u = in[i];
    if ((u & 0xF800) != 0xD800) {
      o = put_bmp(o, u);
      ++i;
      continue;
    }
    if (u >= 0xDC00 || i + 1 >= n || !low_surrogate(in[i + 1]))
      return {false, static_cast<std::size_t>(o - out), i};
    uint32_t code = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
    uint32_t word = (0xF0 | (code >> 18)) | ((0x80 | ((code >> 12) & 0x3F)) << 8) |
                    ((0x80 | ((code >> 6) & 0x3F)) << 16) | ((0x80 | (code & 0x3F)) << 24);
    std::memcpy(o, &word, 4);
    o += 4;
    i += 2;
  }
  }
  return {true, static_cast<std::size_t>(o - out), 0};
}

bool walk_utf16(const uint16_t *in, std::size_t n, uint64_t *bytes, uint64_t *characters) {
  uint64_t count = 0;
  std::size_t i = 0;
  bool open = false, ok = true;
  while (i < n) {
    uint16_t u = in[i++];
    if (open) {
      if (!low_surrogate(u)) {
        ok = false;
        break;
      }
      open = false;
      ++count;
    } else if (high_surrogate(u)) {
      open = true;
    } else if (low_surrogate(u)) {
      ok = false;
      break;
    } else {
      ++count;
    }
  }
  if (bytes != nullptr) *bytes = 2 * static_cast<uint64_t>(i);
  if (characters != nullptr) *characters = count;
  return ok;
}

}  // namespace tesmar::unl

using namespace tesmar::unl;

extern "C" {

mpm_Status unl_UTF16Length(const uint16_t *in, const uint16_t *end, uint64_t *bytes,
                           uint64_t *characters) {
  if (in == nullptr) {
    if (bytes != nullptr) *bytes = 0;
    if (characters != nullptr) *characters = 0;
    return end == nullptr ? UNL_CONVERSION_ERR : 0;
  }
  std::size_t n = end != nullptr ? (end > in ? static_cast<std::size_t>(end - in) : 0) : utf16_length(in);
  return walk_utf16(in, n, bytes, characters) ? 0 : UNL_CONVERSION_ERR;
}

mpm_Status unl_StrUTF16ToUTF8(uint32_t, const uint16_t *in, char **out) {
  if (out == nullptr) return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  *out = nullptr;
  if (in == nullptr) return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  std::size_t n = utf16_length(in);
  std::size_t room = utf8_bytes_of_utf16(in, n) + kSlack;
  auto *bytes = static_cast<unsigned char *>(std::malloc(room));
  if (bytes == nullptr) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  Outcome done = utf16_to_utf8(in, n, bytes);
  if (!done.ok) {
    std::free(bytes);
    if (!walk_utf16(in, n, nullptr, nullptr)) return UNL_CONVERSION_ERR;
    return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  }
  bytes[done.written] = '\0';
  *out = reinterpret_cast<char *>(bytes);
  return 0;
}

}  // extern "C"
