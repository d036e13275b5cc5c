// Operations that walk pointer fields: children's back pointers, re-pointing parents, rebuilding a
// model's back pointers (against a scan of every pointer field), moving an entity to a reserved
// number, and the entity operations that use them.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "mda_test.h"

namespace tesmar::test {
namespace {

// Offsets of the sample schema's pointer fields (tesmar ddl show samples/geometry.ddf).
constexpr int kLineStart = 24, kLineEnd = 32, kLineLayer = 40;
constexpr int kPolySelector = 104, kPolyMember = 112, kPolyLayer = 120;
constexpr int kGroupCount = 56, kGroupEntities = 64;
constexpr int kArcLayer = 72;

class WalkPtrsTest : public MdaTest {
 protected:
  db_ptr make(int32_t m, const char *type) {
    void *memory = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, m, tf(type), &memory, &p), 0u);
    EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
    return p;
  }
  // Runs `f` on the locked entity's memory, then unlocks it marked modified.
  template <typename F>
  static void edit(db_ptr p, F f) {
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
    f(static_cast<char *>(memory));
    ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  }
  static db_ptr *slot(char *memory, int offset) {
    return reinterpret_cast<db_ptr *>(memory + offset);
  }
  static std::vector<db_ptr> parents(db_ptr p) {
    int32_t n = 0;
    db_ptr *array = nullptr;
    EXPECT_EQ(mda_GetParents(0, p, &n, &array), 0u);
    std::vector<db_ptr> v(array, array + n);
    std::free(array);
    std::sort(v.begin(), v.end());
    return v;
  }
};

TEST_F(WalkPtrsTest, ChildBackPointersFollowEveryPointerField) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  const db_ptr p1 = make(m, "point"), p2 = make(m, "point"), gone = make(m, "point");
  const db_ptr layer = make(m, "layer");
  const db_ptr line = make(m, "line"), poly = make(m, "polyline"), group = make(m, "group");
  const db_ptr arc = make(m, "arc");
  ASSERT_EQ(mda_DeleteEntity(0, gone), 0u);
  // Fields set directly, as a restore or a raw edit leaves them: no back pointers yet.
  edit(line, [&](char *e) {
    *slot(e, kLineStart) = p1;
    *slot(e, kLineEnd) = p1;
    *slot(e, kLineLayer) = layer;
  });
  edit(poly, [&](char *e) {
    std::memcpy(e + kPolySelector, "\x01\x00", 2);  // closed: the member is the closing point
    *slot(e, kPolyMember) = p2;
    *slot(e, kPolyLayer) = layer;
  });
  edit(group, [&](char *e) {
    int32_t n = 3;
    std::memcpy(e + kGroupCount, &n, sizeof n);
    ASSERT_EQ(mda_Malloc(0, e, 3 * 8, e + kGroupEntities), 0u);
    db_ptr *members = *reinterpret_cast<db_ptr **>(e + kGroupEntities);
    members[0] = p2, members[1] = gone, members[2] = line;
  });
  edit(arc, [&](char *e) { *slot(e, kArcLayer) = layer; });
  for (db_ptr p : {line, poly, group, arc}) ASSERT_EQ(mda_AddChildBackPtrs(0, p), 0u);
  EXPECT_EQ(parents(p1), (std::vector<db_ptr>{line, line}));
  EXPECT_EQ(parents(p2), (std::vector<db_ptr>{poly, group}));
  EXPECT_EQ(parents(layer), (std::vector<db_ptr>{line, poly, arc}));
  EXPECT_EQ(parents(line), (std::vector<db_ptr>{group}));
  EXPECT_EQ(mda::read_back_ptr(mda::model_in_use(m), MDA_PTR_ENTITY(gone)).kind,
            MDA_PARENTS_NONE);  // a deleted number gets no record

  // A union walks only its selected member: an open chain holds a count there, not a handle.
  edit(poly, [&](char *e) { std::memcpy(e + kPolySelector, "\x00\x00", 2); });
  ASSERT_EQ(mda_DeleteChildBackPtrs(0, poly), 0u);
  EXPECT_EQ(parents(p2), (std::vector<db_ptr>{poly, group}));
  EXPECT_EQ(parents(layer), (std::vector<db_ptr>{line, arc}));

  ASSERT_EQ(mda_DeleteChildBackPtrs(0, line), 0u);
  EXPECT_TRUE(parents(p1).empty());
  // Removing again finds nothing to remove: the first failure stops the walk.
  EXPECT_EQ(mda_DeleteChildBackPtrs(0, line), MDA_PAR_NOT_FOUND);
  EXPECT_EQ(mda_AddChildBackPtrs(0, gone), MDA_INVALID_PTR);
  EXPECT_EQ(mda_DeleteChildBackPtrs(0, MDA_MAKE_PTR(m, 999)), MDA_INVALID_PTR);

  // A model without back pointers records nothing, and removing is no failure.
  const int32_t plain = allocate(MDA_MEMORY_ONLY, false, "plain");
  const db_ptr q = make(plain, "point"), l = make(plain, "line");
  edit(l, [&](char *e) { *slot(e, kLineStart) = q; });
  EXPECT_EQ(mda_AddChildBackPtrs(0, l), 0u);
  EXPECT_EQ(mda_DeleteChildBackPtrs(0, l), 0u);
  EXPECT_TRUE(parents(q).empty());
}

