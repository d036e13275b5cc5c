// The list's edge cases: creation, positions, insertion and removal, the cursor, both cycles,
// node reuse, copies, arrays, set operations, argument checks and out-of-memory paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "olm/list_check.h"
#include "olm/olm_internal.h"
#include "otm/otm_internal.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

int compare_ints(const void *a, const void *b) {
  int32_t x = *static_cast<const int32_t *>(a), y = *static_cast<const int32_t *>(b);
  return (x > y) - (x < y);
}

std::string error(const char *name, const std::string &text) {
  return "*** Error (" + std::string(name) + ") ***\n" + text;
}

std::string invalid_position(int32_t n) {
  return error("OLM_INVALIDPOSITION", "Invalid position = " + std::to_string(n) + "\n");
}

std::vector<std::string> take_pending() {
  std::vector<std::string> texts = pending_texts();
  mpm_DiscardPending(0);
  return texts;
}

class ListTest : public LibraryTest {
 protected:
  void TearDown() override {
    olm::g_fail_allocation = 0;
    otm::g_fail_allocation = 0;
    for (olm_List *list : lists_) olm_DeleteList(0, list);
    LibraryTest::TearDown();
  }
  olm_List *own(olm_List *list) {
    if (list != nullptr) lists_.push_back(list);
    return list;
  }
  // A list of int32 records, appended in order.
  olm_List *make(std::vector<int32_t> values, int32_t per_block = 2) {
    olm_List *list = own(olm_CreateList(0, sizeof(int32_t), per_block, 0));
    for (int32_t v : values) EXPECT_NE(olm_AddObject(0, list, OLM_TAIL, &v), nullptr);
    return list;
  }
  static std::vector<int32_t> values(const olm_List *list) {
    std::vector<void *> records;
    EXPECT_TRUE(list_ok(list, &records));
    std::vector<int32_t> out;
    for (void *r : records) out.push_back(*static_cast<int32_t *>(r));
    return out;
  }
  static int32_t at(void *record) { return record != nullptr ? *static_cast<int32_t *>(record) : -999; }
  static int32_t current(const olm_List *list) {
    return list->current != nullptr ? at(olm::record_of(list->current)) : -999;
  }
  static std::vector<int32_t> cycle(olm_List *list) {
    std::vector<int32_t> out;
    while (void *r = olm_CycleList(0, list)) out.push_back(at(r));
    return out;
  }
  static std::vector<int32_t> reverse_cycle(olm_List *list) {
    std::vector<int32_t> out;
    while (void *r = olm_ReverseCycleList(0, list)) out.push_back(at(r));
    return out;
  }

 private:
  std::vector<olm_List *> lists_;
};

TEST_F(ListTest, CreationRefusesSizesAndNodeCountsBelowOne) {
  EXPECT_EQ(olm_CreateList(0, 0, 10, 0), nullptr);
  EXPECT_EQ(olm_CreateList(0, -8, 10, 0), nullptr);
  EXPECT_EQ(olm_CreateList(0, 8, 0, 0), nullptr);
  EXPECT_EQ(olm_CreateList(0, 8, -1, 0), nullptr);
  EXPECT_EQ(olm_CreateList(0, 8, INT32_MIN, 0), nullptr);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{
                                error("OLM_INVALIDSIZE", "Invalid size = -2147483648\n"),
                                error("OLM_INVALIDSIZE", "Invalid size = -1\n"),
                                error("OLM_INVALIDSIZE", "Invalid size = 0\n"),
                                error("OLM_INVALIDSIZE", "Invalid size = -8\n"),
                                error("OLM_INVALIDSIZE", "Invalid size = 0\n"),
                            }));
  olm_List storage;
  EXPECT_EQ(olm_InitializeList(0, nullptr, 8, 1, 0), OLM_NULLPOINTER);
  EXPECT_EQ(olm_InitializeList(0, &storage, -1, 1, 0), OLM_INVALIDSIZE);
  EXPECT_EQ(olm_InitializeList(0, &storage, 1, 0, 0), OLM_INVALIDSIZE);
  EXPECT_EQ(take_pending().size(), 3u);
}

