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

bool exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

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

TEST_F(PagedModelTest, EachModelHasItsOwnTemporaryFileRemovedWhenTheModelIsFreed) {
  int32_t a = allocate_disk(0, 3, 512);
  int32_t b = allocate_disk();
  mda_ModelRec *ra = mda::model_in_use(a);
  mda_ModelRec *rb = mda::model_in_use(b);
  ASSERT_NE(ra->file, nullptr);
  ASSERT_NE(rb->file, nullptr);
  const std::string name_a = ra->file->name;
  const std::string name_b = rb->file->name;
  EXPECT_NE(name_a, name_b);
  EXPECT_EQ(name_a.rfind(dir_.path() + "/t", 0), 0u) << name_a;
  EXPECT_TRUE(exists(name_a));
  EXPECT_TRUE(exists(name_b));
  EXPECT_EQ(ra->file->flags, DOF_FREE_LIST | DOF_TEMPORARY);
  EXPECT_EQ(ra->file->buffer_count, 3);
  EXPECT_EQ(ra->file->page_size, 512);
  EXPECT_EQ(rb->file->buffer_count, 16);
  EXPECT_EQ(rb->file->page_size, 4096);
  // The cache of a disk-backed model: 32 entries, empty, chained in index order.
  ASSERT_NE(ra->cache, nullptr);
  EXPECT_EQ(ra->cache_size, 32);
  EXPECT_EQ(ra->lru, 0);
  EXPECT_EQ(ra->mru, 31);
  EXPECT_EQ(ra->cache[0].previous, MDA_CACHE_NONE);
  EXPECT_EQ(ra->cache[0].next, 1);
  EXPECT_EQ(ra->cache[31].next, MDA_CACHE_NONE);
  EXPECT_EQ(ra->cache[31].previous, 30);
  // Reserved numbers of a disk-backed model were never written.
  db_ptr p = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, a, &p), 0u);
  EXPECT_EQ(mda::lookup(p)->dloc, MDA_NO_DLOC);

  ASSERT_EQ(mda_FreeModel(0, a), 0u);
  EXPECT_FALSE(exists(name_a));
  EXPECT_TRUE(exists(name_b));
  ASSERT_EQ(mda_FreeModel(0, b), 0u);
  EXPECT_FALSE(exists(name_b));
}

TEST_F(PagedModelTest, ClearingReplacesThePagedFileWithAnEmptyOne) {
  int32_t m = allocate_disk();
  mda_ModelRec *rec = mda::model_in_use(m);
  int64_t address = 0;
  ASSERT_EQ(dof_AllocateBlock(rec->file, 100, &address), 0u);
  const std::string before = rec->file->name;
  rec->cache[5].ptr = MDA_MAKE_PTR(m, 7);  // as if an entity sat in the cache
  ASSERT_EQ(mda_ClearModel(0, m), 0u);
  ASSERT_NE(rec->file, nullptr);
  EXPECT_NE(std::string(rec->file->name), before);
  EXPECT_FALSE(exists(before));
  EXPECT_TRUE(exists(rec->file->name));
  EXPECT_EQ(rec->file->end, 0);
  EXPECT_EQ(rec->cache[5].ptr, 0u);
  EXPECT_EQ(rec->cache_size, 32);
  EXPECT_EQ(rec->next_number, 1u);
}

TEST_F(PagedModelTest, TheStatisticsFlagPrintsTheReportWhenTheFileIsClosed) {
  int32_t m = allocate_disk(1);
  mda_ModelRec *rec = mda::model_in_use(m);
  EXPECT_EQ(rec->file->flags, DOF_FREE_LIST | DOF_TEMPORARY | DOF_STATISTICS);
  const std::string name = rec->file->name;
  testing::internal::CaptureStdout();
  ASSERT_EQ(mda_FreeModel(0, m), 0u);
  const std::string report = testing::internal::GetCapturedStdout();
  EXPECT_NE(report.find("Statistics for file " + name), std::string::npos) << report;
  EXPECT_NE(report.find("Free List Stats:"), std::string::npos);
}

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
