// Unicode conversions against glibc iconv and ICU, on 1 MiB of ASCII, of Latin text with accents
// and of Japanese text; JIS lookups against iconv's EUC-JP, one character at a time.
//
// The library's conversions allocate their result (as a caller gets it); the peers write into a
// buffer prepared beforehand. With TESMAR_BENCH_SMOKE set the texts are 64 KiB.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tesmar/tesmar.h"

namespace {

std::size_t text_size() {
  static const std::size_t size = std::getenv("TESMAR_BENCH_SMOKE") != nullptr ? 64 << 10 : 1 << 20;
  return size;
}

void put_utf8(std::string *s, uint32_t cp) {
  if (cp < 0x80) {
    *s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *s += static_cast<char>(0xC0 | (cp >> 6));
    *s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *s += static_cast<char>(0xE0 | (cp >> 12));
    *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Texts of about text_size() bytes of UTF-8.
std::string make_text(int kind) {
  std::mt19937 random(static_cast<unsigned>(kind) + 1);
  const uint32_t accents[] = {0xE9, 0xE8, 0xEA, 0xE0, 0xE7, 0xF4, 0xFC, 0xF6, 0xE4, 0xDF, 0xF1};
  std::string s;
  while (s.size() < text_size()) {
    uint32_t r = random() % 100;
    if (kind == 0) {
      put_utf8(&s, r < 15 ? ' ' : 'a' + random() % 26);
    } else if (kind == 1) {
      put_utf8(&s, r < 15 ? ' ' : r < 25 ? accents[random() % 11] : 'a' + random() % 26);
    } else {
      // Kanji, kana and some ASCII, as in Japanese names and notes.
      put_utf8(&s, r < 10 ? ' ' + random() % 90 : r < 50 ? 0x3041 + random() % 83
                                                           : 0x4E00 + random() % 0x4000);
    }
  }
  return s;
}

const std::string &text(int kind) {
  static const std::string texts[3] = {make_text(0), make_text(1), make_text(2)};
  return texts[kind];
}

const std::u16string &text16(int kind) {
  static std::u16string texts[3];
  if (texts[kind].empty()) {
    uint16_t *units = nullptr;
    unl_StrUTF8ToUTF16(0, text(kind).c_str(), &units);
    for (uint16_t *u = units; *u != 0; ++u) texts[kind] += static_cast<char16_t>(*u);
    std::free(units);
  }
  return texts[kind];
}

const char *kKindNames[] = {"ascii", "latin", "japanese"};

void utf8_to_utf16_tesmar(benchmark::State &state, int kind) {
  const std::string &in = text(kind);
  for (auto _ : state) {
    uint16_t *out = nullptr;
    if (unl_StrUTF8ToUTF16(0, in.c_str(), &out) != 0) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void utf8_to_utf16_iconv(benchmark::State &state, int kind) {
  const std::string &in = text(kind);
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  std::vector<char> out(2 * in.size() + 2);
  for (auto _ : state) {
    char *src = const_cast<char *>(in.data());
    char *dst = out.data();
    std::size_t src_left = in.size(), dst_left = out.size();
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1))
      state.SkipWithError("iconv failed");
    benchmark::DoNotOptimize(dst);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void utf8_to_utf16_icu(benchmark::State &state, int kind) {
  const std::string &in = text(kind);
  std::vector<UChar> out(in.size() + 1);
  for (auto _ : state) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, in.data(),
                  static_cast<int32_t>(in.size()), &error);
    if (U_FAILURE(error)) state.SkipWithError("ICU failed");
    benchmark::DoNotOptimize(length);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void utf16_to_utf8_tesmar(benchmark::State &state, int kind) {
  const std::u16string &in = text16(kind);
  for (auto _ : state) {
    char *out = nullptr;
    if (unl_StrUTF16ToUTF8(0, reinterpret_cast<const uint16_t *>(in.c_str()), &out) != 0)
      state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text(kind).size()));
}

void utf16_to_utf8_iconv(benchmark::State &state, int kind) {
  const std::u16string &in = text16(kind);
  iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
  std::vector<char> out(3 * in.size() + 1);
  for (auto _ : state) {
    char *src = reinterpret_cast<char *>(const_cast<char16_t *>(in.data()));
    char *dst = out.data();
    std::size_t src_left = 2 * in.size(), dst_left = out.size();
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1))
      state.SkipWithError("iconv failed");
    benchmark::DoNotOptimize(dst);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text(kind).size()));
}

void utf16_to_utf8_icu(benchmark::State &state, int kind) {
  const std::u16string &in = text16(kind);
  std::vector<char> out(3 * in.size() + 1);
  for (auto _ : state) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, in.data(),
                static_cast<int32_t>(in.size()), &error);
    if (U_FAILURE(error)) state.SkipWithError("ICU failed");
    benchmark::DoNotOptimize(length);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text(kind).size()));
}

