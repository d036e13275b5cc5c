// Models: allocation, numbering, the current model, parameters, release and clearing.
#include <cstring>

#include "ddf/ddf_internal.h"
#include "mda_test.h"

namespace tesmar::test {
namespace {

using ModelTest = MdaTest;

mda_ModelRec *record(int32_t model) { return mda::model_in_use(model); }

TEST_F(ModelTest, TheFirstModelIsOneAndItsNumberIsReusedAfterRelease) {
  int32_t a = allocate();
  int32_t b = allocate();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(mda_FreeModel(0, a), 0u);
  EXPECT_EQ(allocate(), 1);
  EXPECT_EQ(allocate(), 3);
}

TEST_F(ModelTest, DefinitionDefaultsAndWhatTheRecordKeeps) {
  mda_ModelDef def;
  std::memset(&def, 0x5A, sizeof def);
  ASSERT_EQ(mda_InitModelDef(0, &def), 0u);
  EXPECT_EQ(def.name[0], '\0');
  EXPECT_EQ(def.schema, nullptr);
  EXPECT_EQ(def.back_ptrs, 0);
  EXPECT_EQ(def.statistics, 0);
  EXPECT_EQ(def.buffer_count, 16u);
  EXPECT_EQ(def.page_size, 4096u);
  EXPECT_EQ(def.user_data, nullptr);
  EXPECT_EQ(def.free_hook, nullptr);
  EXPECT_EQ(def.slot_c, nullptr);

  std::memset(def.name, 'n', sizeof def.name);  // not terminated: kept to 191 characters
  def.schema = schema_;
  int user = 0;
  def.user_data = &user;
  def.slot_a = &user;
  int32_t m = 0;
  ASSERT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY | MDA_NO_DELAYED_WRITE, &def, &m), 0u);
  mda_ModelRec *rec = record(m);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(std::strlen(rec->name), 191u);
  EXPECT_EQ(rec->options, MDA_MEMORY_ONLY | MDA_NO_DELAYED_WRITE);
  EXPECT_EQ(rec->user_data, &user);
  EXPECT_EQ(rec->slot_a, &user);
  EXPECT_EQ(rec->default_param, 2.220446049250313e-16);
  EXPECT_EQ(rec->page_capacity, 1024u);
  EXPECT_EQ(rec->highest_covered, 2047u);
  EXPECT_EQ(rec->next_number, 1u);  // entity 0 reserved
  EXPECT_EQ(rec->pages[0][0].status, MDA_ENTRY_RESERVED);

  mda_ModelDef info;
  mda_InitModelDef(0, &info);
  ASSERT_EQ(mda_GetModelInfo(m, &info), 0u);
  EXPECT_EQ(std::string(info.name), std::string(191, 'n'));
  EXPECT_EQ(info.schema, schema_);
  EXPECT_STREQ(info.db_name, "geometry");
  EXPECT_EQ(info.db_version, 102u);
  EXPECT_EQ(info.user_data, &user);
  EXPECT_EQ(info.entity_count, 0u);
  EXPECT_EQ(info.type_lists, rec->type_lists);
  EXPECT_EQ(info.type_lists->tf_count, static_cast<uint32_t>(schema_->tf_count));
  EXPECT_EQ(mda_GetModelNumber(rec->name), m);
  EXPECT_EQ(mda_GetModelNumber("nnn"), 0);
  int32_t found = -1;
  EXPECT_EQ(mda_FindModelByDDF(0, schema_, &found), 0u);
  EXPECT_EQ(found, m);
  EXPECT_EQ(mda_FindModelByDDF(0, nullptr, &found), 0u);
  EXPECT_EQ(found, 0);
}

TEST_F(ModelTest, MemoryOnlyModelsHaveNoCacheAndNoPagedFile) {
  int32_t m = allocate(MDA_MEMORY_ONLY);
  mda_ModelRec *rec = record(m);
  EXPECT_EQ(rec->cache, nullptr);
  EXPECT_EQ(rec->cache_size, 0);
  EXPECT_EQ(rec->lru, MDA_CACHE_NONE);
  EXPECT_EQ(rec->mru, MDA_CACHE_NONE);
  EXPECT_EQ(rec->file, nullptr);
  db_ptr p = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  EXPECT_EQ(mda::lookup(p)->dloc, 0u);
  EXPECT_EQ(mda::lookup(p)->tf, TF_NONE);
}

