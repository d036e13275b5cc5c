// The tree's edge cases: creation, find-or-insert, lookup, removal, the cycle, arrays, copies and
// set operations, argument checks and out-of-memory paths.
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

struct Rec {
  int32_t key;
  int32_t tag;
  int64_t pad;
};
static_assert(sizeof(Rec) == 16);

int compare_rec(const void *a, const void *b) {
  int32_t x = static_cast<const Rec *>(a)->key, y = static_cast<const Rec *>(b)->key;
  return (x > y) - (x < y);
}

// Orders like compare_rec but is another function.
int compare_rec_too(const void *a, const void *b) { return compare_rec(a, b); }

// The compare function may return any int; only its sign counts.
int compare_rec_wide(const void *a, const void *b) {
  int32_t x = static_cast<const Rec *>(a)->key, y = static_cast<const Rec *>(b)->key;
  return x < y ? INT_MIN : x > y ? 12345 : 0;
}

std::string error(const char *name, const std::string &text) {
  return "*** Error (" + std::string(name) + ") ***\n" + text;
}

// The pending messages, newest first; they are dropped.
std::vector<std::string> take_pending() {
  std::vector<std::string> texts = pending_texts();
  mpm_DiscardPending(0);
  return texts;
}

class TreeTest : public LibraryTest {
 protected:
  void TearDown() override {
    otm::g_fail_allocation = 0;
    for (otm_Tree *tree : trees_) otm_DeleteTree(0, tree);
    LibraryTest::TearDown();
  }
  // A tree deleted at the end of the test.
  otm_Tree *own(otm_Tree *tree) {
    if (tree != nullptr) trees_.push_back(tree);
    return tree;
  }
  otm_Tree *make(std::vector<int32_t> keys, otm_CompareFn compare = compare_rec) {
    otm_Tree *tree = own(otm_CreateTree(0, sizeof(Rec), compare, 0));
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
  static std::vector<int32_t> cycle_keys(otm_Tree *tree, uint32_t flags = 0) {
    std::vector<int32_t> out;
    while (void *r = otm_CycleTree(flags, tree)) out.push_back(static_cast<Rec *>(r)->key);
    return out;
  }

 private:
  std::vector<otm_Tree *> trees_;
};

TEST_F(TreeTest, CreationRefusesSizesBelowOneAndAMissingCompareFunction) {
  EXPECT_EQ(otm_CreateTree(0, 0, compare_rec, 0), nullptr);
  EXPECT_EQ(otm_CreateTree(0, -16, compare_rec, 0), nullptr);
  EXPECT_EQ(otm_CreateTree(0, INT32_MIN, compare_rec, 0), nullptr);
  EXPECT_EQ(otm_CreateTree(0, 16, nullptr, 0), nullptr);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{
                                error("OTM_NULLPOINTER", "NULL pointer\n"),
                                error("OTM_INVALIDSIZE", "Invalid size = -2147483648\n"),
                                error("OTM_INVALIDSIZE", "Invalid size = -16\n"),
                                error("OTM_INVALIDSIZE", "Invalid size = 0\n"),
                            }));

  otm_Tree storage;
  EXPECT_EQ(otm_InitializeTree(0, &storage, -1, compare_rec, 0), OTM_INVALIDSIZE);
  EXPECT_EQ(otm_InitializeTree(0, &storage, 8, nullptr, 0), OTM_NULLPOINTER);
  EXPECT_EQ(otm_InitializeTree(0, nullptr, 8, compare_rec, 0), OTM_NULLPOINTER);
  EXPECT_EQ(take_pending().size(), 3u);
}

