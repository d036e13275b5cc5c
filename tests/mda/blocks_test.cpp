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

TEST_F(BlockTest, SizesRoundUpToFourAfterTheHeader) {
  for (auto [request, size] : {std::pair{1u, 44u}, {4u, 44u}, {5u, 48u}, {0u, 40u}, {37u, 80u}}) {
    void *p = nullptr;
    ASSERT_EQ(mda_Malloc(0, nullptr, request, &p), 0u);
    MBlock *b = mda::header_of(p);
    EXPECT_EQ(b->size, size) << request;
    EXPECT_EQ(b->marker, MDA_MBLOCK_MARKER);
    EXPECT_EQ(std::memcmp(&b->marker, "KLBM", 4), 0);
    EXPECT_EQ(b->type, MDA_MBLOCK_PLAIN);
    EXPECT_EQ(b->flags, MDA_MBLOCK_INDEPENDENT);
    EXPECT_EQ(b->next, 0u);
    EXPECT_EQ(b->reference, 0u);
    for (uint32_t i = 0; i < size - 40; ++i) EXPECT_EQ(static_cast<char *>(p)[i], 0);
    uint32_t usable = 0;
    ASSERT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, p, &usable), 0u);
    EXPECT_EQ(usable, size - 40);
    EXPECT_EQ(mda_Free(0, nullptr, p), 0u);
  }
  uint32_t usable = 7;
  EXPECT_EQ(mda_GetMemorySize(0, nullptr, &usable), 0u);
  EXPECT_EQ(usable, 0u);
}

TEST_F(BlockTest, BlocksFollowTheFirstNewestFirst) {
  Entity e;
  void *a = nullptr;
  ASSERT_EQ(mda_Malloc(0, e.memory, 10, e.slot(0)), 0u);
  ASSERT_EQ(mda_Malloc(0, e.memory, 20, e.slot(1)), 0u);
  a = e.at<void>(0);
  std::vector<MBlock *> chain = chain_of(e.memory);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(chain[1], mda::header_of(e.at<void>(1)));
  EXPECT_EQ(chain[2], mda::header_of(a));
  EXPECT_EQ(chain[0]->reference, reinterpret_cast<uint64_t>(e.slot(1)));
  EXPECT_EQ(chain[1]->reference, reinterpret_cast<uint64_t>(e.slot(0)));
  EXPECT_EQ(chain[2]->reference, 0u);
  EXPECT_EQ(chain[0]->flags, MDA_MBLOCK_INDEPENDENT);
  EXPECT_EQ(chain[1]->flags, 0);
  EXPECT_EQ(chain_fault(e.memory), "");
}

TEST_F(BlockTest, ATwoByThreeArrayOfDoubles) {
  Entity e;
  ASSERT_EQ(mda_AllocateArray(0, e.memory, 8, e.slot(0), 2, 2, 3), 0u);
  double **rows = e.at<double *>(0);
  MBlock *b = mda::header_of(rows) - 0;
  b = reinterpret_cast<MBlock *>(reinterpret_cast<char *>(rows) - 88);
  EXPECT_EQ(b->type, MDA_MBLOCK_ARRAY);
  const mda_ArrayHeader *ah = mda::array_header(b);
  EXPECT_EQ(reinterpret_cast<char *>(rows), reinterpret_cast<const char *>(ah) + 48);
  EXPECT_EQ(ah->ndims, 2);
  EXPECT_EQ(ah->dims[0], 2u);
  EXPECT_EQ(ah->dims[1], 3u);
  EXPECT_EQ(ah->element_size, 8u);
  EXPECT_EQ(ah->row_count, 2u);
  EXPECT_EQ(ah->element_offset, 64u);
  EXPECT_EQ(reinterpret_cast<char *>(rows[0]), reinterpret_cast<const char *>(ah) + 64);
  EXPECT_EQ(reinterpret_cast<char *>(rows[1]) - reinterpret_cast<char *>(rows[0]), 24);
  EXPECT_EQ(b->size, 40u + 64u + 48u);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) rows[i][j] = i * 10 + j;
  EXPECT_EQ(rows[0][5], 12.0);  // one element area, row after row
  uint32_t usable = 0;
  ASSERT_EQ(mda_GetMemorySize(0, rows, &usable), 0u);
  EXPECT_EQ(usable, 48u);
  EXPECT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, rows, &usable), MDA_BAD_MBLOCK);
  EXPECT_EQ(chain_fault(e.memory), "");
}

