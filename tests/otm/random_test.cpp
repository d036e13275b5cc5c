// Randomised differential tests of the tree against std::set with the same comparator. After every
// step the tree's structure is checked (AVL invariants through the node layout), its records are
// compared with the set's byte for byte, every record pointer must be the one handed out when the
// record was inserted, and the cursor, the cycle and the issued messages must be what the model
// predicts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "otm/otm_internal.h"
#include "otm/tree_check.h"
#include "support/library.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

struct Less {
  bool operator()(const Rec &a, const Rec &b) const { return compare_rec(&a, &b) < 0; }
};
using Set = std::set<Rec, Less>;

bool same(const Rec &a, const void *b) { return std::memcmp(&a, b, sizeof a) == 0; }

const std::string kNotFound = "*** Error (OTM_NOTFOUND) ***\nObject not found\n";
const std::string kNullPointer = "*** Error (OTM_NULLPOINTER) ***\nNULL pointer\n";

// The tree, and the model of what it must hold and where its cursor and cycle stand.
class Differential : RandomDriver {
 public:
  Differential(uint64_t seed, int32_t key_range) : RandomDriver(seed), key_range_(key_range) {
    tree_ = otm_CreateTree(0, sizeof(Rec), compare_rec, seed);
  }
  ~Differential() { otm_DeleteTree(0, tree_); }
  Differential(const Differential &) = delete;
  Differential &operator=(const Differential &) = delete;

  void run(int steps) {
    RandomDriver::run(steps,
                      {{380, [&] { insert(); }}, {180, [&] { find(); }}, {200, [&] { remove(); }},
                       {180, [&] { cycle(); }}, {20, [&] { add_array(); }}, {15, [&] { get_array(); }},
                       {10, [&] { copy(); }}, {13, [&] { merge(); }}, {2, [&] { free_tree(); }}},
                      [&] {
                        check();
                        expected_.clear();
                      });
  }

 private:
  Rec random_record() { return Rec{pick(key_range_), pick(1 << 30), pick(1 << 30)}; }

  void insert_into_model(const Rec &r, void *stored) {
    auto [it, fresh] = model_.insert(r);
    if (fresh) {
      EXPECT_NE(stored, nullptr) << where();
      pointers_[r.key] = stored;
      index_ = 0;
    } else {
      EXPECT_EQ(stored, pointers_[r.key]) << where() << ": an equal record must be found, not added";
    }
    current_ = r.key;
  }

  void insert() {
    Rec r = random_record();
    insert_into_model(r, otm_AddObject(0, tree_, &r));
  }

