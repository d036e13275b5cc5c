// The text reader on arbitrary file contents: characters and line counts stay consistent.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tesmar/tesmar.h"

namespace {
std::string scratch_file() {
  const char *dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr && *dir ? dir : "/tmp") + "/tesmar-fuzz-text." +
         std::to_string(getpid());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = scratch_file();
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  tmx_TextReader reader;
  if (tmx_OpenTextReader(&reader, path.c_str()) != 1) std::abort();
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
  std::remove(path.c_str());
  return 0;
}
