// Entity life cycle: creation, locking and unlocking with their options, the cache, deletion,
// callbacks, per-type lists, orig handles and type-form changes.
#include <cstdlib>

#include "life_support.h"

namespace tesmar::test {
namespace {

using Lifecycle = LifeTest;

constexpr uint32_t kUnknownTF = 0x00070007u;

TEST_F(Lifecycle, ReservedHandlesMustBeExactlyReserved) {
  const int32_t m = disk();
  const int32_t other = disk();
  db_ptr reserved = 0, deleted = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &reserved), 0u);
  const db_ptr live = create(m, "point");
  deleted = create(m, "point");
  ASSERT_EQ(mda_DeleteEntity(0, deleted), 0u);
  mda_ModelRec *rec = mda::model_in_use(m);
  const uint64_t next = rec->next_number;
  struct Case {
    db_ptr handle;
    mpm_Status status;
  } cases[] = {
      {live, MDA_PTR_ALREADY_CREATED},
      {deleted, MDA_PTR_ALREADY_CREATED},
      {MDA_MAKE_PTR(m, 0), MDA_INVALID_PTR},
      {MDA_MAKE_PTR(m, next), MDA_INVALID_PTR},
      {MDA_MAKE_PTR(other, MDA_PTR_ENTITY(reserved)), MDA_INVALID_PTR},
  };
  for (const Case &c : cases) {
    db_ptr p = c.handle;
    void *memory = nullptr;
    EXPECT_EQ(mda_AllocateEntity(MDA_USE_RESERVED, m, tf("line"), &memory, &p), c.status);
    EXPECT_EQ(mda_MallocEntity(0, m, tf("line"), &memory), 0u);
    p = c.handle;
    EXPECT_EQ(mda_CreateEntity(MDA_USE_RESERVED, memory, &p), c.status);
    EXPECT_EQ(mda_FreeEntityMemory(0, memory), 0u);
  }
  EXPECT_EQ(rec->next_number, next);
  EXPECT_EQ(rec->live_count, 1u);
  // A bad type form leaves the reservation as it was.
  db_ptr p = reserved;
  void *memory = nullptr;
  EXPECT_EQ(mda_AllocateEntity(MDA_USE_RESERVED, m, kUnknownTF, &memory, &p), MDA_TF_NOT_IN_DDF);
  EXPECT_EQ(entry(reserved).status, MDA_ENTRY_RESERVED);
  ASSERT_EQ(mda_AllocateEntity(MDA_USE_RESERVED, m, tf("line"), &memory, &p), 0u);
  EXPECT_EQ(p, reserved);
  EXPECT_TRUE(mda_IsValidPtr(reserved));
  EXPECT_EQ(rec->free_head, MDA_PTR_ENTITY(deleted));  // the free list was not touched
}

TEST_F(Lifecycle, PreparedMemoryIsEnteredOnceAndInAMatchingSchema) {
  const int32_t m = disk();
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_CREATED, record), 0u);
  void *memory = nullptr;
  ASSERT_EQ(mda_MallocEntity(0, m, tf("point"), &memory), 0u);
  auto *h = static_cast<mda_EntityHeader *>(memory);
  EXPECT_EQ(h->ptr, MDA_MAKE_PTR(m, 0));
  EXPECT_EQ(h->orig_ptr, MDA_MAKE_PTR(m, 0));
  db_ptr p = 0;
  ASSERT_EQ(mda_CreateEntity(MDA_CREATE_LOCKED, memory, &p), 0u);
  EXPECT_EQ(h->ptr, p);
  EXPECT_EQ(h->orig_ptr, p);
  EXPECT_EQ(log().size(), 1u);  // created callbacks run at once
  EXPECT_EQ(locks(p), 1u);
  db_ptr again = 0;
  EXPECT_EQ(mda_CreateEntity(0, memory, &again), MDA_PTR_ALREADY_CREATED);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  EXPECT_EQ(log().size(), 1u);  // not again at the unlock

  // A copy keeps its orig handle.
  void *copy = nullptr;
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  ASSERT_EQ(mda_DuplicateMemory(0, m, memory, &copy), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  db_ptr q = 0;
  ASSERT_EQ(mda_CreateEntity(0, copy, &q), 0u);
  db_ptr orig = 0;
  ASSERT_EQ(mda_GetOrigPtr(0, q, &orig), 0u);
  EXPECT_EQ(orig, p);
  EXPECT_EQ(locks(q), 0u);

  // Another schema whose "point" has a larger structure, and one without "line".
  ddf_Schema *other = read_schema(R"(
    database "other" version 1 release 0;
    entity point 116:0 { double x; double y; double z; double w; }
  )");
  ASSERT_NE(other, nullptr);
  const int32_t o = disk(0, false, other);
  for (const char *name : {"point", "line"}) {
    ASSERT_EQ(mda_MallocEntity(0, m, tf(name), &memory), 0u);
    static_cast<mda_EntityHeader *>(memory)->ptr = MDA_MAKE_PTR(o, 0);
    db_ptr r = 0;
    EXPECT_EQ(mda_CreateEntity(0, memory, &r),
              std::string(name) == "point" ? MDA_INVALID_ARG : MDA_TF_NOT_IN_DDF);
    EXPECT_EQ(mda::model_in_use(o)->live_count, 0u);
    EXPECT_EQ(mda_FreeEntityMemory(0, memory), 0u);
  }
  ASSERT_EQ(mda_FreeModel(0, o), 0u);
  ddf_FreeSchema(0, other);
}

