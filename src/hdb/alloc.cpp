// The allocation entry points: the C heap with the caller's location, nothing more.
#include <cstdlib>
#include <cstring>

#include "hdb/hdb_internal.h"

static_assert(sizeof(std::size_t) == sizeof(uint64_t), "sizes pass through unchanged");

extern "C" {

void *hdb_Malloc(uint32_t flags, const char *, int32_t, uint64_t size) {
  if (flags & HDB_ZERO) return std::calloc(1, static_cast<std::size_t>(size));
  return std::malloc(static_cast<std::size_t>(size));
}

void *hdb_Realloc(const char *, int32_t, void *pointer, uint64_t size) {
  return std::realloc(pointer, static_cast<std::size_t>(size));
}

void hdb_Free(const char *, int32_t, void *pointer) { std::free(pointer); }

char *hdb_Strdup(const char *file, int32_t line, const char *text) {
  using namespace tesmar::hdb;
  if (text == nullptr) {
    report("strdup @%s(%d) Rqst %ld: NULL pointer passed\n", owner_name(file), line, request_arg());
    return nullptr;
  }
  std::size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(hdb_Malloc(0, file, line, n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

}  // extern "C"
