// Dynamic arrays against std::vector, segment layout and address stability, growth failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "support/library.h"
#include "support/random_driver.h"

// Allocations beyond the sanitizer's limit answer null, as they do in the C library.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace tesmar::test {
namespace {

uintptr_t address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

// An element of a chosen size whose bytes are derived from a key, so copies can be checked.
std::vector<unsigned char> element(std::size_t size, uint32_t key) {
  std::vector<unsigned char> e(size);
  for (std::size_t i = 0; i < size; ++i) e[i] = static_cast<unsigned char>(key * 31 + i * 7 + (key >> 8));
  return e;
}

// The array holds exactly `model`, and every slot below the capacity has an address.
void expect_same(DarArray *array, const std::vector<std::vector<unsigned char>> &model) {
  ASSERT_EQ(dar_GetNumElements(array), model.size());
  ASSERT_LE(dar_GetNumElements(array), dar_GetCapacity(array));
  for (std::size_t i = 0; i < model.size(); ++i) {
    const void *p = dar_IndexElement(array, i);
    ASSERT_NE(p, nullptr);
    if (!model[i].empty()) {
      ASSERT_EQ(std::memcmp(p, model[i].data(), model[i].size()), 0) << "index " << i;
    }
  }
  if (model.empty())
    EXPECT_EQ(dar_GetLast(array), nullptr);
  else
    EXPECT_EQ(dar_GetLast(array), dar_IndexElement(array, model.size() - 1));
}

class DarTest : public LibraryTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_F(LibraryTest, DarInitialCapacityIsRoundedToAPowerOfTwo) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, DAR_CONTIGUOUS, 4, 5), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 8u);
  EXPECT_EQ(dar_GetElementSize(&a), 4u);
  EXPECT_EQ(dar_GetNumElements(&a), 0u);
  EXPECT_EQ(dar_Free(&a), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 0u);
  EXPECT_EQ(dar_GetElementSize(&a), 0u);

  ASSERT_EQ(dar_InitializeArray(&a, DAR_CONTIGUOUS, 4, 0), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 1u);
  dar_Free(&a);
  ASSERT_EQ(dar_InitializeArray(&a, DAR_CONTIGUOUS, 4, 16), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 16u);
  dar_Free(&a);
}

TEST_P(DarTest, ElementsFromTheSameArrayAreCopiedBeforeTheyMove) {
  for (std::size_t size : {std::size_t{4}, std::size_t{300}}) {
    DarArray a;
    ASSERT_EQ(dar_InitializeArray(&a, GetParam(), size, 1), 0u);
    std::vector<std::vector<unsigned char>> model;
    for (uint32_t i = 0; i < 40; ++i) {
      if (i < 2) {
        model.push_back(element(size, i));
        dar_AppendElement(&a, model.back().data());
        continue;
      }
      // Each array is full at powers of two, so these calls grow (and may move) the storage.
      std::size_t from = (i * 7) % model.size();
      if (i % 3 == 0) {
        model.insert(model.begin(), model[from]);
        ASSERT_NE(dar_PrependElement(&a, dar_IndexElement(&a, from)), nullptr);
      } else {
        model.push_back(model[from]);
        ASSERT_NE(dar_AppendElement(&a, dar_IndexElement(&a, from)), nullptr);
      }
      expect_same(&a, model);
    }
    dar_Free(&a);
  }
}