TEST_F(TreeTest, TreeInCallerStorageWorksAndIsEmptiedByFreeTree) {
  otm_Tree storage;
  ASSERT_EQ(otm_InitializeTree(0, &storage, sizeof(Rec), compare_rec, 77), 0u);
  EXPECT_EQ(storage.user, 77u);
  for (int32_t k : {5, 3, 8}) {
    Rec r{k, 0, 0};
    ASSERT_NE(otm_AddObject(0, &storage, &r), nullptr);
  }
  EXPECT_EQ(keys(&storage), (std::vector<int32_t>{3, 5, 8}));
  EXPECT_EQ(otm_FreeTree(0, &storage), 0u);
  EXPECT_EQ(storage.root, nullptr);
  EXPECT_EQ(storage.current, nullptr);
  EXPECT_EQ(storage.count, 0);
  EXPECT_EQ(storage.cycle_index, 0);
  // The emptied tree is usable again.
  Rec r{1, 0, 0};
  EXPECT_NE(otm_AddObject(0, &storage, &r), nullptr);
  EXPECT_EQ(otm_FreeTree(0, &storage), 0u);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, AscendingOneToSevenGivesAPerfectlyBalancedTreeRootedAtFour) {
  otm_Tree *tree = make({1, 2, 3, 4, 5, 6, 7});
  int height = 0;
  ASSERT_TRUE(avl_ok(tree, nullptr, &height));
  EXPECT_EQ(height, 3);
  EXPECT_EQ(static_cast<Rec *>(otm::record_of(tree->root))->key, 4);
  EXPECT_EQ(static_cast<Rec *>(otm::record_of(tree->root->left))->key, 2);
  EXPECT_EQ(static_cast<Rec *>(otm::record_of(tree->root->right))->key, 6);
}

TEST_F(TreeTest, EachRotationKeepsTheInvariants) {
  // Right-right, left-left, right-left and left-right insertions, then removals that rotate with
  // a pivot child of balance 0, equal to the heavy side and opposite to it.
  EXPECT_EQ(keys(make({1, 2, 3})), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(keys(make({3, 2, 1})), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(keys(make({1, 3, 2})), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(keys(make({3, 1, 2})), (std::vector<int32_t>{1, 2, 3}));
  for (std::vector<int32_t> shape : {std::vector<int32_t>{2, 1, 4, 3, 5}, {4, 2, 5, 1, 3},
                                     {2, 1, 4, 3}, {3, 1, 4, 2}, {2, 1, 4, 5}, {3, 2, 4, 1}}) {
    for (int32_t gone : shape) {
      otm_Tree *tree = make(shape);
      Rec key{gone, 0, 0};
      EXPECT_EQ(otm_RemoveObject(0, tree, &key), 0u);
      EXPECT_TRUE(avl_ok(tree)) << "removing " << gone;
      EXPECT_EQ(otm_GetObject(OTM_NO_MESSAGE, tree, &key), nullptr);
    }
  }
}

TEST_F(TreeTest, EqualRecordIsNotInsertedTwice) {
  otm_Tree *tree = make({1, 2, 3});
  Rec probe{2, 0, 0};
  void *stored = otm_GetObject(0, tree, &probe);
  Rec again{2, 999, 999};
  EXPECT_EQ(otm_AddObject(0, tree, &again), stored);
  EXPECT_EQ(tree->count, 3);
  EXPECT_EQ(static_cast<Rec *>(stored)->tag, 20);
  EXPECT_EQ(tree->current, tree->root);
}

TEST_F(TreeTest, OnlyTheSignOfTheCompareResultCounts) {
  otm_Tree *tree = make({9, 1, 5, 3, 7, 2, 8}, compare_rec_wide);
  EXPECT_EQ(keys(tree), (std::vector<int32_t>{1, 2, 3, 5, 7, 8, 9}));
  Rec key{5, 0, 0};
  EXPECT_NE(otm_GetObject(0, tree, &key), nullptr);
  EXPECT_EQ(otm_RemoveObject(0, tree, &key), 0u);
  EXPECT_EQ(keys(tree), (std::vector<int32_t>{1, 2, 3, 7, 8, 9}));
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, RecordPointersStayValidWhileOtherRecordsComeAndGo) {
  otm_Tree *tree = own(otm_CreateTree(0, sizeof(Rec), compare_rec, 0));
  std::vector<void *> stored;
  for (int32_t k = 0; k < 200; ++k) {
    Rec r{(k * 37) % 200, k, 0};
    stored.push_back(otm_AddObject(0, tree, &r));
  }
  for (int32_t k = 0; k < 200; k += 2) {
    Rec r{(k * 37) % 200, 0, 0};
    ASSERT_EQ(otm_RemoveObject(0, tree, &r), 0u);
  }
  ASSERT_TRUE(avl_ok(tree));
  for (int32_t k = 1; k < 200; k += 2) {
    Rec r{(k * 37) % 200, 0, 0};
    EXPECT_EQ(otm_GetObject(0, tree, &r), stored[k]);
    EXPECT_EQ(static_cast<Rec *>(stored[k])->tag, k);
  }
}

TEST_F(TreeTest, CycleReturnsEveryRecordOnceThenNoneThenStartsAgain) {
  otm_Tree *tree = make({});
  EXPECT_EQ(otm_CycleTree(0, tree), nullptr);
  EXPECT_EQ(otm_CycleTree(0, tree), nullptr);
  tree = make({30, 10, 20});
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{10, 20, 30}));
  EXPECT_EQ(tree->cycle_index, 0);
  auto *first = static_cast<Rec *>(otm_CycleTree(0, tree));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->key, 10);
  EXPECT_EQ(tree->cycle_index, 1);
  EXPECT_EQ(otm::record_of(tree->current), first);
  otm_CycleTree(0, tree);
  otm_CycleTree(0, tree);
  EXPECT_EQ(otm_CycleTree(0, tree), nullptr);
  // Descending; the direction is chosen by the call that starts the cycle.
  EXPECT_EQ(cycle_keys(tree, OTM_DESCENDING), (std::vector<int32_t>{30, 20, 10}));
  EXPECT_EQ(static_cast<Rec *>(otm_CycleTree(OTM_DESCENDING, tree))->key, 30);
  EXPECT_EQ(static_cast<Rec *>(otm_CycleTree(0, tree))->key, 20);
  EXPECT_EQ(otm_CycleTree(0, nullptr), nullptr);
  EXPECT_TRUE(take_pending().empty());  // a missing tree gives none silently
}