TEST_F(Lifecycle, LockCountsStopAt255) {
  const int32_t m = disk();
  const db_ptr p = create(m, "point");
  for (uint32_t i = 1; i < 255; ++i) ASSERT_EQ(mda_LockEntity(0, p, nullptr), 0u);
  EXPECT_EQ(locks(p), 255u);
  const uint32_t before = entry(p).status;
  void *memory = reinterpret_cast<void *>(1);
  EXPECT_EQ(mda_LockEntity(0, p, &memory), MDA_TOO_MANY_LOCKS);
  EXPECT_EQ(memory, nullptr);
  EXPECT_EQ(entry(p).status, before);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  EXPECT_EQ(locks(p), 254u);
  EXPECT_EQ(cache_fault(m), "");
  EXPECT_EQ(mda_UnlockEntity(MDA_FULL_UNLOCK, p), 0u);
  EXPECT_EQ(locks(p), 0u);
  EXPECT_EQ(entry(p).status & (MDA_ENTRY_RWLOCK | MDA_ENTRY_NEW | MDA_ENTRY_MODIFIED), 0u);
  std::vector<db_ptr> cached;
  EXPECT_EQ(cache_fault(m, &cached), "");
  EXPECT_EQ(cached, std::vector<db_ptr>{p});
}

TEST_F(Lifecycle, UnlockOptions) {
  const int32_t delayed = disk();
  const int32_t direct = disk(MDA_NO_DELAYED_WRITE);
  for (int32_t m : {delayed, direct})
    for (int32_t kind : {MDA_CALLBACK_CREATED, MDA_CALLBACK_MODIFIED, MDA_CALLBACK_DELETED})
      ASSERT_EQ(mda_SetCallback(0, m, kind, record), 0u);

  // Twice locked, unlocked once: still locked, not cached, no callback yet.
  db_ptr p = create(delayed, "point");
  ASSERT_EQ(mda_LockEntity(0, p, nullptr), 0u);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  EXPECT_EQ(locks(p), 1u);
  EXPECT_TRUE(log().empty());
  std::vector<db_ptr> cached;
  EXPECT_EQ(cache_fault(delayed, &cached), "");
  EXPECT_TRUE(cached.empty());
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  EXPECT_EQ(log(), (std::vector<std::pair<int32_t, db_ptr>>{{MDA_CALLBACK_CREATED, p}}));

  // An unlocked entity takes only the MODIFIED mark.
  EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  EXPECT_EQ(entry(p).status & (MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH | MDA_ENTRY_RWLOCK),
            MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH);
  EXPECT_EQ(mda_MarkModified(0, p), MDA_NOT_RWLOCKED);
  ASSERT_EQ(mda_LockEntity(0, p, nullptr), 0u);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  EXPECT_EQ(log().back(), std::make_pair(int32_t{MDA_CALLBACK_MODIFIED}, p));
  ASSERT_EQ(mda_LockEntity(0, p, nullptr), 0u);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);  // unchanged: no callback
  EXPECT_EQ(log().size(), 2u);

  // Invalidation needs a model without delayed write; the lock stays as it was.
  ASSERT_EQ(mda_LockEntity(0, p, nullptr), 0u);
  EXPECT_EQ(mda_UnlockEntity(MDA_INVALIDATE, p), MDA_NOLONGER_SUPPORTED);
  EXPECT_EQ(locks(p), 1u);
  EXPECT_EQ(mda_UnlockEntity(MDA_DELETE, p), 0u);
  EXPECT_FALSE(mda_IsValidPtr(p));
  EXPECT_EQ(log().back(), std::make_pair(int32_t{MDA_CALLBACK_DELETED}, p));

  // Without delayed write every final unlock writes; invalidation drops a stored image only.
  void *memory = nullptr;
  db_ptr q = create(direct, "point", &memory);
  static_cast<double *>(memory)[3] = 1.5;
  EXPECT_EQ(mda_UnlockEntity(MDA_INVALIDATE, q), 0u);  // never stored: the image stays
  EXPECT_TRUE(mda_IsInMemory(0, q));
  EXPECT_NE(entry(q).dloc, MDA_NO_DLOC);  // and it was written
  EXPECT_EQ(entry(q).status & MDA_ENTRY_NEEDFLUSH, 0u);
  ASSERT_EQ(mda_LockEntity(0, q, &memory), 0u);
  static_cast<double *>(memory)[3] = 2.5;  // a change the caller drops
  EXPECT_EQ(mda_UnlockEntity(MDA_INVALIDATE, q), 0u);
  EXPECT_FALSE(mda_IsInMemory(0, q));
  EXPECT_EQ(entry(q).status & (MDA_ENTRY_INVALID | MDA_ENTRY_NEEDFLUSH), 0u);
  ASSERT_EQ(mda_LockEntity(0, q, &memory), 0u);
  EXPECT_EQ(static_cast<double *>(memory)[3], 1.5);

  // MDA_CHECK finds a broken chain.
  char *text = nullptr;
  ASSERT_EQ(mda_Malloc(0, memory, 16, static_cast<char *>(memory) + 24), 0u);
  std::memcpy(&text, static_cast<char *>(memory) + 24, sizeof text);
  mda::header_of(memory)->reference += 4096;  // the slot no longer lies in the chain
  EXPECT_EQ(mda_UnlockEntity(MDA_CHECK, q), MDA_BAD_MBLOCK);
  mda::header_of(memory)->reference -= 4096;
  ASSERT_EQ(mda_LockEntity(0, q, &memory), 0u);
  EXPECT_EQ(mda_UnlockEntity(MDA_CHECK, q), 0u);
}

