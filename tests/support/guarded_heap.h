// A small allocator of guarded blocks for the heap debugger's tests: it lays blocks out as the
// debugger inspects them (header, start marker, user data, end marker), links them into the
// debugger's list and keeps the debugger's request number and counters, as a client's allocator
// would. Also: capture of the debugger's report stream, and pointer normalisation for comparing
// reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "tesmar/hdb.h"

namespace tesmar::test {

class GuardedHeap {
 public:
  GuardedHeap() = default;
  // Unlinks and frees every block still linked (walking the list's next pointers, which tests
  // must leave intact), so a test leaks nothing even after corrupting markers.
  ~GuardedHeap();
  GuardedHeap(const GuardedHeap &) = delete;
  GuardedHeap &operator=(const GuardedHeap &) = delete;

  // A new linked block with `size` bytes of user data (zeroed with `zero`, otherwise filled with
  // a byte pattern); its user pointer, or null when memory fails. Counts a malloc or a calloc.
  void *allocate(uint64_t size, const char *file, int32_t line, bool zero = false);
  char *duplicate(const char *text, const char *file, int32_t line);
  // Frees a block. Deferred: marked HDB_FREED with its checksum and left linked for
  // hdb_FlushFrees; otherwise unlinked and given back at once.
  void release(void *user, bool deferred = true);

 private:
  hdb_Block *new_block(uint64_t size, const char *file, int32_t line, bool zero);
};

// Points the debugger's report stream at a memory stream for the object's lifetime.
class ReportCapture {
 public:
  ReportCapture();
  ~ReportCapture();
  ReportCapture(const ReportCapture &) = delete;
  ReportCapture &operator=(const ReportCapture &) = delete;
  // Everything reported so far.
  std::string text();
  // Forgets what was reported so far.
  void clear();

 private:
  FILE *saved_;
  FILE *stream_;
  char *buffer_ = nullptr;
  std::size_t size_ = 0;
};

// A pointer as the library prints it: bare lower-case hexadecimal digits.
std::string hex(const void *pointer);

// Replaces every printed form of each pointer by its name ("<a>"), longest printed form first, so
// that reports compare exactly whatever the addresses.
std::string normalise(std::string text,
                      std::initializer_list<std::pair<const void *, const char *>> pointers);

}  // namespace tesmar::test
