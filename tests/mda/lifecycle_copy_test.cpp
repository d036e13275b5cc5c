// Copying entities with the entities they point to: sharing and cycles, the filter, the copy
// table, other schemas, copies not entered, and long chains.
#include "life_support.h"

namespace tesmar::test {
namespace {

using Copy = LifeTest;

// Pointer fields of the sample schema: line start/end/layer at 24/32/40, group members at 56 and
// its block of handles at 64.
db_ptr ptr_at(void *memory, uint32_t offset) {
  db_ptr p;
  std::memcpy(&p, static_cast<char *>(memory) + offset, sizeof p);
  return p;
}

void *locked(db_ptr p) {
  void *memory = nullptr;
  EXPECT_EQ(mda_LockEntity(0, p, &memory), 0u);
  return memory;
}

TEST_F(Copy, TheCopyTableAndCopiesNotEntered) {
  const int32_t m = disk();
  const db_ptr p = create(m, "point");
  const db_ptr q = create(m, "point");
  const db_ptr layer = create(m, "layer");
  void *memory = nullptr;
  const db_ptr line = create(m, "line", &memory);
  std::memcpy(static_cast<char *>(memory) + 24, &p, 8);
  std::memcpy(static_cast<char *>(memory) + 32, &q, 8);
  std::memcpy(static_cast<char *>(memory) + 40, &layer, 8);
  for (db_ptr e : {p, q, layer, line}) ASSERT_EQ(mda_UnlockEntity(0, e), 0u);
  const db_ptr existing = create(m, "point");
  ASSERT_EQ(mda_UnlockEntity(0, existing), 0u);

  mda_PtrTable *table = nullptr;
  ASSERT_EQ(mda_CreatePtrTable(MDA_PTRTABLE_ZERO, 8, m, &table), 0u);
  ASSERT_EQ(mda_SetPtrTableEntry(table, p, &existing), 0u);
  mda_copy_table = table;
  void *copy = nullptr;
  ASSERT_EQ(mda_CopyEntity(0, m, nullptr, locked(line), &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, line), 0u);
  mda_copy_table = nullptr;
  // Not entered: the memory is the caller's, its pointers name entered copies.
  EXPECT_EQ(static_cast<mda_EntityHeader *>(copy)->ptr, MDA_MAKE_PTR(m, 0));
  EXPECT_EQ(ptr_at(copy, 24), existing);
  const db_ptr q2 = ptr_at(copy, 32);
  EXPECT_TRUE(mda_IsValidPtr(q2));
  db_ptr recorded = 0;
  ASSERT_EQ(mda_GetPtrTableEntry(table, q, &recorded), 0u);
  EXPECT_EQ(recorded, q2);
  ASSERT_EQ(mda_GetPtrTableEntry(table, layer, &recorded), 0u);
  EXPECT_EQ(recorded, ptr_at(copy, 40));
  db_ptr entered = 0;
  ASSERT_EQ(mda_CreateEntity(0, copy, &entered), 0u);
  EXPECT_EQ(mda::model_in_use(m)->live_count, 8u);
  ASSERT_EQ(mda_FreePtrTable(table), 0u);
  EXPECT_EQ(mda_CopyEntity(MDA_COPY_NESTED, m, nullptr, locked(line), &copy), MDA_INVALID_OPTIONS);
  EXPECT_EQ(copy, nullptr);
}

TEST_F(Copy, OtherSchemasMustAgreeOnTheStructure) {
  ddf_Schema *same = read_schema(R"(
    database "same" version 1 release 0;
    entity point 116:0 { double a; double b; double c; }
    entity layer 406:3 { vstring n; int k; }
  )");
  ddf_Schema *wider = read_schema(R"(
    database "wider" version 1 release 0;
    entity point 116:0 { double a; double b; double c; double d; }
  )");
  const int32_t m = disk(MDA_MEMORY_ONLY);
  const int32_t s = disk(MDA_MEMORY_ONLY, false, same);
  const int32_t w = disk(MDA_MEMORY_ONLY, false, wider);
  void *memory = nullptr;
  const db_ptr p = create(m, "point", &memory);
  static_cast<double *>(memory)[3] = 4.5;
  const db_ptr y = create(m, "layer", &memory);
  void *copy = nullptr;
  ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, s, nullptr, locked(p), &copy), 0u);
  EXPECT_EQ(static_cast<double *>(copy)[3], 4.5);
  EXPECT_EQ(static_cast<mda_EntityHeader *>(copy)->tfi, 0u);  // its TFI in the target's schema
  EXPECT_EQ(mda_CopyEntity(MDA_COPY_CREATE, w, nullptr, locked(p), &copy), MDA_INVALID_ARG);
  EXPECT_EQ(mda_CopyEntity(MDA_COPY_CREATE, w, nullptr, locked(y), &copy), MDA_TF_NOT_IN_DDF);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(mda::model_in_use(w)->live_count, 0u);
  for (int32_t model : {m, s, w}) ASSERT_EQ(mda_FreeModel(0, model), 0u);
  ddf_FreeSchema(0, same);
  ddf_FreeSchema(0, wider);
}

}  // namespace
}  // namespace tesmar::test