// Validation: the library's structural walk and its strict check (the conversion), against ICU's
// strict check (preflighting, which converts without storing) and iconv converting to UTF-16.
void validate_tesmar(benchmark::State &state, int kind) {
  const std::string &in = text(kind);
  for (auto _ : state) {
    uint64_t bytes = 0, chars = 0;
    if (unl_UTF8Length(in.data(), in.data() + in.size(), &bytes, &chars) != 0)
      state.SkipWithError("invalid");
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void validate_icu(benchmark::State &state, int kind) {
  const std::string &in = text(kind);
  for (auto _ : state) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, in.data(), static_cast<int32_t>(in.size()), &error);
    if (error != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(error)) state.SkipWithError("invalid");
    benchmark::DoNotOptimize(length);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// JIS X 0208 characters one at a time: the library's table against iconv's EUC-JP.
std::vector<int32_t> jis_codes() {
  unl_Initialize(0);
  std::vector<int32_t> codes;
  std::mt19937 random(9);
  while (codes.size() < 4096) {
    int i = static_cast<int>(random() % UNL_JIS0208_ENTRIES);
    if (unl_JIS0208Table[i] != 0) codes.push_back(((i / 94 + 0x21) << 8) | (i % 94 + 0x21));
  }
  return codes;
}

void jis_tesmar(benchmark::State &state) {
  std::vector<int32_t> codes = jis_codes();
  for (auto _ : state)
    for (int32_t code : codes) benchmark::DoNotOptimize(unl_JISToUnicode(1, code));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * codes.size()));
}

void jis_iconv(benchmark::State &state) {
  std::vector<int32_t> codes = jis_codes();
  iconv_t cd = iconv_open("UTF-32LE", "EUC-JP");
  for (auto _ : state) {
    for (int32_t code : codes) {
      char in[2] = {static_cast<char>((code >> 8) | 0x80), static_cast<char>((code & 0xFF) | 0x80)};
      uint32_t out = 0;
      char *src = in, *dst = reinterpret_cast<char *>(&out);
      std::size_t src_left = 2, dst_left = 4;
      iconv(cd, &src, &src_left, &dst, &dst_left);
      benchmark::DoNotOptimize(out);
    }
  }
  iconv_close(cd);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * codes.size()));
}

struct Registration {
  Registration() {
    using Fn = void (*)(benchmark::State &, int);
    struct Op {
      const char *name;
      Fn fn;
    } const ops[] = {
        {"utf8_to_utf16/tesmar", utf8_to_utf16_tesmar}, {"utf8_to_utf16/iconv", utf8_to_utf16_iconv},
        {"utf8_to_utf16/icu", utf8_to_utf16_icu},       {"utf16_to_utf8/tesmar", utf16_to_utf8_tesmar},
        {"utf16_to_utf8/iconv", utf16_to_utf8_iconv},   {"utf16_to_utf8/icu", utf16_to_utf8_icu},
        {"utf8_validate/tesmar", validate_tesmar},      {"utf8_validate/icu", validate_icu},
        {"utf8_validate/iconv", utf8_to_utf16_iconv},
    };
    for (int kind = 0; kind < 3; ++kind)
      for (const Op &op : ops)
        benchmark::RegisterBenchmark((std::string(op.name) + "/" + kKindNames[kind]).c_str(),
                                     op.fn, kind);
    benchmark::RegisterBenchmark("jis_to_unicode/tesmar", jis_tesmar);
    benchmark::RegisterBenchmark("jis_to_unicode/iconv_euc_jp", jis_iconv);
  }
} registration;

}  // namespace

BENCHMARK_MAIN();
