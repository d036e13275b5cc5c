// Randomised differential tests of the list against std::list. The model follows the list's rules
// for positions, the cursor and both cycles; after every step the list's links and node blocks are
// checked, its records compared with the model's, every record pointer must be the one handed out
// at its insertion, and the cursor, the cycle index and the issued messages must match.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "olm/list_check.h"
#include "olm/olm_internal.h"
#include "support/library.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

// 12 bytes: the stride (32) leaves a gap after every record.
struct Rec {
  int32_t key;
  int32_t tag;
  int32_t extra;
};
static_assert(sizeof(Rec) == 12);

int compare_rec(const void *a, const void *b) {
  int32_t x = static_cast<const Rec *>(a)->key, y = static_cast<const Rec *>(b)->key;
  return (x > y) - (x < y);
}

struct Less {
  bool operator()(const Rec &a, const Rec &b) const { return compare_rec(&a, &b) < 0; }
};

bool same(const Rec &a, const void *b) { return std::memcmp(&a, b, sizeof a) == 0; }

std::string message(const char *name, const std::string &text) {
  return "*** Error (" + std::string(name) + ") ***\n" + text;
}
std::string invalid_position(int32_t n) {
  return message("OLM_INVALIDPOSITION", "Invalid position = " + std::to_string(n) + "\n");
}

struct Item {
  Rec rec;
  void *stored;  // the record pointer handed out at insertion
};
using Model = std::list<Item>;
using It = Model::iterator;

class Differential : RandomDriver {
 public:
  Differential(uint64_t seed, int32_t key_range)
      : RandomDriver(seed), key_range_(key_range) {
    per_block_ = 1 + pick(5);
    list_ = olm_CreateList(0, sizeof(Rec), per_block_, seed);
    cur_ = model_.end();
  }
  ~Differential() { olm_DeleteList(0, list_); }
  Differential(const Differential &) = delete;
  Differential &operator=(const Differential &) = delete;

  void run(int steps) {
    RandomDriver::run(steps,
                      {{300, [&] { add(); }}, {40, [&] { add_array(); }}, {120, [&] { get(); }},
                       {180, [&] { cycle(); }}, {80, [&] { reverse_cycle(); }},
                       {210, [&] { remove(); }}, {15, [&] { get_array(); }}, {15, [&] { copy(); }},
                       {35, [&] { merge(); }}, {5, [&] { purge(); }}},
                      [&] {
                        check();
                        expected_.clear();
                      });
  }

 private:
  Rec random_record() { return Rec{pick(key_range_), pick(1 << 30), pick(1 << 30)}; }
  int32_t count() const { return static_cast<int32_t>(model_.size()); }
  It last() { return model_.empty() ? model_.end() : std::prev(model_.end()); }

  // Head, tail, current, 1, a numbered position inside or just outside the list, or (rarely) a
  // negative position that means nothing.
  int32_t random_position() {
    int32_t what = pick(100);
    if (what < 20) return OLM_HEAD;
    if (what < 45) return OLM_TAIL;
    if (what < 65) return OLM_CURRENT;
    if (what < 70) return 1;
    if (what < 97) return 1 + pick(count() + 2);
    return -3 - pick(5);
  }

  // The model of locating a position for get and remove: the node, or end() when there is none.
  It locate(int32_t position, bool *invalid) {
    *invalid = false;
    if (position == OLM_HEAD) return cur_ = model_.begin();
    if (position == OLM_TAIL) return cur_ = last();
    if (position == OLM_CURRENT) return cur_;
    if (position >= 1 && position <= count()) {
      index_ = position;
      return cur_ = std::next(model_.begin(), position - 1);
    }
    if (position >= 1) {  // the cycle runs out at the last record
      if (!model_.empty()) cur_ = last();
      index_ = 0;
    }
    *invalid = true;
    expected_.push_back(invalid_position(position));
    return model_.end();
  }

  // The model of one insertion at a position: false (with the message) when the position is
  // invalid, else the record goes into the model with the pointer the list handed out.
  bool model_insert(int32_t position, const Rec &r, void *stored) {
    It pred = model_.end();
    if (position == OLM_TAIL) {
      pred = last();
    } else if (position == OLM_CURRENT) {
      if (cur_ != model_.end() && cur_ != model_.begin()) pred = std::prev(cur_);
    } else if (position == 1) {
      pred = cur_;
    } else if (position >= 2 && !model_.empty()) {
      if (position - 1 > count()) {  // the location of position - 1 runs the cycle out
        cur_ = last();
        index_ = 0;
        expected_.push_back(invalid_position(position));
        return false;
      }
      pred = std::next(model_.begin(), position - 2);
      index_ = position - 1;
    } else if (position < OLM_TAIL) {
      expected_.push_back(invalid_position(position));
      return false;
    }
    cur_ = model_.insert(pred != model_.end() ? std::next(pred) : model_.begin(), Item{r, stored});
    return true;
  }

