// Memory blocks: sizes, chain order, arrays, attaching, freeing, moving and duplicating.
#include <cstdlib>
#include <cstring>

#include "chain_check.h"
#include "mda_test.h"

namespace tesmar::test {
namespace {

using BlockTest = LibraryTest;

// An entity-like first block: a 24-byte header and `slots` 8-byte slots after it.
struct Entity {
  explicit Entity(int slots = 8) {
    EXPECT_EQ(mda_Malloc(0, nullptr, 24 + 8 * slots, &memory), 0u);
  }
  ~Entity() {
    if (memory != nullptr) mda_FreeEntityMemory(0, memory);
  }
  void *slot(int i) const { return static_cast<char *>(memory) + 24 + 8 * i; }
  template <typename T>
  T *at(int i) const {
    T *p;
    std::memcpy(&p, slot(i), sizeof p);
    return p;
  }
  void *memory = nullptr;
};

TEST_F(BlockTest, DimensionsThatCannotMakeAnArray) {
  Entity e;
  void *keep = reinterpret_cast<void *>(0x1234);
  std::memcpy(e.slot(0), &keep, sizeof keep);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 1, 5), MDA_ZERO_DIM);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 2, 0, 3), MDA_ZERO_DIM);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 0), MDA_INVALID_ARG);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 6, 1, 1, 1, 1, 1, 1), MDA_INVALID_ARG);
  EXPECT_EQ(mda_MallocArray(0, e.memory, 8, e.slot(0), 6, 1, 1, 1, 1, 1, 1), MDA_INVALID_ARG);
  EXPECT_EQ(mda_MallocArray(0, e.memory, 8, e.slot(0), -1), MDA_INVALID_ARG);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 2, 3, -1), MDA_INVALID_ARG);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 2, 65536, 65536), MDA_MALLOC_ERR);
  EXPECT_EQ(mda_AllocateArray(0, e.memory, 0xFFFFFFFFu, e.slot(0), 2, 2, 2), MDA_MALLOC_ERR);
  EXPECT_EQ(mda_MallocArray(0, e.memory, 0x10000u, e.slot(0), 1, 0x10000), MDA_MALLOC_ERR);
  EXPECT_EQ(mda_Malloc(0, e.memory, 0xFFFFFFFFu, e.slot(0)), MDA_MALLOC_ERR);
  EXPECT_EQ(mda_Malloc(0, e.memory, 0xFFFFFFFFu - 40, e.slot(0)), MDA_MALLOC_ERR);
  EXPECT_EQ(e.at<void>(0), keep);
  EXPECT_EQ(chain_of(e.memory).size(), 1u);

  // One dimension through mda_MallocArray is a plain block; a later dimension of 0 is an empty
  // element area.
  ASSERT_EQ(mda_MallocArray(0, e.memory, 8, e.slot(0), 1, 5), 0u);
  EXPECT_EQ(mda::header_of(e.at<void>(0))->type, MDA_MBLOCK_PLAIN);
  EXPECT_EQ(mda::header_of(e.at<void>(0))->size, 80u);
  ASSERT_EQ(mda_MallocArray(0, e.memory, 8, e.slot(1), 3, 2, 0, 4), 0u);
  uint32_t usable = 9;
  ASSERT_EQ(mda_GetMemorySize(0, e.at<void>(1), &usable), 0u);
  EXPECT_EQ(usable, 0u);
  EXPECT_EQ(chain_fault(e.memory), "");
}

