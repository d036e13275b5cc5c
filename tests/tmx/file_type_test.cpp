// File-type detection: the corpus of samples/filetype, the column tests, the token loop's order,
// the result blocks, and every failure with its messages.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/library.h"
#include "tmx/tmx_internal.h"
#include "tmx/token_reader.h"

namespace tesmar::test {
namespace {

std::string corpus(const std::string &name) {
  return source_dir() + "/samples/filetype/" + name;
}

std::string warning(const std::string &name) {
  return "*** Warning (TMX_UNKNOWN_FILETYPE) ***\nFile type could not be determined for the file '" +
         name + "'.\n";
}

// One call's results; owns the result block.
struct Found {
  mpm_Status status = 0;
  int32_t type = -1;
  void *block = nullptr;
  std::vector<std::string> pending;
  Found() = default;
  Found(const Found &) = delete;
  Found &operator=(const Found &) = delete;
  ~Found() {
    if (block != nullptr && type == TMX_FILETYPE_IGES)
      std::free(static_cast<tmx_FileTypeIges *>(block)->line_end);
    std::free(block);
  }
  int32_t value() const { return static_cast<const tmx_FileTypeValue *>(block)->value; }
  const tmx_FileTypeIges &iges() const { return *static_cast<const tmx_FileTypeIges *>(block); }
  const tmx_FileTypeStep &step() const { return *static_cast<const tmx_FileTypeStep *>(block); }
  const tmx_FileTypeModel &model() const { return *static_cast<const tmx_FileTypeModel *>(block); }
  const tmx_FileTypeVdafs &vdafs() const { return *static_cast<const tmx_FileTypeVdafs *>(block); }
};

class FileTypeTest : public LibraryTest {
 protected:
  void detect(const char *name, Found &found) {
    found.status = tmx_GetFileType(0, name, &found.type, &found.block);
    found.pending = pending_texts();
    mpm_DiscardPending(0);
  }
  void detect_bytes(const std::string &bytes, Found &found) {
    write_file(path_, bytes);
    detect(path_.c_str(), found);
  }
  int32_t type_of(const std::string &bytes) {
    Found found;
    detect_bytes(bytes, found);
    EXPECT_EQ(found.status, 0u);
    return found.type;
  }
  void TearDown() override {
    tmx::file_type_read = platform_read_;
    tmx::file_type_malloc = std::malloc;
    LibraryTest::TearDown();
  }

