// Heap validation: markers, freed blocks written after their free, the last successful validation.
#include <gtest/gtest.h>

#include <string>

#include "support/guarded_heap.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using HeapValidationTest = LibraryTest;

unsigned char *bytes(void *user) { return static_cast<unsigned char *>(user); }

TEST_F(HeapValidationTest, BadStartMarkerEndsTheWalkWithoutReadingTheBlock) {
  GuardedHeap heap;
  heap.allocate(4, "a.c", 1);
  void *b = heap.allocate(4, "b.c", 2);
  void *c = heap.allocate(4, "c.c", 3);
  bytes(c)[4] = 0;  // a later corruption the walk must not reach
  hdb_Block *block = HDB_BLOCK_OF(b);
  hdb_Block *saved_next = block->next;
  block->start_marker[1] = 0;
  block->size = uint64_t{1} << 62;                                 // would read far away
  block->next = reinterpret_cast<hdb_Block *>(uintptr_t{0x10});   // would crash
  ReportCapture report;
  EXPECT_EQ(hdb_CheckHeap("s.c", 9, "start"), 0);
  EXPECT_EQ(normalise(report.text(), {{b, "<b>"}}), "start at s.c(9) Rqst 3: <b> start marker bad\n");
  block->start_marker[1] = HDB_START_MARKER;
  block->size = 4;
  block->next = saved_next;
  bytes(c)[4] = HDB_END_MARKER;
}

TEST_F(HeapValidationTest, FreedBlockWrittenAfterItsFreeIsReportedOnce) {
  GuardedHeap heap;
  heap.allocate(8, "a.c", 1);
  void *b = heap.allocate(9, "b.c", 2);
  heap.release(b);
  ASSERT_EQ(hdb_CheckHeap("main.c", 1, "first"), 1);
  bytes(b)[3] ^= 0x40;  // write after free
  ReportCapture report;
  // Without the option freed blocks are not checked.
  EXPECT_EQ(hdb_CheckHeap("main.c", 2, "unchecked"), 1);
  EXPECT_EQ(report.text(), "");
  hdb_SetOptions(HDB_CHECK_FREED);
  EXPECT_EQ(hdb_CheckHeap("main.c", 3, "checked"), 0);
  EXPECT_EQ(normalise(report.text(), {{b, "<b>"}}),
            "checked @main.c(3) Rqst 2: Freed block <b> modified\n"
            "Last successful validation at main.c(2) Rqst 2\n");
  // The new checksum was stored: the next validation finds the block consistent again.
  report.clear();
  EXPECT_EQ(hdb_CheckHeap("main.c", 4, "again"), 1);
  EXPECT_EQ(report.text(), "");
  EXPECT_EQ(hdb_valid_line, 4);
  hdb_ClearOptions(HDB_CHECK_FREED);
  EXPECT_EQ(hdb_options, 0u);
}

TEST_F(HeapValidationTest, CheckPtrAndIsBlock) {
  GuardedHeap heap;
  void *a = heap.allocate(4, "a.c", 1);
  EXPECT_EQ(hdb_IsBlock(a), 1);
  EXPECT_EQ(hdb_IsBlock(nullptr), 0);
  unsigned char plain[8] = {'U', 'U', 'x', 0, 0, 0, 0, 0};
  EXPECT_EQ(hdb_IsBlock(plain + 2), 1);  // only the two bytes before the pointer count
  EXPECT_EQ(hdb_IsBlock(plain + 3), 0);
  ReportCapture report;
  EXPECT_EQ(hdb_CheckPtr("use.c", 8, "use", a), 1);
  EXPECT_EQ(hdb_CheckPtr("use.c", 9, "use", plain + 3), 0);
  EXPECT_EQ(hdb_CheckPtr(nullptr, 10, nullptr, nullptr), 0);
  EXPECT_EQ(normalise(report.text(), {{plain + 3, "<p>"}}),
            "use at use.c(9) Rqst 1: Corrupt block at <p> (or bad ptr)\n"
            "Unknown at Unknown(10) Rqst 1: Corrupt block at 0 (or bad ptr)\n");
}

TEST_F(HeapValidationTest, DefaultOwnerNamesMissingLocations) {
  GuardedHeap heap;
  void *a = heap.allocate(4, "a.c", 1);
  bytes(a)[4] = 0;
  hdb_default_owner = "translator";
  ReportCapture report;
  EXPECT_EQ(hdb_Validate(), 0);
  EXPECT_EQ(normalise(report.text(), {{a, "<a>"}}),
            "translator at translator(0) Rqst 1: <a> end marker bad\n");
  bytes(a)[4] = HDB_END_MARKER;
}

}  // namespace
}  // namespace tesmar::test