TEST_F(BlockTest, AttachingIndependentBlocks) {
  Entity e;
  void *p = nullptr;
  void *q = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 16, &p), 0u);
  ASSERT_EQ(mda_AllocateArray(0, nullptr, 4, &q, 2, 2, 2), 0u);
  EXPECT_EQ(mda::header_of(p)->flags, MDA_MBLOCK_INDEPENDENT);
  ASSERT_EQ(mda_AddMemory(0, e.memory, p, e.slot(0)), 0u);
  EXPECT_EQ(e.at<void>(0), p);
  EXPECT_EQ(mda::header_of(p)->flags, 0);
  EXPECT_EQ(mda_AddMemory(0, e.memory, p, e.slot(1)), MDA_NOT_IND_MBLOCK);
  EXPECT_EQ(mda_AddMemory(0, e.memory, q, e.slot(1)), MDA_BAD_MBLOCK);  // an array without option
  ASSERT_EQ(mda_AddMemory(MDA_ADD_ARRAY, e.memory, q, e.slot(1)), 0u);
  EXPECT_EQ(e.at<void>(1), q);
  EXPECT_EQ(mda_AddMemory(0, e.memory, e.memory, e.slot(2)), MDA_NOT_IND_MBLOCK);
  Entity other;
  ASSERT_EQ(mda_Malloc(0, other.memory, 8, other.slot(0)), 0u);
  EXPECT_EQ(mda_AddMemory(0, e.memory, other.memory, e.slot(2)), MDA_NOT_IND_MBLOCK);
  EXPECT_EQ(chain_of(e.memory).size(), 3u);
  EXPECT_EQ(chain_fault(e.memory), "");
}

TEST_F(BlockTest, AddressesThatAreNotBlocksGetBadMBlock) {
  Entity e;
  alignas(8) char fake[256] = {};
  void *data = fake + 128;
  EXPECT_EQ(mda_Free(0, nullptr, data), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_Free(MDA_FREE_ARRAY, e.memory, data), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_Free(0, data, e.memory), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_AddMemory(0, e.memory, data, e.slot(0)), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_Malloc(0, data, 8, e.slot(0)), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_Realloc(0, e.memory, data, 8, e.slot(0)), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_ReallocArray(0, e.memory, data, 8, e.slot(0), 2, 2, 2), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_FreeAttached(0, data), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_FreeEntityMemory(0, data), MDA_BAD_MBLOCK);
  uint32_t size = 0;
  EXPECT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, data, &size), MDA_BAD_MBLOCK);
  void *copy = &size;
  EXPECT_EQ(mda_DuplicateMemory(0, 1, data, &copy), MDA_BAD_MBLOCK);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(mda_FreeEntityMemory(0, nullptr), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_Free(0, nullptr, nullptr), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_Malloc(0, nullptr, 8, nullptr), MDA_NULL_MEMPTR);
  // A plain block where an array is expected is told by its own header: nothing in front of it
  // is read (the sanitizer build would see a read before the block).
  void *plain = nullptr;
  ASSERT_EQ(mda_Malloc(0, nullptr, 16, &plain), 0u);
  EXPECT_EQ(mda_GetMemorySize(0, plain, &size), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_Free(MDA_FREE_ARRAY, nullptr, plain), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_AddMemory(MDA_ADD_ARRAY, e.memory, plain, e.slot(0)), MDA_BAD_MBLOCK);
  EXPECT_EQ(mda_FreeEntityMemory(0, plain), 0u);
  // The message names the header's address, printed once with its 0x.
  const std::string text = pending_texts().back();  // the first one issued
  char expected[96];
  std::snprintf(expected, sizeof expected, "Bad MBlock found at address 0x%lx.",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(fake + 88)));
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(BlockTest, ReallocMovesReferencesAndFreesWhatItCutsOff) {
  Entity e;
  ASSERT_EQ(mda_Malloc(0, e.memory, 24, e.slot(0)), 0u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(mda_Malloc(0, e.memory, 6, e.at<char>(0) + 8 * i), 0u);
    char *s;
    std::memcpy(&s, e.at<char>(0) + 8 * i, sizeof s);
    std::snprintf(s, 6, "s%d", i);
  }
  ASSERT_EQ(mda_Malloc(0, e.memory, 6, e.slot(1)), 0u);
  ASSERT_EQ(chain_fault(e.memory), "");

  char *old = e.at<char>(0);
  ASSERT_EQ(mda_Realloc(0, e.memory, old, 4000, e.slot(0)), 0u);
  char *grown = e.at<char>(0);
  EXPECT_NE(grown, old);
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 6u);
  for (int i = 0; i < 3; ++i) {
    char *s;
    std::memcpy(&s, grown + 8 * i, sizeof s);
    EXPECT_EQ(std::string(s), "s" + std::to_string(i));
  }
  for (int i = 24; i < 4000; ++i) ASSERT_EQ(grown[i], 0);

  ASSERT_EQ(mda_Realloc(0, e.memory, grown, 9, e.slot(0)), 0u);  // 12 bytes: one slot stays
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 4u);
  char *s0;
  std::memcpy(&s0, e.at<char>(0), sizeof s0);
  EXPECT_STREQ(s0, "s0");

  // The entity's own block moves too (its owner address is then the new one).
  void *before = e.memory;
  void *moved = nullptr;
  ASSERT_EQ(mda_Realloc(0, e.memory, e.memory, 24 + 8 * 40, &moved), 0u);
  EXPECT_NE(moved, before);
  e.memory = moved;
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 4u);
  EXPECT_EQ(mda::header_of(e.memory)->flags, MDA_MBLOCK_INDEPENDENT);

  void *array = nullptr;
  ASSERT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(3), 2, 2, 2), 0u);
  array = e.at<void>(3);
  EXPECT_EQ(mda_Realloc(0, e.memory, array, 8, e.slot(3)), MDA_BAD_MBLOCK);
  Entity other;
  EXPECT_EQ(mda_Realloc(0, other.memory, s0, 8, other.slot(0)), MDA_BAD_MBLOCK);
  EXPECT_EQ(chain_fault(e.memory), "");
}