TEST_F(ModelTest, AllocationRefusesBadDefinitionsAndLeavesNothingBehind) {
  int32_t m = 77;
  EXPECT_EQ(mda_AllocateModel(0, nullptr, &m), MDA_NULL_MEMPTR);
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  EXPECT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY, &def, &m), MDA_NO_DDF);
  EXPECT_EQ(m, 77);
  EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{MDA_NO_DDF, MDA_NULL_MEMPTR}));
  EXPECT_EQ(mda_current_model, 0);

  // With every slot in use there is no model to give.
  int32_t first = allocate();
  for (int32_t i = 1; i <= MDA_MAX_MODEL; ++i) mda::g_models[i].in_use += 1;
  def.schema = schema_;
  EXPECT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY, &def, &m), MDA_NO_MORE_MODEL);
  for (int32_t i = 1; i <= MDA_MAX_MODEL; ++i) mda::g_models[i].in_use -= 1;
  EXPECT_EQ(mda_current_model, first);
}

TEST_F(ModelTest, EntityOneComesFirstAndTheLastFreedIsReusedFirst) {
  int32_t m = allocate();
  db_ptr p[5];
  for (db_ptr &ptr : p) ASSERT_EQ(mda_ReserveDbPtr(0, m, &ptr), 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(p[i], MDA_MAKE_PTR(m, i + 1));
  mda_ModelRec *rec = record(m);
  mda::release_number(rec, 2);
  mda::release_number(rec, 4);
  EXPECT_EQ(mda_IsDeleted(p[1]), 1);
  EXPECT_EQ(rec->free_head, 4u);
  EXPECT_EQ(mda::lookup(p[3])->dloc, 2u);  // the free list runs through dloc
  db_ptr q = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &q), 0u);
  EXPECT_EQ(q, MDA_MAKE_PTR(m, 4));
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &q), 0u);
  EXPECT_EQ(q, MDA_MAKE_PTR(m, 2));
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &q), 0u);
  EXPECT_EQ(q, MDA_MAKE_PTR(m, 6));
  EXPECT_EQ(mda_IsDeleted(MDA_MAKE_PTR(m, 2)), 0);
}

TEST_F(ModelTest, Entity2048LiesOnTheSecondPage) {
  int32_t m = allocate();
  mda_ModelRec *rec = record(m);
  db_ptr p = 0;
  for (int i = 1; i <= 2047; ++i) ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  EXPECT_EQ(p, MDA_MAKE_PTR(m, 2047));
  EXPECT_EQ(rec->pages[1], nullptr);
  EXPECT_EQ(rec->highest_covered, 2047u);
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  EXPECT_EQ(p, MDA_MAKE_PTR(m, 2048));
  EXPECT_NE(rec->pages[1], nullptr);
  EXPECT_EQ(rec->pages[2], nullptr);
  EXPECT_EQ(rec->highest_covered, 4095u);
  EXPECT_EQ(mda::lookup(p), &rec->pages[1][0]);
}

TEST_F(ModelTest, ThePageArrayDoublesWhenTheNumberingOutgrowsIt) {
  int32_t m = allocate();
  mda_ModelRec *rec = record(m);
  const uint64_t last = 1024u * 2048u;  // the first number beyond 1024 pages
  db_ptr p = 0;
  for (uint64_t i = 1; i <= last; ++i) ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
  EXPECT_EQ(mda::number_of(p), last);
  EXPECT_EQ(rec->page_capacity, 2048u);
  EXPECT_NE(rec->pages[1024], nullptr);
  EXPECT_EQ(mda::lookup(p), &rec->pages[1024][0]);
}

int g_current_calls = 0;
int32_t g_current_model_seen = 0;
uint64_t g_current_argument = 0;
void current_hook(int32_t model, uint64_t argument) {
  ++g_current_calls;
  g_current_model_seen = model;
  g_current_argument = argument;
}
std::vector<std::string> g_events;
void allocate_hook(uint32_t options, int32_t model) {
  g_events.push_back("allocate " + std::to_string(options) + " " + std::to_string(model) +
                     " current " + std::to_string(mda_current_model));
}
void free_hook(uint32_t options, int32_t model, mda_ModelRec *table) {
  g_events.push_back("free " + std::to_string(options) + " " + std::to_string(model) +
                     (table[model].in_use != 0 ? " in use" : " free"));
}

