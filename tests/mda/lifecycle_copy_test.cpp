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

// A group of the given members (their handles in its block), left unlocked.
db_ptr group_of(int32_t model, uint32_t tf_group, const std::vector<db_ptr> &members) {
  void *g = nullptr;
  db_ptr p = 0;
  EXPECT_EQ(mda_AllocateEntity(0, model, tf_group, &g, &p), 0u);
  auto n = static_cast<int32_t>(members.size());
  std::memcpy(static_cast<char *>(g) + 56, &n, sizeof n);
  EXPECT_EQ(mda_Malloc(0, g, 8 * (n > 0 ? n : 1), static_cast<char *>(g) + 64), 0u);
  char *block = nullptr;
  std::memcpy(&block, static_cast<char *>(g) + 64, sizeof block);
  for (int32_t i = 0; i < n; ++i)
    EXPECT_EQ(mda_AddPtr(p, members[i], reinterpret_cast<db_ptr *>(block) + i), 0u);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  return p;
}

std::vector<db_ptr> members_of(void *group) {
  int32_t n = 0;
  std::memcpy(&n, static_cast<char *>(group) + 56, sizeof n);
  char *block = nullptr;
  std::memcpy(&block, static_cast<char *>(group) + 64, sizeof block);
  std::vector<db_ptr> out(static_cast<std::size_t>(n));
  if (n > 0) std::memcpy(out.data(), block, 8 * static_cast<std::size_t>(n));
  return out;
}

TEST_F(Copy, SharedChildrenAreCopiedOnceAndBackPointersFollow) {
  const int32_t m = disk(0, true);
  void *memory = nullptr;
  const db_ptr a = create(m, "point");
  const db_ptr layer = create(m, "layer");
  const db_ptr line = create(m, "line", &memory);
  ASSERT_EQ(mda_AddPtr(line, a, reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + 24)), 0u);
  ASSERT_EQ(mda_AddPtr(line, a, reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + 32)), 0u);
  ASSERT_EQ(mda_AddPtr(line, layer, reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + 40)),
            0u);
  for (db_ptr p : {a, layer, line}) ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  const uint64_t live = mda::model_in_use(m)->live_count;

  void *copy = nullptr;
  ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, m, nullptr, locked(line), &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, line), 0u);
  ASSERT_NE(copy, nullptr);
  const auto *h = static_cast<mda_EntityHeader *>(copy);
  EXPECT_NE(h->ptr, line);
  EXPECT_EQ(h->orig_ptr, line);
  EXPECT_EQ(locks(h->ptr), 1u);
  const db_ptr a2 = ptr_at(copy, 24);
  EXPECT_EQ(ptr_at(copy, 32), a2);  // one copy for both pointers
  EXPECT_NE(a2, a);
  const db_ptr layer2 = ptr_at(copy, 40);
  EXPECT_NE(layer2, layer);
  EXPECT_EQ(mda::model_in_use(m)->live_count, live + 3);
  EXPECT_EQ(parents(a2), (std::vector<db_ptr>{h->ptr, h->ptr}));
  EXPECT_EQ(parents(layer2), std::vector<db_ptr>{h->ptr});
  EXPECT_EQ(parents(a), (std::vector<db_ptr>{line, line}));  // the source is untouched
  db_ptr orig = 0;
  ASSERT_EQ(mda_GetOrigPtr(0, a2, &orig), 0u);
  EXPECT_EQ(orig, a);
  EXPECT_EQ(locks(a2), 0u);
  EXPECT_EQ(locks(a), 0u);
  EXPECT_EQ(cache_fault(m), "");
}

TEST_F(Copy, CyclesEndAndTheFilterDecides) {
  const int32_t m = disk();
  const db_ptr p = create(m, "point");
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  const db_ptr inner = group_of(m, tf("group"), {p});
  const db_ptr outer = group_of(m, tf("group"), {inner, p, inner});
  // Close the cycle: inner also points to outer.
  void *g = locked(inner);
  ASSERT_EQ(mda_Realloc(0, g, *reinterpret_cast<void **>(static_cast<char *>(g) + 64), 16,
                        static_cast<char *>(g) + 64),
            0u);
  int32_t two = 2;
  std::memcpy(static_cast<char *>(g) + 56, &two, 4);
  char *block = *reinterpret_cast<char **>(static_cast<char *>(g) + 64);
  std::memcpy(block + 8, &outer, 8);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, inner), 0u);

  void *copy = nullptr;
  ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, m, nullptr, locked(outer), &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, outer), 0u);
  const db_ptr outer2 = static_cast<mda_EntityHeader *>(copy)->ptr;
  const std::vector<db_ptr> om = members_of(copy);
  ASSERT_EQ(om.size(), 3u);
  EXPECT_EQ(om[0], om[2]);
  const db_ptr inner2 = om[0], p2 = om[1];
  EXPECT_NE(inner2, inner);
  EXPECT_NE(p2, p);
  void *ic = locked(inner2);
  EXPECT_EQ(members_of(ic), (std::vector<db_ptr>{p2, outer2}));  // the cycle closes on the copy
  ASSERT_EQ(mda_UnlockEntity(0, inner2), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, outer2), 0u);
  EXPECT_EQ(mda::model_in_use(m)->live_count, 6u);

  // A filter that refuses points, counting its calls in the scratch word.
  static uint64_t calls;
  calls = 0;
  const mda_CopyFilter no_points = [](db_ptr child, uint64_t *scratch) -> int32_t {
    calls = ++*scratch;
    int32_t type = 0, form = 0;
    mda_GetPtrTF(child, &type, &form);
    return type == 116 ? 0 : 1;
  };
  ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, m, no_points, locked(outer), &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, outer), 0u);
  const std::vector<db_ptr> fm = members_of(copy);
  EXPECT_EQ(fm[1], 0u);
  EXPECT_EQ(calls, 5u);  // outer's three members, then the copied inner's two
  EXPECT_EQ(mda::model_in_use(m)->live_count, 8u);
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

TEST_F(Copy, ALongChainIsCopiedWithoutRecursion) {
  const int32_t m = disk();
  const int kLength = 20000;
  db_ptr next = 0;
  std::vector<db_ptr> chain;
  for (int i = 0; i < kLength; ++i) {
    next = group_of(m, tf("group"), next != 0 ? std::vector<db_ptr>{next} : std::vector<db_ptr>{});
    chain.push_back(next);
  }
  void *copy = nullptr;
  ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, m, nullptr, locked(chain.back()), &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, chain.back()), 0u);
  EXPECT_EQ(mda::model_in_use(m)->live_count, 2u * kLength);
  db_ptr at = static_cast<mda_EntityHeader *>(copy)->ptr;
  ASSERT_EQ(mda_UnlockEntity(0, at), 0u);
  int length = 0;
  while (at != 0) {
    ++length;
    void *g = locked(at);
    const std::vector<db_ptr> members = members_of(g);
    EXPECT_GT(MDA_PTR_ENTITY(at), static_cast<uint64_t>(kLength));  // a copy, not a source
    ASSERT_EQ(mda_UnlockEntity(0, at), 0u);
    at = members.empty() ? 0 : members[0];
  }
  EXPECT_EQ(length, kLength);
  EXPECT_EQ(cache_fault(m), "");
}

}  // namespace
}  // namespace tesmar::test
