// Models: allocation, numbering, the current model, parameters, release and clearing.
#include <cstring>

#include "ddf/ddf_internal.h"
#include "mda_test.h"

namespace tesmar::test {
namespace {

using ModelTest = MdaTest;

mda_ModelRec *record(int32_t model) { return mda::model_in_use(model); }

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

int g_current_calls = 0;
int32_t g_current_model_seen = 0;
uint64_t g_current_argument = 0;
void current_hook(int32_t model, uint64_t argument) {
  ++g_current_calls;
  g_current_model_seen = model;
  g_current_argument = argument;
}
std::vector<std::string> g_events;

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

}  // namespace
}  // namespace tesmar::test