TEST_F(ListTest, SizesBeyondMemoryAreOutOfMemory) {
  // The stride of the largest data size no longer fits the header's 32 bits.
  EXPECT_EQ(olm_CreateList(0, INT32_MAX, 1, 0), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NOMEMORY", "Out of memory\n")});
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESMAR_TEST_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define TESMAR_TEST_ASAN 1
#endif
#ifdef TESMAR_TEST_ASAN
  // The sanitizer's allocator aborts on requests this large unless told to return null.
  const char *options = std::getenv("ASAN_OPTIONS");
  if (options == nullptr || std::strstr(options, "allocator_may_return_null=1") == nullptr)
    GTEST_SKIP() << "ASAN_OPTIONS lacks allocator_may_return_null=1";
#endif
  // 2^31 nodes of 2^30 bytes: a block no allocator gives.
  EXPECT_EQ(olm_CreateList(0, 1 << 30, INT32_MAX, 0), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NOMEMORY", "Out of memory\n")});
}

TEST_F(ListTest, StrideIsDataSizePlusLinksRoundedToEight) {
  const std::vector<std::pair<int32_t, int32_t>> strides = {
      {1, 24}, {4, 24}, {8, 24}, {9, 32}, {12, 32}, {16, 32}, {17, 40}, {64, 80}};
  for (auto [size, stride] : strides) {
    olm_List *list = own(olm_CreateList(0, size, 3, 0));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->node_stride, stride) << "data size " << size;
    EXPECT_TRUE(list_ok(list));
  }
}

TEST_F(ListTest, InsertionAtCurrentHeadAndNumberedPositions) {
  // A, B, C appended; X at 0 goes before current (C); Y at -1 goes first.
  olm_List *list = make({'A', 'B', 'C'});
  EXPECT_EQ(current(list), 'C');
  int32_t x = 'X', y = 'Y';
  EXPECT_EQ(at(olm_AddObject(0, list, OLM_CURRENT, &x)), 'X');
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', 'B', 'X', 'C'}));
  EXPECT_EQ(current(list), 'X');
  olm_AddObject(0, list, OLM_HEAD, &y);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'Y', 'A', 'B', 'X', 'C'}));

  // Position 3 of A, B, C goes between B and C; position 1 after current; 4 after the last.
  list = make({'A', 'B', 'C'});
  int32_t n = 'N', one = '1', four = '4';
  olm_AddObject(0, list, 3, &n);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', 'B', 'N', 'C'}));
  EXPECT_EQ(list->cycle_index, 2);  // the location of position 2 stays with the cycle
  olm_GetObject(0, list, OLM_HEAD);
  olm_AddObject(0, list, 1, &one);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', '1', 'B', 'N', 'C'}));
  olm_AddObject(0, list, 6, &four);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', '1', 'B', 'N', 'C', '4'}));

  // With no current record, positions 0 and 1 insert at the front; into an empty list any
  // numbered position does.
  list = make({});
  EXPECT_EQ(at(olm_AddObject(0, list, OLM_CURRENT, &x)), 'X');
  list->current = nullptr;
  olm_AddObject(0, list, 1, &y);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'Y', 'X'}));
  list = make({});
  olm_AddObject(0, list, 7, &n);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'N'}));
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, PositionsOutsideTheListAreInvalid) {
  olm_List *list = make({'A', 'B', 'C'});
  olm_GetObject(0, list, 2);
  EXPECT_EQ(olm_GetObject(0, list, 4), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{invalid_position(4)});
  // The failed location ran the cycle out: it is reset and current is the last record.
  EXPECT_EQ(list->cycle_index, 0);
  EXPECT_EQ(current(list), 'C');
  int32_t v = 'V';
  EXPECT_EQ(olm_AddObject(0, list, 5, &v), nullptr);
  EXPECT_EQ(olm_AddObject(0, list, -3, &v), nullptr);
  EXPECT_EQ(olm_GetObject(0, list, -7), nullptr);
  EXPECT_EQ(olm_RemoveObject(0, list, 9), OLM_INVALIDPOSITION);
  EXPECT_EQ(olm_RemoveObject(0, list, INT32_MIN), OLM_INVALIDPOSITION);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{
                                invalid_position(INT32_MIN), invalid_position(9),
                                invalid_position(-7), invalid_position(-3), invalid_position(5)}));
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', 'B', 'C'}));
}

