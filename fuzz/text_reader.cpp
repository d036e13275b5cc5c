// The text reader on arbitrary file contents: characters and line counts stay consistent.
#include <cstdio>
#include <cstdlib>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const tesmar::fuzz::Scratch scratch("text-reader");
  if (!scratch.write(data, size)) return 0;
  tmx_TextReader reader;
  if (tmx_OpenTextReader(&reader, scratch.path()) != 1) std::abort();
  int64_t characters = 0, line_ends = 0;
  for (int32_t c; (c = tmx_ReadChar(&reader)) != -1;) {
    if (c < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();
    ++characters;
    if (c == '\n') ++line_ends;
  }
  if (reader.byte_count != static_cast<int64_t>(size) || characters > static_cast<int64_t>(size) ||
      reader.line != line_ends + 1)
    std::abort();
  tmx_CloseTextReader(&reader);
  return 0;
}
