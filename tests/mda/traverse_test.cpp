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

TEST_F(TraverseTest, CountedArraysGetBlocksAndAreReportedWithTheirCounts) {
  char *e = entity("counted");
  put<int32_t>(e, 24, 3);
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE),
            (Calls{"10 1 n @24", "2 3 a blk", "5 6 v blk", "1 6 g @48", "7 2 names @60",
                   "1 0 open -", "2 4 byq blk", "19 0 - -"}));
  EXPECT_EQ(get<int32_t>(e, 68), 4);  // m = n + 1
  EXPECT_EQ(get<int32_t>(e, 80), 4);  // q = 12 / n
  uint32_t size = 0;
  ASSERT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, block_at_slot(e, 32), &size), 0u);
  EXPECT_EQ(size, 12u);
  // The 3 x 2 array's rows lead to its elements: v[i][j] through the row pointers.
  double **v = get<double **>(e, 40);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(mda_GetMemorySize(0, v, &size), 0u);
  EXPECT_EQ(size, 48u);
  v[2][1] = 7.5;
  EXPECT_EQ(reinterpret_cast<double *>(reinterpret_cast<char *>(v[0]))[5], 7.5);
  EXPECT_EQ(chain_fault(e), "");
  // Reading again gives the same counts; the second engine agrees.
  const Calls reading = walk(e);
  EXPECT_EQ(reading, walk2(e));
  EXPECT_EQ(reading[2], "5 6 v blk");
}

TEST_F(TraverseTest, FieldWithoutBlockHasNoElementsWhateverItsCount) {
  char *e = entity("counted");
  put<int32_t>(e, 24, 5);
  const Calls expected{"10 1 n @24", "2 0 a -",    "5 0 v -",     "1 6 g @48",
                       "7 2 names @60", "1 0 open -", "2 0 byq -", "19 0 - -"};
  EXPECT_EQ(walk(e), expected);
  EXPECT_EQ(walk2(e), expected);
  EXPECT_EQ(get<int32_t>(e, 80), 2);  // q = 12 / 5
}

TEST_F(TraverseTest, DivisionByZeroInALetGivesZero) {
  char *e = entity("counted");
  put<int32_t>(e, 24, 2);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  ASSERT_EQ(get<int32_t>(e, 80), 6);
  put<int32_t>(e, 24, 0);
  // q = 12 / 0 is 0, so byq, sized by q, has no elements; nothing is issued.
  const Calls calls = walk(e);
  EXPECT_EQ(get<int32_t>(e, 80), 0);
  EXPECT_EQ(get<int32_t>(e, 68), 1);
  EXPECT_EQ(calls[6], "2 0 byq blk");
  EXPECT_TRUE(pending_codes().empty());
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

TEST_F(TraverseTest, StructuresStructureArraysAndUnions) {
  char *e = entity("shapes");
  put<int32_t>(e, 72, 2);
  put<int16_t>(e, 88, 2);
  const Calls two{"2 1 head @24",
                  "11 1 pair @28", "2 1 pair.a @28", "1 1 pair.b @32", "12 0 - -",
                  "11 1 pts @40", "5 1 pts.x @40", "5 1 pts.y @48", "12 0 - -",
                  "11 1 pts @56", "5 1 pts.x @56", "5 1 pts.y @64", "12 0 - -",
                  "10 1 k @72",
                  "11 1 segs blk", "2 1 segs.w blk", "12 0 - -",
                  "11 1 segs blk", "2 1 segs.w blk", "12 0 - -",
                  "14 1 u @88", "5 1 u.ud @96", "15 0 - -",
                  "2 1 tail @104", "19 0 - -"};
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE), two);
  EXPECT_EQ(walk2(e), two);
  // The elements of segs are 4 bytes apart in its block.
  int32_t *segs = block_at_slot<int32_t>(e, 80);
  segs[1] = 99;
  Recorder::calls.clear();
  auto field_address = [](void *entity, int32_t, int32_t type, void *address,
                          const ddf_FieldDesc *) -> mpm_Status {
    // Inside segs, the field being walked is segs' own slot.
    if (type == DDF_INT && describe(entity, 1, type, address, nullptr) == "2 1 - blk")
      Recorder::calls.push_back(std::to_string(static_cast<char *>(mda_TraverseFieldAddress) -
                                               static_cast<char *>(entity)) +
                                ":" + std::to_string(*static_cast<int32_t *>(address)));
    return 0;
  };
  EXPECT_EQ(mda_TraverseEntity(0, e, field_address), 0u);
  EXPECT_EQ(Recorder::calls, (Calls{"80:0", "80:99"}));

  // An empty structure array: its bracket with count 0 and its end, nothing between.
  put<int32_t>(e, 72, 0);
  put<int16_t>(e, 88, 0);
  const Calls empty{"2 1 head @24",
                    "11 1 pair @28", "2 1 pair.a @28", "1 1 pair.b @32", "12 0 - -",
                    "11 1 pts @40", "5 1 pts.x @40", "5 1 pts.y @48", "12 0 - -",
                    "11 1 pts @56", "5 1 pts.x @56", "5 1 pts.y @64", "12 0 - -",
                    "10 1 k @72",
                    "11 0 segs -", "12 0 <12> -",
                    "14 1 u @88", "2 1 u.ui @96", "15 0 - -",
                    "2 1 tail @104", "19 0 - -"};
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE | MDA_TRAVERSE_FREE), empty);
  EXPECT_EQ(walk2(e), empty);
  EXPECT_EQ(get<void *>(e, 80), nullptr);
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