  void add() {
    int32_t position = random_position();
    Rec r = random_record();
    void *stored = olm_AddObject(0, list_, position, &r);
    EXPECT_EQ(model_insert(position, r, stored), stored != nullptr) << where();
  }

  // The last record goes to the position, every earlier one before the one inserted after it.
  void add_array() {
    int32_t n = pick(5);
    int32_t position = random_position();
    std::vector<Rec> records(static_cast<std::size_t>(n) + 1);
    for (Rec &r : records) r = random_record();
    mpm_Status status = olm_AddArray(0, list_, position, n, records.data());
    if (n == 0) {
      EXPECT_EQ(status, OLM_INVALIDSIZE) << where();
      expected_.push_back(message("OLM_INVALIDSIZE", "Invalid size = 0\n"));
      return;
    }
    bool ok = model_insert(position, records[static_cast<std::size_t>(n - 1)], nullptr);
    for (int32_t i = n - 2; ok && i >= 0; --i)
      model_insert(OLM_CURRENT, records[static_cast<std::size_t>(i)], nullptr);
    EXPECT_EQ(status, ok ? 0u : OLM_INVALIDPOSITION) << where();
    // The new records take the pointers the list gave them.
    std::vector<void *> stored;
    ASSERT_TRUE(list_ok(list_, &stored)) << where();
    ASSERT_EQ(stored.size(), model_.size()) << where();
    std::size_t i = 0;
    for (Item &item : model_) {
      if (item.stored == nullptr) item.stored = stored[i];
      ++i;
    }
  }

  void get() {
    int32_t position = random_position();
    void *got = olm_GetObject(0, list_, position);
    bool invalid;
    It it = locate(position, &invalid);
    EXPECT_EQ(got, it != model_.end() ? it->stored : nullptr) << where();
  }

  void cycle() {
    void *got = olm_CycleList(0, list_);
    void *want = nullptr;
    ++index_;
    if (index_ > count()) {
      index_ = 0;
    } else if (index_ == 1) {
      cur_ = model_.begin();
      want = cur_->stored;
    } else {
      cur_ = cur_ != model_.end() ? std::next(cur_) : model_.end();
      if (cur_ == model_.end()) {
        index_ = 0;
        expected_.push_back(message("OLM_NULLPOINTER", "NULL pointer\n"));
      } else {
        want = cur_->stored;
      }
    }
    EXPECT_EQ(got, want) << where();
  }

  void reverse_cycle() {
    void *got = olm_ReverseCycleList(0, list_);
    void *want = nullptr;
    if (index_ <= 0) {
      if (!model_.empty()) {
        index_ = count();
        cur_ = last();
        want = cur_->stored;
      }
    } else if (--index_ >= 1) {
      cur_ = cur_ != model_.end() && cur_ != model_.begin() ? std::prev(cur_) : model_.end();
      if (cur_ == model_.end()) {
        index_ = 0;
        expected_.push_back(message("OLM_NULLPOINTER", "NULL pointer\n"));
      } else {
        want = cur_->stored;
      }
    }
    EXPECT_EQ(got, want) << where();
  }

  void remove() {
    int32_t position = random_position();
    mpm_Status last_status = mpm_last_status;
    mpm_Status status = olm_RemoveObject(0, list_, position);
    It remembered = cur_;
    bool invalid;
    It it = locate(position, &invalid);
    if (it == model_.end()) {
      EXPECT_EQ(status, invalid ? OLM_INVALIDPOSITION : last_status) << where();
      return;
    }
    EXPECT_EQ(status, 0u) << where();
    if (it == remembered) {
      It next = std::next(it);
      cur_ = next != model_.end() ? next : (it != model_.begin() ? std::prev(it) : model_.end());
    } else {
      cur_ = remembered;
    }
    model_.erase(it);
    index_ = 0;
  }

  void purge() {
    EXPECT_EQ(olm_PurgeList(0, list_), 0u);
    model_.clear();
    cur_ = model_.end();
    index_ = 0;
  }

  void get_array() {
    int32_t n = -1;
    auto *array = static_cast<Rec *>(olm_GetArray(0, list_, &n));
    index_ = 0;
    ASSERT_EQ(n, count()) << where();
    ASSERT_EQ(array == nullptr, model_.empty()) << where();
    std::size_t i = 0;
    for (const Item &item : model_) EXPECT_TRUE(same(item.rec, &array[i++])) << where();
    std::free(array);
  }