TEST_F(TreeTest, InsertOrRemoveDuringACycleRestartsIt) {
  otm_Tree *tree = make({1, 2, 3, 4});
  otm_CycleTree(0, tree);
  otm_CycleTree(0, tree);
  Rec fresh{5, 0, 0};
  otm_AddObject(0, tree, &fresh);
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  otm_CycleTree(0, tree);
  otm_CycleTree(0, tree);
  Rec gone{1, 0, 0};
  EXPECT_EQ(otm_RemoveObject(0, tree, &gone), 0u);
  EXPECT_EQ(tree->current, nullptr);
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{2, 3, 4, 5}));
  // Finding an equal record is no insertion: the cycle goes on, from the record found.
  otm_CycleTree(0, tree);
  Rec equal{4, 0, 0};
  otm_AddObject(0, tree, &equal);
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{5}));
}

TEST_F(TreeTest, LookupWithFlagEightLeavesACycleAlone) {
  otm_Tree *tree = make({1, 2, 3, 4, 5});
  otm_CycleTree(0, tree);
  otm_CycleTree(0, tree);
  Rec hit{5, 0, 0}, miss{9, 0, 0};
  EXPECT_NE(otm_GetObject(OTM_KEEP_CURRENT, tree, &hit), nullptr);
  EXPECT_EQ(otm_GetObject(OTM_KEEP_CURRENT | OTM_NO_MESSAGE, tree, &miss), nullptr);
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{3, 4, 5}));
  // Without it the lookup moves the cycle's position: the cycle goes on from the record found,
  // and as its index no longer matches its position it runs off the end of the threads, which
  // is reported.
  otm_CycleTree(0, tree);
  Rec four{4, 0, 0};
  otm_GetObject(0, tree, &four);
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{5}));
  EXPECT_EQ(tree->cycle_index, 0);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OTM_NULLPOINTER", "NULL pointer\n")});
  // A failed lookup leaves no position at all: the next step reports the lost cycle.
  otm_CycleTree(0, tree);
  EXPECT_EQ(otm_GetObject(OTM_NO_MESSAGE, tree, &miss), nullptr);
  EXPECT_EQ(tree->current, nullptr);
  EXPECT_EQ(otm_CycleTree(0, tree), nullptr);
  EXPECT_EQ(tree->cycle_index, 0);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OTM_NULLPOINTER", "NULL pointer\n")});
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_F(TreeTest, AbsentKeysIssueNotFoundUnlessAsked) {
  otm_Tree *tree = make({1, 2, 3});
  Rec miss{7, 0, 0};
  EXPECT_EQ(otm_GetObject(0, tree, &miss), nullptr);
  EXPECT_EQ(mpm_last_status, 0x30006u);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OTM_NOTFOUND", "Object not found\n")});
  EXPECT_EQ(otm_GetObject(OTM_NO_MESSAGE, tree, &miss), nullptr);
  EXPECT_TRUE(take_pending().empty());
  EXPECT_EQ(otm_RemoveObject(0, tree, &miss), 0x30006u);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OTM_NOTFOUND", "Object not found\n")});
  EXPECT_EQ(keys(tree), (std::vector<int32_t>{1, 2, 3}));
  otm_Tree *empty = make({});
  EXPECT_EQ(otm_RemoveObject(0, empty, &miss), OTM_NOTFOUND);
  EXPECT_EQ(otm_GetObject(0, empty, &miss), nullptr);
  EXPECT_EQ(take_pending().size(), 2u);
}