TEST_F(ModelTest, SwitchingTheCurrentModelMovesTheSchemaGlobalsAndResetsTheTfCache) {
  ddf_Schema *other = read_geometry();
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = other;
  def.current_hook = current_hook;
  g_current_calls = 0;
  int32_t a = allocate();
  int32_t b = 0;
  ASSERT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY, &def, &b), 0u);
  EXPECT_EQ(g_current_calls, 1);  // made current by the allocation
  EXPECT_EQ(mda_current_model, b);
  EXPECT_EQ(mda_current_model_rec, record(b));
  EXPECT_EQ(ddf_current, other);
  EXPECT_EQ(ddf_saved, schema_);

  // A lookup fills the cache; making another model current empties it.
  EXPECT_GE(tesmar::ddf::lookup_tfi(ddf_current, tf("line")), 0);
  EXPECT_EQ(ddf_last_tf, tf("line"));
  ASSERT_EQ(mda_SetCurrentModel(a, 9), 0u);
  EXPECT_EQ(ddf_current, schema_);
  EXPECT_EQ(ddf_saved, other);
  EXPECT_EQ(ddf_last_tf, TF_NONE);
  EXPECT_EQ(mda_current_model_rec, record(a));

  ASSERT_EQ(mda_SetCurrentModel(b, 42), 0u);
  EXPECT_EQ(g_current_calls, 2);
  EXPECT_EQ(g_current_model_seen, b);
  EXPECT_EQ(g_current_argument, 42u);
  ASSERT_EQ(mda_SetCurrentModel(b, 43), 0u);  // already current: nothing
  EXPECT_EQ(g_current_calls, 2);

  ASSERT_EQ(mda_SetCurrentModel(0, 0), 0u);
  EXPECT_EQ(mda_current_model, 0);
  EXPECT_EQ(mda_current_model_rec, nullptr);
  EXPECT_EQ(ddf_current, other);  // the schema globals stay

  EXPECT_EQ(mda_SetCurrentModel(99, 0), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_SetCurrentModel(-1, 0), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_current_model, 0);

  ASSERT_EQ(mda_SetCurrentModel(b, 0), 0u);
  ASSERT_EQ(mda_FreeModel(0, b), 0u);
  EXPECT_EQ(mda_current_model, 0);
  EXPECT_EQ(mda_current_model_rec, nullptr);
  ddf_FreeSchema(0, other);
}

TEST_F(ModelTest, KeepCurrentLeavesThePreviousModelCurrent) {
  int32_t a = allocate();
  EXPECT_EQ(mda_current_model, a);
  int32_t b = allocate(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT);
  EXPECT_EQ(mda_current_model, a);
  int32_t c = allocate(MDA_MEMORY_ONLY);
  EXPECT_EQ(mda_current_model, c);
  EXPECT_NE(b, c);
}

TEST_F(ModelTest, HooksRunInOrderAndReleaseClearsTheRecord) {
  g_events.clear();
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = schema_;
  def.allocate_hook = allocate_hook;
  def.free_hook = free_hook;
  int32_t m = 0;
  ASSERT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY, &def, &m), 0u);
  ASSERT_EQ(mda_FreeModel(5, m), 0u);
  EXPECT_EQ(g_events, (std::vector<std::string>{"allocate 2 1 current 1", "free 5 1 in use"}));
  EXPECT_EQ(mda::g_models[m].free_hook, nullptr);
  EXPECT_EQ(mda::g_models[m].allocate_hook, nullptr);
  EXPECT_EQ(mda_FreeModel(0, m), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_ClearModel(0, m), MDA_INVALID_MODEL);
  mda_ModelDef info;
  EXPECT_EQ(mda_GetModelInfo(m, &info), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_GetModelInfo(0, &info), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_GetModelInfo(70000, &info), MDA_INVALID_MODEL);
}

TEST_F(ModelTest, ParametersHaveADefaultAndKeepOneElementPerName) {
  int32_t m = allocate();
  EXPECT_EQ(mda_GetModelParam(m, "tolerance"), 2.220446049250313e-16);
  mda_ModelParam *p = mda_SetModelParam(m, "tolerance", 0.5);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->name, "tolerance");
  EXPECT_EQ(mda_GetModelParam(m, "tolerance"), 0.5);
  EXPECT_EQ(mda_SetModelParam(m, "tolerance", 0.25), p);  // the same element
  EXPECT_EQ(mda_GetModelParam(m, "tolerance"), 0.25);
  EXPECT_EQ(mda_GetModelParam(m, "Tolerance"), 2.220446049250313e-16);

  const std::string long_name(40, 'x');
  mda_ModelParam *q = mda_SetModelParam(m, long_name.c_str(), 3.0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::string(q->name), std::string(31, 'x'));
  EXPECT_EQ(mda_GetModelParam(m, std::string(31, 'x').c_str()), 3.0);
  EXPECT_EQ(mda_GetModelParam(m, std::string(35, 'x').c_str()), 3.0);

  // Parameters belong to their model and survive clearing.
  int32_t other = allocate();
  EXPECT_EQ(mda_GetModelParam(other, "tolerance"), 2.220446049250313e-16);
  ASSERT_EQ(mda_ClearModel(0, m), 0u);
  EXPECT_EQ(mda_GetModelParam(m, "tolerance"), 0.25);

  EXPECT_EQ(mda_GetModelParam(99, "tolerance"), 0.0);
  EXPECT_EQ(mda_SetModelParam(99, "tolerance", 1.0), nullptr);
  EXPECT_EQ(mda_SetModelParam(m, nullptr, 1.0), nullptr);
  EXPECT_EQ(pending_codes(),
            (std::vector<mpm_Status>{MDA_NULL_MEMPTR, MDA_INVALID_MODEL, MDA_INVALID_MODEL}));
}