// Builds a random graph through mda_AddPtr in a model with a small cache, then checks that a
// rebuild gives every entity exactly the parents a scan of all pointer fields finds.
TEST_F(WalkPtrsTest, RebuiltBackPointersMatchAScanOfThePointerFields) {
  for (uint32_t options : {uint32_t{MDA_MEMORY_ONLY}, uint32_t{0}}) {
    SCOPED_TRACE(options);
    const int32_t m = allocate(options, true, options == 0 ? "disk" : "memory");
    std::mt19937 random(42 + options);
    std::vector<db_ptr> targets, holders;
    for (int i = 0; i < 40; ++i) targets.push_back(make(m, i % 4 == 0 ? "layer" : "point"));
    for (int i = 0; i < 60; ++i) holders.push_back(make(m, i % 3 == 0 ? "group" : "line"));
    auto pick = [&]() -> db_ptr {
      const uint32_t r = random() % 10;
      if (r == 0) return 0;
      if (r == 1) return holders[random() % holders.size()];
      return targets[random() % targets.size()];
    };
    std::map<db_ptr, std::vector<db_ptr>> scan;  // child -> parents, from the fields
    for (int i = 0; i < 60; ++i) {
      const db_ptr h = holders[i];
      edit(h, [&](char *e) {
        std::vector<int> offsets;
        if (i % 3 == 0) {
          int32_t n = static_cast<int32_t>(random() % 5);
          std::memcpy(e + kGroupCount, &n, sizeof n);
          if (n > 0) {
            ASSERT_EQ(mda_Malloc(0, e, n * 8, e + kGroupEntities), 0u);
          }
          for (int k = 0; k < n; ++k) {
            db_ptr *members = *reinterpret_cast<db_ptr **>(e + kGroupEntities);
            const db_ptr child = pick();
            ASSERT_EQ(mda_AddPtr(h, child, &members[k]), 0u);
            if (child != 0) scan[child].push_back(h);
          }
        } else {
          for (int offset : {kLineStart, kLineEnd, kLineLayer}) {
            const db_ptr child = pick();
            ASSERT_EQ(mda_AddPtr(h, child, slot(e, offset)), 0u);
            if (child != 0) scan[child].push_back(h);
          }
        }
      });
    }
    std::vector<db_ptr> all = targets;
    all.insert(all.end(), holders.begin(), holders.end());
    std::map<db_ptr, std::vector<db_ptr>> built;
    for (db_ptr p : all) {
      std::sort(scan[p].begin(), scan[p].end());
      built[p] = parents(p);
      EXPECT_EQ(built[p], scan[p]) << "as mda_AddPtr built them, entity " << MDA_PTR_ENTITY(p);
    }
    ASSERT_EQ(mda_SetBackPtrs(0, m), 0u);
    for (db_ptr p : all) EXPECT_EQ(parents(p), built[p]) << "rebuilt, entity " << MDA_PTR_ENTITY(p);
    // Twice gives the same, not twice as many.
    ASSERT_EQ(mda_SetBackPtrs(MDA_ALL_MODELS, 0), 0u);
    for (db_ptr p : all) EXPECT_EQ(parents(p), built[p]);
  }
  // A model that kept none keeps them from now on.
  const int32_t later = allocate(MDA_MEMORY_ONLY, false, "later");
  const db_ptr q = make(later, "point"), l = make(later, "line");
  edit(l, [&](char *e) { *slot(e, kLineEnd) = q; });
  ASSERT_EQ(mda_SetBackPtrs(0, later), 0u);
  EXPECT_EQ(parents(q), (std::vector<db_ptr>{l}));
  EXPECT_EQ(mda::model_in_use(later)->back_ptrs, 1);
  EXPECT_EQ(mda_SetBackPtrs(0, 999), MDA_INVALID_MODEL);
}

