// Randomised stress of the entity store: long runs of create, lock, modify, unlock, delete, copy
// and set-pointer over three models (disk-backed with delayed write, disk-backed writing at every
// unlock, memory-only), all keeping back pointers, with a few hundred entities each against a
// 32-entry cache, so entities go to the paged file and come back all the time. A shadow model
// holds what every entity must contain; after every step the per-type lists, the back pointers and
// the live counts are compared with it, the entities a step touched are read back, and every 50
// steps all of them are.
//
// An entity's contents are taken by the read-only walk: every element of every value field (strings
// by their text) and every pointer, in field order.
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mda_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

constexpr int kSteps = kSanitized ? 800 : 2500;

// What the walk finds in an entity: its values as bytes and its pointers with their slots.
struct Contents {
  std::string values;
  std::vector<db_ptr> children;
  std::vector<db_ptr *> slots;  // addresses, valid while the entity stays locked
  bool operator==(const Contents &o) const {
    return values == o.values && children == o.children;
  }
};

mpm_Status collect(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *desc,
                   mpm_Status *, int32_t *registers, void *user) {
  auto *c = static_cast<Contents *>(user);
  if (count <= 0 || address == nullptr || desc == nullptr) return 0;
  c->values += static_cast<char>(type);
  auto *bytes = static_cast<const char *>(address);
  switch (type) {
    case DDF_PTR:
      for (int32_t i = 0; i < count; ++i) {
        auto *slot = reinterpret_cast<db_ptr *>(const_cast<char *>(bytes) + 8 * i);
        c->children.push_back(*slot);
        c->slots.push_back(slot);
      }
      break;
    case DDF_VSTRING:
      for (int32_t i = 0; i < count; ++i) {
        const char *s = nullptr;
        std::memcpy(&s, bytes + 8 * i, sizeof s);
        c->values += s != nullptr ? std::string(s) + '\0' : std::string("\x01<null>");
      }
      break;
    case DDF_FSTRING: {
      const ddf_DimExpr &d = desc->dims[desc->ndims - 1];
      int32_t length = d.a >= 0 ? d.a : registers[-d.a];
      c->values.append(bytes, static_cast<size_t>(count) * static_cast<size_t>(length));
      break;
    }
    default:
      if (type >= DDF_SHORT && type <= DDF_COUNT && type != DDF_LET)
        c->values.append(bytes, static_cast<size_t>(count) * ddf_types[type].size);
  }
  return 0;
}

Contents contents_of(void *memory) {
  Contents c;
  EXPECT_EQ(mda_TraverseEntity2(0, memory, collect, &c), 0u);
  return c;
}

// Pointer fields with a pointer per slot: the slots of a locked entity.
std::vector<db_ptr *> slots_of(void *memory) { return contents_of(memory).slots; }

struct Shadow {
  uint32_t tf = 0;
  Contents contents;
};

class StressTest : public MdaTest {
 protected:
  void SetUp() override {
    MdaTest::SetUp();
    models_ = {allocate(0, true, "delayed"), allocate(MDA_NO_DELAYED_WRITE, true, "direct"),
               allocate(MDA_MEMORY_ONLY, true, "memory")};
    types_ = {tf("point"), tf("layer"), tf("line"), tf("group"), tf("polyline")};
  }

  RandomDriver driver_{0};
  std::vector<int32_t> models_;
  std::vector<uint32_t> types_;
  std::map<db_ptr, Shadow> shadow_;
  std::map<std::pair<int32_t, uint32_t>, std::vector<db_ptr>> order_;  // creation order per type

  int pick(int n) { return driver_.pick(n); }
  double value() { return std::uniform_real_distribution<double>(-1e6, 1e6)(driver_.rng()); }

  // A live entity of the model (any, or one of type form tf), or 0.
  db_ptr any_in(int32_t model, uint32_t tf = 0) {
    std::vector<db_ptr> all;
    for (auto &[p, s] : shadow_)
      if (MDA_PTR_MODEL(p) == model && (tf == 0 || s.tf == tf)) all.push_back(p);
    return all.empty() ? 0 : all[pick(static_cast<int>(all.size()))];
  }
  db_ptr any() {
    if (shadow_.empty()) return 0;
    auto it = shadow_.begin();
    std::advance(it, pick(static_cast<int>(shadow_.size())));
    return it->first;
  }