// Memory a model owns is released by mda_FreeModel and mda_ClearModel (the sanitizer build checks
// that nothing leaks): entity memory, and the parked images of a memory-only model.
TEST_F(ModelTest, ReleaseAndClearFreeEntityMemoryAndParkedImages) {
  for (int round = 0; round < 2; ++round) {
    int32_t m = allocate(MDA_MEMORY_ONLY, true);
    db_ptr in_memory = make_entity(m, tf("line"), true);
    db_ptr parked = make_entity(m, tf("point"), true);
    db_ptr both = make_entity(m, tf("point"), true);
    mda_EntityEntry *e = mda::lookup(parked);
    e->dloc = reinterpret_cast<uint64_t>(e->mloc);  // what a write does in a memory-only model
    e->mloc = nullptr;
    void *copy = nullptr;
    ASSERT_EQ(mda_DuplicateMemory(0, m, mda::lookup(both)->mloc, &copy), 0u);
    mda::lookup(both)->dloc = reinterpret_cast<uint64_t>(copy);
    void *string = nullptr;
    ASSERT_EQ(mda_Malloc(0, mda::lookup(in_memory)->mloc, 12, &string), 0u);
    EXPECT_EQ(mda_AddPtr(in_memory, parked, nullptr), 0u);
    EXPECT_EQ(mda_AddPtr(in_memory, parked, nullptr), 0u);  // a parent list
    EXPECT_EQ(mda_IsInMemory(0, in_memory), 1);
    EXPECT_EQ(mda_IsInMemory(0, parked), 0);
    if (round == 0) {
      ASSERT_EQ(mda_ClearModel(0, m), 0u);
      mda_ModelRec *rec = record(m);
      EXPECT_EQ(rec->next_number, 1u);
      EXPECT_EQ(rec->live_count, 0u);
      EXPECT_NE(rec->back_ptr_table, nullptr);
      EXPECT_EQ(mda_IsValidPtr(in_memory), 0);
      int32_t n = 9;
      EXPECT_EQ(mda_GetNumParents(0, parked, &n), MDA_INVALID_PTR);
      db_ptr p = 0;
      ASSERT_EQ(mda_ReserveDbPtr(0, m, &p), 0u);
      EXPECT_EQ(p, MDA_MAKE_PTR(m, 1));
      ASSERT_EQ(mda_GetNumParents(0, p, &n), 0u);
      EXPECT_EQ(n, 0);
    }
    ASSERT_EQ(mda_FreeModel(0, m), 0u);
  }
}

TEST_F(ModelTest, TerminationFreesEveryModel) {
  int32_t a = allocate(MDA_MEMORY_ONLY, true);
  make_entity(a, tf("arc"), true);
  allocate();
  tmx_Terminate(0);
  tmx_Initialize(0);
  EXPECT_EQ(mda::model_in_use(a), nullptr);
  EXPECT_EQ(mda_current_model, 0);
  EXPECT_EQ(allocate(), 1);
}

TEST_F(ModelTest, TheMessageTableHas48Rows) {
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(9);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->count, 48);
  EXPECT_STREQ(desc->name, "MDA");
  EXPECT_STREQ(mpm_GetMessageName(MDA_INVALID_MODEL), "MDA_INVALID_MODEL");
  EXPECT_STREQ(mpm_GetMessageName(MDA_NOLONGER_SUPPORTED), "MDA_NOLONGER_SUPPORTED");
  EXPECT_STREQ(mpm_GetMessageName(MDA_BAD_MBLOCK), "MDA_BAD_MBLOCK");
  EXPECT_EQ(desc->names[3].kind, 2u);  // MALLOC_ERR and REALLOC_ERR raise the memory key
  EXPECT_EQ(desc->names[4].kind, 2u);
  for (int i = 0; i < 48; ++i)
    if (i != 3 && i != 4) {
      EXPECT_EQ(desc->names[i].kind, 1u) << i;
    }
  EXPECT_STREQ(desc->texts[desc->names[16].text_index],
               " Can not allocate an array which has 0 elements in one or more dimensions.\n");
}

}  // namespace
}  // namespace tesmar::test
