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

TEST_F(LibraryTest, DarSegmentsHoldTwoTwoFourElements) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, DAR_SEGMENTED, 8, 5), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 8u);
  auto **segments = static_cast<unsigned char **>(a.data);
  ASSERT_NE(segments[0], nullptr);
  ASSERT_NE(segments[1], nullptr);
  ASSERT_NE(segments[2], nullptr);
  EXPECT_EQ(segments[3], nullptr);
  EXPECT_EQ(dar_IndexElement(&a, 0), segments[0]);
  EXPECT_EQ(dar_IndexElement(&a, 1), segments[0] + 8);
  EXPECT_EQ(dar_IndexElement(&a, 2), segments[1]);
  EXPECT_EQ(dar_IndexElement(&a, 3), segments[1] + 8);
  EXPECT_EQ(dar_IndexElement(&a, 4), segments[2]);
  EXPECT_EQ(dar_IndexElement(&a, 5), segments[2] + 8);  // segment 2, offset 1
  EXPECT_EQ(dar_IndexElement(&a, 7), segments[2] + 24);
  EXPECT_EQ(dar_IndexElement(&a, 8), nullptr);           // beyond the capacity
  dar_Free(&a);

  ASSERT_EQ(dar_InitializeArray(&a, DAR_SEGMENTED, 8, 0), 0u);
  EXPECT_EQ(dar_GetCapacity(&a), 2u);
  dar_Free(&a);
}

TEST_F(LibraryTest, DarNinthAppendDoublesAndAnswersTheNewElement) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, DAR_CONTIGUOUS, sizeof(int64_t), 8), 0u);
  for (int64_t i = 0; i < 8; ++i) ASSERT_NE(dar_AppendElement(&a, &i), nullptr);
  EXPECT_EQ(dar_GetCapacity(&a), 8u);
  int64_t ninth = 99;
  void *p = dar_AppendElement(&a, &ninth);
  EXPECT_EQ(dar_GetCapacity(&a), 16u);
  EXPECT_EQ(p, dar_IndexElement(&a, 8));
  EXPECT_EQ(*static_cast<int64_t *>(p), 99);
  for (int64_t i = 0; i < 8; ++i) EXPECT_EQ(*static_cast<int64_t *>(dar_IndexElement(&a, i)), i);
  dar_Free(&a);
}

TEST_P(DarTest, ExtractLastOfAnEmptyArrayCopiesNothing) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, GetParam(), 4, 2), 0u);
  int32_t out = 1234;
  EXPECT_EQ(dar_ExtractLast(&a, &out), 0);
  EXPECT_EQ(out, 1234);
  int32_t v = 7;
  dar_AppendElement(&a, &v);
  EXPECT_EQ(dar_ExtractLast(&a, nullptr), 1);
  EXPECT_EQ(dar_GetNumElements(&a), 0u);
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

TEST_F(LibraryTest, DarSegmentedAddressesStayWhileTheArrayGrows) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, DAR_SEGMENTED, sizeof(uint64_t), 1), 0u);
  std::vector<uint64_t *> addresses;
  for (uint64_t i = 0; i < 100000; ++i)
    addresses.push_back(static_cast<uint64_t *>(dar_AppendElement(&a, &i)));
  EXPECT_EQ(dar_GetCapacity(&a), 131072u);
  for (uint64_t i = 0; i < addresses.size(); ++i) {
    ASSERT_EQ(addresses[i], dar_IndexElement(&a, i));
    ASSERT_EQ(*addresses[i], i);
  }
  dar_Free(&a);
}

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

TEST_F(LibraryTest, DarZeroSizedElementsAreCounted) {
  DarArray a;
  ASSERT_EQ(dar_InitializeArray(&a, DAR_SEGMENTED, 0, 0), 0u);
  for (int i = 0; i < 10; ++i) ASSERT_NE(dar_AppendElement(&a, nullptr), nullptr);
  EXPECT_EQ(dar_GetNumElements(&a), 10u);
  EXPECT_EQ(dar_ExtractLast(&a, nullptr), 1);
  dar_Free(&a);
}

TEST(DarRegistry, TableIsRegisteredOnEveryStartButNeverOverAnother) {
  tmx_Initialize(0);
  // The schema module starts after DAR under the same id: entry 8 holds its table.
  EXPECT_STREQ(mpm_GetModuleDesc(8)->name, "DDF");
  EXPECT_STREQ(mpm_GetMessageName(DST_NOMEMORY), "DST_NOMEMORY");
  tmx_Terminate(0);
  tmx_Initialize(0);
  EXPECT_STREQ(mpm_GetModuleDesc(8)->name, "DDF");
  EXPECT_EQ(mpm_GetModuleDesc(7)->count, 1);
  // An empty entry 8 gets DAR's table.
  mpm_ClearRegistry(0);
  dar_Initialize(0);
  ASSERT_EQ(mpm_GetModuleDesc(8)->count, 2);
  EXPECT_STREQ(mpm_GetMessageName(DAR_BAD_TYPE), "DAR_BAD_TYPE");

  // Another table under id 8 (the schema module's, in the full library) stays in place.
  static const char *texts[] = {" other\n"};
  static const mpm_MsgName names[] = {{"OTHER", 1, 0}};
  const mpm_ModuleDesc other{8, 1, "DDX", texts, names};
  mpm_RegisterModule(0, &other);
  dar_Initialize(0);
  EXPECT_STREQ(mpm_GetModuleDesc(8)->name, "DDX");
  tmx_Terminate(0);
}

}  // namespace
}  // namespace tesmar::test