TEST_F(TraverseTest, SubentitiesAreWalkedWithTheirOwnRegisters) {
  char *e = entity("nested");
  put<int32_t>(e, 24, 2);  // the entity's n
  put<int32_t>(e, 32, 3);  // the subentity's n
  const Calls expected{"10 1 n @24", "16 1 in @32", "10 1 n @32", "2 3 vals blk", "19 0 - -",
                       "2 2 after blk", "19 0 - -"};
  EXPECT_EQ(walk(e, MDA_TRAVERSE_ALLOCATE), expected);
  EXPECT_EQ(get<int32_t>(e, 32 + 16), 6);  // the subentity's t = n * 2
  EXPECT_EQ(get<int32_t>(e, 64), 3);       // the entity's m = n + 1, after the subentity
  EXPECT_EQ(walk2(e), expected);
  // The second engine hands each call the registers of the walk it belongs to.
  ASSERT_EQ(Recorder::registers.size(), expected.size());
  EXPECT_EQ(Recorder::registers[3], (std::vector<int32_t>{3, 0, 0}));  // vals: inner n
  EXPECT_EQ(Recorder::registers[5], (std::vector<int32_t>{2, 0, 0}));  // after: outer n

  Recorder::skip_subentities = true;
  EXPECT_EQ(walk(e), (Calls{"10 1 n @24", "16 1 in @32", "2 2 after blk", "19 0 - -"}));
}

TEST_F(TraverseTest, StopEndsTheWalkAnywhere) {
  char *e = entity("nested");
  put<int32_t>(e, 24, 1);
  put<int32_t>(e, 32, 1);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  for (int stop : {0, 2, 4, 6}) {  // the entity, inside the subentity, its end, the last call
    SCOPED_TRACE(stop);
    Recorder::stop_at = stop;
    EXPECT_EQ(walk(e, 0, MDA_TRAVERSE_STOP).size(), static_cast<size_t>(stop + 1));
    Recorder::calls.clear();
    EXPECT_EQ(mda_TraverseEntity2(0, e, record2, nullptr), 0u);  // the status variable
    EXPECT_EQ(Recorder::calls.size(), static_cast<size_t>(stop + 1));
  }
  EXPECT_TRUE(pending_codes().empty());
  EXPECT_EQ(mda_TraverseFieldAddress, nullptr);
}

// A callback that walks an entity of another schema from inside a walk.
struct Nesting {
  static inline void *other = nullptr;
  static inline ddf_Schema *outer_schema = nullptr;
  static inline ddf_Schema *inner_schema = nullptr;
  static inline std::vector<std::string> inner_calls;
};

TEST_F(TraverseTest, WalksNestInsideCallbacks) {
  ddf_Schema *geometry = read_geometry();
  ASSERT_NE(geometry, nullptr);
  const int32_t other_model = allocate(geometry);
  // A point of the geometry model.
  const db_ptr point = make_entity(other_model,
                                   geometry->typeforms[ddf_FindTFI(geometry->typeforms,
                                                                   geometry->tf_count, 116u << 16)],
                                   true);
  Nesting::other = mda::lookup(point)->mloc;
  Nesting::outer_schema = schema_;
  Nesting::inner_schema = geometry;
  Nesting::inner_calls.clear();
  char *e = entity("nested");
  put<int32_t>(e, 24, 2);
  walk(e, MDA_TRAVERSE_ALLOCATE);
  Recorder::calls.clear();
  auto outer = [](void *entity, int32_t count, int32_t type, void *address,
                  const ddf_FieldDesc *desc) -> mpm_Status {
    Recorder::calls.push_back(describe(entity, count, type, address, desc));
    if (type != DDF_SUBENT) return 0;
    int32_t *registers = ddf_registers;
    auto inner = [](void *entity, int32_t count, int32_t type, void *address,
                    const ddf_FieldDesc *desc) -> mpm_Status {
      EXPECT_EQ(ddf_current, Nesting::inner_schema);
      Nesting::inner_calls.push_back(describe(entity, count, type, address, desc));
      return 0;
    };
    EXPECT_EQ(mda_TraverseEntity(0, Nesting::other, inner), 0u);
    EXPECT_EQ(ddf_current, Nesting::outer_schema);
    EXPECT_EQ(ddf_registers, registers);
    return MDA_TRAVERSE_SKIP;
  };
  EXPECT_EQ(mda_TraverseEntity(0, e, outer), 0u);
  EXPECT_EQ(Recorder::calls, (Calls{"10 1 n @24", "16 1 in @32", "2 2 after blk", "19 0 - -"}));
  EXPECT_EQ(Nesting::inner_calls, (Calls{"5 1 x @24", "5 1 y @32", "5 1 z @40", "19 0 - -"}));
  EXPECT_EQ(get<int32_t>(e, 64), 3);  // the outer registers survived the inner walk
  EXPECT_EQ(mda_FreeModel(0, other_model), 0u);
  ddf_FreeSchema(0, geometry);
}

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
