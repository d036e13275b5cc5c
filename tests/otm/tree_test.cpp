// What the differential test (random_test.cpp) does not reach: argument refusals, trees in the
// caller's storage, compare functions that return more than -1, 0, 1, merge refusals, overflow and
// failed allocations.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "otm/otm_internal.h"
#include "otm/tree_check.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

// Orders like compare_rec but is another function.
int compare_rec_too(const void *a, const void *b) { return compare_rec(a, b); }

const std::string kNullPointer = error_text("OTM_NULLPOINTER", "NULL pointer\n");

class TreeTest : public LibraryTest {
 protected:
  void TearDown() override {
    otm::g_fail_allocation = 0;
    for (otm_Tree *tree : trees_) otm_DeleteTree(0, tree);
    LibraryTest::TearDown();
  }
  otm_Tree *make(std::vector<int32_t> keys, otm_CompareFn compare = compare_rec) {
    otm_Tree *tree = otm_CreateTree(0, sizeof(Rec), compare, 0);
    trees_.push_back(tree);
    for (int32_t k : keys) {
      Rec r{k, k * 10, 0};
      EXPECT_NE(otm_AddObject(0, tree, &r), nullptr);
    }
    return tree;
  }
  static std::vector<int32_t> keys(const otm_Tree *tree) {
    std::vector<const void *> records;
    EXPECT_TRUE(avl_ok(tree, &records));
    std::vector<int32_t> out;
    for (const void *r : records) out.push_back(static_cast<const Rec *>(r)->key);
    return out;
  }

 private:
  std::vector<otm_Tree *> trees_;
};

TEST_F(TreeTest, BadArgumentsAreRefusedWithTheirMessages) {
  otm_Tree *tree = make({1});
  Rec r{1, 0, 0};
  int32_t n = -1;
  otm_Tree storage;
  struct Case {
    bool refused;
    std::string message;
  };
  const Case cases[] = {
      {otm_CreateTree(0, 0, compare_rec, 0) == nullptr, error_text("OTM_INVALIDSIZE", "Invalid size = 0\n")},
      {otm_CreateTree(0, INT32_MIN, compare_rec, 0) == nullptr,
       error_text("OTM_INVALIDSIZE", "Invalid size = -2147483648\n")},
      {otm_CreateTree(0, 16, nullptr, 0) == nullptr, kNullPointer},
      {otm_InitializeTree(0, &storage, -1, compare_rec, 0) == OTM_INVALIDSIZE,
       error_text("OTM_INVALIDSIZE", "Invalid size = -1\n")},
      {otm_InitializeTree(0, &storage, 8, nullptr, 0) == OTM_NULLPOINTER, kNullPointer},
      {otm_InitializeTree(0, nullptr, 8, compare_rec, 0) == OTM_NULLPOINTER, kNullPointer},
      {otm_AddObject(0, nullptr, &r) == nullptr, kNullPointer},
      {otm_AddObject(0, tree, nullptr) == nullptr, kNullPointer},
      {otm_GetObject(0, nullptr, &r) == nullptr, kNullPointer},
      {otm_GetObject(0, tree, nullptr) == nullptr, kNullPointer},
      {otm_RemoveObject(0, nullptr, &r) == OTM_NULLPOINTER, kNullPointer},
      {otm_RemoveObject(0, tree, nullptr) == OTM_NULLPOINTER, kNullPointer},
      {otm_AddArray(0, nullptr, 1, &r) == OTM_NULLPOINTER, kNullPointer},
      {otm_AddArray(0, tree, 1, nullptr) == OTM_NULLPOINTER, kNullPointer},
      {otm_AddArray(0, tree, -3, &r) == OTM_INVALIDSIZE, error_text("OTM_INVALIDSIZE", "Invalid size = -3\n")},
      {otm_GetArray(0, nullptr, &n) == nullptr && n == 0, kNullPointer},
      {otm_CopyTree(0, nullptr) == nullptr, kNullPointer},
      {otm_FreeTree(0, nullptr) == OTM_NULLPOINTER, kNullPointer},
      {otm_DeleteTree(0, nullptr) == OTM_NULLPOINTER, kNullPointer},
      {otm_MergeTrees(0, nullptr, nullptr, OTM_MERGE_UNION) == nullptr, kNullPointer},
  };
  std::vector<std::string> pending = take_pending();  // newest first
  ASSERT_EQ(pending.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_TRUE(cases[i].refused) << "case " << i;
    EXPECT_EQ(pending[std::size(cases) - 1 - i], cases[i].message) << "case " << i;
  }
  EXPECT_EQ(otm_FreeArray(0, nullptr), 0u);
  EXPECT_EQ(keys(tree), std::vector<int32_t>{1});
}

TEST_F(TreeTest, MergeRefusesDifferentSizesFunctionsAndModes) {
  otm_Tree *a = make({1, 2});
  otm_Tree *wide = otm_CreateTree(0, 24, compare_rec, 0);
  Rec r[2] = {{1, 0, 0}, {0, 0, 0}};
  otm_AddObject(0, wide, r);
  EXPECT_EQ(otm_MergeTrees(0, a, wide, OTM_MERGE_UNION), nullptr);
  otm_DeleteTree(0, wide);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error_text(
                                "OTM_SIZENOTEQ", "Data size one (16) does not equal data size two (24)\n")});
  EXPECT_EQ(otm_MergeTrees(0, a, make({3}, compare_rec_too), OTM_MERGE_UNION), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error_text(
                                "OTM_FUNCTIONNOTEQ", "Function pointer one does not equal function pointer two\n")});
  for (int32_t mode : {0, 4, -1}) EXPECT_EQ(otm_MergeTrees(0, a, make({3}), mode), nullptr) << mode;
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, FailedAllocationsLeaveNothingBehind) {
  std::vector<int32_t> ks;
  for (int32_t k = 0; k < 40; ++k) ks.push_back((k * 17) % 41);
  otm_Tree *a = make(ks);
  otm_Tree *b = make({3, 50, 7, 60, 8, 70});
  const std::vector<int32_t> a_keys = keys(a), b_keys = keys(b);
  auto unchanged = [&] {
    EXPECT_EQ(keys(a), a_keys);
    EXPECT_EQ(keys(b), b_keys);
  };
  const std::string no_memory = error_text("OTM_NOMEMORY", "Out of memory\n");
  auto keep = [](otm_Tree *t) {
    const bool made = t != nullptr;
    if (made) otm_DeleteTree(0, t);
    return made;
  };
  fail_each_allocation(&otm::g_fail_allocation, no_memory,
                       [&] { return keep(otm_CreateTree(0, sizeof(Rec), compare_rec, 0)); }, unchanged);
  fail_each_allocation(&otm::g_fail_allocation, no_memory, [&] { return keep(otm_CopyTree(0, a)); },
                       unchanged);
  for (int32_t mode : {1, 2, 3})
    fail_each_allocation(&otm::g_fail_allocation, no_memory,
                         [&] { return keep(otm_MergeTrees(0, a, b, mode)); }, unchanged);
  fail_each_allocation(&otm::g_fail_allocation, no_memory, [&] {
    int32_t n = -1;
    void *array = otm_GetArray(0, a, &n);
    EXPECT_EQ(n, array != nullptr ? 40 : 0);
    std::free(array);
    return array != nullptr;
  }, unchanged);
  Rec fresh{100, 0, 0};
  fail_each_allocation(&otm::g_fail_allocation, no_memory,
                       [&] { return otm_AddObject(0, b, &fresh) != nullptr; }, [] {});
  EXPECT_TRUE(avl_ok(b));
}

}  // namespace
}  // namespace tesmar::test