struct Seen {
  static inline std::vector<std::pair<int32_t, db_ptr>> calls;
  static inline std::vector<db_ptr> pairs;
  static inline bool replacing = false;  // a deleted callback gets a pair only from a replacement
};
void note(int32_t kind, db_ptr *handle) {
  Seen::calls.emplace_back(kind, *handle);
  if (kind == MDA_CALLBACK_DELETED && Seen::replacing) Seen::pairs = {handle[0], handle[1]};
}

TEST_F(WalkPtrsTest, ModifyChildPtrsRepointsTheFirstPointerOfEachParent) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  const db_ptr p1 = make(m, "point"), p2 = make(m, "point");
  const db_ptr a = make(m, "line"), b = make(m, "line"), c = make(m, "line");
  edit(a, [&](char *e) {
    ASSERT_EQ(mda_AddPtr(a, p1, slot(e, kLineStart)), 0u);
    ASSERT_EQ(mda_AddPtr(a, p1, slot(e, kLineEnd)), 0u);
  });
  edit(b, [&](char *e) { ASSERT_EQ(mda_AddPtr(b, p1, slot(e, kLineEnd)), 0u); });
  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_MODIFIED, note), 0u);
  Seen::calls.clear();
  const db_ptr parents_of_p1[] = {a, b, c, MDA_MAKE_PTR(m, 500)};
  mpm_DiscardPending(0);
  EXPECT_EQ(mda_ModifyChildPtrs(0, 4, parents_of_p1, p1, p2), MDA_INVALID_PTR);
  // The handle that names nothing failed; the others were done, and c's miss is reported too.
  EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{MDA_INVALID_PTR}));
  edit(a, [&](char *e) {
    EXPECT_EQ(*slot(e, kLineStart), p2);
    EXPECT_EQ(*slot(e, kLineEnd), p1);
  });
  edit(b, [&](char *e) { EXPECT_EQ(*slot(e, kLineEnd), p2); });
  EXPECT_EQ(parents(p1), (std::vector<db_ptr>{a}));
  EXPECT_EQ(parents(p2), (std::vector<db_ptr>{a, b}));
  EXPECT_EQ(Seen::calls, (std::vector<std::pair<int32_t, db_ptr>>{
                             {MDA_CALLBACK_MODIFIED, a}, {MDA_CALLBACK_MODIFIED, b},
                             {MDA_CALLBACK_MODIFIED, a}, {MDA_CALLBACK_MODIFIED, b}}));
  mpm_DiscardPending(0);
  EXPECT_EQ(mda_ModifyChildPtrs(0, 3, parents_of_p1, p1, 0), MDA_CHILD_NOT_FOUND);
  EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{MDA_CHILD_NOT_FOUND}));
  EXPECT_TRUE(parents(p1).empty());
  EXPECT_EQ(mda_ModifyChildPtrs(0, -1, parents_of_p1, p1, 0), MDA_INVALID_ARG);
  EXPECT_EQ(mda_ModifyChildPtrs(0, 1, nullptr, p1, 0), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_ModifyChildPtrs(0, 0, nullptr, p1, 0), 0u);
}

