// The debugging aids: dumps on exact text (addresses normalised), the checks against planted
// corruptions (each reported with its message, a clean model with none), the field editor fed
// through standard input, and the save shortcuts.
#include <cstdio>
#include <filesystem>
#include <regex>

#include "mda_test.h"
#include "tesmar/dof.h"

namespace tesmar::test {
namespace {

class DebugTest : public MdaTest {
 protected:
  void SetUp() override {
    MdaTest::SetUp();
    stream_ = open_memstream(&buffer_, &size_);
    mda_DbgStream = stream_;
  }
  void TearDown() override {
    mda_DbgStream = stdout;
    std::fclose(stream_);
    std::free(buffer_);
    MdaTest::TearDown();
  }
  // What the aids printed since the last call, addresses written 0xADDR.
  std::string printed() {
    std::fflush(stream_);
    std::string text(buffer_, size_);
    std::rewind(stream_);
    std::fflush(stream_);
    size_ = 0;
    return std::regex_replace(text, std::regex("0x[0-9a-f]+"), "0xADDR");
  }
  db_ptr point(int32_t m, double x, double y, double z) {
    void *memory = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, m, tf("point"), &memory, &p), 0u);
    double *v = reinterpret_cast<double *>(static_cast<char *>(memory) + 24);
    v[0] = x, v[1] = y, v[2] = z;
    EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
    return p;
  }
  // A line whose start and end point at two points, through mda_AddPtr.
  db_ptr line(int32_t m, db_ptr a, db_ptr b) {
    void *memory = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, m, tf("line"), &memory, &p), 0u);
    auto *slots = reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + 24);
    EXPECT_EQ(mda_AddPtr(p, a, &slots[0]), 0u);
    EXPECT_EQ(mda_AddPtr(p, b, &slots[1]), 0u);
    EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
    return p;
  }
  void feed(const std::string &answers) {
    const std::string path = dir_.file("answers");
    write_file(path, answers);
    ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
  }

  TempDir dir_;
  FILE *stream_ = nullptr;
  char *buffer_ = nullptr;
  size_t size_ = 0;
};

TEST_F(DebugTest, EntryAndEntityDumps) {
  const int32_t m = allocate(0, true);  // disk-backed, with back pointers
  const db_ptr a = point(m, 1, 2, 3), b = point(m, 4, 5, 6);
  const db_ptr l = line(m, a, b);
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, a, &memory), 0u);
  ASSERT_EQ(mda_MarkModified(0, a), 0u);
  ASSERT_EQ(mda_DbgDumpPtr(0, a), 0u);
  EXPECT_EQ(printed(),
            "#1:1\n   TF:          116:0\n   Mloc:        0xADDR\n   Dloc:        Not written\n"
            "   Status:      RWLOCK  MODIFIED  NEEDFLUSH  \n   Cache Entry: 0\n   Lock Count:  1\n\n");
  EXPECT_EQ(mda_DbgCountLocked(0, m), 1);
  ASSERT_EQ(mda_DbgDumpLocked(0, m), 0u);
  EXPECT_NE(printed().find("#1:1\n"), std::string::npos);
  ASSERT_EQ(mda_UnlockEntity(0, a), 0u);
  ASSERT_EQ(mda_DbgDumpEntity(0, a), 0u);
  EXPECT_EQ(printed(),
            "db_ptr #1:1 (0xADDR)\norig db_ptr #1:1 (0xADDR)\nTF 116:0 (point, \"A point in model space\")\n"
            "x = 1.00000000000000\ny = 2.00000000000000\nz = 3.00000000000000\n\nEntity is referenced 1 time(s) by:\n   #1:3 (0xADDR)\n");
  ASSERT_EQ(mda_DeleteEntity(MDA_ALLOW_PARENTS, l), 0u);
  ASSERT_EQ(mda_DbgDumpEntity(0, l), 0u);
  EXPECT_EQ(printed(), "Entity #1:3 (0xADDR) has been deleted.\n");
  ASSERT_EQ(mda_DbgDumpPtr(0, l), 0u);
  EXPECT_NE(printed().find("   Status:      DELETED\n"), std::string::npos);
  // Fields as a walk visits them, the cache, the parameters, the block chain of a sound entity.
  ASSERT_EQ(mda_DbgShowFields(0, a), 0u);
  EXPECT_EQ(std::regex_replace(printed(), std::regex("0xADDR|\\(nil\\)"), "P"),
            "1: cnt=1, double x, fld=P, data=P, taddr=P\n2: cnt=1, double y, fld=P, data=P, taddr=P\n"
            "3: cnt=1, double z, fld=P, data=P, taddr=P\n4: cnt=0, endent **No name**, fld=P, data=P, taddr=P\n");
  ASSERT_EQ(mda_DbgDumpCache(0, m), 0u);
  EXPECT_NE(printed().find("\n\nCache size = 32 entries, 2 in use\n"), std::string::npos);
  ASSERT_NE(mda_SetModelParam(m, "tolerance", 0.5), nullptr);
  ASSERT_EQ(mda_DbgDumpParams(0, m), 0u);
  EXPECT_EQ(printed(), "tolerance = 0.5\n\n\n");
  ASSERT_EQ(mda_LockEntity(0, b, &memory), 0u);
  EXPECT_EQ(mda_DbgDumpMBlocks(0, memory), 0u);
  EXPECT_EQ(printed(), "Block 0 @ 0xADDR,  type 1,  size 88:\n   next block at 0xADDR\n   referenced at 0xADDR\n\n"
                       "Total size of MBlocks: 88\n\n");
  ASSERT_EQ(mda_UnlockEntity(0, b), 0u);
}

