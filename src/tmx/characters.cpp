// EBCDIC to ASCII, and the string helpers. Letters are the ASCII letters whatever the locale.
#include "tmx/tmx_internal.h"

namespace {

constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_alnum(char c) { return is_lower(c) || is_upper(c) || (c >= '0' && c <= '9'); }
constexpr char to_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char to_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

struct EbcdicTable {
  int32_t code[256];
  constexpr EbcdicTable() : code{} {
    for (int32_t &c : code) c = -1;
    auto range = [this](int from, int to, char first) {
      for (int e = from; e <= to; ++e) code[e] = first + (e - from);
    };
    const char *singles = " .<(+!&!$*);^-/|,%_>?`:#@'=\"{+}~[]{}\\|";
    const int codes[] = {0x40, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x5A, 0x5B, 0x5C,
                         0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E,
                         0x6F, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F, 0x8B, 0x8E,
                         0x9B, 0xA1, 0xAD, 0xBD, 0xC0, 0xD0, 0xE0, 0xFA};
    for (int i = 0; i < static_cast<int>(sizeof codes / sizeof codes[0]); ++i)
      code[codes[i]] = singles[i];
    range(0x81, 0x89, 'a');
    range(0x91, 0x99, 'j');
    range(0xA2, 0xA9, 's');
    range(0xC1, 0xC9, 'A');
    range(0xD1, 0xD9, 'J');
    range(0xE2, 0xE9, 'S');
    range(0xF0, 0xF9, '0');
  }
};

constexpr EbcdicTable kEbcdic;

constexpr int count_mapped() {
  int n = 0;
  for (int32_t c : kEbcdic.code) n += c != -1;
  return n;
}
static_assert(count_mapped() == 100, "the EBCDIC table maps 100 codes");

}  // namespace

extern "C" {

// The table as an exported array; its contents are the constant above.
const int32_t tmx_EbcdicTable[256] = {
#define ROW(r)                                                                                  \
  kEbcdic.code[r + 0], kEbcdic.code[r + 1], kEbcdic.code[r + 2], kEbcdic.code[r + 3],          \
      kEbcdic.code[r + 4], kEbcdic.code[r + 5], kEbcdic.code[r + 6], kEbcdic.code[r + 7],      \
      kEbcdic.code[r + 8], kEbcdic.code[r + 9], kEbcdic.code[r + 10], kEbcdic.code[r + 11],    \
      kEbcdic.code[r + 12], kEbcdic.code[r + 13], kEbcdic.code[r + 14], kEbcdic.code[r + 15]
    ROW(0x00), ROW(0x10), ROW(0x20), ROW(0x30), ROW(0x40), ROW(0x50), ROW(0x60), ROW(0x70),
    ROW(0x80), ROW(0x90), ROW(0xA0), ROW(0xB0), ROW(0xC0), ROW(0xD0), ROW(0xE0), ROW(0xF0),
#undef ROW
};

int32_t tmx_EbcdicToAscii(int32_t code) {
  return code >= 0 && code <= 255 ? tmx_EbcdicTable[code] : -1;
}

void tmx_StrLower(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) *text = to_lower(*text);
}

void tmx_StrUpper(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) *text = to_upper(*text);
}

int32_t tmx_StrCapitalize(char *text) {
  if (text == nullptr) return 0;
  tmx_StrLower(text);
  for (; *text != '\0'; ++text) {
    if (*text == ' ' || *text == '\t') continue;
    *text = to_upper(*text);
    return static_cast<unsigned char>(*text);
  }
  return 0;
}

int32_t tmx_StrStartsWithWord(const char *word, const char *text) {
  if (word == nullptr || text == nullptr) return 0;
  for (;; ++text) {
    const char *w = word;
    const char *t = text;
    while (*w != '\0' && *w == *t) ++w, ++t;
    if (*w == '\0') return 1;
    if (*text == '\0' || is_alnum(*text)) return 0;
  }
}

int32_t tmx_StrIsBlank(const char *text) {
  if (text == nullptr) return 1;
  for (; *text != '\0'; ++text) {
    auto c = static_cast<unsigned char>(*text);
    if (c > ' ' && c != 127) return 0;
  }
  return 1;
}

}  // extern "C"