TEST_F(BlockTest, NestedRowPointersOfFiveDimensions) {
  Entity e;
  ASSERT_EQ(mda_AllocateArray(0, e.memory, 4, e.slot(0), 5, 2, 3, 1, 4, 2), 0u);
  int32_t *****a = e.at<int32_t ****>(0);
  int32_t n = 0;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 1; ++k)
        for (int l = 0; l < 4; ++l)
          for (int m = 0; m < 2; ++m) a[i][j][k][l][m] = n++;
  const int32_t *flat = a[0][0][0][0];
  for (int32_t i = 0; i < n; ++i) EXPECT_EQ(flat[i], i);
  EXPECT_EQ(chain_fault(e.memory), "");
  const mda_ArrayHeader *ah = reinterpret_cast<const mda_ArrayHeader *>(
      reinterpret_cast<char *>(a) - 48);
  EXPECT_EQ(ah->row_count, 2u + 6u + 6u + 24u);
}

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

TEST_F(BlockTest, FreeingABlockFreesTheBlocksWhoseSlotsItHolds) {
  Entity e;
  // A pointer block of three slots, each holding a string; a string hanging from the entity.
  ASSERT_EQ(mda_Malloc(0, e.memory, 24, e.slot(0)), 0u);
  char *holder = e.at<char>(0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(mda_Malloc(0, e.memory, 6, holder + 8 * i), 0u);
  void *inner = nullptr;
  std::memcpy(&inner, holder + 8, sizeof inner);
  ASSERT_EQ(mda_Malloc(0, e.memory, 4, inner), 0u);  // a block whose slot lies in a string
  ASSERT_EQ(mda_Malloc(0, e.memory, 6, e.slot(1)), 0u);
  EXPECT_EQ(chain_of(e.memory).size(), 7u);
  ASSERT_EQ(chain_fault(e.memory), "");
  ASSERT_EQ(mda_Free(0, e.memory, holder), 0u);
  EXPECT_EQ(chain_of(e.memory).size(), 2u);  // the entity and its own string
  EXPECT_EQ(chain_fault(e.memory), "");

  // Unlinking keeps the block (it stays out of every chain); a block not in the chain is left.
  void *loose = nullptr;
  ASSERT_EQ(mda_Malloc(0, e.memory, 8, e.slot(2)), 0u);
  loose = e.at<void>(2);
  ASSERT_EQ(mda_Free(MDA_FREE_UNLINK, e.memory, loose), 0u);
  EXPECT_EQ(chain_of(e.memory).size(), 2u);
  EXPECT_EQ(mda_Free(0, e.memory, loose), 0u);
  EXPECT_EQ(mda_Free(0, nullptr, loose), 0u);  // not independent: left alone
  EXPECT_EQ(mda::header_of(loose)->marker, MDA_MBLOCK_MARKER);
  EXPECT_EQ(mda_FreeEntityMemory(0, loose), 0u);
  EXPECT_EQ(mda_Free(0, e.memory, e.memory), 0u);  // the first block is not freed this way
  ASSERT_EQ(mda_FreeAttached(0, e.memory), 0u);
  EXPECT_EQ(chain_of(e.memory).size(), 1u);
  EXPECT_EQ(mda::header_of(e.memory)->reference, 0u);
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

TEST_F(BlockTest, ReallocOfABlockHoldingItsPredecessorsSlot) {
  // A (slot in the entity) was added first, then V whose slot lies in A: the chain is E, V, A,
  // and A's predecessor V hangs from A. Cutting V's slot off frees V without touching it after.
  Entity e;
  ASSERT_EQ(mda_Malloc(0, e.memory, 64, e.slot(0)), 0u);
  ASSERT_EQ(mda_Malloc(0, e.memory, 8, e.at<char>(0) + 40), 0u);
  ASSERT_EQ(chain_fault(e.memory), "");
  ASSERT_EQ(mda_Realloc(0, e.memory, e.at<char>(0), 16, e.slot(0)), 0u);
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 2u);
}

TEST_F(BlockTest, ReallocArrayKeepsCommonElementsAndMovesTheirReferences) {
  Entity e;
  struct Element {
    int64_t tag;
    char *text;
  };
  ASSERT_EQ(mda_AllocateArray(0, e.memory, sizeof(Element), e.slot(0), 2, 2, 3), 0u);
  Element **a = e.at<Element *>(0);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) {
      a[i][j].tag = 10 * i + j;
      ASSERT_EQ(mda_Malloc(0, e.memory, 8, &a[i][j].text), 0u);
      std::snprintf(a[i][j].text, 8, "t%d%d", i, j);
    }
  ASSERT_EQ(chain_fault(e.memory), "");
  ASSERT_EQ(mda_ReallocArray(0, e.memory, a, sizeof(Element), e.slot(0), 2, 3, 2), 0u);
  a = e.at<Element *>(0);
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 1u + 1u + 4u);  // the strings of column 2 are gone
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j) {
      if (i < 2) {
        EXPECT_EQ(a[i][j].tag, 10 * i + j);
        EXPECT_EQ(std::string(a[i][j].text), "t" + std::to_string(i) + std::to_string(j));
      } else {
        EXPECT_EQ(a[i][j].tag, 0);
        EXPECT_EQ(a[i][j].text, nullptr);
      }
    }
  // One dimension becomes the first row of two, and back.
  ASSERT_EQ(mda_ReallocArray(0, e.memory, a, sizeof(Element), e.slot(0), 1, 4), 0u);
  Element *row = e.at<Element>(0);
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(row[1].tag, 1);
  EXPECT_EQ(std::string(row[1].text), "t01");
  EXPECT_EQ(row[2].tag, 0);
  EXPECT_EQ(chain_of(e.memory).size(), 1u + 1u + 2u);
  ASSERT_EQ(mda_ReallocArray(MDA_REALLOC_FRESH, e.memory, row, sizeof(Element), e.slot(0), 2, 2,
                             2),
            0u);
  EXPECT_EQ(chain_fault(e.memory), "");
  EXPECT_EQ(chain_of(e.memory).size(), 2u);
  EXPECT_EQ(e.at<Element *>(0)[0][1].tag, 0);
  // The slot may not lie in the array it receives.
  a = e.at<Element *>(0);
  EXPECT_EQ(mda_ReallocArray(0, e.memory, a, sizeof(Element), &a[0][0].text, 2, 2, 2),
            MDA_INVALID_ARG);
  EXPECT_EQ(mda_ReallocArray(0, e.memory, a, sizeof(Element), e.slot(0), 6, 1, 1, 1, 1, 1, 1),
            MDA_INVALID_ARG);
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

TEST_F(BlockTest, ChainsLongerThanTheFixedTable) {
  Entity e(100);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(mda_Malloc(0, e.memory, 4 + i, e.slot(i)), 0u);
  void *copy = nullptr;
  ASSERT_EQ(mda_DuplicateMemory(0, 1, e.memory, &copy), 0u);
  EXPECT_EQ(chain_of(copy).size(), 101u);
  EXPECT_EQ(chain_fault(copy), "");
  mda_FreeEntityMemory(0, copy);
}

}  // namespace
}  // namespace tesmar::test