TEST_F(DebugTest, BackPointerCheckFindsPlantedFaultsAndPutsTheTablesBack) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  const db_ptr a = point(m, 1, 2, 3), b = point(m, 4, 5, 6);
  const db_ptr l = line(m, a, b);
  EXPECT_EQ(mda_DbgCheckModelBackPtrs(0, m), 0u);
  EXPECT_EQ(printed(), "");
  // A pointer set in a field without mda_AddPtr, and one cleared without mda_DeletePtr.
  void *memory = nullptr;
  ASSERT_EQ(mda_LockEntity(0, l, &memory), 0u);
  auto *slots = reinterpret_cast<db_ptr *>(static_cast<char *>(memory) + 24);
  slots[0] = 0;
  slots[2] = b;  // the layer field holds a point: no matter, it is a pointer
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, l), 0u);
  EXPECT_EQ(mda_DbgCheckModelBackPtrs(0, m), MDA_BAD_BACKPTRS);
  EXPECT_EQ(printed(),
            "Inconsistencies in references to #1:1:\n   mda_Delete/ModifyPtr was not called from parent #1:3.\n"
            "Inconsistencies in references to #1:2:\n   mda_Add/ModifyPtr was not called from parent #1:3.\n");
  // The recorded table is back: the check changed nothing, so it finds the same again.
  int32_t parents = 0;
  ASSERT_EQ(mda_GetNumParents(0, a, &parents), 0u);
  EXPECT_EQ(parents, 1);
  EXPECT_EQ(mda_DbgCheckBackPtrs(1), MDA_BAD_BACKPTRS);
  EXPECT_EQ(printed().substr(0, 61), "Checking model 1 \"model\" (3 ents, 0 deleted, 0 locked)\nIncons");
  const int32_t bare = allocate(MDA_MEMORY_ONLY, false, "bare");
  EXPECT_EQ(mda_DbgCheckModelBackPtrs(0, bare), 0u);
  EXPECT_EQ(printed(), "No backpointer information in model.\n");
  // Entities nothing points to.
  testing::internal::CaptureStdout();
  EXPECT_EQ(mda_DbgCheckModelIndEntities(0, m, 2, "point"), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Checking independent entities [type : point] in model #1 ...\n... totally 0 independent entities.\n");
}

