// Pointer fields and back pointers: assignment with back-pointer upkeep and the parent queries,
// against a shadow map of who points to whom.
#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "mda_test.h"

namespace tesmar::test {
namespace {

using BackPtrTest = MdaTest;

std::vector<db_ptr> parents(db_ptr p) {
  int32_t n = -1;
  db_ptr *array = nullptr;
  EXPECT_EQ(mda_GetParents(0, p, &n, &array), 0u);
  std::vector<db_ptr> out(array, array + std::max(n, 0));
  std::free(array);
  int32_t count = -1;
  EXPECT_EQ(mda_GetNumParents(0, p, &count), 0u);
  EXPECT_EQ(count, n);
  return out;
}

TEST_F(BackPtrTest, ModelsWithoutBackPointersOnlyStore) {
  int32_t m = allocate(MDA_MEMORY_ONLY, false);
  db_ptr a = make_entity(m, tf("line")), c = make_entity(m, tf("point"));
  db_ptr slot = 0;
  ASSERT_EQ(mda_AddPtr(a, c, &slot), 0u);
  EXPECT_EQ(slot, c);
  EXPECT_EQ(mda::model_in_use(m)->back_ptr_table, nullptr);
  EXPECT_EQ(parents(c), std::vector<db_ptr>{});
  EXPECT_EQ(mda_DeletePtr(a, c), 0u);
  // Without the flag nothing is kept even for a handle that was never issued.
  ASSERT_EQ(mda_AddPtr(a, MDA_MAKE_PTR(m, 999), &slot), 0u);
  EXPECT_EQ(slot, MDA_MAKE_PTR(m, 999));

  // A model that keeps back pointers but whose table was freed has none to delete from.
  int32_t k = allocate(MDA_MEMORY_ONLY, true);
  db_ptr x = make_entity(k, tf("line")), y = make_entity(k, tf("point"));
  ASSERT_EQ(mda_AddPtr(x, y, &slot), 0u);
  ASSERT_EQ(mda_FreeBackPtrs(0, k), 0u);
  EXPECT_EQ(mda::model_in_use(k)->back_ptr_table, nullptr);
  EXPECT_EQ(mda_DeletePtr(x, y), MDA_NO_BACKPTRS);
  EXPECT_EQ(parents(y), std::vector<db_ptr>{});
  ASSERT_EQ(mda_AddPtr(x, y, &slot), 0u);  // a new table on demand
  EXPECT_EQ(parents(y), std::vector<db_ptr>{x});
  EXPECT_EQ(mda_FreeBackPtrs(0, 99), MDA_INVALID_MODEL);
}

TEST_F(BackPtrTest, ParentQueriesOnBadHandles) {
  int32_t m = allocate(MDA_MEMORY_ONLY, true);
  int32_t n = 5;
  db_ptr *array = reinterpret_cast<db_ptr *>(&n);
  EXPECT_EQ(mda_GetParents(0, MDA_NULL_PTR, &n, &array), 0u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(mda_GetParents(0, MDA_MAKE_PTR(m, 7), &n, &array), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetParents(0, MDA_MAKE_PTR(40, 1), &n, &array), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetNumParents(0, MDA_MAKE_PTR(m, 7), &n), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetParentsOfType(0, MDA_MAKE_PTR(m, 7), TF_ANY, &n, nullptr), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetNthlevelParents(0, MDA_MAKE_PTR(m, 0), 0, &n, &array), MDA_INVALID_ARG);
  EXPECT_EQ(mda_GetParentOfType(TF_ANY, MDA_MAKE_PTR(m, 7)), 0u);
  db_ptr found = 3;
  EXPECT_EQ(mda_FindAncestorOfType(0, MDA_MAKE_PTR(m, 7), TF_ANY, &found), MDA_INVALID_PTR);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(mda_FindAncestorsOfType(0, MDA_MAKE_PTR(m, 7), TF_ANY, &n, &array), MDA_INVALID_PTR);
  EXPECT_EQ(mda_GetParents(0, MDA_NULL_PTR, nullptr, &array), MDA_NULL_MEMPTR);
}

// The reference semantics of the ancestor searches, written recursively over the shadow.
struct Graph {
  std::map<db_ptr, std::vector<db_ptr>> parents;  // in the order added
  std::map<db_ptr, uint32_t> tfs;

  db_ptr first_ancestor(db_ptr e, uint32_t tf, std::set<db_ptr> &visited) const {
    if (!visited.insert(e).second) return 0;
    const auto &ps = at(e);
    for (db_ptr p : ps)
      if (tfs.at(p) == tf) return p;
    for (db_ptr p : ps)
      if (db_ptr found = first_ancestor(p, tf, visited)) return found;
    return 0;
  }
  void nearest(db_ptr e, uint32_t tf, std::set<db_ptr> &visited, std::vector<db_ptr> &out) const {
    if (!visited.insert(e).second) return;
    bool any = false;
    for (db_ptr p : at(e)) {
      if (tfs.at(p) != tf) continue;
      any = true;
      if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
    }
    if (!any)
      for (db_ptr p : at(e)) nearest(p, tf, visited, out);
  }
  std::vector<db_ptr> nth(db_ptr e, int level) const {
    std::vector<db_ptr> ps = at(e);
    for (int l = 2; l <= level && !ps.empty(); ++l) ps = at(ps[0]);
    return ps;
  }
  const std::vector<db_ptr> &at(db_ptr e) const {
    static const std::vector<db_ptr> none;
    auto it = parents.find(e);
    return it == parents.end() ? none : it->second;
  }
};

TEST_F(BackPtrTest, RandomAssignmentsAgreeWithAShadowMap) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  const uint32_t types[3] = {tf("line"), tf("point"), tf("group")};
  constexpr int kEntities = 40;
  constexpr int kSlots = 4;
  std::vector<db_ptr> entities;
  Graph g;
  std::mt19937 rng(11);
  for (int i = 0; i < kEntities; ++i) {
    const uint32_t t = types[rng() % 3];
    entities.push_back(make_entity(m, t));
    g.tfs[entities.back()] = t;
  }
  // Each entity's pointer fields, as a field area would hold them.
  std::map<db_ptr, std::array<db_ptr, kSlots>> fields;
  for (db_ptr e : entities) fields[e] = {};

  for (int step = 0; step < 3000; ++step) {
    const db_ptr parent = entities[rng() % kEntities];
    db_ptr &slot = fields[parent][rng() % kSlots];
    const db_ptr child = rng() % 8 == 0 ? MDA_NULL_PTR : entities[rng() % kEntities];
    auto drop = [&g](db_ptr from, db_ptr of) {
      auto &ps = g.parents[of];
      ps.erase(std::find(ps.begin(), ps.end(), from));
    };
    const int op = static_cast<int>(rng() % 3);
    if (op == 0 && slot == 0) {
      ASSERT_EQ(mda_AddPtr(parent, child, &slot), 0u);
      if (child != 0) g.parents[child].push_back(parent);
    } else if (op == 1) {
      const db_ptr old = slot;
      ASSERT_EQ(mda_ModifyPtr(parent, child, &slot), 0u);
      if (old != 0) drop(parent, old);
      if (child != 0) g.parents[child].push_back(parent);
    } else if (slot != 0) {
      ASSERT_EQ(mda_DeletePtr(parent, slot), 0u);
      drop(parent, slot);
      slot = 0;
    }
    for (db_ptr e : entities) ASSERT_EQ(parents(e), g.at(e)) << "step " << step;

    const db_ptr e = entities[rng() % kEntities];
    const uint32_t t = types[rng() % 3];
    std::vector<db_ptr> of_type;
    for (db_ptr p : g.at(e))
      if (g.tfs[p] == t) of_type.push_back(p);
    int32_t n = -1;
    db_ptr *array = nullptr;
    ASSERT_EQ(mda_GetParentsOfType(0, e, t, &n, &array), 0u);
    EXPECT_EQ(std::vector<db_ptr>(array, array + n), of_type);
    std::free(array);
    ASSERT_EQ(mda_GetParentsOfType(0, e, t, &n, nullptr), 0u);
    EXPECT_EQ(n, static_cast<int32_t>(of_type.size()));
    EXPECT_EQ(mda_GetParentOfType(t, e), of_type.empty() ? 0 : of_type[0]);

    const int level = 1 + static_cast<int>(rng() % 4);
    ASSERT_EQ(mda_GetNthlevelParents(0, e, level, &n, &array), 0u);
    EXPECT_EQ(std::vector<db_ptr>(array, array + n), g.nth(e, level)) << "level " << level;
    std::free(array);

    std::set<db_ptr> visited;
    db_ptr found = 1;
    ASSERT_EQ(mda_FindAncestorOfType(0, e, t, &found), 0u);
    EXPECT_EQ(found, g.first_ancestor(e, t, visited)) << "step " << step;
    visited.clear();
    std::vector<db_ptr> nearest;
    g.nearest(e, t, visited, nearest);
    ASSERT_EQ(mda_FindAncestorsOfType(0, e, t, &n, &array), 0u);
    EXPECT_EQ(std::vector<db_ptr>(array, array + n), nearest) << "step " << step;
    std::free(array);
    ASSERT_FALSE(HasFailure()) << "step " << step;
  }
}

}  // namespace
}  // namespace tesmar::test
