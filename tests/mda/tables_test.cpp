// Entity-keyed tables, per-type entity lists and the cache table.
#include <algorithm>
#include <list>
#include <map>
#include <random>

#include "mda_test.h"

namespace tesmar::test {
namespace {

using TableTest = MdaTest;

struct Record {
  uint64_t a;
  uint32_t b;
  uint32_t c;
};

TEST_F(TableTest, BadHandlesNeverTouchTheTable) {
  int32_t m = allocate();
  int32_t other = allocate();
  db_ptr p = 0, q = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  ASSERT_EQ(mda_ReserveDbPtr(0, other, &q), 0u);
  mda_PtrTable *t = nullptr;
  ASSERT_EQ(mda_CreatePtrTable(0, 8, m, &t), 0u);
  uint64_t v = 5;
  EXPECT_EQ(mda_SetPtrTableEntry(t, q, &v), MDA_INVALID_PTR);
  EXPECT_EQ(mda_SetPtrTableEntry(t, MDA_MAKE_PTR(m, 2), &v), MDA_INVALID_PTR);  // never issued
  EXPECT_EQ(mda_SetPtrTableEntry(t, MDA_MAKE_PTR(m, 0xFFFFFFFFFFFFull), &v), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetPtrTableEntry(t, MDA_MAKE_PTR(m, 1u << 30), &v), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetPtrTableEntry(t, MDA_NULL_PTR, &v), MDA_INVALID_PTR);
  EXPECT_EQ(mda_SetPtrTableEntry(t, MDA_NULL_PTR, &v), 0u);  // ignored
  EXPECT_EQ(mda_SetPtrTableEntry(t, MDA_MAKE_PTR(m, 0), &v), 0u);
  EXPECT_EQ(mda_SetPtrTableEntry(nullptr, p, &v), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_GetPtrTableEntry(t, p, nullptr), MDA_NULL_MEMPTR);
  EXPECT_EQ(t->capacity, 1024u);
  EXPECT_EQ(t->highest_page, 0u);
  for (uint32_t i = 0; i < t->capacity; ++i) EXPECT_EQ(t->pages[i], nullptr);

  mda_PtrTable *none = nullptr;
  EXPECT_EQ(mda_CreatePtrTable(0, 8, 99, &none), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_CreatePtrTable(0, 0, m, &none), MDA_INVALID_ARG);
  EXPECT_EQ(mda_CreatePtrTable(0, (1u << 20) + 1, m, &none), MDA_INVALID_ARG);
  EXPECT_EQ(mda_CreatePtrTable(0, 8, m, nullptr), MDA_NULL_MEMPTR);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(mda_FreePtrTable(nullptr), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_FreePtrTable(mda::model_in_use(m)->type_lists->links), MDA_INVALID_ARG);

  // The page array's capacity is a 32-bit count: it stops at 2^31 pages.
  void *record = nullptr;
  EXPECT_EQ(mda::table_record_for_write(t, (uint64_t{1} << 31) * 2048, &record), MDA_NO_MORE_PTR);
  EXPECT_EQ(t->capacity, 1024u);

  // A model's tables stay registered only while they exist: freeing the model frees its own.
  ASSERT_EQ(mda_FreePtrTable(t), 0u);
  ASSERT_EQ(mda_FreeModel(0, m), 0u);
  EXPECT_EQ(mda_SetPtrTableEntry(mda::model_in_use(other)->type_lists->links, p, &v),
            MDA_INVALID_PTR);
}

TEST_F(TableTest, ThePageArrayGrowsWithTheNumbering) {
  int32_t m = allocate();
  mda_PtrTable *t = nullptr;
  ASSERT_EQ(mda_CreatePtrTable(0, 4, m, &t), 0u);
  db_ptr p = 0;
  for (uint64_t i = 1; i <= 1024u * 2048u; ++i) ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  uint32_t v = 0xABCD;
  ASSERT_EQ(mda_SetPtrTableEntry(t, p, &v), 0u);
  EXPECT_EQ(t->capacity, 2048u);
  EXPECT_EQ(t->highest_page, 1024u);
  for (uint32_t i = 1025; i < 2048; ++i) EXPECT_EQ(t->pages[i], nullptr);  // the new part is zeroed
  uint32_t out = 0;
  ASSERT_EQ(mda_GetPtrTableEntry(t, p, &out), 0u);
  EXPECT_EQ(out, 0xABCDu);
  ASSERT_EQ(mda_GetPtrTableEntry(t, p - 1, &out), 0u);
  EXPECT_EQ(out, 0u);
  mda_FreePtrTable(t);
}

// Walks a type's list from its oldest entry through the newer links.
std::vector<db_ptr> walk(mda_TypeLists *lists, int32_t tfi) {
  std::vector<db_ptr> out;
  lists->cursor[tfi] = lists->oldest[tfi];
  db_ptr p = 0;
  while (mda_NextOfType(lists, tfi, &p) == 0) {
    out.push_back(p);
    if (out.size() > 10000) break;
  }
  return out;
}

TEST_F(TableTest, TypeListFaultsAreMended) {
  int32_t m = allocate();
  mda_TypeLists *lists = mda::model_in_use(m)->type_lists;
  db_ptr a = 0, b = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &a), 0u);
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &b), 0u);
  ASSERT_EQ(mda_AddToTypeList(lists, 1, a), 0u);
  // Adding the only entry again does not link it to itself.
  EXPECT_EQ(mda_AddToTypeList(lists, 1, a), MDA_DUPLICATE_ENTLIST_ENTRY);
  EXPECT_EQ(walk(lists, 1), std::vector<db_ptr>{a});
  EXPECT_NE(pending_texts().front().find("was not added"), std::string::npos);
  // Nor is the only entry of one list added to another.
  EXPECT_EQ(mda_AddToTypeList(lists, 2, a), MDA_DUPLICATE_ENTLIST_ENTRY);
  EXPECT_EQ(lists->count[2], 0u);
  // Removing a handle that is not listed leaves a one-entry list alone.
  ASSERT_EQ(mda_RemoveFromTypeList(lists, 1, b), 0u);
  EXPECT_EQ(lists->count[1], 1u);
  EXPECT_EQ(walk(lists, 1), std::vector<db_ptr>{a});
  // Removing the entry under the cursor moves the cursor to the next newer one.
  ASSERT_EQ(mda_AddToTypeList(lists, 1, b), 0u);
  lists->cursor[1] = lists->oldest[1];
  ASSERT_EQ(mda_RemoveFromTypeList(lists, 1, a), 0u);
  EXPECT_EQ(lists->cursor[1], b);
  db_ptr p = 0;
  EXPECT_EQ(mda_NextOfType(lists, 1, &p), 0u);
  EXPECT_EQ(p, b);
  mpm_DiscardPending(0);
  EXPECT_EQ(mda_NextOfType(lists, 1, &p), MDA_END_OF_LIST);
  EXPECT_EQ(p, 0u);
  EXPECT_TRUE(pending_codes().empty());  // quiet
  EXPECT_EQ(mda_NextOfType(lists, -1, &p), MDA_INVALID_ARG);
  EXPECT_EQ(mda_AddToTypeList(lists, static_cast<int32_t>(lists->tf_count), a), MDA_INVALID_ARG);
  EXPECT_EQ(mda_AddToTypeList(lists, 0, MDA_MAKE_PTR(m, 50)), MDA_INVALID_PTR);
  EXPECT_EQ(mda_AddToTypeList(lists, 0, MDA_NULL_PTR), MDA_INVALID_PTR);
  EXPECT_EQ(mda_AddToTypeList(nullptr, 0, a), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_RemoveFromTypeList(lists, 0, MDA_MAKE_PTR(m, 50)), 0u);
}

}  // namespace
}  // namespace tesmar::test