TEST_F(DebugTest, EntityCheckReportsCorruptedRecordsAndBlocks) {
  const int32_t m = allocate(0, true);
  DofFile *file = mda::model_in_use(m)->file;
  const db_ptr a = point(m, 1, 2, 3);
  void *memory = nullptr;
  db_ptr layer = 0;
  ASSERT_EQ(mda_AllocateEntity(0, m, tf("layer"), &memory, &layer), 0u);
  ASSERT_EQ(mda_SetString(0, memory, std::string(120000, 'n').c_str(), static_cast<char *>(memory) + 24), 0u);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, layer), 0u);
  ASSERT_EQ(mda_WriteEntity(0, layer), 0u);
  ASSERT_EQ(mda_WriteEntity(0, a), 0u);
  // A sound model: no finding. The large block: a warning, and the check goes on.
  EXPECT_EQ(mda_DbgCheckEntity(a), 0u);
  EXPECT_EQ(printed(), "");
  EXPECT_EQ(mda_DbgCheckModelEntities(0, m), 0u);
  EXPECT_EQ(printed(), "*** Warning (MDA_DBG_BIGDBLOCK) ***\nQuestionably large disk block (120044 bytes) found in entity 0xADDR.\n\n");
  // The record's slot block named out of range, then its marker broken: reported, not followed.
  const uint64_t dloc = mda::lookup(layer)->dloc;
  const uint32_t bad_index = 7;
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 4, static_cast<int64_t>(dloc + 16), const_cast<uint32_t *>(&bad_index)), 0u);
  EXPECT_EQ(mda_DbgCheckEntity(layer), 0u);  // a warning; the entity in memory is checked as well
  EXPECT_NE(printed().find("Bad block number (7) in DBlock chain"), std::string::npos);
  ASSERT_EQ(mda_WriteEntity(0, a), 0u);
  const char broken[4] = {'X', 'X', 'X', 'X'};
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 4, static_cast<int64_t>(dloc + 32), const_cast<char *>(broken)), 0u);
  EXPECT_EQ(mda_DbgCheckEntity(layer), MDA_BAD_MBLOCK);
  EXPECT_NE(printed().find("*** Warning (MDA_BAD_MBLOCK) ***"), std::string::npos);
  // In memory: a broken slot reference.
  const int32_t mem = allocate(MDA_MEMORY_ONLY);
  ASSERT_EQ(mda_AllocateEntity(0, mem, tf("layer"), &memory, &layer), 0u);
  ASSERT_EQ(mda_SetString(0, memory, "name", static_cast<char *>(memory) + 24), 0u);
  MBlock *first = mda::header_of(memory);
  first->reference += 8;  // no longer the name's slot
  EXPECT_EQ(mda_DbgDumpMBlocks(0, memory), MDA_DBG_BADMEMREF);
  EXPECT_NE(printed().find("  <- Warning: Incorrect reference"), std::string::npos);
  ASSERT_EQ(mda_UnlockEntity(0, layer), 0u);
  EXPECT_EQ(mda_DbgCheckEntity(layer), 0u);
  EXPECT_NE(printed().find("*** Warning (MDA_DBG_BADMEMREF) ***"), std::string::npos);
  first->reference -= 8;
  // A memory block whose marker is broken: flagged, and not followed.
  MBlock *name = mda::next_of(first);
  name->marker ^= 1;
  EXPECT_EQ(mda_DbgDumpMBlocks(0, memory), MDA_DBG_BADMEMREF);
  EXPECT_NE(printed().find("Block 1 @ 0xADDR,  type 1,  size 48  <- Warning: Bad MBlock header:"), std::string::npos);
  EXPECT_EQ(mda_DbgCheckEntity(layer), 0u);
  EXPECT_NE(printed().find("*** Warning (MDA_BAD_MBLOCK) ***"), std::string::npos);
  name->marker ^= 1;
  EXPECT_EQ(mda_DbgCheckEntity(layer), 0u);
  EXPECT_EQ(printed(), "");
}