TEST_F(Lifecycle, DeletionOptions) {
  const int32_t m = disk(0, true);
  mda_ModelRec *rec = mda::model_in_use(m);
  const db_ptr parent = create(m, "line");
  const db_ptr child = create(m, "point");
  ASSERT_EQ(mda_AddPtr(parent, child, nullptr), 0u);
  EXPECT_EQ(mda_DeleteEntity(0, child), MDA_HAS_PARENTS);
  EXPECT_TRUE(mda_IsValidPtr(child));

  // Keeping the parent record leaves it in the table; allowing parents deletes.
  ASSERT_EQ(mda_DeleteEntity(MDA_ALLOW_PARENTS | MDA_KEEP_PARENT_RECORD, child), 0u);
  EXPECT_EQ(mda::read_back_ptr(rec, MDA_PTR_ENTITY(child)).kind, MDA_PARENTS_ONE);
  EXPECT_TRUE(mda_IsDeleted(child));
  EXPECT_EQ(rec->free_head, MDA_PTR_ENTITY(child));

  // Without options the record goes with the entity (also a list of several parents).
  const db_ptr shared = create(m, "point");  // takes the freed number
  EXPECT_EQ(shared, child);
  ASSERT_EQ(mda::write_back_ptr(rec, MDA_PTR_ENTITY(shared), mda_BackPtrRec{}), 0u);  // stale
  ASSERT_EQ(mda_AddPtr(parent, shared, nullptr), 0u);
  ASSERT_EQ(mda_AddPtr(parent, shared, nullptr), 0u);
  ASSERT_EQ(mda_DeleteEntity(MDA_ALLOW_PARENTS, shared), 0u);
  EXPECT_EQ(mda::read_back_ptr(rec, MDA_PTR_ENTITY(shared)).kind, MDA_PARENTS_NONE);

  // Keeping the memory: the caller has it.
  void *memory = nullptr;
  const db_ptr kept = create(m, "point", &memory);
  ASSERT_EQ(mda_DeleteEntity(MDA_KEEP_MEMORY, kept), 0u);
  EXPECT_EQ(static_cast<mda_EntityHeader *>(memory)->ptr, kept);
  EXPECT_EQ(mda_FreeEntityMemory(0, memory), 0u);

  // Leaving the number reserved, and using it again.
  const db_ptr r = create(m, "point");
  ASSERT_EQ(mda_DeleteEntity(MDA_USE_RESERVED, r), 0u);
  EXPECT_EQ(entry(r).status, MDA_ENTRY_RESERVED);
  EXPECT_EQ(entry(r).dloc, MDA_NO_DLOC);
  db_ptr again = r;
  ASSERT_EQ(mda_AllocateEntity(MDA_USE_RESERVED | MDA_UNLOCKED, m, tf("layer"), nullptr, &again),
            0u);
  EXPECT_EQ(again, r);

  // A written entity gives its block back; a cached one leaves the cache.
  ASSERT_EQ(mda_UnlockEntity(0, parent), 0u);
  ASSERT_EQ(mda_WriteEntity(0, parent), 0u);
  EXPECT_FALSE(mda_IsInMemory(0, parent));
  const uint32_t free_blocks = rec->file->free_list->free_blocks;
  ASSERT_EQ(mda_DeleteEntity(0, parent), 0u);
  EXPECT_EQ(rec->file->free_list->free_blocks, free_blocks + 1);
  EXPECT_EQ(cache_fault(m), "");
  std::vector<db_ptr> cached;
  ASSERT_EQ(cache_fault(m, &cached), "");
  EXPECT_EQ(cached, std::vector<db_ptr>{r});
  ASSERT_EQ(mda_DeleteEntity(0, r), 0u);
  ASSERT_EQ(cache_fault(m, &cached), "");
  EXPECT_TRUE(cached.empty());

  // A locked entity may be deleted; its handle is then invalid for unlock.
  const db_ptr locked = create(m, "point");
  ASSERT_EQ(mda_DeleteEntity(0, locked), 0u);
  EXPECT_EQ(mda_UnlockEntity(0, locked), MDA_INVALID_PTR);
  EXPECT_EQ(mda_DeleteEntity(0, locked), MDA_INVALID_PTR);
  EXPECT_EQ(rec->live_count, 0u);
  for (int32_t i = 0; i < schema_->tf_count; ++i) EXPECT_EQ(rec->type_lists->count[i], 0u);
}

