// The heap listing, the listing of one block, the statistics and the release of deferred frees.
// Each does nothing while no request has been made; each stops at a block whose start marker is
// bad, before reading anything else of it.
#include <cstdlib>

#include "hdb/hdb_internal.h"

extern "C" {

void hdb_DumpHeap(void) {
  using namespace tesmar::hdb;
  if (hdb_request == 0) return;
  report("\nHeap Contents\n");
  report("\n  Rqst     Pointer     Size     Owner\n");
  report("  %s\n", "----------------------------------------------------------------------------");
  for (hdb_Block *block = hdb_head; block != nullptr; block = block->next) {
    void *user = HDB_USER_DATA(block);
    if (!has_start_marker(block)) {
      report("hdb_DumpHeap:  Corrupted block at 0x%p\n", user);
      hdb_Stop();
      return;
    }
    if (block->flags & HDB_FREED) continue;
    report("  %-6lu 0x%-10p  %-8lu %s(%d)\n", static_cast<unsigned long>(block->request), user,
           static_cast<unsigned long>(block->size), owner_name(block->file), block->line);
  }
  report("\n");
  hdb_DumpStats();
}

void hdb_DumpPtr(const void *user) {
  using namespace tesmar::hdb;
  if (hdb_request == 0) return;
  if (user == nullptr) {
    report("Can not dump NULL pointer\n");
    return;
  }
  if (!hdb_IsBlock(user)) {
    report("hdb_DumpPtr:  Corrupted block at %p\n", user);
    hdb_Stop();
    return;
  }
  const hdb_Block *block = HDB_BLOCK_OF(user);
  report("Pointer %p:\n", user);
  report("  Size  = %lu\n", static_cast<unsigned long>(block->size));
  report("  Owner = %s(%d)\n", owner_name(block->file), block->line);
  report("  Rqst  = %lu\n\n", static_cast<unsigned long>(block->request));
}

void hdb_DumpStats(void) {
  using namespace tesmar::hdb;
  if (hdb_request == 0) return;
  report("Heap Function Statistics\n");
  report("  mallocs:   %lu\n", static_cast<unsigned long>(hdb_mallocs));
  report("  callocs:   %lu\n", static_cast<unsigned long>(hdb_callocs));
  report("  reallocs:  %lu\n", static_cast<unsigned long>(hdb_reallocs));
  report("  frees:     %lu\n", static_cast<unsigned long>(hdb_frees));
  report("  strdups:   %lu\n\n", static_cast<unsigned long>(hdb_strdups));
  report("  Total allocated memory %lu bytes in %lu blocks\n",
         static_cast<unsigned long>(hdb_total_bytes), static_cast<unsigned long>(hdb_total_blocks));
  report("  Maximum allocated memory %lu bytes in %lu blocks\n",
         static_cast<unsigned long>(hdb_max_bytes), static_cast<unsigned long>(hdb_max_blocks));
  report("  Maximum number of blocks %lu\n", static_cast<unsigned long>(hdb_max_block_count));
}

void hdb_FlushFrees(void) {
  using namespace tesmar::hdb;
  if (hdb_request == 0) return;
  for (hdb_Block *block = hdb_head, *next; block != nullptr; block = next) {
    // A freed block whose links do not match its neighbours' is not freed either: it would stay
    // linked after its memory went back to the heap.
    bool sound = has_start_marker(block);
    next = sound ? block->next : nullptr;
    if (sound && (block->flags & HDB_FREED)) sound = unlink(block);
    if (!sound) {
      report("hdb_FlushFrees:  Corrupted block at %p\n", HDB_USER_DATA(block));
      hdb_Stop();
      return;
    }
    if (block->flags & HDB_FREED) std::free(block);
  }
}

}  // extern "C"