// Every kind of value field, typed in the editor; numbers outside a field's width are refused.
TEST_F(DebugTest, TheEditorStoresEveryKindInItsOwnWidth) {
  ddf_Schema *kinds = read_schema(
      "database \"kinds\" version 1 release 0;\n"
      "entity k 1:0 { short s; long l; char c; float f; fstring(4) code; int i; }\n");
  ASSERT_NE(kinds, nullptr);
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = kinds;
  int32_t m = 0;
  ASSERT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &m), 0u);
  void *memory = nullptr;
  db_ptr p = 0;
  ASSERT_EQ(mda_AllocateEntity(0, m, 1u << 16, &memory, &p), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  feed("-7\n123456\n65\n0.25\nABCDEFG\n99999999999\n");
  ASSERT_EQ(mda_DbgEditEntity(0, p, 0, 0), 0u);
  ASSERT_EQ(mda_LockEntity(0, p, &memory), 0u);
  const char *f = static_cast<const char *>(memory) + 24;
  int16_t s = 0;
  int32_t l = 0, i = 7;
  float x = 0;
  std::memcpy(&s, f, 2), std::memcpy(&l, f + 4, 4), std::memcpy(&x, f + 12, 4), std::memcpy(&i, f + 20, 4);
  EXPECT_EQ(s, -7);
  EXPECT_EQ(l, 123456);
  EXPECT_EQ(f[8], 'A');
  EXPECT_EQ(x, 0.25f);
  EXPECT_EQ(std::string(f + 16, 4), "ABCD");
  EXPECT_EQ(i, 0);  // 99999999999 does not fit an int: refused
  EXPECT_NE(printed().find("Value not taken: 99999999999"), std::string::npos);
  ASSERT_EQ(mda_UnlockEntity(0, p), 0u);
  std::freopen("/dev/null", "r", stdin);
  ASSERT_EQ(mda_FreeModel(0, m), 0u);
  ddf_FreeSchema(0, kinds);
}

