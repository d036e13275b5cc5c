// Private declarations of UNL: the conversion cores behind the public operations, for the
// operations themselves and for the tests that compare them with other converters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tesmar/mpm.h"
#include "tesmar/unl.h"

namespace tesmar::unl {

// UNL's own message table.
const mpm_ModuleDesc &module_desc();

// Where a conversion stopped: `ok`, the units written, and on failure the offset (in input units)
// of the first unit of the sequence that could not be converted.
struct Outcome {
  bool ok;
  std::size_t written;
  std::size_t error_at;
};

// Room the converters may write beyond what they produce (whole vector stores), in output units.
inline constexpr std::size_t kSlack = 16;

// The UTF-16 units that n bytes of well-formed UTF-8 become (an upper bound for a malformed
// string's well-formed start).
std::size_t utf16_units_of_utf8(const unsigned char *in, std::size_t n);

// Well-formed UTF-8 (n bytes) to UTF-16. `out` must have room for utf16_units_of_utf8(in, n) +
// kSlack units.
Outcome utf8_to_utf16(const unsigned char *in, std::size_t n, uint16_t *out);

// The UTF-8 bytes that n units of UTF-16 become (an upper bound when surrogates do not pair).
std::size_t utf8_bytes_of_utf16(const uint16_t *in, std::size_t n);

// UTF-16 with paired surrogates (n units) to UTF-8. `out` must have room for
// utf8_bytes_of_utf16(in, n) + kSlack bytes.
Outcome utf16_to_utf8(const uint16_t *in, std::size_t n, unsigned char *out);

// The structural walks of unl_UTF8Length and unl_UTF16Length over exactly n units: true when no
// misplaced unit is met; the counts are those of the walk up to where it stopped.
bool walk_utf8(const unsigned char *in, std::size_t n, uint64_t *bytes, uint64_t *characters);
bool walk_utf16(const uint16_t *in, std::size_t n, uint64_t *bytes, uint64_t *characters);

// Bits set in a 32-bit mask (the library is built for the x86-64 baseline, which has no popcount
// instruction; the library routine would cost more than the vector work around it).
inline int bit_count(uint32_t x) {
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int>((x * 0x01010101u) >> 24);
}

// Length of a zero-terminated UTF-16 string in units.
std::size_t utf16_length(const uint16_t *in);

// The constant code-page tables that the exported pointers point at after unl_Initialize.
extern const uint16_t *const kJis0208Table;
extern const uint16_t *const kJis0212Table;
extern const uint32_t *const kUnicodeTable;

}  // namespace tesmar::unl
