// The list of guarded blocks, checksums and single-pointer checks.
//
// The list is doubly linked from hdb_head to hdb_tail; a linked block's prev is null exactly when
// it is the head and its next null exactly when it is the tail. Unlinking checks that shape first,
// and that its neighbours point back at it, so a block that is not in the list (or is unlinked
// twice) leaves the list untouched.
#include "hdb/hdb_internal.h"

namespace tesmar::hdb {

bool unlink(hdb_Block *block) {
  if (block == nullptr) return false;
  if ((block->prev == nullptr) != (hdb_head == block)) return false;
  if ((block->next == nullptr) != (hdb_tail == block)) return false;
  if (block->prev != nullptr && block->prev->next != block) return false;
  if (block->next != nullptr && block->next->prev != block) return false;
  if (block->prev != nullptr)
    block->prev->next = block->next;
  else
    hdb_head = block->next;
  if (block->next != nullptr)
    block->next->prev = block->prev;
  else
    hdb_tail = block->prev;
  block->next = block->prev = nullptr;
  return true;
}

}  // namespace tesmar::hdb

extern "C" {

hdb_Block *hdb_LinkBlock(hdb_Block *block) {
  if (block == nullptr) return nullptr;
  block->next = nullptr;
  block->prev = hdb_tail;
  if (hdb_tail != nullptr)
    hdb_tail->next = block;
  else
    hdb_head = block;
  hdb_tail = block;
  return block;
}

void hdb_UnlinkBlock(hdb_Block *block) { tesmar::hdb::unlink(block); }

uint16_t hdb_Checksum(const hdb_Block *block) {
  if (block == nullptr) return 0;
  const unsigned char *data = tesmar::hdb::user_bytes(block);
  unsigned even = 0, odd = 0;
  for (uint64_t i = 0; i + 1 < block->size; i += 2) {
    even ^= data[i];
    odd ^= data[i + 1];
  }
  if (block->size % 2 != 0) even ^= data[block->size - 1];
  return static_cast<uint16_t>(even << 8 | odd);
}

int32_t hdb_IsBlock(const void *user) {
  if (user == nullptr) return 0;
  const auto *marker = static_cast<const unsigned char *>(user) - 2;
  return marker[0] == HDB_START_MARKER && marker[1] == HDB_START_MARKER ? 1 : 0;
}

int32_t hdb_CheckPtr(const char *file, int32_t line, const char *label, const void *user) {
  using namespace tesmar::hdb;
  if (hdb_IsBlock(user)) return 1;
  report("%s at %s(%d) Rqst %ld: Corrupt block at %p (or bad ptr)\n", owner_name(label),
         owner_name(file), line, request_arg(), user);
  hdb_Stop();
  return 0;
}

}  // extern "C"
