// The block list, checksums, deferred frees, start-up state and the allocation entry points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <random>
#include <vector>

#include "support/guarded_heap.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using HeapListTest = LibraryTest;

// The list read both ways must agree with the peer.
void expect_list(const std::list<hdb_Block *> &peer) {
  std::vector<hdb_Block *> forward, backward;
  for (hdb_Block *b = hdb_head; b != nullptr && forward.size() <= peer.size(); b = b->next)
    forward.push_back(b);
  for (hdb_Block *b = hdb_tail; b != nullptr && backward.size() <= peer.size(); b = b->prev)
    backward.push_back(b);
  std::reverse(backward.begin(), backward.end());
  std::vector<hdb_Block *> want(peer.begin(), peer.end());
  EXPECT_EQ(forward, want);
  EXPECT_EQ(backward, want);
}

TEST_F(HeapListTest, LinkAndUnlinkMatchAListPeer) {
  std::mt19937 random(11);
  std::vector<hdb_Block> storage(64);
  std::list<hdb_Block *> peer;
  for (int step = 0; step < 4000; ++step) {
    hdb_Block *block = &storage[random() % storage.size()];
    auto at = std::find(peer.begin(), peer.end(), block);
    if (at == peer.end()) {
      EXPECT_EQ(hdb_LinkBlock(block), block);
      peer.push_back(block);
    } else if (random() % 4 == 0) {
      // Unlinking a block twice, or one that was never linked, changes nothing.
      hdb_UnlinkBlock(block);
      peer.erase(at);
      hdb_UnlinkBlock(block);
    } else {
      hdb_UnlinkBlock(block);
      peer.erase(at);
    }
    if (step % 97 == 0) expect_list(peer);
  }
  expect_list(peer);
  hdb_Block stranger{};
  hdb_UnlinkBlock(&stranger);
  hdb_UnlinkBlock(nullptr);
  EXPECT_EQ(hdb_LinkBlock(nullptr), nullptr);
  expect_list(peer);
  hdb_head = hdb_tail = nullptr;
}

TEST_F(HeapListTest, FlushFreesKeepsAFreedBlockWhoseLinksDisagree) {
  GuardedHeap heap;
  heap.allocate(4, "a.c", 1);
  void *b = heap.allocate(4, "b.c", 2);
  heap.allocate(4, "c.c", 3);
  heap.release(b);
  hdb_Block *block = HDB_BLOCK_OF(b);
  hdb_Block *prev = block->prev;
  block->prev = nullptr;  // a damaged back link: unlinking would corrupt the list
  ReportCapture report;
  hdb_FlushFrees();
  EXPECT_EQ(normalise(report.text(), {{b, "<b>"}}), "hdb_FlushFrees:  Corrupted block at <b>\n");
  block->prev = prev;
  hdb_FlushFrees();
  EXPECT_EQ(hdb_head->next, hdb_tail);
}

TEST_F(HeapListTest, AllocationEntryPointsUseThePlainHeap) {
  auto *zeroed = static_cast<unsigned char *>(hdb_Malloc(HDB_ZERO, "m.c", 1, 64));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_TRUE(std::all_of(zeroed, zeroed + 64, [](unsigned char c) { return c == 0; }));
  EXPECT_EQ(hdb_head, nullptr);  // no guarded block is linked
  auto *grown = static_cast<unsigned char *>(hdb_Realloc("m.c", 2, zeroed, 4096));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown[63], 0);
  hdb_Free("m.c", 3, grown);
  hdb_Free("m.c", 4, nullptr);
  void *plain = hdb_Malloc(0, nullptr, 0, 16);
  ASSERT_NE(plain, nullptr);
  hdb_Free(nullptr, 0, plain);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(hdb_request + hdb_mallocs + hdb_callocs + hdb_reallocs + hdb_frees, 0u);
}

}  // namespace
}  // namespace tesmar::test