  // Gives every element of every number field of a locked entity a random value (counts, lets and
  // union selectors are left alone).
  static mpm_Status fill_cb(void *, int32_t count, int32_t type, void *address,
                            const ddf_FieldDesc *, mpm_Status *, int32_t *, void *user) {
    auto *t = static_cast<StressTest *>(user);
    if (count <= 0 || address == nullptr) return 0;
    auto *bytes = static_cast<char *>(address);
    for (int32_t i = 0; i < count; ++i) {
      switch (type) {
        case DDF_DOUBLE: {
          double v = t->value();
          std::memcpy(bytes + 8 * i, &v, 8);
          break;
        }
        case DDF_FLOAT: {
          float v = static_cast<float>(t->value());
          std::memcpy(bytes + 4 * i, &v, 4);
          break;
        }
        case DDF_INT: {
          int32_t v = t->pick(1000);
          std::memcpy(bytes + 4 * i, &v, 4);
          break;
        }
        case DDF_SHORT: {
          int16_t v = static_cast<int16_t>(t->pick(4));
          std::memcpy(bytes + 2 * i, &v, 2);
          break;
        }
        default:
          break;
      }
    }
    return 0;
  }

  static mpm_Status find_count(void *, int32_t count, int32_t type, void *address,
                                const ddf_FieldDesc *, mpm_Status *, int32_t *, void *user) {
    if (type == DDF_COUNT && count > 0 && *static_cast<void **>(user) == nullptr)
      *static_cast<void **>(user) = address;
    return 0;
  }
  static mpm_Status nothing(void *, int32_t, int32_t, void *, const ddf_FieldDesc *) { return 0; }