TEST_F(ListTest, GetObjectMovesTheCursorAndTheCycle) {
  olm_List *list = make({'A', 'B', 'C', 'D'});
  EXPECT_EQ(at(olm_GetObject(0, list, OLM_HEAD)), 'A');
  EXPECT_EQ(current(list), 'A');
  EXPECT_EQ(at(olm_GetObject(0, list, OLM_TAIL)), 'D');
  EXPECT_EQ(at(olm_GetObject(0, list, OLM_CURRENT)), 'D');
  EXPECT_EQ(at(olm_GetObject(0, list, 2)), 'B');
  EXPECT_EQ(list->cycle_index, 2);
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'C', 'D'}));
  olm_List *empty = make({});
  EXPECT_EQ(olm_GetObject(0, empty, OLM_HEAD), nullptr);
  EXPECT_EQ(olm_GetObject(0, empty, OLM_TAIL), nullptr);
  EXPECT_EQ(olm_GetObject(0, empty, OLM_CURRENT), nullptr);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, RemovalMovesCurrentOnlyWhenItWasRemoved) {
  olm_List *list = make({'A', 'B', 'C', 'D'});
  olm_GetObject(0, list, 2);
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_CURRENT), 0u);
  EXPECT_EQ(current(list), 'C');  // its successor
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_HEAD), 0u);
  EXPECT_EQ(current(list), 'C');  // restored
  EXPECT_EQ(olm_RemoveObject(0, list, 2), 0u);  // D
  EXPECT_EQ(current(list), 'C');
  EXPECT_EQ(values(list), std::vector<int32_t>{'C'});
  int32_t e = 'E';
  olm_AddObject(0, list, OLM_TAIL, &e);
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_TAIL), 0u);  // the last record while current
  EXPECT_EQ(current(list), 'C');
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_CURRENT), 0u);
  EXPECT_EQ(list->current, nullptr);
  EXPECT_EQ(list->count, 0);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, RemovingFromAnEmptyListChangesNothingAndReturnsTheLastStatus) {
  olm_List *list = make({});
  mpm_DiscardPending(0);  // clears the last status
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_HEAD), 0u);
  mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_TAIL), OLM_NULLPOINTER);
  EXPECT_EQ(olm_RemoveObject(0, list, OLM_CURRENT), OLM_NULLPOINTER);
  EXPECT_EQ(take_pending().size(), 1u);
  EXPECT_TRUE(list_ok(list));
}

TEST_F(ListTest, ForwardCycleReturnsEveryRecordThenNoneOnceThenStartsAgain) {
  olm_List *list = make({'A', 'B', 'C'});
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'A', 'B', 'C'}));
  EXPECT_EQ(list->cycle_index, 0);
  EXPECT_EQ(at(olm_CycleList(0, list)), 'A');
  EXPECT_EQ(cycle(make({})), std::vector<int32_t>{});
  // Removals reset it.
  list = make({'A', 'X', 'B', 'C'});
  olm_CycleList(0, list);
  olm_CycleList(0, list);
  olm_RemoveObject(0, list, OLM_TAIL);
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'A', 'X', 'B'}));
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, InsertionsDuringACycleMoveItsPosition) {
  // The cycle goes on from current, and an insertion makes the new record current while the
  // cycle index stays: inserting before current repeats the record after the new one...
  olm_List *list = make({'A', 'B', 'C'});
  olm_CycleList(0, list);
  olm_CycleList(0, list);
  int32_t x = 'X';
  olm_AddObject(0, list, OLM_CURRENT, &x);
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'B', 'C'}));
  EXPECT_TRUE(take_pending().empty());
  // ...inserting after it skips the new record, and the cycle, its index now behind its position,
  // runs off the end, which is reported.
  list = make({'A', 'B', 'C'});
  olm_CycleList(0, list);
  olm_AddObject(0, list, 1, &x);
  EXPECT_EQ(values(list), (std::vector<int32_t>{'A', 'X', 'B', 'C'}));
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'B', 'C'}));
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NULLPOINTER", "NULL pointer\n")});
  // Appending moves current to the new last record.
  list = make({'A', 'B', 'C'});
  olm_CycleList(0, list);
  int32_t d = 'D';
  olm_AddObject(0, list, OLM_TAIL, &d);
  EXPECT_EQ(olm_CycleList(0, list), nullptr);
  EXPECT_EQ(list->cycle_index, 0);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NULLPOINTER", "NULL pointer\n")});
  EXPECT_EQ(cycle(list), (std::vector<int32_t>{'A', 'B', 'C', 'D'}));
}

