// UTF-16: the strict encoder to UTF-8, the structural walk, unl_UTF16Length and
// unl_StrUTF16ToUTF8.
//
// unl_StrUTF16ToUTF8 converts in one pass into a buffer of three bytes per input unit (never too
// small: a unit yields at most three bytes, a pair of units four) and gives back the unused tail.
// A string that fails the structural walk is refused quietly; one that passes it but ends in an
// open pair is issued as a conversion failure.
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "unl/unl_internal.h"

namespace tesmar::unl {
namespace {

inline bool high_surrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool low_surrogate(uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::size_t utf16_length(const uint16_t *in) {
  std::size_t n = 0;
  while (in[n] != 0) ++n;
  return n;
}

Outcome utf16_to_utf8(const uint16_t *in, std::size_t n, unsigned char *out) {
  std::size_t i = 0;
  unsigned char *o = out;
  while (i < n) {
    uint16_t u = in[i];
    if (u < 0x80) {
#if defined(__SSE2__)
      // Eight ASCII units at a time.
      const __m128i high_bits = _mm_set1_epi16(static_cast<short>(0xFF80));
      const __m128i zero = _mm_setzero_si128();
      while (i + 8 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, high_bits), zero);
        if (_mm_movemask_epi8(ascii) != 0xFFFF) break;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(o), _mm_packus_epi16(v, v));
        o += 8;
        i += 8;
      }
#endif
      while (i < n && in[i] < 0x80) *o++ = static_cast<unsigned char>(in[i++]);
      continue;
    }
    if (u < 0x800) {
      *o++ = static_cast<unsigned char>(0xC0 | (u >> 6));
      *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
      ++i;
      continue;
    }
    if (high_surrogate(u)) {
      if (i + 1 >= n || !low_surrogate(in[i + 1]))
        return {false, static_cast<std::size_t>(o - out), i};
      uint32_t code = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      *o++ = static_cast<unsigned char>(0xF0 | (code >> 18));
      *o++ = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
      i += 2;
      continue;
    }
    if (low_surrogate(u)) return {false, static_cast<std::size_t>(o - out), i};
    *o++ = static_cast<unsigned char>(0xE0 | (u >> 12));
    *o++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    ++i;
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
  if (n >= (SIZE_MAX - 1) / 3) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  auto *bytes = static_cast<unsigned char *>(std::malloc(3 * n + 1));
  if (bytes == nullptr) return mpm_IssueMessage(0, UNL_MALLOC_ERR, MPM_ERROR);
  Outcome done = utf16_to_utf8(in, n, bytes);
  if (!done.ok) {
    std::free(bytes);
    if (!walk_utf16(in, n, nullptr, nullptr)) return UNL_CONVERSION_ERR;
    return mpm_IssueMessage(0, UNL_CONVERSION_ERR, MPM_ERROR);
  }
  bytes[done.written] = '\0';
  if (done.written + 1 < (3 * n + 1) - (3 * n + 1) / 4) {
    void *smaller = std::realloc(bytes, done.written + 1);
    if (smaller != nullptr) bytes = static_cast<unsigned char *>(smaller);
  }
  *out = reinterpret_cast<char *>(bytes);
  return 0;
}

}  // extern "C"
