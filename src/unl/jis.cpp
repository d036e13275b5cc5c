// Single characters: JIS to Unicode and back through the tables, JIS to Shift_JIS and back by
// arithmetic.
#include "unl/unl_internal.h"

namespace {
constexpr int32_t kRows0208 = 84, kRows0212 = 77, kCells = 94;
}  // namespace

extern "C" {

uint32_t unl_JISToUnicode(int32_t character_set, int32_t code) {
  if (character_set != 1 && character_set != 2) return 0;
  // In 64 bits: no code, however large or negative, can overflow the arithmetic.
  int64_t value = static_cast<int64_t>(code) - 0x2020;
  int64_t row = (value >> 8) - 1, cell = (value & 0xFF) - 1;
  int32_t rows = character_set == 1 ? kRows0208 : kRows0212;
  if (row < 0 || row >= rows || cell < 0 || cell >= kCells) {
    int r = row < -99999 ? -99999 : (row > 99999 ? 99999 : static_cast<int>(row));
    int c = cell < -99999 ? -99999 : (cell > 99999 ? 99999 : static_cast<int>(cell));
    mpm_ReportMessage(MPM_ALT_INDEX, UNL_INVALID_INDEX_ERR, MPM_ERROR, r, c);
    return 0;
  }
  const uint16_t *table = character_set == 1 ? unl_JIS0208Table : unl_JIS0212Table;
  if (table == nullptr) return 0;  // not started
  return table[row * kCells + cell];
}

uint32_t unl_UnicodeToJIS(int32_t, int32_t code_point) {
  int32_t high = code_point >> 8, low = code_point & 0xFF;
  if (code_point < 0 || high > 255) {
    mpm_ReportMessage(MPM_ALT_INDEX, UNL_INVALID_INDEX_ERR, MPM_ERROR, static_cast<int>(high),
                      static_cast<int>(low));
    return UNL_TAG_INVALID << 16;
  }
  if (unl_UnicodeTable == nullptr) return 0;
  return unl_UnicodeTable[high * 256 + low];
}

int32_t unl_JISToSJIS(int32_t code) {
  int32_t j1 = (code >> 8) & 0xFF, j2 = code & 0xFF;
  int32_t lead = ((j1 + 1) >> 1) + (j1 < 95 ? 112 : 176);
  int32_t trail = j2 + ((j1 & 1) != 0 ? (j2 < 96 ? 31 : 32) : 126);
  if (lead < 0) return 0;
  return (lead << 8) + trail;
}

int32_t unl_SJISToJIS(int32_t code) {
  int32_t s1 = (code >> 8) & 0xFF, s2 = code & 0xFF;
  int32_t adjust = s2 < 159 ? 1 : 0;
  int32_t j1 = (s1 - (s1 < 160 ? 112 : 176)) * 2 - adjust;
  int32_t j2 = s2 - (adjust != 0 ? (s2 < 128 ? 31 : 32) : 126);
  if (j1 < 0 || j2 < 0) return 0;
  return (j1 << 8) + j2;
}

}  // extern "C"
