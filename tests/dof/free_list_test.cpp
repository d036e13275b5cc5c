// The block layer: allocation, splitting, merging, freeing, block sizes; a randomised run against a
// model of the free list that walks a list exactly as the rules say.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dof_helpers.h"

namespace tesmar::test {
namespace {

using FreeListTest = DofTest;

// The free records, in list order.
std::vector<std::pair<int64_t, uint32_t>> records(const DofFile *file) {
  std::vector<std::pair<int64_t, uint32_t>> out;
  for (const DofFreeBlock *b = file->free_list->head; b != nullptr; b = b->next)
    out.emplace_back(b->offset, b->size);
  return out;
}

TEST_F(FreeListTest, FirstAllocationOfAFreshFile) {
  DofFile *file = nullptr;
  int64_t address = -1;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 4, 256, &file), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, 100, &address), 0u);
  EXPECT_EQ(address, 8);
  EXPECT_EQ(file->end, 108);
  uint32_t size = 0;
  ASSERT_EQ(dof_GetBlockSize(file, address, &size), 0u);
  EXPECT_EQ(size, 100u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()).substr(0, 8), std::string("\x64\0\0\0\x64\0\0\0", 8));

  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 4, 256, &file), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, 100, &address), 0u);
  EXPECT_EQ(address, 0);
  EXPECT_EQ(file->end, 100);
  EXPECT_EQ(dof_GetBlockSize(file, address, &size), DOF_BAD_OFFSET);  // no headers here
  EXPECT_EQ(dof_FreeBlock(file, 0), 0u);  // does nothing
  EXPECT_EQ(dof_FreeBlock(file, 100), DOF_BAD_OFFSET);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(FreeListTest, FreeBlocksThatWouldOutgrowThirtyTwoBitsStaySeparate) {
  // Three 2 GiB blocks: only their headers are ever written, so the file stays sparse.
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 2, 4096, &file), 0u);
  const uint32_t big = 0x80000000u;
  int64_t a, b, c, guard;
  ASSERT_EQ(dof_AllocateBlock(file, big, &a), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, big, &b), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, big, &c), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, 1, &guard), 0u);
  EXPECT_EQ(c, 3 * 8 + 2 * int64_t{big});
  ASSERT_EQ(dof_FreeBlock(file, a), 0u);
  ASSERT_EQ(dof_FreeBlock(file, c), 0u);
  ASSERT_EQ(dof_FreeBlock(file, b), 0u);
  using R = std::vector<std::pair<int64_t, uint32_t>>;
  EXPECT_EQ(records(file), (R{{0, big}, {b - 8, big}, {c - 8, big}}));
  ASSERT_TRUE(dof::index_consistent(file->free_list));
  int64_t again;
  ASSERT_EQ(dof_AllocateBlock(file, big, &again), 0u);
  EXPECT_EQ(again, a);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(FreeListTest, AllocationBeyondTheLargestOffsetIsRefused) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 2, 4096, &file), 0u);
  file->end = dof::offset_limit(file) - 100;
  int64_t address = 0;
  EXPECT_EQ(dof_AllocateBlock(file, 100, &address), DOF_BAD_SIZE);
  EXPECT_EQ(file->end, dof::offset_limit(file) - 100);
  file->end = 0;
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

// ---- The randomised run ----

// The free list as the rules state it: a list walked from its head.
struct Model {
  std::map<int64_t, uint32_t> free;  // offset -> capacity
  int64_t end = 0;
  uint32_t allocations = 0, frees = 0;

  static bool fits(uint32_t a, uint32_t b) { return uint64_t{a} + 8 + b <= UINT32_MAX; }

  // Returns the address and the capacity recorded in the header.
  std::pair<int64_t, uint32_t> allocate(uint32_t size) {
    ++allocations;
    for (auto it = free.begin(); it != free.end(); ++it) {
      if (it->second < size) continue;
      int64_t offset = it->first;
      uint32_t capacity = it->second;
      free.erase(it);
      if (capacity - size > 136) {
        free[offset + 8 + size] = capacity - size - 8;
        return {offset + 8, size};
      }
      return {offset + 8, capacity};
    }
    int64_t address = end + 8;
    end += 8 + int64_t{size};
    return {address, size};
  }

  void release(int64_t address, uint32_t capacity) {
    ++frees;
    int64_t offset = address - 8, block_end = address + capacity;
    auto after = free.upper_bound(offset);
    auto before = after == free.begin() ? free.end() : std::prev(after);
    if (before != free.end() && before->first + 8 + before->second == offset &&
        fits(before->second, capacity)) {
      before->second += capacity + 8;
      if (after != free.end() && after->first == block_end && fits(before->second, after->second)) {
        before->second += after->second + 8;
        free.erase(after);
      }
      return;
    }
    if (after != free.end() && after->first == block_end && fits(capacity, after->second)) {
      uint32_t merged = after->second + capacity + 8;
      free.erase(after);
      free[offset] = merged;
      return;
    }
    free[offset] = capacity;
  }
};

struct Live {
  uint32_t asked;
  uint32_t capacity;
  std::string bytes;  // what the block holds
};

class RandomRun {
 public:
  RandomRun(const std::string &path, uint32_t seed, int32_t page_size)
      : path_(path), rng_(seed), page_size_(page_size) {}

  void open(uint32_t flags, int32_t buffers) {
    ASSERT_EQ(dof_OpenFile(flags, path_.c_str(), buffers, page_size_, &file_), 0u);
  }

