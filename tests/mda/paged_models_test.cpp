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

// Every row of the module's message table: name, kind and text.
TEST(MdaMessageTable, EveryRowHasItsNameKindAndText) {
  struct Row {
    mpm_Status code;
    const char *name;
    const char *text;
  };
  static const Row kRows[] = {
      {MDA_INVALID_MODEL, "INVALID_MODEL", " Invalid model number specified.\n"},
      {MDA_INVALID_PTR, "INVALID_PTR", " Invalid database pointer.\n"},
      {MDA_NULL_MEMPTR, "NULL_MEMPTR", " Unexpected NULL memory pointer.\n"},
      {MDA_MALLOC_ERR, "MALLOC_ERR", " Error allocating memory.\n"},
      {MDA_REALLOC_ERR, "REALLOC_ERR", " Error reallocating memory.\n"},
      {MDA_INVALID_ARG, "INVALID_ARG", " Invalid argument.\n"},
      {MDA_INVALID_OPTIONS, "INVALID_OPTIONS", " Invalid combination of options.\n"},
      {MDA_CACHE_FULL, "CACHE_FULL", " Entity cache is full.\n"},
      {MDA_NO_MORE_MODEL, "NO_MORE_MODEL", " No more models available.\n"},
      {MDA_NO_DDF, "NO_DDF", " No DDF was specified.\n"},
      {MDA_NOT_RWLOCKED, "NOT_RWLOCKED", " Entity must be read/write locked.\n"},
      {MDA_TOO_MANY_LOCKS, "TOO_MANY_LOCKS",
       " Entity locked too many times without being unlocked.\n"},
      {MDA_PAR_LIST_ERR, "PAR_LIST_ERR", " Error processing entity parent list.\n"},
      {MDA_NO_BACKPTRS, "NO_BACKPTRS", " No back pointer information exists in model.\n"},
      {MDA_PAR_NOT_FOUND, "PAR_NOT_FOUND", " Parent not found in parent list of entity.\n"},
      {MDA_HAS_PARENTS, "HAS_PARENTS", " Entity is referenced from another entity.\n"},
      {MDA_ZERO_DIM, "ZERO_DIM",
       " Can not allocate an array which has 0 elements in one or more dimensions.\n"},
      {MDA_ARRAY_MISMATCH, "ARRAY_MISMATCH",
       " Number of dimensions or element size specified is different than array was originally "
       "declared with.\n"},
      {MDA_CHILD_NOT_FOUND, "CHILD_NOT_FOUND",
       " Reference to child entity not found in parent entity.\n"},
      {MDA_DBG_BADMEMREF, "DBG_BADMEMREF", "+Invalid memory reference found in entity %<PTR2>.\n"},
      {MDA_DBG_BIGDBLOCK, "DBG_BIGDBLOCK",
       "+Questionably large disk block (%ld bytes) found in entity %<PTR2>.\n"},
      {MDA_DBG_BADBLOCKNUM, "DBG_BADBLOCKNUM",
       "+Bad block number (%d) in DBlock chain for entity %<PTR2>.\n"},
      {MDA_DBG_BADPTRNUM, "DBG_BADPTRNUM",
       "+Bad pointer block number (%d) in DBlock chain for entity %<PTR2>.\n"},
      {MDA_CALLBACK_NOT_FOUND, "CALLBACK_NOT_FOUND",
       " Callback function not found in callback list.\n"},
      {MDA_TREE_ERR, "TREE_ERR", " Error using OTM tree.\n"},
      {MDA_OPEN_ERR, "OPEN_ERR", " Error opening file %s.\n"},
      {MDA_INCORRECT_SIGNATURE, "INCORRECT_SIGNATURE",
       " Incorrect signature found while reading binary file %s.  Expected \"%6.6s\" but found "
       "\"%6.6s\".  Parsing aborted.\n"},
      {MDA_INCORRECT_DBNAME, "INCORRECT_DBNAME",
       " Incorrect database name found in saved model file %s.  Expected \"%s\" but found "
       "\"%s\".  Parsing aborted.\n"},
      {MDA_NEWER_DBVERSION, "NEWER_DBVERSION",
       " Newer database version number found in saved model file %s.  Expected %d but found "
       "%d.  Parsing aborted\n"},
      {MDA_OLDER_DBVERSION, "OLDER_DBVERSION",
       " Older database version number found in saved model file %s.  Expected %d but found "
       "%d.\n"},
      {MDA_NEWER_DBRELEASE, "NEWER_DBRELEASE",
       " Newer database release number found in saved model file %s.  Expected %d but found "
       "%d.\n"},
      {MDA_OLDER_DBRELEASE, "OLDER_DBRELEASE",
       " Older database release number found in saved model file %s.  Expected %d but found "
       "%d.\n"},
      {MDA_UNKNOWN_NAME, "UNKNOWN_NAME",
       " Unknown entity name \"%s\" found in saved model file %s.  Parsing aborted.\n"},
      {MDA_FILE_READ_ERR, "FILE_READ_ERR",
       " An error occurred while reading from the saved model file %s.  Parsing aborted.\n"},
      {MDA_FILE_WRITE_ERR, "FILE_WRITE_ERR",
       " An error occurred while writing to the saved model file %s.  Formatting aborted.\n"},
      {MDA_FILE_EXISTS, "FILE_EXISTS", " File already exists.\n"},
      {MDA_INTERNAL_ERR, "INTERNAL_ERR", " An internal error occurred in function %s.\n"},
      {MDA_MODEL_NOT_EMPTY, "MODEL_NOT_EMPTY",
       " Model %d specified as target of restore is not empty.\n"},
      {MDA_CROSS_MODEL_PTR, "CROSS_MODEL_PTR",
       "+Cross model pointers are not currently supported.  Entity %<PTR> (%<PTR2>) referenced "
       "entity %<PTR> (%<PTR2>).  Pointer will be changed to MDA_NULL_PTR.\n"},
      {MDA_NOT_IND_MBLOCK, "NOT_IND_MBLOCK", " Non-independent MBlock passed to mda_AddMemory.\n"},
      {MDA_BAD_MBLOCK, "BAD_MBLOCK", " Bad MBlock found at address 0x%p.\n"},
      {MDA_BAD_BACKPTRS, "BAD_BACKPTRS", " Bad backpointers found.\n"},
      {MDA_NO_MORE_PTR, "NO_MORE_PTR", " No more db_ptr available.\n"},
      {MDA_DUPLICATE_ENTLIST_ENTRY, "DUPLICATE_ENTLIST_ENTRY",
       "+The entity %<PTR> (%<PTR2>) is already defined in the current entity list. The new "
       "entry was not added to the current entity list.\n"},
      {MDA_PTR_ALREADY_CREATED, "PTR_ALREADY_CREATED",
       "+The pointer %<PTR> has already been created in the current model.\n"},
      {MDA_MODELS_DIFFER, "MODELS_DIFFER", " Unable to replace the db_ptr across the model.\n"},
      {MDA_ENTITY_NOT_DELETED, "ENTITY_NOT_DELETED",
       " Target entity of repalce db_ptr has not been deleted.\n"},
      {MDA_NOLONGER_SUPPORTED, "NOLONGER_SUPPORTED",
       " The MDA_INVALIDATE option is no longer supporeted as a default.\nIf this option must "
       "be used, use MDA_NO_DELAYED_WRITE option in mda_AllocateModel() for backward "
       "compatibility.\n"},
  };
  static_assert(std::size(kRows) == 48);
  tmx_Initialize(0);
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(9);
  ASSERT_NE(desc, nullptr);
  ASSERT_EQ(desc->count, 48);
  for (int i = 0; i < 48; ++i) {
    SCOPED_TRACE(kRows[i].name);
    EXPECT_EQ(kRows[i].code, 0x90000u + static_cast<uint32_t>(i + 1));
    EXPECT_EQ(mpm_GetMessageName(kRows[i].code), "MDA_" + std::string(kRows[i].name));
    EXPECT_STREQ(desc->texts[desc->names[i].text_index], kRows[i].text);
    EXPECT_EQ(desc->names[i].kind, (i == 3 || i == 4) ? 2u : 1u);
  }
  tmx_Terminate(0);
}

}  // namespace
}  // namespace tesmar::test
