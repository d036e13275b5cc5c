// The code-page tables: JIS X 0208 and JIS X 0212 to Unicode as generated from the Consortium's
// mappings (jis_data.h), and their inverse, computed by the compiler from them. All three are
// constant data; their counts and the absence of shared code points are checked at compile time.
#include "unl/jis_data.h"
#include "unl/unl_internal.h"

namespace tesmar::unl {
namespace {

struct Inverse {
  uint32_t entries[UNL_UNICODE_ENTRIES];
  int count = 0;
  bool collision = false;

  constexpr void add(const uint16_t *table, int size, uint32_t tag) {
    for (int i = 0; i < size; ++i) {
      if (table[i] == 0) continue;
      uint32_t code = static_cast<uint32_t>(((i / 94 + 0x21) << 8) | (i % 94 + 0x21));
      if (entries[table[i]] != 0) collision = true;
      entries[table[i]] = (tag << 16) | code;
      ++count;
    }
  }
  constexpr Inverse() : entries{} {
    add(data::kJis0208, UNL_JIS0208_ENTRIES, UNL_TAG_JIS0208);
    add(data::kJis0212, UNL_JIS0212_ENTRIES, UNL_TAG_JIS0212);
  }
};

constexpr int assigned(const uint16_t *table, int size) {
  int n = 0;
  for (int i = 0; i < size; ++i) n += table[i] != 0;
  return n;
}

static_assert(sizeof data::kJis0208 / sizeof data::kJis0208[0] == UNL_JIS0208_ENTRIES);
static_assert(sizeof data::kJis0212 / sizeof data::kJis0212[0] == UNL_JIS0212_ENTRIES);
static_assert(assigned(data::kJis0208, UNL_JIS0208_ENTRIES) == 6879);
static_assert(assigned(data::kJis0212, UNL_JIS0212_ENTRIES) == 6067);

constexpr Inverse kInverse;
static_assert(kInverse.count == 12946 && !kInverse.collision,
              "every Unicode character comes from exactly one JIS code");

}  // namespace

const uint16_t *const kJis0208Table = data::kJis0208;
const uint16_t *const kJis0212Table = data::kJis0212;
const uint32_t *const kUnicodeTable = kInverse.entries;

}  // namespace tesmar::unl