TEST_F(TreeTest, MissingArgumentsIssueNullPointer) {
  otm_Tree *tree = make({1});
  Rec r{1, 0, 0};
  int32_t n = -1;
  EXPECT_EQ(otm_AddObject(0, nullptr, &r), nullptr);
  EXPECT_EQ(otm_AddObject(0, tree, nullptr), nullptr);
  EXPECT_EQ(otm_GetObject(0, nullptr, &r), nullptr);
  EXPECT_EQ(otm_GetObject(0, tree, nullptr), nullptr);
  EXPECT_EQ(otm_RemoveObject(0, nullptr, &r), OTM_NULLPOINTER);
  EXPECT_EQ(otm_RemoveObject(0, tree, nullptr), OTM_NULLPOINTER);
  EXPECT_EQ(otm_AddArray(0, nullptr, 1, &r), OTM_NULLPOINTER);
  EXPECT_EQ(otm_AddArray(0, tree, 1, nullptr), OTM_NULLPOINTER);
  EXPECT_EQ(otm_GetArray(0, nullptr, &n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(otm_CopyTree(0, nullptr), nullptr);
  EXPECT_EQ(otm_FreeTree(0, nullptr), OTM_NULLPOINTER);
  EXPECT_EQ(otm_DeleteTree(0, nullptr), OTM_NULLPOINTER);
  EXPECT_EQ(otm_MergeTrees(0, nullptr, nullptr, OTM_MERGE_UNION), nullptr);
  std::vector<std::string> pending = take_pending();
  EXPECT_EQ(pending.size(), 13u);
  for (const std::string &text : pending) EXPECT_EQ(text, error("OTM_NULLPOINTER", "NULL pointer\n"));
  EXPECT_EQ(otm_FreeArray(0, nullptr), 0u);
  EXPECT_EQ(keys(tree), (std::vector<int32_t>{1}));
}

TEST_F(TreeTest, AddArrayInsertsInArrayOrderAndRefusesCountsBelowOne) {
  otm_Tree *tree = make({});
  Rec array[] = {{5, 1, 0}, {2, 2, 0}, {5, 3, 0}, {9, 4, 0}};
  EXPECT_EQ(otm_AddArray(0, tree, 4, array), 0u);
  EXPECT_EQ(keys(tree), (std::vector<int32_t>{2, 5, 9}));
  Rec key{5, 0, 0};
  EXPECT_EQ(static_cast<Rec *>(otm_GetObject(0, tree, &key))->tag, 1);  // the first of the equal
  EXPECT_EQ(otm_AddArray(0, tree, 0, array), OTM_INVALIDSIZE);
  EXPECT_EQ(otm_AddArray(0, tree, -3, array), OTM_INVALIDSIZE);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{error("OTM_INVALIDSIZE", "Invalid size = -3\n"),
                                                      error("OTM_INVALIDSIZE", "Invalid size = 0\n")}));
  EXPECT_EQ(tree->count, 3);
}