  void check_state() {
    ASSERT_TRUE(dof::index_consistent(file_->free_list));
    std::vector<std::pair<int64_t, uint32_t>> expected(model_.free.begin(), model_.free.end());
    ASSERT_EQ(records(file_), expected);
    ASSERT_EQ(file_->free_list->free_blocks, model_.free.size());
    ASSERT_EQ(file_->free_list->allocation_requests, model_.allocations);
    ASSERT_EQ(file_->free_list->free_requests, model_.frees);
    ASSERT_EQ(file_->end, model_.end);
    // Live blocks and free blocks, headers included, never overlap and lie inside the file.
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (auto &[address, live] : live_) spans.emplace_back(address - 8, address + live.capacity);
    for (auto &[offset, capacity] : model_.free) spans.emplace_back(offset, offset + 8 + capacity);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 0; i < spans.size(); ++i) {
      ASSERT_GE(spans[i].first, 0);
      ASSERT_LE(spans[i].second, file_->end);
      if (i > 0) {
        ASSERT_LE(spans[i - 1].second, spans[i].first);
      }
    }
  }

  uint32_t random_size() {
    switch (rng_() % 4) {
      case 0: return 1 + rng_() % 32;
      case 1: return 100 + rng_() % 200;
      case 2: return 1 + rng_() % 1200;
      default: return 2000 + rng_() % 4000;
    }
  }

  int64_t pick_live() {
    auto it = live_.begin();
    std::advance(it, static_cast<long>(rng_() % live_.size()));
    return it->first;
  }

  void step() {
    unsigned op = rng_() % 100;
    if (op < 35 || live_.empty()) {
      uint32_t size = random_size();
      int64_t address = 0;
      ASSERT_EQ(dof_AllocateBlock(file_, size, &address), 0u);
      auto [expected, capacity] = model_.allocate(size);
      ASSERT_EQ(address, expected);
      Live block{size, capacity, std::string(capacity, '\0')};
      ASSERT_EQ(dof_ReadWrite(DOF_READ, file_, capacity, address, block.bytes.data()), 0u);
      live_[address] = block;  // a reused block holds what it held before
    } else if (op < 60) {
      int64_t address = pick_live();
      uint32_t capacity = live_[address].capacity;
      ASSERT_EQ(dof_FreeBlock(file_, address), 0u);
      model_.release(address, capacity);
      live_.erase(address);
      freed_.push_back(address);
    } else if (op < 80) {
      int64_t address = pick_live();
      Live &block = live_[address];
      uint32_t from = rng_() % block.capacity;
      uint32_t n = 1 + rng_() % (block.capacity - from);
      std::string data(n, '\0');
      for (char &c : data) c = static_cast<char>(rng_());
      ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file_, n, address + from, data.data()), 0u);
      block.bytes.replace(from, n, data);
    } else if (op < 95) {
      int64_t address = pick_live();
      const Live &block = live_[address];
      std::string back(block.capacity, '\0');
      ASSERT_EQ(dof_ReadWrite(DOF_READ, file_, block.capacity, address, back.data()), 0u);
      ASSERT_EQ(back, block.bytes);
      uint32_t asked = 0;
      ASSERT_EQ(dof_GetBlockSize(file_, address, &asked), 0u);
      ASSERT_EQ(asked, block.asked);
    } else if (!freed_.empty()) {
      // An address freed before whose block now lies inside a free block: freeing it again must
      // be refused and change nothing.
      int64_t address = freed_[rng_() % freed_.size()];
      auto after = model_.free.upper_bound(address - 8);
      if (after == model_.free.begin()) return;
      auto holder = std::prev(after);
      if (address - 8 >= holder->first + 8 + int64_t{holder->second}) return;
      ASSERT_EQ(dof_FreeBlock(file_, address), DOF_BAD_OFFSET);
      mpm_DiscardPending(0);
    }
  }

  // Closes and opens the file again: the free list starts empty and blocks append after the end.
  void reopen(int32_t buffers) {
    ASSERT_EQ(dof_CloseFile(0, file_), 0u);
    open(DOF_FREE_LIST | DOF_OPEN_EXISTING, buffers);
    ASSERT_EQ(file_->end % page_size_, 0);
    model_.free.clear();
    model_.end = file_->end;
    model_.allocations = model_.frees = 0;
    freed_.clear();
  }

  void verify_all_and_close() {
    for (auto &[address, block] : live_) {
      std::string back(block.capacity, '\0');
      ASSERT_EQ(dof_ReadWrite(DOF_READ, file_, block.capacity, address, back.data()), 0u);
      ASSERT_EQ(back, block.bytes);
    }
    ASSERT_EQ(dof_CloseFile(0, file_), 0u);
  }

 private:
  std::string path_;
  std::mt19937 rng_;
  int32_t page_size_;
  DofFile *file_ = nullptr;
  Model model_;
  std::map<int64_t, Live> live_;
  std::vector<int64_t> freed_;
};

TEST_F(FreeListTest, RandomSequencesAgreeWithTheListWalk) {
  struct Setup {
    uint32_t seed;
    int32_t page_size;
    int32_t buffers;
  };
  for (Setup setup : {Setup{1, 256, 1}, Setup{2, 512, 3}, Setup{3, 4096, 16}, Setup{4, 100, 2}}) {
    SCOPED_TRACE(testing::Message() << "seed " << setup.seed);
    RandomRun run(path(), setup.seed, setup.page_size);
    run.open(DOF_FREE_LIST, setup.buffers);
    for (int round = 0; round < 3; ++round) {
      for (int i = 0; i < 1500; ++i) {
        run.step();
        if (HasFatalFailure()) return;
        if (i % 50 == 0) run.check_state();
        if (HasFatalFailure()) return;
      }
      run.check_state();
      run.reopen(setup.buffers + round);
      if (HasFatalFailure()) return;
    }
    run.verify_all_and_close();
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace tesmar::test
