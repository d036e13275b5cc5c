// Private declarations of the heap debugger, shared by its files.
#pragma once

#include <cstdint>

#include "tesmar/hdb.h"
#include "tesmar/mpm.h"

namespace tesmar::hdb {

const mpm_ModuleDesc &module_desc();

// Writes a report to hdb_report_stream (stderr when unset). The text is formatted by the library's
// engine: a pointer prints as bare hexadecimal digits.
void report(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Takes a block out of the list when the list's links around it are consistent; false (and nothing
// changed) when they are not, or the block is not linked.
bool unlink(hdb_Block *block);

// A file or label as reports print it: the default owner stands in for a missing one.
inline const char *owner_name(const char *name) {
  if (name != nullptr) return name;
  return hdb_default_owner != nullptr ? hdb_default_owner : "Unknown";
}

inline unsigned char *user_bytes(const hdb_Block *block) {
  return reinterpret_cast<unsigned char *>(const_cast<hdb_Block *>(block)) + sizeof(hdb_Block);
}

inline bool has_start_marker(const hdb_Block *block) {
  return block->start_marker[0] == HDB_START_MARKER && block->start_marker[1] == HDB_START_MARKER;
}

// Reads the two bytes after the user data, so only for a block whose start marker is good.
inline bool has_end_marker(const hdb_Block *block) {
  const unsigned char *end = user_bytes(block) + block->size;
  return end[0] == HDB_END_MARKER && end[1] == HDB_END_MARKER;
}

// Request numbers print as "%ld" in reports and "%lu" in listings.
inline long request_arg() { return static_cast<long>(hdb_request); }

}  // namespace tesmar::hdb