TEST_F(TreeTest, GetArrayCopiesInCycleOrder) {
  otm_Tree *tree = make({4, 1, 3, 2});
  otm_CycleTree(0, tree);
  int32_t n = 0;
  auto *up = static_cast<Rec *>(otm_GetArray(0, tree, &n));
  ASSERT_EQ(n, 4);
  EXPECT_EQ(tree->cycle_index, 0);
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(up[i].key, i + 1);
  EXPECT_EQ(up[2].tag, 30);
  otm_FreeArray(0, up);
  auto *down = static_cast<Rec *>(otm_GetArray(OTM_DESCENDING, tree, &n));
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(down[i].key, 4 - i);
  std::free(down);
  n = 7;
  EXPECT_EQ(otm_GetArray(0, make({}), &n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, CopyIsAnIndependentTreeAndLeavesTheSourceCycleAlone) {
  otm_Tree *tree = own(otm_CreateTree(0, sizeof(Rec), compare_rec, 0xABCDEF0123456789u));
  for (int32_t k : {8, 3, 10, 1, 6, 14, 4, 7, 13}) {
    Rec r{k, k, 0};
    otm_AddObject(0, tree, &r);
  }
  otm_CycleTree(0, tree);
  otm_CycleTree(0, tree);
  otm_Tree *copy = own(otm_CopyTree(0, tree));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->user, 0xABCDEF0123456789u);
  EXPECT_EQ(copy->data_size, tree->data_size);
  EXPECT_EQ(copy->compare, tree->compare);
  EXPECT_EQ(copy->cycle_index, 0);
  EXPECT_EQ(keys(copy), keys(tree));
  EXPECT_EQ(cycle_keys(tree), (std::vector<int32_t>{4, 6, 7, 8, 10, 13, 14}));
  // Changing one tree leaves the other alone.
  Rec key{8, 0, 0};
  static_cast<Rec *>(otm_GetObject(0, copy, &key))->tag = -1;
  EXPECT_EQ(static_cast<Rec *>(otm_GetObject(0, tree, &key))->tag, 8);
  EXPECT_EQ(otm_RemoveObject(0, copy, &key), 0u);
  EXPECT_NE(otm_GetObject(0, tree, &key), nullptr);
  EXPECT_TRUE(avl_ok(copy));
  EXPECT_EQ(keys(own(otm_CopyTree(0, make({})))), std::vector<int32_t>{});
}

TEST_F(TreeTest, MergeModesGiveTheSetOperations) {
  otm_Tree *a = make({1, 2, 3, 5});
  otm_Tree *b = own(otm_CreateTree(0, sizeof(Rec), compare_rec, 0));
  for (int32_t k : {5, 3, 4, 6}) {
    Rec r{k, -k, 0};
    otm_AddObject(0, b, &r);
  }
  otm_Tree *sym = own(otm_MergeTrees(0, a, b, OTM_MERGE_SYMDIFF));
  otm_Tree *uni = own(otm_MergeTrees(0, a, b, OTM_MERGE_UNION));
  otm_Tree *both = own(otm_MergeTrees(0, a, b, OTM_MERGE_INTERSECT));
  EXPECT_EQ(keys(sym), (std::vector<int32_t>{1, 2, 4, 6}));
  EXPECT_EQ(keys(uni), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(keys(both), (std::vector<int32_t>{3, 5}));
  Rec three{3, 0, 0};
  EXPECT_EQ(static_cast<Rec *>(otm_GetObject(0, uni, &three))->tag, 30);    // tree A's record
  EXPECT_EQ(static_cast<Rec *>(otm_GetObject(0, both, &three))->tag, -3);   // tree B's record
  EXPECT_EQ(keys(a), (std::vector<int32_t>{1, 2, 3, 5}));
  EXPECT_EQ(keys(b), (std::vector<int32_t>{3, 4, 5, 6}));
  // Disjoint trees intersect to an empty tree, not to none.
  otm_Tree *none = own(otm_MergeTrees(0, make({1}), make({2}), OTM_MERGE_INTERSECT));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->count, 0);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, MergeWithAnEmptyOrMissingTreeCopiesTheOther) {
  otm_Tree *a = make({1, 2});
  otm_Tree *empty = make({});
  for (int32_t mode : {1, 2, 3, 0, 99}) {
    EXPECT_EQ(keys(own(otm_MergeTrees(0, a, empty, mode))), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(keys(own(otm_MergeTrees(0, a, nullptr, mode))), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(keys(own(otm_MergeTrees(0, empty, a, mode))), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(keys(own(otm_MergeTrees(0, nullptr, a, mode))), (std::vector<int32_t>{1, 2}));
    otm_Tree *blank = own(otm_MergeTrees(0, empty, nullptr, mode));
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->count, 0);
  }
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, MergeRefusesDifferentSizesFunctionsAndModes) {
  otm_Tree *a = make({1, 2});
  otm_Tree *wide = own(otm_CreateTree(0, 24, compare_rec, 0));
  Rec r[2] = {{1, 0, 0}, {0, 0, 0}};
  otm_AddObject(0, wide, r);
  EXPECT_EQ(otm_MergeTrees(0, a, wide, OTM_MERGE_UNION), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error(
                                "OTM_SIZENOTEQ", "Data size one (16) does not equal data size two (24)\n")});
  EXPECT_EQ(otm_MergeTrees(0, a, make({3}, compare_rec_too), OTM_MERGE_UNION), nullptr);
  EXPECT_EQ(take_pending(), std::vector<std::string>{error(
                                "OTM_FUNCTIONNOTEQ", "Function pointer one does not equal function pointer two\n")});
  EXPECT_EQ(otm_MergeTrees(0, a, make({3}), 0), nullptr);
  EXPECT_EQ(otm_MergeTrees(0, a, make({3}), 4), nullptr);
  EXPECT_EQ(otm_MergeTrees(0, a, make({3}), -1), nullptr);
  EXPECT_TRUE(take_pending().empty());
}

TEST_F(TreeTest, ACountThatWouldOverflowIsOutOfMemory) {
  otm_Tree *tree = make({1});
  tree->count = INT32_MAX;  // as if the tree held that many records
  Rec fresh{2, 0, 0}, old{1, 0, 0};
  EXPECT_EQ(otm_AddObject(0, tree, &fresh), nullptr);
  EXPECT_EQ(otm_AddObject(0, tree, &old), otm::record_of(tree->root));  // finding still works
  tree->count = 1;
  EXPECT_EQ(take_pending(), std::vector<std::string>{error("OTM_NOMEMORY", "Out of memory\n")});
  EXPECT_EQ(keys(tree), std::vector<int32_t>{1});
}

// Makes the n-th allocation fail for n = 1, 2, ... until the operation succeeds; after every
// failure the operation must have issued OTM_NOMEMORY and given none, and the source must be
// unchanged. Leaks show under the sanitizer build.
template <typename Op, typename Check>
void fail_each_allocation(Op op, Check check) {
  for (int32_t n = 1;; ++n) {
    ASSERT_LT(n, 10000);
    otm::g_fail_allocation = n;
    bool ok = op();
    bool failed = otm::g_fail_allocation == 0;
    otm::g_fail_allocation = 0;
    check();
    std::vector<std::string> pending = take_pending();
    if (!failed) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(pending.empty());
      return;
    }
    EXPECT_FALSE(ok) << "allocation " << n;
    ASSERT_EQ(pending.size(), 1u) << "allocation " << n;
    EXPECT_EQ(pending[0], error("OTM_NOMEMORY", "Out of memory\n"));
  }
}

TEST_F(TreeTest, FailedAllocationsLeaveNothingBehind) {
  std::vector<int32_t> ks;
  for (int32_t k = 0; k < 40; ++k) ks.push_back((k * 17) % 41);
  otm_Tree *a = make(ks);
  otm_Tree *b = make({3, 50, 7, 60, 8, 70});
  std::vector<int32_t> a_keys = keys(a), b_keys = keys(b);
  auto unchanged = [&] {
    EXPECT_EQ(keys(a), a_keys);
    EXPECT_EQ(keys(b), b_keys);
  };
  fail_each_allocation([&] {
    otm_Tree *t = otm_CreateTree(0, sizeof(Rec), compare_rec, 0);
    if (t != nullptr) otm_DeleteTree(0, t);
    return t != nullptr;
  }, unchanged);
  fail_each_allocation([&] {
    otm_Tree *t = otm_CopyTree(0, a);
    if (t != nullptr) {
      EXPECT_EQ(keys(t), a_keys);
    }
    if (t != nullptr) otm_DeleteTree(0, t);
    return t != nullptr;
  }, unchanged);
  for (int32_t mode : {1, 2, 3}) {
    fail_each_allocation([&] {
      otm_Tree *t = otm_MergeTrees(0, a, b, mode);
      if (t != nullptr) {
        EXPECT_TRUE(avl_ok(t));
      }
      if (t != nullptr) otm_DeleteTree(0, t);
      return t != nullptr;
    }, unchanged);
  }
  fail_each_allocation([&] {
    int32_t n = -1;
    void *array = otm_GetArray(0, a, &n);
    EXPECT_EQ(n, array != nullptr ? 40 : 0);
    std::free(array);
    return array != nullptr;
  }, unchanged);
  Rec fresh{100, 0, 0};
  fail_each_allocation([&] { return otm_AddObject(0, b, &fresh) != nullptr; }, [] {});
  EXPECT_EQ(b->count, 7);
  EXPECT_TRUE(avl_ok(b));
}

}  // namespace
}  // namespace tesmar::test