  void copy() {
    olm_List *copy = olm_CopyList(0, list_);
    index_ = 0;
    ASSERT_NE(copy, nullptr) << where();
    std::vector<Rec> want;
    for (const Item &item : model_) want.push_back(item.rec);
    expect_holds(copy, want);
    EXPECT_EQ(copy->user, list_->user);
    EXPECT_EQ(copy->nodes_per_block, list_->nodes_per_block);
    olm_DeleteList(0, copy);
  }

  // A list B of distinct random records merged with the list in a random mode, with random flags;
  // compared with the standard set algorithms on the lists' sets (the first of equal records of
  // list A; union and symmetric difference keep list A's record of an equal pair, intersection
  // list B's).
  void merge() {
    olm_List *b = olm_CreateList(0, sizeof(Rec), 1 + pick(4), 0);
    std::set<Rec, Less> b_set, a_set;
    std::vector<Rec> b_records;
    for (int32_t n = pick(3) == 0 ? 0 : pick(key_range_); n > 0; --n) {
      Rec r = random_record();
      if (b_set.insert(r).second) {
        olm_AddObject(0, b, OLM_TAIL, &r);
        b_records.push_back(r);
      }
    }
    for (const Item &item : model_) a_set.insert(item.rec);
    static const uint32_t kFlags[] = {0, 0, OLM_MERGE_EMPTY_A, OLM_MERGE_EMPTY_B};
    uint32_t flags = kFlags[pick(4)];
    int32_t mode = pick(20) == 0 ? 7 : 1 + pick(3);
    olm_List *result = olm_MergeLists(flags, list_, b, mode, compare_rec);
    std::vector<Rec> want;
    bool none = false;
    if (model_.empty() && flags == 0) {
      want = b_records;
    } else if (b_set.empty() && flags == 0) {
      for (const Item &item : model_) want.push_back(item.rec);
      index_ = 0;  // copying a list resets its cycle
    } else if (mode == 1) {
      std::set_symmetric_difference(a_set.begin(), a_set.end(), b_set.begin(), b_set.end(),
                                    std::back_inserter(want), Less());
    } else if (mode == 2) {
      std::set_union(a_set.begin(), a_set.end(), b_set.begin(), b_set.end(),
                     std::back_inserter(want), Less());
    } else if (mode == 3) {
      std::set_intersection(b_set.begin(), b_set.end(), a_set.begin(), a_set.end(),
                            std::back_inserter(want), Less());
    } else {
      none = true;
    }
    // A set operation with an empty result gives none; a copy of an empty list is an empty list.
    bool copied = (model_.empty() || b_set.empty()) && flags == 0;
    if (none || (!copied && want.empty())) {
      EXPECT_EQ(result, nullptr) << where();
    } else {
      ASSERT_NE(result, nullptr) << where();
      expect_holds(result, want);
      EXPECT_EQ(result->user, model_.empty() && flags == 0 ? b->user : list_->user) << where();
    }
    if (result != nullptr) olm_DeleteList(0, result);
    olm_DeleteList(0, b);
  }

  void expect_holds(const olm_List *list, const std::vector<Rec> &want) {
    std::vector<void *> records;
    ASSERT_TRUE(list_ok(list, &records)) << where();
    ASSERT_EQ(records.size(), want.size()) << where();
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(same(want[i], records[i])) << where();
  }

  void check() {
    std::vector<void *> records;
    ASSERT_TRUE(list_ok(list_, &records)) << where();
    ASSERT_EQ(records.size(), model_.size()) << where();
    std::size_t i = 0;
    for (const Item &item : model_) {
      EXPECT_TRUE(same(item.rec, records[i])) << where() << ": record " << i;
      EXPECT_EQ(records[i], item.stored) << where() << ": record " << i << " moved";
      ++i;
    }
    EXPECT_EQ(list_->cycle_index, index_) << where();
    void *cur = cur_ != model_.end() ? cur_->stored : nullptr;
    EXPECT_EQ(list_->current != nullptr ? olm::record_of(list_->current) : nullptr, cur) << where();
    std::vector<std::string> pending = pending_texts();
    std::reverse(pending.begin(), pending.end());
    EXPECT_EQ(pending, expected_) << where();
    mpm_DiscardPending(0);
  }

  int32_t key_range_;
  int32_t per_block_;
  olm_List *list_;
  Model model_;
  It cur_;           // the current record, end() for none
  int32_t index_ = 0;  // the cycle index the list must show
  std::vector<std::string> expected_;
};

using ListRandomTest = LibraryTest;

TEST_F(ListRandomTest, AgreesWithStdList) {
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Differential(seed, seed % 2 == 0 ? 20 : 400).run(5000);
  }
}

}  // namespace
}  // namespace tesmar::test
