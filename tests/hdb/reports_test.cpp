// The heap debugger's reports, compared on their exact text with pointers normalised.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/guarded_heap.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using HeapReportTest = LibraryTest;

const std::string kRule(76, '-');

// The listing's pointer column: at least ten characters wide.
std::string column(const void *pointer, const char *name) {
  std::string field = name;
  if (hex(pointer).size() < 10) field += std::string(10 - hex(pointer).size(), ' ');
  return field;
}

std::string stats(uint64_t mallocs, uint64_t callocs, uint64_t reallocs, uint64_t frees,
                  uint64_t strdups, uint64_t bytes, uint64_t blocks, uint64_t max_bytes,
                  uint64_t max_blocks, uint64_t max_count) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "Heap Function Statistics\n  mallocs:   %lu\n  callocs:   %lu\n  reallocs:  %lu\n"
                "  frees:     %lu\n  strdups:   %lu\n\n"
                "  Total allocated memory %lu bytes in %lu blocks\n"
                "  Maximum allocated memory %lu bytes in %lu blocks\n"
                "  Maximum number of blocks %lu\n",
                mallocs, callocs, reallocs, frees, strdups, bytes, blocks, max_bytes, max_blocks,
                max_count);
  return buffer;
}

TEST_F(HeapReportTest, HeapListingShowsLiveBlocksThenTheStatistics) {
  GuardedHeap heap;
  void *a = heap.allocate(24, "parse.c", 101);
  void *b = heap.allocate(7, "parse.c", 117, true);
  void *c = heap.allocate(3, "write.c", 12);
  char *d = heap.duplicate("shape", nullptr, 40);
  heap.release(b);  // deferred: still linked, not listed
  ReportCapture report;
  hdb_DumpHeap();
  EXPECT_EQ(normalise(report.text(), {{a, "<a>"}, {c, "<c>"}, {d, "<d>"}}),
            "\nHeap Contents\n\n  Rqst     Pointer     Size     Owner\n  " + kRule + "\n" +
                "  1      0x" + column(a, "<a>") + "  24       parse.c(101)\n" +
                "  3      0x" + column(c, "<c>") + "  3        write.c(12)\n" +
                "  4      0x" + column(d, "<d>") + "  6        Unknown(40)\n" + "\n" +
                stats(2, 1, 0, 1, 1, 33, 3, 40, 4, 4));
}

TEST_F(HeapReportTest, BlockListingOfNullGoodAndCorruptPointers) {
  GuardedHeap heap;
  void *a = heap.allocate(8, "dump.c", 77);
  ReportCapture report;
  hdb_DumpPtr(nullptr);
  hdb_DumpPtr(a);
  static_cast<unsigned char *>(a)[-1] = 0;
  hdb_DumpPtr(a);
  static_cast<unsigned char *>(a)[-1] = HDB_START_MARKER;
  EXPECT_EQ(normalise(report.text(), {{a, "<a>"}}),
            "Can not dump NULL pointer\n"
            "Pointer <a>:\n  Size  = 8\n  Owner = dump.c(77)\n  Rqst  = 1\n\n"
            "hdb_DumpPtr:  Corrupted block at <a>\n");
}

TEST_F(HeapReportTest, HeapListingEndsAtABlockWithABadStartMarker) {
  GuardedHeap heap;
  void *a = heap.allocate(8, "a.c", 1);
  void *b = heap.allocate(8, "b.c", 2);
  heap.allocate(8, "c.c", 3);
  hdb_Block *block = HDB_BLOCK_OF(b);
  hdb_Block *next = block->next;
  // Nothing behind a bad start marker is read: not the size, not the neighbours.
  block->start_marker[0] = 'X';
  block->size = ~uint64_t{0};
  block->next = reinterpret_cast<hdb_Block *>(uintptr_t{16});
  ReportCapture report;
  hdb_DumpHeap();
  EXPECT_EQ(normalise(report.text(), {{a, "<a>"}, {b, "<b>"}}),
            "\nHeap Contents\n\n  Rqst     Pointer     Size     Owner\n  " + kRule + "\n" +
                "  1      0x" + column(a, "<a>") + "  8        a.c(1)\n" +
                "hdb_DumpHeap:  Corrupted block at 0x<b>\n");
  block->start_marker[0] = HDB_START_MARKER;
  block->size = 8;
  block->next = next;
}

TEST_F(HeapReportTest, StrdupOfNullReportsAndGivesNull) {
  hdb_request = 12;
  ReportCapture report;
  EXPECT_EQ(hdb_Strdup("names.c", 33, nullptr), nullptr);
  EXPECT_EQ(hdb_Strdup(nullptr, 34, nullptr), nullptr);
  EXPECT_EQ(report.text(),
            "strdup @names.c(33) Rqst 12: NULL pointer passed\n"
            "strdup @Unknown(34) Rqst 12: NULL pointer passed\n");
  char *copy = hdb_Strdup("names.c", 35, "axis");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "axis");
  hdb_Free("names.c", 36, copy);
}

TEST_F(HeapReportTest, BreakpointIsHitAtItsRequestNumber) {
  GuardedHeap heap;
  hdb_SetBreakpoint(3);
  hdb_SetBreakpoint(0);  // 0 changes nothing
  EXPECT_EQ(hdb_breakpoint, 3u);
  ReportCapture report;
  heap.allocate(1, "loop.c", 5);
  heap.allocate(1, "loop.c", 5);
  EXPECT_EQ(report.text(), "");
  heap.allocate(1, "loop.c", 6);
  heap.allocate(1, "loop.c", 7);
  hdb_Breakpoint(nullptr, 0, nullptr);
  EXPECT_EQ(report.text(),
            "alloc at loop.c(6) Rqst 3: Heap breakpoint hit\n"
            "Unknown at Unknown(0) Rqst 4: Heap breakpoint hit\n");
}

}  // namespace
}  // namespace tesmar::test
