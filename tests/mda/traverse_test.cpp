// The first entity walk: exact call sequences per kind of field, block fields and their limits,
// the allocating modes, stopping, nesting and the state a walk leaves behind.
#include <cmath>

#include "chain_check.h"
#include "traverse_support.h"

namespace tesmar::test {
namespace {

using Calls = std::vector<std::string>;
using TraverseTest = WalkTest;

TEST_F(TraverseTest, PlainFieldsAreVisitedInLayoutOrder) {
  char *e = entity("plain");
  const Calls expected{"1 1 s @24", "2 1 i @28",  "3 1 l @32",  "4 1 f @36", "5 1 d @40",
                       "6 1 c @48", "7 1 fs @49", "8 1 v @56",  "9 1 p @64", "19 0 - -"};
  int32_t *registers_before = ddf_registers;
  ddf_Schema *current_before = ddf_current;
  EXPECT_EQ(walk(e), expected);
  EXPECT_EQ(walk2(e), expected);
  // The walk's schema and registers were its own for its duration only.
  EXPECT_EQ(ddf_registers, registers_before);
  EXPECT_EQ(ddf_current, current_before);
  EXPECT_EQ(ddf_last_tf, TF_NONE);
}

TEST_F(TraverseTest, BlocksThatDoNotHoldTheElementsAreRefused) {
  struct Case {
    const char *what;
    int32_t n;                   // count after the blocks were made for 3
    void (*spoil)(char *entity); // or change a block
    mpm_Status status;
    size_t calls_before;         // calls made before the walk ended
  };
  const Case cases[] = {
      {"more elements than the block holds", 4, nullptr, MDA_ARRAY_MISMATCH, 1},
      {"array block with other inner dimensions", 3,
       [](char *e) {
         ASSERT_EQ(mda_ReallocArray(0, e, get<void *>(e, 40), 8, e + 40, 2, 3, 3), 0u);
       },
       MDA_ARRAY_MISMATCH, 2},
      {"array block where a plain one belongs", 3,
       [](char *e) {
         ASSERT_EQ(mda_Free(0, e, get<void *>(e, 32)), 0u);
         ASSERT_EQ(mda_AllocateArray(0, e, 4, e + 32, 2, 3, 1), 0u);
       },
       MDA_ARRAY_MISMATCH, 1},
      {"plain block where an array belongs", 3,
       [](char *e) {
         ASSERT_EQ(mda_Free(MDA_FREE_ARRAY, e, get<void *>(e, 40)), 0u);
         ASSERT_EQ(mda_Malloc(0, e, 48, e + 40), 0u);
       },
       MDA_ARRAY_MISMATCH, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    char *e = entity("counted");
    put<int32_t>(e, 24, 3);
    walk(e, MDA_TRAVERSE_ALLOCATE);
    if (c.spoil != nullptr) c.spoil(e);
    put<int32_t>(e, 24, c.n);
    mpm_DiscardPending(0);
    EXPECT_EQ(walk(e, 0, c.status).size(), c.calls_before);
    ASSERT_FALSE(pending_codes().empty());
    EXPECT_EQ(pending_codes().front(), c.status);
    Recorder::calls.clear();
    mpm_DiscardPending(0);
    EXPECT_EQ(mda_TraverseEntity2(0, e, record2, nullptr), c.status);
    EXPECT_EQ(Recorder::calls.size(), c.calls_before);
  }
  // A slot that holds no block at all.
  alignas(8) char fake[128] = {};
  char *e = entity("counted");
  put<int32_t>(e, 24, 1);
  put<void *>(e, 32, fake + 96);
  mpm_DiscardPending(0);
  walk(e, 0, MDA_BAD_MBLOCK);
  put<void *>(e, 32, nullptr);
}

TEST_F(TraverseTest, AllocatingModes) {
  char *e = entity("counted");
  put<int32_t>(e, 24, 3);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  int32_t *a = block_at_slot<int32_t>(e, 32);
  a[0] = 10, a[1] = 11, a[2] = 12;
  get<double **>(e, 40)[1][1] = 2.5;

  // RESIZE keeps what fits.
  put<int32_t>(e, 24, 5);
  walk(e, MDA_TRAVERSE_ALLOCATE | MDA_TRAVERSE_RESIZE);
  a = block_at_slot<int32_t>(e, 32);
  EXPECT_EQ((std::vector<int32_t>(a, a + 5)), (std::vector<int32_t>{10, 11, 12, 0, 0}));
  EXPECT_EQ(get<double **>(e, 40)[1][1], 2.5);
  EXPECT_EQ(chain_fault(e), "");

  // ALLOCATE alone gives fresh blocks and frees the old ones: the chain holds exactly the entity,
  // a, v and byq.
  put<int32_t>(e, 24, 2);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  a = block_at_slot<int32_t>(e, 32);
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(chain_of(e).size(), 4u);
  EXPECT_EQ(chain_fault(e), "");

  // A block of the wrong kind is replaced by one of the right kind.
  ASSERT_EQ(mda_Free(MDA_FREE_ARRAY, e, get<void *>(e, 40)), 0u);
  ASSERT_EQ(mda_Malloc(0, e, 8, e + 40), 0u);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  EXPECT_EQ(walk(e)[2], "5 4 v blk");
  EXPECT_EQ(chain_of(e).size(), 4u);
  EXPECT_EQ(chain_fault(e), "");

  // A count of 0 keeps the blocks, unless FREE says otherwise.
  put<int32_t>(e, 24, 0);
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE)[1], "2 0 a blk");
  EXPECT_EQ(chain_of(e).size(), 4u);
  const Calls freed = walk(e, MDA_TRAVERSE_ALLOCATE | MDA_TRAVERSE_FREE);
  EXPECT_EQ(freed, (Calls{"10 1 n @24", "2 0 a -", "5 0 v -", "1 6 g @48", "7 2 names @60",
                          "1 0 open -", "2 0 byq -", "19 0 - -"}));
  EXPECT_EQ(get<void *>(e, 32), nullptr);
  EXPECT_EQ(get<void *>(e, 40), nullptr);
  EXPECT_EQ(chain_of(e).size(), 1u);
}

TEST_F(TraverseTest, UnsizedFieldsAreSizedByTheirBlock) {
  char *e = entity("counted");
  ASSERT_EQ(mda_Malloc(0, e, 8, e + 72), 0u);
  EXPECT_EQ(walk(e)[5], "1 4 open blk");
  // Allocating walks leave it alone; FREE removes a block too small for one element.
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE | MDA_TRAVERSE_FREE)[5], "1 4 open blk");

  // A structure array sized by its block: the callback gives it one when told it is empty.
  char *d = entity("defaults");
  Recorder::calls.clear();
  auto give_block = [](void *entity, int32_t count, int32_t type, void *address,
                       const ddf_FieldDesc *desc) -> mpm_Status {
    Recorder::calls.push_back(describe(entity, count, type, address, desc));
    if (type == DDF_STRUCT && count == 0) {
      EXPECT_EQ(mda_Malloc(0, entity, 8, mda_TraverseFieldAddress), 0u);
    }
    return 0;
  };
  EXPECT_EQ(mda_TraverseEntity(0, d, give_block), 0u);
  EXPECT_EQ(Recorder::calls,
            (Calls{"2 0 w -", "4 1 f @32", "1 1 s @36", "14 1 sel @40", "2 1 sel.a @44", "15 0 - -",
                   "11 0 items -", "2 1 items.v blk", "12 0 - -", "11 1 items blk",
                   "2 1 items.v blk", "12 0 - -",
                   "19 0 - -"}));
  EXPECT_EQ(mda_TraverseFieldAddress, nullptr);
}