TEST_F(DebugTest, TheEditorReadsStandardInput) {
  const int32_t m = allocate(MDA_MEMORY_ONLY, true);
  const db_ptr a = point(m, 1, 2, 3), b = point(m, 4, 5, 6);
  const db_ptr l = line(m, a, b);
  void *memory = nullptr;
  db_ptr layer = 0;
  ASSERT_EQ(mda_AllocateEntity(0, m, tf("layer"), &memory, &layer), 0u);
  ASSERT_EQ(mda_UnlockEntity(0, layer), 0u);
  auto read_point = [&](db_ptr p) {
    void *mem = nullptr;
    EXPECT_EQ(mda_LockEntity(0, p, &mem), 0u);
    const double *v = reinterpret_cast<double *>(static_cast<char *>(mem) + 24);
    const std::vector<double> out(v, v + 3);
    EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
    return out;
  };
  // A new value, an empty line (kept), junk (announced, and no number); then done.
  feed("7.5\n\n  x9\n");
  ASSERT_EQ(mda_DbgEditEntity(0, a, 0, 0), 0u);
  EXPECT_EQ(read_point(a), (std::vector<double>{7.5, 2, 3}));
  std::string out = printed();
  EXPECT_NE(out.find("x = <1.000000000000000>: y = <2.000000000000000>: z = <3.000000000000000>: "
                     "Ingoring unrecognized input x9\n"),
            std::string::npos)
      << out;
  // 'd' at the first prompt: the rest printed, not asked, the entity kept.
  feed("d\n");
  ASSERT_EQ(mda_DbgEditEntity(0, a, 0, 0), 0u);
  EXPECT_NE(printed().find("x = <7.500000000000000>: y = <2.000000000000000>: \nz = <3.000000000000000>: \n"),
            std::string::npos);
  // A cancel, and the end of the input, put back what was changed.
  feed("100\nc\n");
  ASSERT_EQ(mda_DbgEditEntity(0, a, 0, 0), 0u);
  EXPECT_EQ(read_point(a), (std::vector<double>{7.5, 2, 3}));
  feed("100\n");
  ASSERT_EQ(mda_DbgEditEntity(0, a, 0, 0), 0u);
  EXPECT_EQ(read_point(a), (std::vector<double>{7.5, 2, 3}));
  printed();
  // Pointers as 0x... and m:n, 'n' skipping; the back pointers follow.
  char hex[40];
  std::snprintf(hex, sizeof hex, "0x%llx\n", static_cast<unsigned long long>(a));
  feed(std::string(hex) + "1:1\n" + "1:4\n" + "n\n");
  ASSERT_EQ(mda_DbgEditEntity(0, l, 0, 0), 0u);
  ASSERT_EQ(mda_LockEntity(0, l, &memory), 0u);
  const auto *slots = reinterpret_cast<const db_ptr *>(static_cast<char *>(memory) + 24);
  EXPECT_EQ(slots[0], a);
  EXPECT_EQ(slots[1], a);
  EXPECT_EQ(slots[2], layer);
  ASSERT_EQ(mda_UnlockEntity(0, l), 0u);
  EXPECT_EQ(mda_DbgCheckModelBackPtrs(0, m), 0u);
  // Strings: a vstring typed between quotes (one character gives the empty string), an fstring
  // cut to its length is not in this schema; a line of 400 characters is one answer.
  printed();
  feed("\"ground\"\n" + std::string(400, '5') + "\n");
  ASSERT_EQ(mda_DbgEditEntity(0, layer, 0, 0), 0u);
  ASSERT_EQ(mda_LockEntity(0, layer, &memory), 0u);
  EXPECT_STREQ(*reinterpret_cast<char **>(static_cast<char *>(memory) + 24), "ground");
  ASSERT_EQ(mda_UnlockEntity(0, layer), 0u);
  printed();
  feed("\"\nd\n");
  ASSERT_EQ(mda_DbgEditEntity(0, layer, 0, 0), 0u);
  ASSERT_EQ(mda_LockEntity(0, layer, &memory), 0u);
  EXPECT_STREQ(*reinterpret_cast<char **>(static_cast<char *>(memory) + 24), "") << printed();
  ASSERT_EQ(mda_UnlockEntity(0, layer), 0u);
  std::freopen("/dev/null", "r", stdin);
}

TEST_F(DebugTest, SaveShortcuts) {
  const int32_t m = allocate(MDA_MEMORY_ONLY);
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::to_string(point(m, i, 0, 0)) + (i % 2 ? "," : " ");
  testing::internal::CaptureStderr();
  ASSERT_EQ(mda_DbgSavePtrs(0, dir_.file("some").c_str(), text.c_str()), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning:  Only first 32 pointers will be saved\n");
  const std::string saved = read_file(dir_.file("some"));
  EXPECT_NE(saved.find("#32"), std::string::npos);
  EXPECT_EQ(saved.find("#33"), std::string::npos);
  // A number beyond 64 bits is refused, not wrapped.
  testing::internal::CaptureStderr();
  EXPECT_EQ(mda_DbgSavePtrs(0, dir_.file("none").c_str(), "0x1000000000000000001 5"), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error decoding pointer: 0x1000000000000000001 5\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("none")));
  EXPECT_EQ(mda_DbgSaveModel(0, dir_.file("all").c_str(), m), 0u);
  EXPECT_EQ(mda_DbgSaveModel(0, dir_.file("x").c_str(), 999), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_DbgSaveEntity(0, dir_.file("one").c_str(), MDA_MAKE_PTR(m, 3)), 0u);
}

}  // namespace
}  // namespace tesmar::test