  TempDir dir_;
  std::string path_ = dir_.file("input");
  decltype(tmx::file_type_read) platform_read_ = tmx::file_type_read;
};

// An 80-column record: text, section letter, sequence number.
std::string record(const std::string &text, char section, int number) {
  char tail[16];
  std::snprintf(tail, sizeof tail, "%c%07d", section, number);
  std::string r = text;
  r.resize(72, ' ');
  return r + tail;
}

// ---- The corpus ----

TEST_F(FileTypeTest, CorpusFilesWithoutFactsGiveTheirTypes) {
  struct Case {
    const char *file;
    int32_t type;
  } cases[] = {
      {"iges_compressed.igs", TMX_FILETYPE_IGES_COMPRESSED},
      {"iges_compressed_lower.igs", TMX_FILETYPE_IGES_COMPRESSED},
      {"iges_binary.igb", TMX_FILETYPE_IGES_BINARY},
      {"acis_binary.sab", TMX_FILETYPE_ACIS_BINARY},
      {"ap242.xml", TMX_FILETYPE_AP242_XML},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Found found;
    detect(corpus(c.file).c_str(), found);
    EXPECT_EQ(found.status, 0u);
    EXPECT_EQ(found.type, c.type);
    EXPECT_EQ(found.block, nullptr);
    EXPECT_TRUE(found.pending.empty());
  }
}

TEST_F(FileTypeTest, SavedModelAndVdafsGiveTheirHeaders) {
  Found model;
  detect(corpus("model.txt").c_str(), model);
  ASSERT_EQ(model.type, TMX_FILETYPE_MODEL);
  EXPECT_EQ(model.model().model_number, 1);
  EXPECT_STREQ(model.model().schema_name, "TESMAR_PARTS");
  EXPECT_EQ(model.model().version, 3);
  EXPECT_EQ(model.model().release, 2);

  Found vdafs;
  detect(corpus("vdafs.vda").c_str(), vdafs);
  ASSERT_EQ(vdafs.type, TMX_FILETYPE_VDAFS);
  EXPECT_EQ(vdafs.vdafs().line_end[0], '\r');
  EXPECT_EQ(vdafs.vdafs().line_end[1], '\n');
  EXPECT_EQ(vdafs.vdafs().line_end_count, 2);
}

// ---- Column tests ----

TEST_F(FileTypeTest, ColumnsBeyondTheEndOfAShortFileMatchNothing) {
  // 73 bytes: column 73 is 'S' but columns 74 to 80 are absent.
  EXPECT_EQ(type_of(std::string(72, 'x') + "S"), TMX_FILETYPE_UNKNOWN);
  // 74 bytes with a line feed in column 74: complete enough.
  EXPECT_EQ(type_of(std::string(72, 'x') + "S\n"), TMX_FILETYPE_IGES);
  // 73 bytes with 'C': compressed (no ACIS across columns 72 to 75).
  EXPECT_EQ(type_of(std::string(72, 'x') + "C"), TMX_FILETYPE_IGES_COMPRESSED);
  EXPECT_EQ(type_of(std::string(72, 'x')), TMX_FILETYPE_UNKNOWN);
  // A record cut before column 80 with nothing in column 79: not IGES.
  EXPECT_EQ(type_of(std::string(72, 'x') + "S000000"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(std::string(72, 'x') + "S00000" + "1"), TMX_FILETYPE_IGES);  // column 79
}

// ---- The token loop ----

TEST_F(FileTypeTest, FourIntegersAreTestedAtTheFifthToken) {
  Found found;
  detect_bytes("400 0 1 0\nbody $-1 -1 $-1 #\n", found);  // "0" reads the token after it
  ASSERT_EQ(found.type, TMX_FILETYPE_ACIS_TEXT);
  EXPECT_EQ(found.value(), 400);
  EXPECT_EQ(type_of("  -7 +2 3 4 x\n"), TMX_FILETYPE_ACIS_TEXT);
  EXPECT_EQ(type_of("1 2 3 4\n"), TMX_FILETYPE_UNKNOWN);           // only four tokens
  EXPECT_EQ(type_of("1 2 3\nx y z\n"), TMX_FILETYPE_UNKNOWN);      // three integers
  EXPECT_EQ(type_of("1 2 3 x 4 5 6\n"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of("1 2-3 4 x y z\n"), TMX_FILETYPE_UNKNOWN);     // not separated by white space
  EXPECT_EQ(type_of("99999999999 2 3 4 x y\n"), TMX_FILETYPE_UNKNOWN);  // not a 32-bit integer
  // The integers must lie in the first 160 bytes, before a NUL byte.
  EXPECT_EQ(type_of(std::string(158, ' ') + "1 2 3 4 x y"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(std::string("1 2\0 3 4 x y z", 14)), TMX_FILETYPE_UNKNOWN);
  // Whatever the first 160 bytes end with, the test reads no further.
  Found cut;
  detect_bytes(std::string(150, ' ') + "1 2 3 4567890 x y z w", cut);
  ASSERT_EQ(cut.type, TMX_FILETYPE_ACIS_TEXT);
  EXPECT_EQ(cut.value(), 1);
}

TEST_F(FileTypeTest, StepSchemaNamesEndAtTheEntry) {
  Found found;
  detect_bytes("ISO-10303-21;\nHEADER;\nFILE_NAME('a;b');\n"
               "FILE_SCHEMA(('AP242_MANAGED_MODEL_BASED_3D_ENGINEERING_MIM_LF { 1 0 10303 442 1 1 4 }'));\n"
               "ENDSEC;\n",
               found);
  ASSERT_EQ(found.type, TMX_FILETYPE_STEP);
  ASSERT_EQ(found.step().schema_count, 1);
  EXPECT_STREQ(found.step().schema_names[0],
               "AP242_MANAGED_MODEL_BASED_3D_ENGINEERING_MIM_LF { 1 0 10303 442 1 1 4 }");
  Found none;
  detect_bytes("ISO-10303-21;\nHEADER;\nENDSEC;\nFILE_SCHEMA(('A'));\n", none);
  ASSERT_EQ(none.type, TMX_FILETYPE_STEP);
  EXPECT_EQ(none.step().schema_count, 0);
  // A name longer than a token is cut into two names.
  Found cut;
  detect_bytes("ISO-10303-21;\nFILE_SCHEMA(('" + std::string(125, 'N') + "'));\nENDSEC;\n", cut);
  ASSERT_EQ(cut.step().schema_count, 2);
  EXPECT_EQ(std::strlen(cut.step().schema_names[0]), 119u);
  EXPECT_STREQ(cut.step().schema_names[1], "NNNNNN");
}

// ---- Failures ----

TEST_F(FileTypeTest, MissingNameIsABadFileName) {
  for (const char *name : {static_cast<const char *>(nullptr), ""}) {
    Found found;
    detect(name, found);
    EXPECT_EQ(found.status, TMX_BAD_FILENAME);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
    EXPECT_EQ(found.block, nullptr);
    EXPECT_EQ(found.pending,
              (std::vector<std::string>{warning(""),
                                        "*** Error (TMX_BAD_FILENAME) ***\nInvalid or null filename specified.\n"}));
  }
}

int g_fail_at = 0;

TEST_F(FileTypeTest, ReadErrorOfTheSystemIsAReadError) {
  // The process's own memory file reads as an error at offset 0 (nothing is mapped there).
  Found found;
  detect("/proc/self/mem", found);
  if (found.status == TMX_OPEN_ERROR) GTEST_SKIP() << "/proc/self/mem cannot be opened here";
  EXPECT_EQ(found.status, TMX_READ_ERROR);
  EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
}

// Fails the `fail_at`th allocation.
int g_allocations = 0;
void *failing_malloc(std::size_t size) {
  return ++g_allocations == g_fail_at ? nullptr : std::malloc(size);
}

TEST_F(FileTypeTest, NoMemoryIsAFatalMemoryError) {
  tmx::file_type_malloc = failing_malloc;
  const std::string expected = "*** Fatal (TMX_EXC_MEMORY) ***\nMemory error";
  // The working buffer, the IGES block and the IGES line-end copy.
  for (int fail_at : {1, 2, 3}) {
    SCOPED_TRACE(fail_at);
    g_allocations = 0;
    g_fail_at = fail_at;
    Found found;
    detect(corpus("iges_crlf.igs").c_str(), found);
    EXPECT_EQ(found.status, TMX_EXC_MEMORY);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
    EXPECT_EQ(found.block, nullptr);
    EXPECT_EQ(found.pending, (std::vector<std::string>{warning(corpus("iges_crlf.igs")), expected}));
  }
  for (const char *file : {"step_one_schema.stp", "model.txt", "vdafs.vda", "dxf_lf.dxf"}) {
    SCOPED_TRACE(file);
    g_allocations = 0;
    g_fail_at = 2;
    Found found;
    detect(corpus(file).c_str(), found);
    EXPECT_EQ(found.status, TMX_EXC_MEMORY);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
  }
}

TEST_F(FileTypeTest, NullOutArgumentsAreAllowed) {
  int32_t type = -1;
  EXPECT_EQ(tmx_GetFileType(0, corpus("iges_crlf.igs").c_str(), &type, nullptr), 0u);
  EXPECT_EQ(type, TMX_FILETYPE_IGES);
  void *block = reinterpret_cast<void *>(1);
  EXPECT_EQ(tmx_GetFileType(0, corpus("model.txt").c_str(), nullptr, &block), 0u);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(static_cast<tmx_FileTypeModel *>(block)->version, 3);
  std::free(block);
  EXPECT_TRUE(pending_texts().empty());
}

// Bytes from memory in pieces of the given size (0: as much as asked).
struct Memory {
  std::string data;
  std::size_t piece;
  std::size_t position = 0;
  static int64_t read(void *context, uint8_t *buffer, std::size_t size) {
    auto *m = static_cast<Memory *>(context);
    std::size_t n = std::min(size, m->data.size() - m->position);
    if (m->piece != 0) n = std::min(n, m->piece);
    std::memcpy(buffer, m->data.data() + m->position, n);
    m->position += n;
    return static_cast<int64_t>(n);
  }
};

tmx::FileTypeFacts detect_in_memory(const std::string &data, std::size_t piece, std::size_t capacity,
                                    bool skip) {
  Memory memory{data, piece};
  std::vector<uint8_t> buffer(capacity);
  return tmx::detect_file_type(tmx::ByteSource{Memory::read, &memory}, buffer.data(), capacity, skip);
}

// Texts built from the words the tests look for: skipping tokens, small reads and small buffers
// never change what is found.
TEST(FileTypeDetection, SkippingAndReadSizesChangeNothing) {
  const std::vector<std::string> words = {
      "ISO-10303-21;", "FILE_SCHEMA", "(('", "'", "'", "));", ";", "ENDSEC", "0", "0", "SECTION",
      "AutoCAD", "Binary", "AC1015", "BEGIN_MODEL", "HEADER", "header", "VDAFS", "xVDAFSx", "AP242",
      "BO", "Model", "XML", "Assembly", "ACIS", "BinaryFile", "/*", "*/", "/", "1", "-7", "700",
      "x", "word", "Iso", "AAA", std::string(118, 'q'), std::string(125, 'V'), std::string("\x80\x00\xff", 3)};
  const std::vector<std::string> gaps = {" ", " ", "\n", "\r\n", "", "\t", ",", "("};
  std::mt19937 rng(99);
  int found[15] = {};
  for (int round = 0; round < 4000; ++round) {
    std::string data;
    if (rng() % 8 == 0) data = record("x", "SGCBD"[rng() % 5], 1 + static_cast<int>(rng() % 3)) + "\r\n";
    const std::size_t n = rng() % 40;
    for (std::size_t i = 0; i < n; ++i) {
      if (rng() % 3 == 0) {  // filler, so that some deciding words come late
        for (int k = static_cast<int>(rng() % 20); k > 0; --k) data += "lorem ";
      }
      data += words[rng() % words.size()];
      data += gaps[rng() % gaps.size()];
    }
    const tmx::FileTypeFacts plain = detect_in_memory(data, 0, 1 << 16, false);
    ASSERT_EQ(detect_in_memory(data, 0, 1 << 16, true), plain) << data;
    ASSERT_EQ(detect_in_memory(data, 1 + rng() % 13, tmx::TokenReader::kMinimumCapacity, true), plain)
        << data;
    ++found[plain.type];
  }
  // The texts reach most types.
  int reached = 0;
  for (int count : found) reached += count > 0;
  EXPECT_GE(reached, 9);
}

}  // namespace
}  // namespace tesmar::test