TEST_F(TraverseTest, UnionSelectorChoosesOneMember) {
  struct Case {
    int16_t selector;
    Calls calls;  // after "14 1 w @24"; empty: refused
  };
  const Case cases[] = {
      {0, {"2 1 w.k @32", "15 0 - -", "19 0 - -"}},
      {1, {"11 1 w.q @32", "1 1 w.q.h @32", "1 1 w.q.j @34", "12 0 - -", "15 0 - -", "19 0 - -"}},
      {5, {"5 1 w.r @32", "15 0 - -", "19 0 - -"}},
      {2, {}},   // inside q
      {4, {}},   // q's endstruct
      {6, {}},   // the union's endstruct
      {-1, {}},
      {300, {}},
  };
  char *e = entity("variant");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.selector);
    put<int16_t>(e, 24, c.selector);
    Calls expected{"14 1 w @24"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    mpm_DiscardPending(0);
    const mpm_Status status = c.calls.empty() ? MDA_INVALID_ARG : 0;
    EXPECT_EQ(walk(e, 0, status), expected);
    EXPECT_EQ(walk2(e, status), expected);
    if (status != 0) {
      EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{status, status}));
    }
  }
}

// A callback that walks an entity of another schema from inside a walk.
struct Nesting {
  static inline std::vector<std::string> inner_calls;
};