  void fill(db_ptr ptr, void *memory, uint32_t tf) {
    // A type with a count: set it, and let the allocating walk size the blocks it governs.
    void *count = nullptr;
    ASSERT_EQ(mda_TraverseEntity2(0, memory, find_count, &count), 0u);
    if (count != nullptr) {
      int32_t n = pick(7);
      std::memcpy(count, &n, 4);
      ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, memory, nothing), 0u);
    }
    ASSERT_EQ(mda_TraverseEntity2(0, memory, fill_cb, this), 0u);
    if (tf == types_[1]) {  // layer: its name is its first field
      std::string name = "layer-" + std::to_string(pick(100000));
      auto *slot = static_cast<char *>(memory) + sizeof(mda_EntityHeader);
      ASSERT_EQ(mda_SetString(0, memory, name.c_str(), slot), 0u);
    }
    // Pointers: each slot gets a random entity of the same model (or stays null).
    for (db_ptr *slot : slots_of(memory)) {
      db_ptr child = pick(4) == 0 ? 0 : any_in(MDA_PTR_MODEL(ptr));
      if (child != 0 && child != ptr) {
        ASSERT_EQ(mda_AddPtr(ptr, child, slot), 0u);
      }
    }
  }

  void create() {
    int32_t model = models_[pick(3)];
    uint32_t tf = types_[pick(static_cast<int>(types_.size()))];
    void *memory = nullptr;
    db_ptr ptr = 0;
    ASSERT_EQ(mda_AllocateEntity(0, model, tf, &memory, &ptr), 0u);
    ASSERT_NO_FATAL_FAILURE(fill(ptr, memory, tf));
    shadow_[ptr] = {tf, contents_of(memory)};
    order_[{model, tf}].push_back(ptr);
    ASSERT_EQ(mda_UnlockEntity(pick(2) ? MDA_MODIFIED : 0, ptr), 0u);
  }

  void check_entity(db_ptr ptr) {
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, ptr, &memory), 0u) << ptr;
    Contents now = contents_of(memory);
    EXPECT_TRUE(now == shadow_[ptr].contents) << "entity #" << MDA_PTR_MODEL(ptr) << ":"
                                              << MDA_PTR_ENTITY(ptr) << " changed";
    auto *h = static_cast<mda_EntityHeader *>(memory);
    EXPECT_EQ(h->ptr, ptr);
    EXPECT_EQ(h->tf, shadow_[ptr].tf);
    ASSERT_EQ(mda_UnlockEntity(0, ptr), 0u);
  }

  void modify() {
    db_ptr ptr = any();
    if (ptr == 0) return;
    ASSERT_NO_FATAL_FAILURE(check_entity(ptr));
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, ptr, &memory), 0u);
    bool twice = pick(4) == 0;
    void *again = nullptr;
    if (twice) {
      ASSERT_EQ(mda_LockEntity(0, ptr, &again), 0u);
      EXPECT_EQ(again, memory);
    }
    ASSERT_EQ(mda_TraverseEntity2(0, memory, fill_cb, this), 0u);
    shadow_[ptr].contents = contents_of(memory);
    if (twice) {
      ASSERT_EQ(mda_UnlockEntity(0, ptr), 0u);
    }
    ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, ptr), 0u);
  }

  void set_pointer() {
    db_ptr ptr = any();
    if (ptr == 0) return;
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, ptr, &memory), 0u);
    std::vector<db_ptr *> slots = slots_of(memory);
    if (!slots.empty()) {
      db_ptr *slot = slots[pick(static_cast<int>(slots.size()))];
      db_ptr child = pick(3) == 0 ? 0 : any_in(MDA_PTR_MODEL(ptr));
      if (child == ptr) child = 0;
      ASSERT_EQ(mda_ModifyPtr(ptr, child, slot), 0u);
      EXPECT_EQ(*slot, child);
      shadow_[ptr].contents = contents_of(memory);
    }
    ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, ptr), 0u);
  }

  int32_t parents_in_shadow(db_ptr ptr) {
    int32_t n = 0;
    for (auto &[p, s] : shadow_) n += static_cast<int32_t>(std::count(s.contents.children.begin(), s.contents.children.end(), ptr));
    return n;
  }

  void erase(db_ptr ptr) {
    shadow_.erase(ptr);
    for (auto &[key, list] : order_) list.erase(std::remove(list.begin(), list.end(), ptr), list.end());
  }

  void remove() {
    db_ptr ptr = any();
    if (ptr == 0) return;
    if (parents_in_shadow(ptr) > 0) {
      EXPECT_EQ(mda_DeleteEntity(0, ptr), MDA_HAS_PARENTS);
      mpm_DiscardPending(0);
      EXPECT_TRUE(mda_IsValidPtr(ptr));
      return;
    }
    ASSERT_EQ(mda_DeleteEntity(0, ptr), 0u);
    EXPECT_FALSE(mda_IsValidPtr(ptr));
    erase(ptr);
  }

  // Copies an entity and what it points to into another model; the copies must hold the same
  // values and point at the copies of the same children.
  void copy() {
    db_ptr source = any();
    if (source == 0) return;
    int32_t target = models_[pick(3)];
    void *memory = nullptr;
    ASSERT_EQ(mda_LockEntity(0, source, &memory), 0u);
#ifdef TESMAR_TEST_NO_COPY
    (void)target;
    ASSERT_EQ(mda_UnlockEntity(0, source), 0u);
    return;
#else
    void *copied = nullptr;
    ASSERT_EQ(mda_CopyEntity(MDA_COPY_CREATE, target, nullptr, memory, &copied), 0u);
    db_ptr top = static_cast<mda_EntityHeader *>(copied)->ptr;
    ASSERT_EQ(mda_UnlockEntity(0, top), 0u);
    ASSERT_EQ(mda_UnlockEntity(0, source), 0u);
    std::map<db_ptr, db_ptr> map;
    std::map<uint32_t, std::vector<db_ptr>> made;  // the copies by type form
    std::vector<std::pair<db_ptr, db_ptr>> todo{{source, top}};
    map[source] = top;
    while (!todo.empty()) {
      auto [from, to] = todo.back();
      todo.pop_back();
      void *m = nullptr;
      ASSERT_EQ(mda_LockEntity(0, to, &m), 0u);
      Contents got = contents_of(m);
      ASSERT_EQ(mda_UnlockEntity(0, to), 0u);
      const Shadow &s = shadow_[from];
      EXPECT_EQ(got.values, s.contents.values);
      ASSERT_EQ(got.children.size(), s.contents.children.size());
      for (size_t i = 0; i < got.children.size(); ++i) {
        db_ptr child = s.contents.children[i];
        if (child == 0) {
          EXPECT_EQ(got.children[i], 0u);
          continue;
        }
        auto it = map.find(child);
        if (it != map.end()) {
          EXPECT_EQ(got.children[i], it->second);
        } else {
          EXPECT_EQ(MDA_PTR_MODEL(got.children[i]), target);
          map[child] = got.children[i];
          todo.push_back({child, got.children[i]});
        }
      }
      shadow_[to] = {s.tf, got};
      made[s.tf].push_back(to);
    }
    // The copies join their types' lists after the entities already there, in the order the copy
    // made them, which is its own affair: the lists must hold the old entries, then exactly the
    // copies.
    for (auto &[tf, copies] : made) {
      std::vector<db_ptr> &order = order_[{target, tf}];
      std::vector<db_ptr> got = type_list(target, tf);
      ASSERT_EQ(got.size(), order.size() + copies.size());
      EXPECT_TRUE(std::equal(order.begin(), order.end(), got.begin()));
      EXPECT_TRUE(std::is_permutation(copies.begin(), copies.end(), got.begin() + order.size()));
      order = got;
    }
#endif
  }

  // A type's list, oldest first, through the cursor.
  std::vector<db_ptr> type_list(int32_t model, uint32_t tf) {
    mda_ModelRec *rec = mda::model_in_use(model);
    int32_t tfi = ddf_FindTFI(rec->schema->typeforms, rec->schema->tf_count, tf);
    mda_TypeLists *lists = rec->type_lists;
    lists->cursor[tfi] = lists->oldest[tfi];
    std::vector<db_ptr> got;
    db_ptr p = 0;
    while (mda_NextOfType(lists, tfi, &p) == 0 && p != 0) got.push_back(p);
    return got;
  }

  void check_lists_and_parents() {
    for (int32_t model : models_) {
      mda_ModelRec *rec = mda::model_in_use(model);
      ASSERT_NE(rec, nullptr);
      uint64_t live = 0;
      for (auto &[p, s] : shadow_) live += MDA_PTR_MODEL(p) == model;
      EXPECT_EQ(rec->live_count, live);
      for (uint32_t tf : types_) {
        std::vector<db_ptr> got = type_list(model, tf);
        EXPECT_EQ(got, order_[std::make_pair(model, tf)]) << "type list of " << tf << " in model " << model;
      }
    }
    std::map<db_ptr, std::vector<db_ptr>> parents;
    for (auto &[p, s] : shadow_)
      for (db_ptr c : s.contents.children)
        if (c != 0) parents[c].push_back(p);
    for (auto &[p, s] : shadow_) {
      int32_t n = 0;
      db_ptr *array = nullptr;
      ASSERT_EQ(mda_GetParents(0, p, &n, &array), 0u);
      std::vector<db_ptr> got(array, array + n);
      std::free(array);
      std::vector<db_ptr> want = parents[p];
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want) << "parents of #" << MDA_PTR_MODEL(p) << ":" << MDA_PTR_ENTITY(p);
    }
  }

  void run(uint32_t seed) {
    driver_ = RandomDriver(seed);
    for (int i = 0; i < 40; ++i) ASSERT_NO_FATAL_FAILURE(create());
    driver_.run(kSteps,
                {{30, [&] { create(); }}, {25, [&] { modify(); }}, {15, [&] { set_pointer(); }},
                 {20, [&] { remove(); }}, {10, [&] { copy(); }}},
                [&] {
                  ASSERT_NO_FATAL_FAILURE(check_lists_and_parents()) << driver_.where();
                  if (driver_.step() % 50 == 49) {
                    for (auto &[p, s] : shadow_) ASSERT_NO_FATAL_FAILURE(check_entity(p));
                  }
                  ASSERT_TRUE(pending_codes().empty()) << driver_.where() << " left messages";
                });
  }
};

TEST_F(StressTest, Seed1) { run(1); }
TEST_F(StressTest, Seed2) { run(2); }
TEST_F(StressTest, Seed3) { run(3); }

}  // namespace
}  // namespace tesmar::test
