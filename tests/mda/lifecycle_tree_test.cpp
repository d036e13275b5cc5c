// Deleting entities with their dependants: shared children stay, cycles and long chains end, and a
// model without back pointers is refused.
#include "life_support.h"

namespace tesmar::test {
namespace {

using DeleteTree = LifeTest;

// Sets the pointer field at `offset` of `parent` to `child` (back pointers kept).
void link(db_ptr parent, uint32_t offset, db_ptr child) {
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, parent, &memory), 0u);
  ASSERT_EQ(mda_AddPtr(parent, child,
                       reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + offset)),
            0u);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, parent), 0u);
}

db_ptr field(db_ptr entity, uint32_t offset) {
  void *memory = nullptr;
  EXPECT_EQ(mda_LockEntity(0, entity, &memory), 0u);
  db_ptr value = 0;
  if (memory != nullptr) std::memcpy(&value, static_cast<char *>(memory) + offset, sizeof value);
  EXPECT_EQ(mda_UnlockEntity(0, entity), 0u);
  return value;
}

// Offsets in the sample schema: line start 24, end 32, layer 40; group member count 56, block 64.
constexpr uint32_t kStart = 24, kEnd = 32, kLayer = 40;

class DeleteTreeTest : public DeleteTree {
 protected:
  db_ptr make(int32_t m, const char *name) {
    const db_ptr p = create(m, name);
    EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
    return p;
  }
  // A group with one member slot, pointing to `member` (0: none).
  db_ptr group(int32_t m, db_ptr member) {
    void *memory = nullptr;
    const db_ptr g = create(m, "group", &memory);
    int32_t one = 1;
    std::memcpy(static_cast<char *>(memory) + 56, &one, sizeof one);
    EXPECT_EQ(mda_Malloc(0, memory, 8, static_cast<char *>(memory) + 64), 0u);
    db_ptr *slot = nullptr;
    std::memcpy(&slot, static_cast<char *>(memory) + 64, sizeof slot);
    if (member != 0) {
      EXPECT_EQ(mda_AddPtr(g, member, slot), 0u);
    }
    EXPECT_EQ(mda_UnlockEntity(0, g), 0u);
    return g;
  }
};

TEST_F(DeleteTreeTest, SharedChildrenStayAndLoseOnlyTheDeletedParent) {
  const int32_t m = disk(0, true);
  const db_ptr p1 = make(m, "point"), p2 = make(m, "point"), layer = make(m, "layer");
  const db_ptr l1 = make(m, "line"), l2 = make(m, "line"), l3 = make(m, "line");
  link(l1, kStart, p1);
  link(l1, kEnd, p2);
  link(l1, kLayer, layer);
  link(l2, kStart, p2);
  link(l2, kLayer, layer);
  link(l3, kLayer, layer);

  ASSERT_EQ(mda_DeleteEntityTree(0, l1), 0u);
  EXPECT_FALSE(mda_IsValidPtr(l1));
  EXPECT_FALSE(mda_IsValidPtr(p1));  // only l1 pointed to it
  EXPECT_TRUE(mda_IsValidPtr(p2));
  EXPECT_EQ(parents(p2), std::vector<db_ptr>{l2});
  EXPECT_EQ(parents(layer), (std::vector<db_ptr>{l2, l3}));

  // Everything l2 points to goes with MDA_DELETE_ALL; l3 keeps a null pointer.
  ASSERT_EQ(mda_DeleteEntityTree(MDA_DELETE_ALL, l2), 0u);
  EXPECT_FALSE(mda_IsValidPtr(l2));
  EXPECT_FALSE(mda_IsValidPtr(p2));
  EXPECT_FALSE(mda_IsValidPtr(layer));
  EXPECT_EQ(field(l3, kLayer), 0u);
  EXPECT_EQ(mda::model_in_use(m)->live_count, 1u);
  EXPECT_EQ(cache_fault(m), "");
}

}  // namespace
}  // namespace tesmar::test
