#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ddf/ddf_internal.h"
#include "mda_test.h"

namespace tesmar::test {

ddf_Schema *read_schema(std::string_view text) {
  ddf_Schema *schema = nullptr;
  EXPECT_EQ(read_bytes(file_bytes(compile_ok(text)), &schema), 0u);
  return schema;
}

ddf_Schema *read_geometry() {
  std::ifstream file(source_dir() + "/samples/geometry.ddl");
  std::ostringstream text;
  text << file.rdbuf();
  EXPECT_FALSE(text.str().empty()) << "samples/geometry.ddl not found";
  return read_schema(text.str());
}

void MdaTest::SetUp() {
  LibraryTest::SetUp();
  schema_ = read_geometry();
  ASSERT_NE(schema_, nullptr);
}

void MdaTest::TearDown() {
  LibraryTest::TearDown();  // frees every model still in use
  ddf_FreeSchema(0, schema_);
}

int32_t MdaTest::allocate(uint32_t options, bool back_ptrs, const char *name) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "%s", name);
  def.schema = schema_;
  def.back_ptrs = back_ptrs ? 1 : 0;
  int32_t model = 0;
  EXPECT_EQ(mda_AllocateModel(options, &def, &model), 0u);
  return model;
}

uint32_t MdaTest::tf(const char *name) const {
  for (int32_t i = 0; i < schema_->tf_count; ++i)
    if (std::string(schema_->ent_names[i]) == name) return schema_->typeforms[i];
  ADD_FAILURE() << "no entity " << name;
  return TF_NONE;
}

db_ptr make_entity(int32_t model, uint32_t tf, bool with_memory) {
  db_ptr ptr = 0;
  EXPECT_EQ(mda_ReserveDbPtr(0, model, &ptr), 0u);
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = mda::lookup(ptr, &rec);
  EXPECT_NE(e, nullptr);
  if (e == nullptr) return 0;
  e->tf = tf;
  e->status = 0;
  ++rec->live_count;
  if (with_memory) {
    const int32_t tfi = ddf_FindTFI(rec->schema->typeforms, rec->schema->tf_count, tf);
    void *memory = nullptr;
    EXPECT_EQ(mda_Malloc(0, nullptr, rec->schema->ent_sizes[tfi], &memory), 0u);
    auto *h = static_cast<mda_EntityHeader *>(memory);
    h->tf = tf;
    h->tfi = static_cast<uint32_t>(tfi);
    h->ptr = ptr;
    h->orig_ptr = ptr;
    e->mloc = memory;
  }
  return ptr;
}

}  // namespace tesmar::test
