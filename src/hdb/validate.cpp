// Heap validation.
//
// The walk goes from hdb_head along next. A block's start marker is checked before anything else of
// the block is read: a bad one may mean the pointer that led here is wild, so the walk ends there
// without touching the block's size, end marker or neighbours. A bad end marker also ends the walk
// (the header may be intact while the neighbours are not). A deferred-free block whose checksum
// changed is reported and re-checksummed, and the walk goes on; the validation still fails, once,
// so that write-after-free is never reported as a valid heap.
#include <cstdio>

#include "hdb/hdb_internal.h"

namespace {

char g_valid_file[256];

int32_t fail() {
  if (hdb_valid_file != nullptr)
    tesmar::hdb::report("Last successful validation at %s(%d) Rqst %ld\n", hdb_valid_file,
                        hdb_valid_line, static_cast<long>(hdb_valid_request));
  hdb_Stop();
  return 0;
}

void record_success(const char *file, int32_t line) {
  // A copy: the caller's text may not outlive this call.
  if (file != g_valid_file) std::snprintf(g_valid_file, sizeof g_valid_file, "%s", file);
  hdb_valid_file = g_valid_file;
  hdb_valid_line = line;
  hdb_valid_request = hdb_request;
}

}  // namespace

extern "C" {

int32_t hdb_CheckHeap(const char *file, int32_t line, const char *label) {
  using namespace tesmar::hdb;
  const char *where = owner_name(file);
  const char *what = owner_name(label);
  bool modified = false;
  for (hdb_Block *block = hdb_head; block != nullptr; block = block->next) {
    void *user = HDB_USER_DATA(block);
    if (!has_start_marker(block)) {
      report("%s at %s(%d) Rqst %ld: %p start marker bad\n", what, where, line, request_arg(), user);
      return fail();
    }
    if (!has_end_marker(block)) {
      report("%s at %s(%d) Rqst %ld: %p end marker bad\n", what, where, line, request_arg(), user);
      return fail();
    }
    if ((hdb_options & HDB_CHECK_FREED) && (block->flags & HDB_FREED)) {
      uint16_t sum = hdb_Checksum(block);
      if (sum != block->checksum) {
        report("%s @%s(%d) Rqst %ld: Freed block %p modified\n", what, where, line, request_arg(),
               user);
        block->checksum = sum;
        modified = true;
      }
    }
  }
  if (modified) return fail();
  if (file != nullptr) record_success(file, line);
  return 1;
}

int32_t hdb_Validate(void) {
  if (hdb_request == 0) return 1;
  return hdb_CheckHeap(nullptr, 0, nullptr);
}

}  // extern "C"