TEST_P(DarTest, RandomSequencesMatchAVector) {
  RandomDriver r(1234 + GetParam());
  auto any = [&](std::size_t n) { return static_cast<std::size_t>(r.pick(static_cast<int32_t>(n))); };
  for (std::size_t size : {std::size_t{1}, std::size_t{8}, std::size_t{24}, std::size_t{300}}) {
    DarArray a;
    ASSERT_EQ(dar_InitializeArray(&a, GetParam(), size, any(9)), 0u);
    std::vector<std::vector<unsigned char>> model;
    std::map<uint64_t, uintptr_t> slots;  // index -> address seen (segmented arrays never move them)
    auto fresh = [&] { return element(size, static_cast<uint32_t>(r.rng()())); };
    r.run(3000,
          {{50, [&] {
              model.push_back(fresh());
              void *p = dar_AppendElement(&a, model.back().data());
              ASSERT_EQ(p, dar_IndexElement(&a, model.size() - 1));
            }},
           {12, [&] {
              model.insert(model.begin(), fresh());
              void *p = dar_PrependElement(&a, model.front().data());
              ASSERT_EQ(p, dar_IndexElement(&a, 0));
            }},
           {18, [&] {
              std::vector<unsigned char> out(size, 0xEE);
              ASSERT_EQ(dar_ExtractLast(&a, out.data()), model.empty() ? 0 : 1);
              if (model.empty()) return;
              EXPECT_EQ(out, model.back());
              model.pop_back();
            }},
           {12, [&] {
              const uint64_t n = any(model.size() + 2);
              ASSERT_EQ(dar_DeleteFirst(&a, n), 0u);
              model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(n, model.size())));
            }},
           {1, [&] { dar_ClearArray(&a), model.clear(); }},
           {7, [&] {  // an element overwritten in place through its address
              if (model.empty()) return;
              const std::size_t i = any(model.size());
              model[i] = fresh();
              std::memcpy(dar_IndexElement(&a, i), model[i].data(), size);
            }}},
          [&] {
            expect_same(&a, model);
            if (a.kind != DAR_SEGMENTED) return;
            for (uint64_t i = 0; i < dar_GetCapacity(&a); ++i) {
              auto [it, added] = slots.emplace(i, address(dar_IndexElement(&a, i)));
              ASSERT_TRUE(added || it->second == address(dar_IndexElement(&a, i))) << "slot " << i << " moved";
            }
          });
    dar_Free(&a);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DarTest, ::testing::Values(DAR_CONTIGUOUS, DAR_SEGMENTED),
                         [](const auto &info) { return info.param == DAR_CONTIGUOUS ? "Contiguous" : "Segmented"; });

TEST_F(LibraryTest, DarUnknownKindIsRefused) {
  DarArray a;
  std::memset(&a, 0x5A, sizeof a);
  EXPECT_EQ(dar_InitializeArray(&a, 2, 4, 4), DAR_BAD_TYPE);
  EXPECT_EQ(a.kind, 0x5A5A5A5Au);  // untouched
  int32_t v = 1;
  EXPECT_EQ(dar_AppendElement(&a, &v), nullptr);
  EXPECT_EQ(dar_PrependElement(&a, &v), nullptr);
  EXPECT_EQ(dar_IndexElement(&a, 0), nullptr);
  EXPECT_EQ(dar_GetLast(&a), nullptr);
  EXPECT_EQ(dar_DeleteFirst(&a, 1), DAR_BAD_TYPE);
  EXPECT_EQ(dar_Free(&a), DAR_BAD_TYPE);
  EXPECT_EQ(dar_Free(nullptr), DAR_BAD_TYPE);
  EXPECT_TRUE(pending_texts().empty());  // DAR never issues
}

TEST_F(LibraryTest, DarSizesBeyondMemoryFailWithoutChangingTheArray) {
  DarArray a;
  EXPECT_EQ(dar_InitializeArray(&a, DAR_CONTIGUOUS, 8, UINT64_MAX), DAR_NOMEMORY);
  EXPECT_EQ(dar_GetCapacity(&a), 0u);
  EXPECT_EQ(dar_Free(&a), 0u);
  EXPECT_EQ(dar_InitializeArray(&a, DAR_SEGMENTED, uint64_t{1} << 61, 64), DAR_NOMEMORY);
  EXPECT_EQ(dar_Free(&a), 0u);

  // Elements so large that no storage for them can be had: the append fails, the array stays.
  for (uint32_t kind : {DAR_CONTIGUOUS, DAR_SEGMENTED}) {
    const uint64_t size = uint64_t{1} << 59;
    DarArray b{kind, 0, nullptr, 0, size, 0};
    char byte = 0;
    EXPECT_EQ(dar_AppendElement(&b, &byte), nullptr);
    EXPECT_EQ(dar_GetCapacity(&b), 0u);
    EXPECT_EQ(dar_GetNumElements(&b), 0u);
    EXPECT_EQ(dar_Free(&b), 0u);
  }
  EXPECT_TRUE(pending_texts().empty());
}

}  // namespace
}  // namespace tesmar::test