TEST_F(ListTest, ReverseCycleStartsAtTheTailAndEndsPastTheHead) {
  olm_List *list = make({'A', 'B', 'C'});
  EXPECT_EQ(reverse_cycle(list), (std::vector<int32_t>{'C', 'B', 'A'}));
  EXPECT_EQ(list->cycle_index, 0);
  EXPECT_EQ(current(list), 'A');
  EXPECT_EQ(reverse_cycle(list), (std::vector<int32_t>{'C', 'B', 'A'}));
  EXPECT_EQ(reverse_cycle(make({})), std::vector<int32_t>{});
  olm_List *one = make({'Z'});
  EXPECT_EQ(reverse_cycle(one), std::vector<int32_t>{'Z'});
  // Both directions share the cycle: a backward step goes back from where a forward one stands,
  // and a forward step goes on from where a backward one stands.
  olm_CycleList(0, list);
  olm_CycleList(0, list);
  olm_CycleList(0, list);
  EXPECT_EQ(at(olm_ReverseCycleList(0, list)), 'B');
  EXPECT_EQ(list->cycle_index, 2);
  EXPECT_EQ(at(olm_CycleList(0, list)), 'C');
  EXPECT_EQ(olm_CycleList(0, list), nullptr);
  olm_GetObject(0, list, 2);
  EXPECT_EQ(reverse_cycle(list), std::vector<int32_t>{'A'});
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, AddArrayKeepsTheArrayOrderAtThePosition) {
  olm_List *list = make({9});
  int32_t array[] = {1, 2, 3};
  EXPECT_EQ(olm_AddArray(0, list, OLM_TAIL, 3, array), 0u);
  EXPECT_EQ(values(list), (std::vector<int32_t>{9, 1, 2, 3}));
  EXPECT_EQ(current(list), 1);
  EXPECT_EQ(olm_AddArray(0, list, OLM_HEAD, 3, array), 0u);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 9, 1, 2, 3}));
  EXPECT_EQ(olm_AddArray(0, list, 5, 2, array), 0u);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 9, 1, 2, 1, 2, 3}));
  EXPECT_EQ(olm_AddArray(0, list, OLM_TAIL, 0, array), OLM_INVALIDSIZE);
  EXPECT_EQ(olm_AddArray(0, list, OLM_TAIL, -2, array), OLM_INVALIDSIZE);
  EXPECT_EQ(olm_AddArray(0, list, 20, 2, array), OLM_INVALIDPOSITION);
  EXPECT_EQ(olm_AddArray(0, list, OLM_TAIL, 2, nullptr), OLM_NULLPOINTER);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{
                                error("OLM_NULLPOINTER", "NULL pointer\n"), invalid_position(20),
                                error("OLM_INVALIDSIZE", "Invalid size = -2\n"),
                                error("OLM_INVALIDSIZE", "Invalid size = 0\n")}));
  EXPECT_EQ(list->count, 9);
}