  void add_array() {
    int32_t n = pick(6);
    std::vector<Rec> records(static_cast<std::size_t>(n) + 1);
    for (Rec &r : records) r = random_record();
    mpm_Status status = otm_AddArray(0, tree_, n, records.data());
    if (n == 0) {
      EXPECT_EQ(status, OTM_INVALIDSIZE) << where();
      expected_.push_back("*** Error (OTM_INVALIDSIZE) ***\nInvalid size = 0\n");
      return;
    }
    EXPECT_EQ(status, 0u) << where();
    for (int32_t i = 0; i < n; ++i) {
      Rec key = records[static_cast<std::size_t>(i)];
      insert_into_model(key, otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, tree_, &key));
    }
  }

  void find() {
    static const uint32_t kFlags[] = {0, OTM_NO_MESSAGE, OTM_KEEP_CURRENT,
                                      OTM_NO_MESSAGE | OTM_KEEP_CURRENT};
    uint32_t flags = kFlags[pick(4)];
    Rec key = random_record();
    void *found = otm_GetObject(flags, tree_, &key);
    bool present = model_.count(key) != 0;
    EXPECT_EQ(found, present ? pointers_[key.key] : nullptr) << where();
    if (!present && !(flags & OTM_NO_MESSAGE)) expected_.push_back(kNotFound);
    if (!(flags & OTM_KEEP_CURRENT)) current_ = present ? std::optional<int32_t>(key.key) : std::nullopt;
  }

  void remove() {
    Rec key = random_record();
    mpm_Status status = otm_RemoveObject(0, tree_, &key);
    if (model_.erase(key) != 0) {
      EXPECT_EQ(status, 0u) << where();
      pointers_.erase(key.key);
      index_ = 0;
      current_.reset();
    } else {
      EXPECT_EQ(status, OTM_NOTFOUND) << where();
      expected_.push_back(kNotFound);
    }
  }

  // The record after `key` in the direction the cycle was started in.
  std::optional<int32_t> successor(int32_t key) const {
    Rec probe{key, 0, 0};
    if (descending_) {
      auto it = model_.lower_bound(probe);
      if (it == model_.begin()) return std::nullopt;
      return std::prev(it)->key;
    }
    auto it = model_.upper_bound(probe);
    if (it == model_.end()) return std::nullopt;
    return it->key;
  }

  void cycle() {
    uint32_t flags = pick(2) != 0 ? OTM_DESCENDING : 0;
    void *got = otm_CycleTree(flags, tree_);
    std::optional<int32_t> want;
    ++index_;
    if (index_ > static_cast<int32_t>(model_.size())) {
      index_ = 0;
    } else if (index_ == 1) {
      descending_ = flags != 0;
      current_ = want = descending_ ? model_.rbegin()->key : model_.begin()->key;
    } else {
      current_ = want = current_ ? successor(*current_) : std::nullopt;
      if (!want) {
        index_ = 0;
        expected_.push_back(kNullPointer);
      }
    }
    EXPECT_EQ(got, want ? pointers_[*want] : nullptr) << where();
  }

  void get_array() {
    uint32_t flags = pick(2) != 0 ? OTM_DESCENDING : 0;
    int32_t n = -1;
    auto *array = static_cast<Rec *>(otm_GetArray(flags, tree_, &n));
    index_ = 0;
    ASSERT_EQ(n, static_cast<int32_t>(model_.size())) << where();
    ASSERT_EQ(array == nullptr, model_.empty()) << where();
    std::vector<Rec> want(model_.begin(), model_.end());
    if (flags != 0) std::reverse(want.begin(), want.end());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(same(want[i], &array[i])) << where();
    otm_FreeArray(0, array);
  }

  void copy() {
    otm_Tree *copy = otm_CopyTree(0, tree_);
    ASSERT_NE(copy, nullptr) << where();
    expect_holds(copy, model_);
    EXPECT_EQ(copy->user, tree_->user);
    otm_DeleteTree(0, copy);
  }

  // A tree B of random records, merged with the tree in a random mode; compared with the standard
  // set algorithms (union and symmetric difference keep tree A's record of an equal pair,
  // intersection tree B's).
  void merge() {
    otm_Tree *b = otm_CreateTree(0, sizeof(Rec), compare_rec, 0);
    Set b_model;
    for (int32_t n = pick(3) == 0 ? 0 : pick(key_range_); n > 0; --n) {
      Rec r = random_record();
      otm_AddObject(0, b, &r);
      b_model.insert(r);
    }
    int32_t mode = pick(20) == 0 ? 4 : 1 + pick(3);
    otm_Tree *result = otm_MergeTrees(0, tree_, b, mode);
    Set want;
    bool none = false;
    if (model_.empty()) {
      want = b_model;
    } else if (b_model.empty()) {
      want = model_;
    } else if (mode == OTM_MERGE_SYMDIFF) {
      std::set_symmetric_difference(model_.begin(), model_.end(), b_model.begin(), b_model.end(),
                                    std::inserter(want, want.end()), Less());
    } else if (mode == OTM_MERGE_UNION) {
      std::set_union(model_.begin(), model_.end(), b_model.begin(), b_model.end(),
                     std::inserter(want, want.end()), Less());
    } else if (mode == OTM_MERGE_INTERSECT) {
      std::set_intersection(b_model.begin(), b_model.end(), model_.begin(), model_.end(),
                            std::inserter(want, want.end()), Less());
    } else {
      none = true;
    }
    if (none) {
      EXPECT_EQ(result, nullptr) << where();
    } else {
      EXPECT_NE(result, nullptr) << where();
      if (result != nullptr) expect_holds(result, want);
    }
    expect_holds(b, b_model);
    if (result != nullptr) otm_DeleteTree(0, result);
    otm_DeleteTree(0, b);
  }

  void free_tree() {
    EXPECT_EQ(otm_FreeTree(0, tree_), 0u);
    model_.clear();
    pointers_.clear();
    index_ = 0;
    current_.reset();
  }

  void expect_holds(const otm_Tree *tree, const Set &want) {
    std::vector<const void *> records;
    ASSERT_TRUE(avl_ok(tree, &records)) << where();
    ASSERT_EQ(records.size(), want.size()) << where();
    std::size_t i = 0;
    for (const Rec &r : want) EXPECT_TRUE(same(r, records[i++])) << where();
  }

  void check() {
    std::vector<const void *> records;
    ASSERT_TRUE(avl_ok(tree_, &records)) << where();
    ASSERT_EQ(records.size(), model_.size()) << where();
    std::size_t i = 0;
    for (const Rec &r : model_) {
      EXPECT_TRUE(same(r, records[i])) << where() << ": record " << i;
      EXPECT_EQ(records[i], pointers_[r.key]) << where() << ": record " << r.key << " moved";
      ++i;
    }
    EXPECT_EQ(tree_->cycle_index, index_) << where();
    if (current_) {
      ASSERT_NE(tree_->current, nullptr) << where();
      EXPECT_EQ(otm::record_of(tree_->current), pointers_[*current_]) << where();
    } else {
      EXPECT_EQ(tree_->current, nullptr) << where();
    }
    std::vector<std::string> pending = pending_texts();
    std::reverse(pending.begin(), pending.end());
    EXPECT_EQ(pending, expected_) << where();
    mpm_DiscardPending(0);
  }

  int32_t key_range_;
  otm_Tree *tree_;
  Set model_;
  std::map<int32_t, void *> pointers_;  // key -> the record pointer handed out at its insertion
  int32_t index_ = 0;                   // the cycle index the tree must show
  std::optional<int32_t> current_;      // the key of the current record
  bool descending_ = false;
  std::vector<std::string> expected_;   // messages the step must issue, oldest first
};

using TreeRandomTest = LibraryTest;

TEST_F(TreeRandomTest, SmallKeyRangeAgreesWithStdSet) {
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Differential(seed, 48).run(6000);
  }
}

}  // namespace
}  // namespace tesmar::test