// Callbacks that act on the entity they are called for.
db_ptr g_target = 0;
void delete_it(int32_t, db_ptr *handle) {
  if (*handle == g_target) mda_DeleteEntity(0, *handle);
}
void lock_it(int32_t, db_ptr *handle) {
  if (*handle == g_target) mda_LockEntity(0, *handle, nullptr);
}
int32_t g_model = 0;
void clear_self(int32_t kind, db_ptr *handle) {
  LifeTest::record(kind, handle);
  mda_ClearCallback(0, g_model, kind, clear_self);
}

TEST_F(Lifecycle, CallbacksRunInOrderAndMayChangeTheirEntity) {
  const int32_t m = disk();
  g_model = m;
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_CREATED, clear_self), 0u);
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_CREATED, record), 0u);
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_DELETED, record), 0u);
  EXPECT_EQ(mda_SetCallback(0, m, 4, record), MDA_INVALID_ARG);
  EXPECT_EQ(mda_ClearCallback(0, m, MDA_CALLBACK_MODIFIED, record), MDA_CALLBACK_NOT_FOUND);

  db_ptr p = 0;
  ASSERT_EQ(mda_AllocateEntity(MDA_UNLOCKED, m, tf("point"), nullptr, &p), 0u);
  // clear_self ran, removed itself, and the next callback still ran once.
  EXPECT_EQ(log(), (std::vector<std::pair<int32_t, db_ptr>>{{MDA_CALLBACK_CREATED, p},
                                                             {MDA_CALLBACK_CREATED, p}}));
  EXPECT_EQ(mda::model_in_use(m)->callbacks[MDA_CALLBACK_CREATED]->function, record);
  ASSERT_EQ(cache_fault(m), "");

  // A created callback that deletes the entity: the unlock stops, nothing is cached.
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_CREATED, delete_it), 0u);
  const db_ptr q = create(m, "point");
  g_target = q;
  log().clear();
  EXPECT_EQ(mda_UnlockEntity(0, q), 0u);
  EXPECT_FALSE(mda_IsValidPtr(q));
  EXPECT_EQ(log(), (std::vector<std::pair<int32_t, db_ptr>>{{MDA_CALLBACK_CREATED, q},
                                                             {MDA_CALLBACK_DELETED, q}}));
  std::vector<db_ptr> cached;
  ASSERT_EQ(cache_fault(m, &cached), "");
  EXPECT_EQ(cached, std::vector<db_ptr>{p});
  ASSERT_EQ(mda_ClearCallback(0, m, MDA_CALLBACK_CREATED, delete_it), 0u);

  // One that locks it again: it stays locked and out of the cache.
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_MODIFIED, lock_it), 0u);
  const db_ptr r = create(m, "point");
  ASSERT_EQ(mda_UnlockEntity(0, r), 0u);
  g_target = r;
  ASSERT_EQ(mda_LockEntity(0, r, nullptr), 0u);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, r), 0u);
  EXPECT_EQ(locks(r), 1u);
  EXPECT_NE(entry(r).status & MDA_ENTRY_RWLOCK, 0u);
  ASSERT_EQ(cache_fault(m, &cached), "");
  EXPECT_EQ(cached, std::vector<db_ptr>{p});

  // A deleted callback that deletes the entity itself.
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_DELETED, delete_it), 0u);
  EXPECT_EQ(mda_DeleteEntity(0, r), 0u);
  EXPECT_FALSE(mda_IsValidPtr(r));
  EXPECT_EQ(mda::model_in_use(m)->live_count, 1u);
}

