// Disk-backed models: the temporary paged file behind each model, and what allocation leaves
// behind when that file cannot be made.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "mda_test.h"
#include "tesmar/dof.h"

namespace tesmar::test {
namespace {

class PagedModelTest : public MdaTest {
 protected:
  void SetUp() override {
    MdaTest::SetUp();
    ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
  }
  int32_t allocate_disk(uint8_t statistics = 0, uint32_t buffers = 16, uint32_t page = 4096,
                        uint32_t options = 0) {
    mda_ModelDef def;
    mda_InitModelDef(0, &def);
    def.schema = schema_;
    def.statistics = statistics;
    def.buffer_count = buffers;
    def.page_size = page;
    int32_t m = 0;
    EXPECT_EQ(mda_AllocateModel(options, &def, &m), 0u);
    return m;
  }
  TempDir dir_;
};

TEST_F(PagedModelTest, AFileThatCannotBeMadeFailsTheAllocationAndLeavesNothing) {
  int32_t first = allocate_disk();
  ASSERT_EQ(first, 1);
  int hook_calls = 0;
  static int *calls;
  calls = &hook_calls;
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = schema_;
  def.allocate_hook = [](uint32_t, int32_t) { ++*calls; };
  def.current_hook = [](int32_t, uint64_t) { ++*calls; };
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.file("missing/deeper").c_str()), 0u);
  int32_t m = 0;
  EXPECT_EQ(mda_AllocateModel(0, &def, &m), DOF_OPEN_ERR);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(hook_calls, 0);
  EXPECT_EQ(mda_current_model, first);
  EXPECT_EQ(mda::g_models[2].in_use, 0u);
  EXPECT_EQ(mda::g_models[2].pages, nullptr);
  EXPECT_EQ(pending_codes().front(), DOF_OPEN_ERR);
  // Memory-only models need no file.
  EXPECT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY, &def, &m), 0u);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(hook_calls, 2);
  // Clearing a disk-backed model that cannot get a new file keeps the model as it was.
  mda_ModelRec *rec = mda::model_in_use(first);
  db_ptr p = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, first, &p), 0u);
  DofFile *file = rec->file;
  EXPECT_EQ(mda_ClearModel(0, first), DOF_OPEN_ERR);
  EXPECT_EQ(rec->file, file);
  EXPECT_EQ(rec->next_number, 2u);
  EXPECT_EQ(mda::lookup(p)->status, MDA_ENTRY_RESERVED);
}

}  // namespace
}  // namespace tesmar::test