TEST_F(WalkPtrsTest, ReplaceDbPtrMovesAnEntityToAReservedNumber) {
  const int32_t m = allocate(0, true);  // disk-backed: the cache must follow
  const db_ptr p1 = make(m, "point");
  const db_ptr line = make(m, "line");
  edit(line, [&](char *e) {
    ASSERT_EQ(mda_AddPtr(line, p1, slot(e, kLineStart)), 0u);
    ASSERT_EQ(mda_AddPtr(line, line, slot(e, kLineEnd)), 0u);  // itself
    e[48] = 3;
  });
  db_ptr reserved = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &reserved), 0u);
  const db_ptr deleted = make(m, "point");
  ASSERT_EQ(mda_DeleteEntity(0, deleted), 0u);
  const int32_t other = allocate(MDA_MEMORY_ONLY, true, "other");
  db_ptr elsewhere = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, other, &elsewhere), 0u);

  struct Refusal {
    db_ptr from, to;
    mpm_Status status;
  };
  const Refusal refusals[] = {
      {line, p1, MDA_ENTITY_NOT_DELETED},       // live
      {line, deleted, MDA_ENTITY_NOT_DELETED},  // deleted
      {line, elsewhere, MDA_MODELS_DIFFER},
      {line, MDA_MAKE_PTR(m, 0), MDA_INVALID_PTR},  // the null handle's number
      {line, MDA_MAKE_PTR(m, 700), MDA_INVALID_PTR},
      {deleted, reserved, MDA_INVALID_PTR},
  };
  for (const Refusal &r : refusals) {
    mpm_DiscardPending(0);
    EXPECT_EQ(mda_ReplaceDbPtr(0, r.from, r.to, 0), r.status);
    EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{r.status}));
  }
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, line, &memory), 0u);
  EXPECT_EQ(mda_ReplaceDbPtr(0, line, reserved, 0), MDA_INVALID_PTR);  // locked
  ASSERT_EQ(mda_UnlockEntity(0, line), 0u);

  ASSERT_EQ(mda_SetCallback(0, m, MDA_CALLBACK_DELETED, note), 0u);
  Seen::pairs.clear();
  Seen::replacing = true;
  ASSERT_EQ(mda_ReplaceDbPtr(0, line, reserved, 0), 0u);
  Seen::replacing = false;
  EXPECT_EQ(Seen::pairs, (std::vector<db_ptr>{line, reserved}));
  EXPECT_FALSE(mda_IsValidPtr(line));
  EXPECT_TRUE(mda_IsDeleted(line));
  EXPECT_TRUE(mda_IsValidPtr(reserved));
  EXPECT_EQ(parents(p1), (std::vector<db_ptr>{reserved}));
  EXPECT_EQ(parents(reserved), (std::vector<db_ptr>{reserved}));
  mda_ModelRec *rec = mda::model_in_use(m);
  EXPECT_EQ(mda::read_back_ptr(rec, MDA_PTR_ENTITY(line)).kind, MDA_PARENTS_NONE);
  // Its type's list names the new handle only.
  const int32_t tfi = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf("line"));
  rec->type_lists->cursor[tfi] = rec->type_lists->oldest[tfi];
  db_ptr listed = 0;
  ASSERT_EQ(mda_NextOfType(rec->type_lists, tfi, &listed), 0u);
  EXPECT_EQ(listed, reserved);
  EXPECT_EQ(mda_NextOfType(rec->type_lists, tfi, &listed), MDA_END_OF_LIST);

  // The old number is free: it is the next one issued, and starts without parents.
  const db_ptr reused = make(m, "point");
  EXPECT_EQ(reused, line);
  EXPECT_TRUE(parents(reused).empty());
  EXPECT_EQ(mda_DeleteEntity(0, reused), 0u);

  // Push it out of the cache and back from the paged file: the stored image is the moved one.
  for (int i = 0; i < 40; ++i) make(m, "layer");
  EXPECT_FALSE(mda_IsInMemory(0, reserved));
  edit(reserved, [&](char *e) {
    const auto *h = reinterpret_cast<const mda_EntityHeader *>(e);
    EXPECT_EQ(h->ptr, reserved);
    EXPECT_EQ(h->orig_ptr, reserved);
    EXPECT_EQ(*slot(e, kLineStart), p1);
    EXPECT_EQ(*slot(e, kLineEnd), reserved);  // its pointer to itself followed it
    EXPECT_EQ(e[48], 3);
  });
}