TEST_F(Lifecycle, TypeListsKeepCreationOrderAndSurviveRemovalUnderTheCursor) {
  const int32_t m = disk(MDA_MEMORY_ONLY);
  mda_ModelRec *rec = mda::model_in_use(m);
  std::vector<db_ptr> points;
  for (int i = 0; i < 6; ++i) {
    points.push_back(create(m, "point"));
    create(m, "line");  // another type in between
  }
  const int32_t tfi = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf("point"));
  mda_TypeLists *lists = rec->type_lists;
  lists->cursor[tfi] = lists->oldest[tfi];
  std::vector<db_ptr> seen;
  db_ptr p = 0;
  while (mda_NextOfType(lists, tfi, &p) == 0) {
    seen.push_back(p);
    // Delete the entity under the cursor (the one returned next) and one already passed.
    if (p == points[1]) {
      ASSERT_EQ(mda_DeleteEntity(0, points[2]), 0u);
    }
    if (p == points[3]) {
      ASSERT_EQ(mda_DeleteEntity(0, points[0]), 0u);
    }
  }
  EXPECT_EQ(seen, (std::vector<db_ptr>{points[0], points[1], points[3], points[4], points[5]}));
  EXPECT_EQ(lists->count[tfi], 4u);
  EXPECT_EQ(lists->oldest[tfi], points[1]);
  EXPECT_EQ(rec->live_count, 10u);

  // A type-form change moves the entity to the other list, as the newest.
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, points[1], &memory), 0u);
  EXPECT_EQ(mda_SetEntityTF(memory, tf("layer")), 0u);
  const int32_t layer = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf("layer"));
  EXPECT_EQ(lists->newest[layer], points[1]);
  EXPECT_EQ(lists->count[tfi], 3u);
  EXPECT_EQ(entry(points[1]).tf, tf("layer"));
  EXPECT_NE(entry(points[1]).status & MDA_ENTRY_MODIFIED, 0u);
}

TEST_F(Lifecycle, OrigHandles) {
  const int32_t m = disk();
  void *memory = nullptr;
  const db_ptr p = create(m, "point", &memory);
  const db_ptr other = MDA_MAKE_PTR(m, 77);
  ASSERT_EQ(mda_SetOrigPtr(0, memory, other), 0u);  // equal to its handle: set
  EXPECT_EQ(static_cast<mda_EntityHeader *>(memory)->orig_ptr, other);
  ASSERT_EQ(mda_SetOrigPtr(0, memory, p), 0u);  // now differs: kept
  EXPECT_EQ(static_cast<mda_EntityHeader *>(memory)->orig_ptr, other);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  ASSERT_EQ(mda_SetOrigPtrOfEntity(MDA_ORIG_ALWAYS, p, p), 0u);
  db_ptr orig = 0;
  ASSERT_EQ(mda_GetOrigPtr(0, p, &orig), 0u);
  EXPECT_EQ(orig, p);
  EXPECT_EQ(locks(p), 0u);
  EXPECT_NE(entry(p).status & MDA_ENTRY_NEEDFLUSH, 0u);
  EXPECT_EQ(mda_GetOrigPtr(0, MDA_MAKE_PTR(m, 99), &orig), MDA_INVALID_PTR);
  EXPECT_EQ(orig, 0u);
}

}  // namespace
}  // namespace tesmar::test
