// What the differential test (random_test.cpp) does not reach: argument refusals, sizes beyond
// memory, the node stride, node reuse after a purge, freed lists, merge refusals, overflow and
// failed allocations.
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

const std::string kNullPointer = error_text("OLM_NULLPOINTER", "NULL pointer\n");
std::string invalid_size(int32_t n) {
  return error_text("OLM_INVALIDSIZE", "Invalid size = " + std::to_string(n) + "\n");
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
 private:
  std::vector<olm_List *> lists_;
};

TEST_F(ListTest, BadArgumentsAreRefusedWithTheirMessages) {
  int32_t v = 1, n = 5;
  olm_List *list = make({1});
  olm_List storage;
  struct Case {
    bool refused;
    std::string message;
  };
  const Case cases[] = {
      {olm_CreateList(0, 0, 10, 0) == nullptr, invalid_size(0)},
      {olm_CreateList(0, -8, 10, 0) == nullptr, invalid_size(-8)},
      {olm_CreateList(0, 8, 0, 0) == nullptr, invalid_size(0)},
      {olm_CreateList(0, 8, INT32_MIN, 0) == nullptr, invalid_size(INT32_MIN)},
      {olm_InitializeList(0, nullptr, 8, 1, 0) == OLM_NULLPOINTER, kNullPointer},
      {olm_InitializeList(0, &storage, -1, 1, 0) == OLM_INVALIDSIZE, invalid_size(-1)},
      {olm_InitializeList(0, &storage, 1, 0, 0) == OLM_INVALIDSIZE, invalid_size(0)},
      {olm_AddObject(0, nullptr, OLM_TAIL, &v) == nullptr, kNullPointer},
      {olm_AddObject(0, list, OLM_TAIL, nullptr) == nullptr, kNullPointer},
      {olm_AddArray(0, nullptr, OLM_TAIL, 1, &v) == OLM_NULLPOINTER, kNullPointer},
      {olm_GetObject(0, nullptr, OLM_HEAD) == nullptr, kNullPointer},
      {olm_CycleList(0, nullptr) == nullptr, kNullPointer},
      {olm_ReverseCycleList(0, nullptr) == nullptr, kNullPointer},
      {olm_RemoveObject(0, nullptr, OLM_HEAD) == OLM_NULLPOINTER, kNullPointer},
      {olm_PurgeList(0, nullptr) == OLM_NULLPOINTER, kNullPointer},
      {olm_FreeList(0, nullptr) == OLM_NULLPOINTER, kNullPointer},
      {olm_DeleteList(0, nullptr) == OLM_NULLPOINTER, kNullPointer},
      {olm_CopyList(0, nullptr) == nullptr, kNullPointer},
      {olm_GetArray(0, nullptr, &n) == nullptr && n == 0, kNullPointer},
  };
  std::vector<std::string> pending = take_pending();  // newest first
  ASSERT_EQ(pending.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_TRUE(cases[i].refused) << "case " << i;
    EXPECT_EQ(pending[std::size(cases) - 1 - i], cases[i].message) << "case " << i;
  }
  EXPECT_EQ(values(list), std::vector<int32_t>{1});
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
  EXPECT_EQ(take_pending(), std::vector<std::string>{error_text("OLM_INVALIDSIZE", "Invalid size = 0\n")});
  EXPECT_EQ(olm_CycleList(0, &storage), nullptr);
  EXPECT_EQ(olm_FreeList(0, &storage), 0u);
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
  EXPECT_EQ(take_pending(), std::vector<std::string>{error_text(
                                "OLM_SIZENOTEQ", "Data size one (4) does not equal data size two (8)\n")});
  EXPECT_EQ(olm_MergeLists(0, a, a, 2, nullptr), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error_text("OLM_NULLPOINTER", "NULL pointer\n")});
  EXPECT_EQ(olm_MergeLists(0, a, a, 0, compare_ints), nullptr);
  EXPECT_EQ(olm_MergeLists(0, a, a, 4, compare_ints), nullptr);
  EXPECT_TRUE(take_pending().empty());
}

// The n-th allocation of lists (or of trees when `tree` is set) fails, for n = 1, 2, ...
template <typename Op, typename Check>
void fail_each_allocation(bool tree, Op op, Check check) {
  tesmar::test::fail_each_allocation(
      tree ? &otm::g_fail_allocation : &olm::g_fail_allocation,
      error_text(tree ? "OTM_NOMEMORY" : "OLM_NOMEMORY", "Out of memory\n"), op, check);
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