TEST_F(WalkPtrsTest, EntityOperationsUseTheWalks) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  // Creation with defaults.
  void *memory = nullptr;
  db_ptr arc = 0;
  ASSERT_EQ(mda_AllocateEntity(MDA_SET_DEFAULTS, m, tf("arc"), &memory, &arc), 0u);
  double radius = 0, end_angle = 0;
  std::memcpy(&radius, static_cast<char *>(memory) + 48, 8);
  std::memcpy(&end_angle, static_cast<char *>(memory) + 64, 8);
  EXPECT_EQ(radius, 1.0);
  EXPECT_EQ(end_angle, M_PI / 2);
  ASSERT_EQ(mda_UnlockEntity(0, arc), 0u);
  void *line_memory = nullptr;
  ASSERT_EQ(mda_MallocEntity(MDA_SET_DEFAULTS, m, tf("line"), &line_memory), 0u);
  int16_t style = 0;
  std::memcpy(&style, static_cast<char *>(line_memory) + 48, 2);
  EXPECT_EQ(style, 1);

  // Entering prepared memory records its pointers.
  const db_ptr p = make(m, "point"), layer = make(m, "layer");
  *slot(static_cast<char *>(line_memory), kLineStart) = p;
  *slot(static_cast<char *>(line_memory), kLineLayer) = layer;
  db_ptr line = 0;
  ASSERT_EQ(mda_CreateEntity(MDA_ADD_BACKPTRS, line_memory, &line), 0u);
  EXPECT_EQ(parents(p), (std::vector<db_ptr>{line}));
  EXPECT_EQ(parents(layer), (std::vector<db_ptr>{line}));

  // A list of handles copied into an entity makes it their parent, once per handle.
  const db_ptr group = make(m, "group");
  olm_List *list = olm_CreateList(0, sizeof(db_ptr), 4, 0);
  for (db_ptr h : {p, layer, p, db_ptr{0}}) olm_AddObject(0, list, OLM_TAIL, &h);
  edit(group, [&](char *e) {
    int32_t count = 0;
    ASSERT_EQ(mda_ListToArray(MDA_ARRAY_BACKPTRS, e, list, &count, e + kGroupEntities), 0u);
    EXPECT_EQ(count, 4);
    std::memcpy(e + kGroupCount, &count, sizeof count);
    EXPECT_EQ(mda_ListToArray(MDA_ARRAY_BACKPTRS, nullptr, list, &count, e + kGroupEntities),
              MDA_NULL_MEMPTR);
  });
  olm_DeleteList(0, list);
  EXPECT_EQ(parents(p), (std::vector<db_ptr>{line, group, group}));

  // Deleting an entity takes it out of its children's parent lists, unless told to keep them.
  ASSERT_EQ(mda_DeleteEntity(0, line), 0u);
  EXPECT_EQ(parents(p), (std::vector<db_ptr>{group, group}));
  EXPECT_TRUE(parents(layer).size() == 1u);
  ASSERT_EQ(mda_DeleteEntity(MDA_KEEP_BACKPTRS, group), 0u);
  EXPECT_EQ(parents(p), (std::vector<db_ptr>{group, group}));
}

}  // namespace
}  // namespace tesmar::test