TEST_F(TraverseTest, RecursiveSubentitiesEndAtTheNestingLimit) {
  // The reader refuses a type that contains itself; a schema changed in memory still must not
  // take the walk down without end.
  const int32_t loop = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf_of("loop"));
  const int32_t leaf = ddf_FindTFI(schema_->typeforms, schema_->tf_count, tf_of("leaf"));
  int32_t number = -1;
  for (int32_t i = 0; i < schema_->subent_count; ++i)
    if (schema_->subent_tfis[i] == leaf) number = i;
  ASSERT_GE(number, 0);
  char *e = entity("loop");
  schema_->subent_tfis[number] = loop;
  const Calls calls = walk(e, 0, MDA_INVALID_ARG);
  EXPECT_EQ(calls.size(), static_cast<size_t>(mda::kMaxSubentityDepth));
  EXPECT_EQ(calls.back(), "16 1 l @24");
  EXPECT_EQ(walk2(e, MDA_INVALID_ARG).size(), static_cast<size_t>(mda::kMaxSubentityDepth));
  schema_->subent_tfis[number] = leaf;
  EXPECT_EQ(walk(e), (Calls{"16 1 l @24", "2 1 y @24", "19 0 - -", "2 1 x @28", "19 0 - -"}));
}

TEST_F(TraverseTest, EntitiesThatCannotBeWalkedAreRefused) {
  char *e = entity("plain");
  EXPECT_EQ(mda_TraverseEntity(0, nullptr, record), MDA_NULL_MEMPTR);
  EXPECT_EQ(mda_TraverseEntity(0, e, nullptr), MDA_NULL_MEMPTR);
  alignas(8) char fake[128] = {};
  EXPECT_EQ(mda_TraverseEntity(0, fake + 64, record), MDA_BAD_MBLOCK);
  auto *h = reinterpret_cast<mda_EntityHeader *>(e);
  const mda_EntityHeader saved = *h;
  h->ptr = MDA_MAKE_PTR(model_ + 1, 1);
  EXPECT_EQ(mda_TraverseEntity(0, e, record), MDA_INVALID_MODEL);
  *h = saved;
  h->tf = 0x7777u << 16;
  h->tfi = 99;
  EXPECT_EQ(mda_TraverseEntity2(0, e, record2, nullptr), MDA_INVALID_ARG);
  *h = saved;
  // An entity block smaller than its type: a plain block's type form on a point-sized block.
  h->tf = tf_of("shapes");
  h->tfi = static_cast<uint32_t>(ddf_FindTFI(schema_->typeforms, schema_->tf_count, h->tf));
  EXPECT_EQ(mda_TraverseEntity(0, e, record), MDA_INVALID_ARG);
  *h = saved;
  // A wrong TFI with the right TF is looked up again.
  h->tfi = 5;
  EXPECT_EQ(walk(e).size(), 10u);
  *h = saved;
  // Descriptors must be the model's.
  ddf_FieldDesc stray = schema_->fld_data[0];
  EXPECT_EQ(mda__TraverseEntity(0, e, e + 24, &stray, record), MDA_INVALID_ARG);
  EXPECT_EQ(mda__TraverseEntity(0, e, nullptr, schema_->fld_data, record), MDA_NULL_MEMPTR);
  Recorder::calls.clear();
  // From the fifth field of plain (d at 40) to the end.
  const ddf_FieldDesc *first = schema_->fld_data + schema_->fld_indices[0] + 4;
  EXPECT_EQ(mda__TraverseEntity(0, e, e + 40, first, record), 0u);
  EXPECT_EQ(Recorder::calls,
            (Calls{"5 1 d @40", "6 1 c @48", "7 1 fs @49", "8 1 v @56", "9 1 p @64", "19 0 - -"}));
}

}  // namespace
}  // namespace tesmar::test
