// Fuzz target: file-type detection over arbitrary file contents.
//
// Each input is written to a file and detected through tmx_GetFileType; the result block must fit
// its type. The same bytes are detected again from memory, read whole and in pieces of 1 to 7
// bytes, and without skipping tokens: every way of reading must find the same facts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "tesmar/tesmar.h"
#include "tmx/tmx_internal.h"
#include "tmx/token_reader.h"

namespace {

struct Memory {
  const uint8_t *data;
  std::size_t size;
  std::size_t position;
  std::size_t piece;  // 0: as much as asked
  static int64_t read(void *context, uint8_t *buffer, std::size_t size) {
    auto *m = static_cast<Memory *>(context);
    std::size_t n = std::min(size, m->size - m->position);
    if (m->piece != 0) n = std::min(n, 1 + (m->position * 7 + m->piece) % m->piece);
    std::memcpy(buffer, m->data + m->position, n);
    m->position += n;
    return static_cast<int64_t>(n);
  }
};

tesmar::tmx::FileTypeFacts from_memory(const uint8_t *data, std::size_t size, std::size_t piece,
                                       std::size_t capacity, bool skip) {
  static std::vector<uint8_t> buffer(std::size_t{1} << 16);
  Memory memory{data, size, 0, piece};
  return tesmar::tmx::detect_file_type(tesmar::tmx::ByteSource{Memory::read, &memory}, buffer.data(),
                                       std::min(capacity, buffer.size()), skip);
}

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "file-type fuzz: %s\n", what);
    std::abort();
  }
}

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (g_path.empty()) {
    tmx_Initialize(0);
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    check(fd >= 0, "no temporary file");
    close(fd);
    g_path = name.data();
    std::atexit([] { unlink(g_path.c_str()); });
  }
  FILE *file = std::fopen(g_path.c_str(), "wb");
  check(file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0,
        "cannot write the input");

  int32_t type = -1;
  void *block = nullptr;
  const mpm_Status status = tmx_GetFileType(0, g_path.c_str(), &type, &block);
  mpm_DiscardPending(0);
  check(status == 0, "a readable file failed");
  check(type >= 0 && type <= 14 && type != 8 && type != 10, "type out of range");
  const bool has_block = type == 0 || type == 2 || type == 3 || type == 4 || type == 5 ||
                         type == 9 || type == 11 || type == 12;
  check(has_block == (block != nullptr), "block does not fit the type");
  if (type == TMX_FILETYPE_IGES) {
    auto *iges = static_cast<tmx_FileTypeIges *>(block);
    check(iges->line_end_count >= 0 && iges->line_end_count <= 87, "IGES line end too long");
    check(iges->record_length == 80 + iges->line_end_count, "IGES record length");
    check((iges->line_end == nullptr) == (iges->line_end_count == 0), "IGES line-end copy");
    if (iges->line_end != nullptr) check(iges->line_end[iges->line_end_count] == '\0', "terminator");
    std::free(iges->line_end);
  } else if (type == TMX_FILETYPE_STEP) {
    auto *step = static_cast<tmx_FileTypeStep *>(block);
    check(step->schema_count >= 0 && step->schema_count <= TMX_STEP_SCHEMA_COUNT, "schema count");
    for (const auto &name : step->schema_names) check(std::strlen(name) <= 119, "schema name");
  } else if (type == TMX_FILETYPE_MODEL) {
    check(std::strlen(static_cast<tmx_FileTypeModel *>(block)->schema_name) <= 119, "model name");
  } else if (type == TMX_FILETYPE_VDAFS) {
    const int32_t n = static_cast<tmx_FileTypeVdafs *>(block)->line_end_count;
    check(n >= 0 && n <= 160, "VDAFS line end");
  }
  std::free(block);

  const tesmar::tmx::FileTypeFacts whole = from_memory(data, size, 0, 1 << 16, true);
  check(whole.type == type, "memory and file disagree");
  check(from_memory(data, size, 7, tesmar::tmx::TokenReader::kMinimumCapacity, true) == whole,
        "small reads change the facts");
  check(from_memory(data, size, 0, 1 << 16, false) == whole, "skipping tokens changes the facts");
  return 0;
}