TEST_F(ListTest, PurgedNodesAreReusedWithoutAllocating) {
  olm_List *list = make({1, 2, 3, 4, 5}, 2);
  std::vector<void *> before;
  ASSERT_TRUE(list_ok(list, &before));
  olm_Block *blocks = list->blocks;
  EXPECT_EQ(olm_PurgeList(0, list), 0u);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->current, nullptr);
  EXPECT_TRUE(list_ok(list));
  // Any allocation from here on fails: six insertions fit in the three blocks already there.
  olm::g_fail_allocation = 1;
  for (int32_t v = 10; v < 16; ++v) ASSERT_NE(olm_AddObject(0, list, OLM_TAIL, &v), nullptr);
  EXPECT_EQ(olm::g_fail_allocation, 1);
  olm::g_fail_allocation = 0;
  EXPECT_EQ(list->blocks, blocks);
  std::vector<void *> after;
  ASSERT_TRUE(list_ok(list, &after));
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_NE(std::find(after.begin(), after.end(), before[i]), after.end());
  // Purging an empty list is harmless.
  EXPECT_EQ(olm_PurgeList(0, make({})), 0u);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, FreeListZeroesTheHeaderAndAFreedListRefusesRecords) {
  olm_List storage;
  ASSERT_EQ(olm_InitializeList(0, &storage, 4, 3, 5), 0u);
  int32_t v = 1;
  olm_AddObject(0, &storage, OLM_TAIL, &v);
  EXPECT_EQ(olm_FreeList(0, &storage), 0u);
  const olm_List zero{};
  EXPECT_EQ(std::memcmp(&storage, &zero, sizeof zero), 0);
  EXPECT_EQ(olm_AddObject(0, &storage, OLM_TAIL, &v), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_INVALIDSIZE", "Invalid size = 0\n")});
  EXPECT_EQ(olm_CycleList(0, &storage), nullptr);
  EXPECT_EQ(olm_FreeList(0, &storage), 0u);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, CopyAndArrayHoldTheRecordsInOrder) {
  olm_List *list = own(olm_CreateList(0, sizeof(int32_t), 3, 0x1234));
  for (int32_t v : {5, 1, 4, 1, 3}) olm_AddObject(0, list, OLM_TAIL, &v);
  olm_CycleList(0, list);
  olm_List *copy = own(olm_CopyList(0, list));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(values(copy), (std::vector<int32_t>{5, 1, 4, 1, 3}));
  EXPECT_EQ(copy->user, 0x1234u);
  EXPECT_EQ(copy->nodes_per_block, 3);
  EXPECT_EQ(list->cycle_index, 0);
  int32_t n = 0;
  auto *array = static_cast<int32_t *>(olm_GetArray(0, list, &n));
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::vector<int32_t>(array, array + n), (std::vector<int32_t>{5, 1, 4, 1, 3}));
  std::free(array);
  n = 3;
  EXPECT_EQ(olm_GetArray(0, make({}), &n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(values(own(olm_CopyList(0, make({})))), std::vector<int32_t>{});
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, MergeExamples) {
  olm_List *a = make({3, 1, 3});
  olm_List *b = make({2, 1});
  EXPECT_EQ(values(own(olm_MergeLists(0, a, b, 2, compare_ints))), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(values(own(olm_MergeLists(0, a, b, 1, compare_ints))), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(values(own(olm_MergeLists(0, a, b, 3, compare_ints))), (std::vector<int32_t>{1}));
  // The inputs are left as they were.
  EXPECT_EQ(values(a), (std::vector<int32_t>{3, 1, 3}));
  EXPECT_EQ(values(b), (std::vector<int32_t>{2, 1}));
  // An empty list B gives a copy of A, unless the flags let it take part.
  olm_List *c = make({1, 2});
  olm_List *empty = make({});
  EXPECT_EQ(values(own(olm_MergeLists(0, c, empty, 3, compare_ints))), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(olm_MergeLists(OLM_MERGE_EMPTY_A, c, empty, 3, compare_ints), nullptr);
  EXPECT_EQ(olm_MergeLists(OLM_MERGE_EMPTY_B, c, empty, 3, compare_ints), nullptr);
  EXPECT_EQ(values(own(olm_MergeLists(OLM_MERGE_EMPTY_B, empty, c, 2, compare_ints))),
            (std::vector<int32_t>{1, 2}));
  // A record of B that comes twice is toggled twice by the symmetric difference.
  EXPECT_EQ(values(own(olm_MergeLists(0, make({1, 5}), make({7, 5, 7}), 1, compare_ints))),
            (std::vector<int32_t>{1}));
  // An empty result is none, without a message.
  EXPECT_EQ(olm_MergeLists(0, make({1}), make({2}), 3, compare_ints), nullptr);
  EXPECT_EQ(olm_MergeLists(0, make({1}), make({1}), 1, compare_ints), nullptr);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, MergeWithMissingListsAndBadArguments) {
  olm_List *a = make({2, 1});
  olm_List *empty = make({});
  EXPECT_EQ(olm_MergeLists(0, nullptr, nullptr, 2, compare_ints), nullptr);
  EXPECT_EQ(values(own(olm_MergeLists(0, nullptr, a, 2, compare_ints))), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(values(own(olm_MergeLists(0, a, nullptr, 2, compare_ints))), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(values(own(olm_MergeLists(0, empty, nullptr, 2, compare_ints))), std::vector<int32_t>{});
  EXPECT_EQ(values(own(olm_MergeLists(0, nullptr, empty, 2, compare_ints))), std::vector<int32_t>{});
  EXPECT_TRUE(take_pending().empty());

  olm_List *wide = own(olm_CreateList(0, 8, 4, 0));
  int64_t w = 1;
  olm_AddObject(0, wide, OLM_TAIL, &w);
  EXPECT_EQ(olm_MergeLists(0, a, wide, 2, compare_ints), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error(
                                "OLM_SIZENOTEQ", "Data size one (4) does not equal data size two (8)\n")});
  EXPECT_EQ(olm_MergeLists(0, a, a, 2, nullptr), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NULLPOINTER", "NULL pointer\n")});
  EXPECT_EQ(olm_MergeLists(0, a, a, 0, compare_ints), nullptr);
  EXPECT_EQ(olm_MergeLists(0, a, a, 4, compare_ints), nullptr);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(ListTest, MissingListsIssueNullPointer) {
  int32_t v = 1, n = 5;
  olm_List *list = make({1});
  EXPECT_EQ(olm_AddObject(0, nullptr, OLM_TAIL, &v), nullptr);
  EXPECT_EQ(olm_AddObject(0, list, OLM_TAIL, nullptr), nullptr);
  EXPECT_EQ(olm_AddArray(0, nullptr, OLM_TAIL, 1, &v), OLM_NULLPOINTER);
  EXPECT_EQ(olm_GetObject(0, nullptr, OLM_HEAD), nullptr);
  EXPECT_EQ(olm_CycleList(0, nullptr), nullptr);
  EXPECT_EQ(olm_ReverseCycleList(0, nullptr), nullptr);
  EXPECT_EQ(olm_RemoveObject(0, nullptr, OLM_HEAD), OLM_NULLPOINTER);
  EXPECT_EQ(olm_PurgeList(0, nullptr), OLM_NULLPOINTER);
  EXPECT_EQ(olm_FreeList(0, nullptr), OLM_NULLPOINTER);
  EXPECT_EQ(olm_DeleteList(0, nullptr), OLM_NULLPOINTER);
  EXPECT_EQ(olm_CopyList(0, nullptr), nullptr);
  EXPECT_EQ(olm_GetArray(0, nullptr, &n), nullptr);
  EXPECT_EQ(n, 0);
  std::vector<std::string> pending = take_pending();
  EXPECT_EQ(pending.size(), 12u);
  for (const std::string &text : pending) EXPECT_EQ(text, error("OLM_NULLPOINTER", "NULL pointer\n"));
  EXPECT_EQ(values(list), std::vector<int32_t>{1});
}

TEST_F(ListTest, ACountThatWouldOverflowIsOutOfMemory) {
  olm_List *list = make({1});
  list->count = INT32_MAX;  // as if the list held that many records
  int32_t v = 2;
  EXPECT_EQ(olm_AddObject(0, list, OLM_TAIL, &v), nullptr);
  list->count = 1;
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OLM_NOMEMORY", "Out of memory\n")});
  EXPECT_EQ(values(list), std::vector<int32_t>{1});
}

// Makes the n-th allocation (of lists, or of trees when `tree` is set) fail for n = 1, 2, ...
// until the operation succeeds. After each failure the operation must have issued the module's
// NOMEMORY and failed, and `check` must hold. Leaks show under the sanitizer build.
template <typename Op, typename Check>
void fail_each_allocation(bool tree, Op op, Check check) {
  int32_t &countdown = tree ? otm::g_fail_allocation : olm::g_fail_allocation;
  std::string nomemory = tree ? error("OTM_NOMEMORY", "Out of memory\n")
                              : error("OLM_NOMEMORY", "Out of memory\n");
  for (int32_t n = 1;; ++n) {
    ASSERT_LT(n, 10000);
    countdown = n;
    bool ok = op();
    bool failed = countdown == 0;
    countdown = 0;
    check();
    std::vector<std::string> pending = take_pending();
    if (!failed) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(pending.empty());
      return;
    }
    EXPECT_FALSE(ok) << "allocation " << n;
    ASSERT_EQ(pending.size(), 1u) << "allocation " << n;
    EXPECT_EQ(pending[0], nomemory);
  }
}

TEST_F(ListTest, FailedAllocationsLeaveNothingBehind) {
  std::vector<int32_t> va, vb;
  for (int32_t i = 0; i < 30; ++i) va.push_back((i * 7) % 31);
  for (int32_t i = 0; i < 12; ++i) vb.push_back(i * 3);
  olm_List *a = make(va, 4);
  olm_List *b = make(vb, 4);
  auto unchanged = [&] {
    EXPECT_EQ(values(a), va);
    EXPECT_EQ(values(b), vb);
  };
  auto drop = [](olm_List *list) {
    if (list != nullptr) olm_DeleteList(0, list);
    return list != nullptr;
  };
  fail_each_allocation(false, [&] { return drop(olm_CreateList(0, 4, 4, 0)); }, unchanged);
  fail_each_allocation(false, [&] {
    olm_List *copy = olm_CopyList(0, a);
    if (copy != nullptr) {
      EXPECT_EQ(values(copy), va);
    }
    return drop(copy);
  }, unchanged);
  fail_each_allocation(false, [&] {
    int32_t n = -1;
    void *array = olm_GetArray(0, a, &n);
    EXPECT_EQ(n, array != nullptr ? 30 : 0);
    std::free(array);
    return array != nullptr;
  }, unchanged);
  for (int32_t mode : {1, 2, 3}) {
    for (bool tree : {false, true}) {
      fail_each_allocation(tree, [&] {
        olm_List *merged = olm_MergeLists(0, a, b, mode, compare_ints);
        if (merged != nullptr) {
          EXPECT_TRUE(list_ok(merged));
        }
        return drop(merged);
      }, unchanged);
    }
  }
  // A block that cannot be had: the record is not inserted and the list is as it was.
  olm_List *full = make({1, 2}, 2);
  olm::g_fail_allocation = 1;
  int32_t v = 3;
  EXPECT_EQ(olm_AddObject(0, full, OLM_TAIL, &v), nullptr);
  olm::g_fail_allocation = 2;
  EXPECT_EQ(olm_AddObject(0, full, OLM_TAIL, &v), nullptr);
  olm::g_fail_allocation = 0;
  EXPECT_EQ(take_pending().size(), 2u);
  EXPECT_EQ(values(full), (std::vector<int32_t>{1, 2}));
  EXPECT_NE(olm_AddObject(0, full, OLM_TAIL, &v), nullptr);
  EXPECT_EQ(values(full), (std::vector<int32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace tesmar::test