TEST_F(BlockTest, DuplicatesPointToTheCopiedBlocks) {
  Entity e;
  auto *h = static_cast<mda_EntityHeader *>(e.memory);
  h->ptr = MDA_MAKE_PTR(3, 17);
  h->orig_ptr = MDA_MAKE_PTR(3, 5);
  ASSERT_EQ(mda_Malloc(0, e.memory, 24, e.slot(0)), 0u);
  ASSERT_EQ(mda_Malloc(0, e.memory, 8, e.at<char>(0) + 16), 0u);
  ASSERT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(1), 3, 2, 2, 2), 0u);
  double ***a = e.at<double **>(1);
  a[1][1][1] = 7.5;
  std::strcpy(e.at<char>(0), "hello");
  void *copy = nullptr;
  ASSERT_EQ(mda_DuplicateMemory(0, 4, e.memory, &copy), 0u);
  EXPECT_EQ(chain_fault(copy), "");
  std::vector<MBlock *> source = chain_of(e.memory), copied = chain_of(copy);
  ASSERT_EQ(copied.size(), source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    EXPECT_NE(copied[i], source[i]);
    EXPECT_EQ(copied[i]->size, source[i]->size);
    EXPECT_EQ(copied[i]->type, source[i]->type);
    EXPECT_EQ(copied[i]->flags, source[i]->flags);
    for (MBlock *s : source) EXPECT_FALSE(mda::holds_slot(s, copied[i]->reference));
  }
  auto *ch = static_cast<mda_EntityHeader *>(copy);
  EXPECT_EQ(ch->ptr, MDA_MAKE_PTR(4, 0));
  EXPECT_EQ(ch->orig_ptr, MDA_MAKE_PTR(3, 5));
  char *text;
  std::memcpy(&text, static_cast<char *>(copy) + 24, sizeof text);
  EXPECT_STREQ(text, "hello");
  EXPECT_NE(text, e.at<char>(0));
  double ***b;
  std::memcpy(&b, static_cast<char *>(copy) + 32, sizeof b);
  EXPECT_EQ(b[1][1][1], 7.5);
  EXPECT_NE(b, a);
  EXPECT_EQ(chain_fault(e.memory), "");
  ASSERT_EQ(mda_FreeEntityMemory(0, copy), 0u);

  // A reference to a slot outside the chain cannot be relocated.
  void *outside = nullptr;
  ASSERT_EQ(mda_Malloc(0, e.memory, 8, &outside), 0u);
  copy = &outside;
  EXPECT_EQ(mda_DuplicateMemory(0, 4, e.memory, &copy), MDA_BAD_MBLOCK);
  EXPECT_EQ(copy, nullptr);
}

}  // namespace
}  // namespace tesmar::test
