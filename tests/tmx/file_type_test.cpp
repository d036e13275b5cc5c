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

std::string iges(const std::string &eol) {
  std::string s;
  s += record("Start section", 'S', 1) + eol;
  s += record("1H,,1H;,4Hpart;", 'G', 1) + eol;
  s += record("     110       1", 'D', 1) + eol;
  return s;
}

// ---- The corpus ----

TEST_F(FileTypeTest, IgesRecordsGiveTheirLineEnds) {
  struct Case {
    const char *file;
    const char *line_end;
    int32_t count;
  } cases[] = {{"iges_crlf.igs", "\r\n", 2}, {"iges_lf.igs", "\n", 1}, {"iges_no_line_ends.igs", nullptr, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Found found;
    detect(corpus(c.file).c_str(), found);
    EXPECT_EQ(found.status, 0u);
    ASSERT_EQ(found.type, TMX_FILETYPE_IGES);
    ASSERT_NE(found.block, nullptr);
    EXPECT_EQ(found.iges().line_end_count, c.count);
    EXPECT_EQ(found.iges().record_length, 80 + c.count);
    if (c.line_end == nullptr)
      EXPECT_EQ(found.iges().line_end, nullptr);
    else
      EXPECT_STREQ(found.iges().line_end, c.line_end);
    EXPECT_TRUE(found.pending.empty());
  }
}

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

TEST_F(FileTypeTest, DxfDwgAndAcisTextGiveAValueBlock) {
  struct Case {
    const char *file;
    int32_t type;
    int32_t value;
  } cases[] = {
      {"dxf_lf.dxf", TMX_FILETYPE_DXF, 0},         {"dxf_crlf.dxf", TMX_FILETYPE_DXF, 0},
      {"dxf_comment.dxf", TMX_FILETYPE_DXF, 0},    {"dxf_binary.dxf", TMX_FILETYPE_DXF_BINARY, 0},
      {"dwg_ac1015.dwg", TMX_FILETYPE_DWG, 0},     {"dwg_ac1032.dwg", TMX_FILETYPE_DWG, 0},
      {"acis_text.sat", TMX_FILETYPE_ACIS_TEXT, 700},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Found found;
    detect(corpus(c.file).c_str(), found);
    EXPECT_EQ(found.status, 0u);
    ASSERT_EQ(found.type, c.type);
    ASSERT_NE(found.block, nullptr);
    EXPECT_EQ(found.value(), c.value);
  }
}

TEST_F(FileTypeTest, StepHeadersGiveTheirSchemaNames) {
  struct Case {
    const char *file;
    std::vector<std::string> names;
  } cases[] = {
      {"step_one_schema.stp", {"AUTOMOTIVE_DESIGN"}},
      {"step_two_schemas.stp", {"CONFIG_CONTROL_DESIGN", "AUTOMOTIVE_DESIGN"}},
      {"step_six_schemas.stp", {"SCHEMA_1", "SCHEMA_2", "SCHEMA_3", "SCHEMA_4", "SCHEMA_5"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Found found;
    detect(corpus(c.file).c_str(), found);
    EXPECT_EQ(found.status, 0u);
    ASSERT_EQ(found.type, TMX_FILETYPE_STEP);
    ASSERT_NE(found.block, nullptr);
    ASSERT_EQ(found.step().schema_count, static_cast<int32_t>(c.names.size()));
    for (std::size_t k = 0; k < TMX_STEP_SCHEMA_COUNT; ++k)
      EXPECT_STREQ(found.step().schema_names[k], k < c.names.size() ? c.names[k].c_str() : "");
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

TEST_F(FileTypeTest, UnrecognisedCorpusFilesAreUnknownWithTheWarning) {
  for (const char *file : {"empty.bin", "random.bin", "plain_text.txt", "step_truncated.stp",
                           "token_120.txt", "comment_closed.txt", "comment_unterminated.txt",
                           "quote_unterminated.txt"}) {
    SCOPED_TRACE(file);
    Found found;
    const std::string name = corpus(file);
    detect(name.c_str(), found);
    EXPECT_EQ(found.status, 0u);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
    EXPECT_EQ(found.block, nullptr);
    EXPECT_EQ(found.pending, std::vector<std::string>{warning(name)});
  }
  // The same words whole, or outside a comment or quote, are recognised.
  for (const char *file : {"token_119.txt", "quote_closed.txt"}) {
    SCOPED_TRACE(file);
    Found found;
    detect(corpus(file).c_str(), found);
    EXPECT_EQ(found.type, TMX_FILETYPE_VDAFS);
  }
}

// ---- Column tests ----

TEST_F(FileTypeTest, IgesColumnsDecideOnTheFirstRecord) {
  // Column 74 a blank or '0' with a sequence number ending in 1 or 2 (or 1 in column 79).
  EXPECT_EQ(type_of(record("x", 'S', 1) + "\n"), TMX_FILETYPE_IGES);
  EXPECT_EQ(type_of(record("x", 'G', 2) + "\n"), TMX_FILETYPE_IGES);
  EXPECT_EQ(type_of(record("x", 's', 1) + "\n"), TMX_FILETYPE_IGES);
  EXPECT_EQ(type_of(record("x", 'S', 10) + "\n"), TMX_FILETYPE_IGES);
  std::string blank = record("x", 'S', 1);
  blank[73] = ' ';
  EXPECT_EQ(type_of(blank + "\n"), TMX_FILETYPE_IGES);
  EXPECT_EQ(type_of(record("x", 'S', 3) + "\n"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(record("x", 'S', 1000001) + "\n"), TMX_FILETYPE_UNKNOWN);  // column 74 '1'
  EXPECT_EQ(type_of(record("x", 'D', 1) + "\n"), TMX_FILETYPE_UNKNOWN);
  // A line feed in column 74 is enough on its own.
  EXPECT_EQ(type_of(std::string(72, 'x') + "S\nmore text"), TMX_FILETYPE_IGES);
  // 'C' and 'B' in either case, unless the text there is ACIS.
  EXPECT_EQ(type_of(record("x", 'C', 7)), TMX_FILETYPE_IGES_COMPRESSED);
  EXPECT_EQ(type_of(record("x", 'c', 7)), TMX_FILETYPE_IGES_COMPRESSED);
  EXPECT_EQ(type_of(std::string(71, 'x') + "ACIS" + std::string(20, 'x')), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(record("x", 'B', 7)), TMX_FILETYPE_IGES_BINARY);
  EXPECT_EQ(type_of(record("x", 'b', 7)), TMX_FILETYPE_IGES_BINARY);
  EXPECT_EQ(type_of(record("ACIS", 'B', 7)), TMX_FILETYPE_UNKNOWN);
}

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

TEST_F(FileTypeTest, IgesLineEndIsTheNonPrintableRunAfterTheFirstRecord) {
  struct Case {
    std::string eol;
    int32_t count;
  } cases[] = {{"\r\n", 2}, {"\n", 1}, {"\r", 1}, {"\r\r\n", 3}, {"\n\r", 2}};
  for (const Case &c : cases) {
    Found found;
    detect_bytes(iges(c.eol), found);
    ASSERT_EQ(found.type, TMX_FILETYPE_IGES);
    EXPECT_EQ(found.iges().line_end_count, c.count);
    EXPECT_EQ(found.iges().record_length, 80 + c.count);
    EXPECT_EQ(std::string(found.iges().line_end), c.eol);
  }
  // A byte above 0x7F ends the run after its first byte.
  Found high;
  detect_bytes(record("x", 'S', 1) + "\n\x80" + record("y", 'S', 2), high);
  EXPECT_EQ(high.iges().line_end_count, 1);
  // A single 80-byte record with nothing after it has no line end.
  Found single;
  detect_bytes(record("x", 'S', 1), single);
  ASSERT_EQ(single.type, TMX_FILETYPE_IGES);
  EXPECT_EQ(single.iges().line_end, nullptr);
  EXPECT_EQ(single.iges().record_length, 80);
  // Printable bytes up to byte 159: no line end even when byte 159 is not printable.
  Found long_record;
  detect_bytes(record("x", 'S', 1) + std::string(79, 'y') + "\n" + "z", long_record);
  EXPECT_EQ(long_record.iges().line_end_count, 0);
  Found at_158;
  detect_bytes(record("x", 'S', 1) + std::string(78, 'y') + "\r\n" + "z", at_158);
  EXPECT_EQ(at_158.iges().line_end_count, 2);
}

// ---- The token loop ----

TEST_F(FileTypeTest, TokenTestsFollowTheirOrder) {
  EXPECT_EQ(type_of("ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('A'));\n"), TMX_FILETYPE_STEP);
  // A STEP token overrides an IGES type found by column.
  std::string step_in_iges = record("ISO-10303-21;", 'S', 1) + "\n" +
                             record("FILE_SCHEMA(('A'));", 'S', 2) + "\n";
  EXPECT_EQ(type_of(step_in_iges), TMX_FILETYPE_STEP);
  // The AP242 words may have other tokens between them, but not be out of order.
  EXPECT_EQ(type_of("AP242 x BO y Model z XML w Assembly"), TMX_FILETYPE_AP242_XML);
  EXPECT_EQ(type_of("AP242 BO XML Model Assembly"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of("words /data/VDAFS/x"), TMX_FILETYPE_VDAFS);
  EXPECT_EQ(type_of("MYVDAFSFILE"), TMX_FILETYPE_VDAFS);
  EXPECT_EQ(type_of("a b c HEADER"), TMX_FILETYPE_VDAFS);
  EXPECT_EQ(type_of("a b c header"), TMX_FILETYPE_VDAFS);
  EXPECT_EQ(type_of("a b c d HEADER"), TMX_FILETYPE_UNKNOWN);  // the fifth token
  EXPECT_EQ(type_of("a b c Header"), TMX_FILETYPE_UNKNOWN);
  // An IGES file keeps its type whatever its first tokens say.
  EXPECT_EQ(type_of(record("HEADER", 'S', 1) + "\n"), TMX_FILETYPE_IGES);
  // A VDAFS-like header goes on being read, and a later DXF section overrides it.
  EXPECT_EQ(type_of("HEADER\n  0\nSECTION\n"), TMX_FILETYPE_DXF);
  EXPECT_EQ(type_of("0 0 SECTION"), TMX_FILETYPE_UNKNOWN);  // the token after "0" is not a "0" again
  EXPECT_EQ(type_of("AutoCAD Binary DXF"), TMX_FILETYPE_DXF_BINARY);
  EXPECT_EQ(type_of("AutoCAD Text"), TMX_FILETYPE_UNKNOWN);
  // The token read after "0" or "AutoCAD" meets the remaining tests.
  EXPECT_EQ(type_of("0 AC1018"), TMX_FILETYPE_DWG);
  EXPECT_EQ(type_of("AutoCAD AC1009"), TMX_FILETYPE_DWG);
  EXPECT_EQ(type_of("x AC1O"), TMX_FILETYPE_UNKNOWN);
}

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

TEST_F(FileTypeTest, AcisBinaryNeedsBinaryFileAfterTheFirstToken) {
  EXPECT_EQ(type_of("ACIS BinaryFile\x04\x15"), TMX_FILETYPE_ACIS_BINARY);
  EXPECT_EQ(type_of("  ACIS  BinaryFile"), TMX_FILETYPE_ACIS_BINARY);
  EXPECT_EQ(type_of("ACIS TextFile"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of("x ACIS BinaryFile"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of("ACIS Binary"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(std::string(150, ' ') + "ACIS BinaryFile"), TMX_FILETYPE_UNKNOWN);  // past byte 160
}

TEST_F(FileTypeTest, IgesStopsAtTheTwentiethToken) {
  std::string text = record("a b c d e f g h i j k l m n o p q r s", 'S', 1) + "\n";
  EXPECT_EQ(type_of(text + "BEGIN_MODEL 1 X 1 1\n"), TMX_FILETYPE_IGES);
  std::string shorter = record("a b c d e f g h i j k l m n o p q", 'S', 1) + "\n";
  EXPECT_EQ(type_of(shorter + "BEGIN_MODEL 1 X 1 1\n"), TMX_FILETYPE_MODEL);
}

TEST_F(FileTypeTest, VdafsHeaderStopsAfterAHundredTokens) {
  std::string many = "HEADER";
  for (int i = 0; i < 100; ++i) many += " w";
  EXPECT_EQ(type_of(many + " 0 SECTION"), TMX_FILETYPE_VDAFS);
  std::string fewer = "HEADER";
  for (int i = 0; i < 98; ++i) fewer += " w";
  EXPECT_EQ(type_of(fewer + " 0 SECTION"), TMX_FILETYPE_DXF);
}

TEST_F(FileTypeTest, EndOfFileWhereAHeaderNeedsMoreTokens) {
  Found step;
  detect_bytes("ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('AUTOMOTIVE_DESIGN'", step);
  EXPECT_EQ(step.status, 0u);
  EXPECT_EQ(step.type, TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(step.pending, std::vector<std::string>{warning(path_)});
  EXPECT_EQ(type_of("BEGIN_MODEL 1 X 3"), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of("BEGIN_MODEL 1 X 3 4"), TMX_FILETYPE_MODEL);  // the end ends the last token
  EXPECT_EQ(type_of("data 0"), TMX_FILETYPE_UNKNOWN);
  // A type found before the end stays.
  EXPECT_EQ(type_of(record("x", 'S', 1) + "\n0"), TMX_FILETYPE_IGES);
  EXPECT_EQ(type_of("HEADER x AutoCAD"), TMX_FILETYPE_VDAFS);
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

TEST_F(FileTypeTest, SavedModelHeaderNumbersReadAsAtoi) {
  Found found;
  detect_bytes("BEGIN_MODEL -12x " + std::string(119, 'S') + " 99999999999 abc\n", found);
  ASSERT_EQ(found.type, TMX_FILETYPE_MODEL);
  EXPECT_EQ(found.model().model_number, -12);
  EXPECT_EQ(std::string(found.model().schema_name), std::string(119, 'S'));
  EXPECT_EQ(found.model().version, INT32_MAX);
  EXPECT_EQ(found.model().release, 0);
  // A schema name of 120 characters is cut; its last character becomes the version.
  Found cut;
  detect_bytes("BEGIN_MODEL 1 " + std::string(119, 'S') + "7 3 2\n", cut);
  EXPECT_EQ(cut.model().version, 7);
  EXPECT_EQ(cut.model().release, 3);
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

TEST_F(FileTypeTest, AbsentFileIsNotFound) {
  Found found;
  const std::string name = dir_.file("absent.igs");
  detect(name.c_str(), found);
  EXPECT_EQ(found.status, TMX_NOT_FOUND);
  EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(found.pending,
            (std::vector<std::string>{warning(name), "*** Error (TMX_NOT_FOUND) ***\nFile '" + name +
                                                         "' does not exist.\n"}));
}

TEST_F(FileTypeTest, OnlyRegularFilesAreRead) {
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  write_file(dir_.file("file"), "x");
  const std::string not_a_directory = dir_.file("file") + "/below";
  for (const std::string &name : {dir_.path(), fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    Found found;
    detect(name.c_str(), found);  // would never end (FIFO, /dev/zero) if it were read
    EXPECT_EQ(found.status, TMX_OPEN_ERROR);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
    EXPECT_EQ(found.pending, (std::vector<std::string>{warning(name), "*** Error (TMX_OPEN_ERROR) ***\nError opening the file '" + name + "'.\n"}));
  }
  Found below;
  detect(not_a_directory.c_str(), below);
  EXPECT_EQ(below.status, TMX_OPEN_ERROR);
}

// Reads through the platform in pieces of 7 bytes, and fails from the `fail_at`th call on.
int64_t (*g_real_read)(int, void *, std::size_t) = nullptr;
int g_calls = 0;
int g_fail_at = 0;
int64_t failing_read(int fd, void *buffer, std::size_t size) {
  if (++g_calls >= g_fail_at) {
    errno = EIO;
    return -1;
  }
  return g_real_read(fd, buffer, std::min<std::size_t>(size, 7));
}

TEST_F(FileTypeTest, ReadErrorsAnywhereAreReadErrors) {
  g_real_read = tmx::file_type_read;
  tmx::file_type_read = failing_read;
  std::string unknown(4000, 'w');
  for (std::size_t i = 0; i < unknown.size(); i += 7) unknown[i] = ' ';
  // The first read, a read in the middle of the first 160 bytes, and one in the token loop.
  for (int fail_at : {1, 3, 100}) {
    SCOPED_TRACE(fail_at);
    g_calls = 0;
    g_fail_at = fail_at;
    Found found;
    detect_bytes(unknown, found);
    EXPECT_EQ(found.status, TMX_READ_ERROR);
    EXPECT_EQ(found.type, TMX_FILETYPE_UNKNOWN);
    EXPECT_EQ(found.pending, (std::vector<std::string>{warning(path_), "*** Error (TMX_READ_ERROR) ***\nError reading from the file '" + path_ + "'.\n"}));
  }
  // Inside the STEP header too: the file is not taken for STEP.
  g_calls = 0;
  g_fail_at = 10;
  Found step;
  detect_bytes("ISO-10303-21;\nHEADER;\n" + unknown, step);
  EXPECT_EQ(step.status, TMX_READ_ERROR);
  EXPECT_EQ(step.type, TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(step.block, nullptr);
  // Small reads alone change nothing.
  g_calls = 0;
  g_fail_at = 1000000;
  Found whole;
  detect(corpus("step_two_schemas.stp").c_str(), whole);
  EXPECT_EQ(whole.status, 0u);
  ASSERT_EQ(whole.type, TMX_FILETYPE_STEP);
  EXPECT_EQ(whole.step().schema_count, 2);
}

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

TEST_F(FileTypeTest, LargeFilesAreScannedToTheirEnd) {
  // Words across many buffer refills, with the deciding tokens at the very end.
  std::string text;
  while (text.size() < (std::size_t{3} << 20)) text += "lorem ipsum dolor sit amet, ";
  EXPECT_EQ(type_of(text), TMX_FILETYPE_UNKNOWN);
  EXPECT_EQ(type_of(text + "\n  0\nSECTION\n"), TMX_FILETYPE_DXF);
  EXPECT_EQ(type_of(text + "/*" + std::string(2 << 20, '*') + "/ AC1015"), TMX_FILETYPE_DWG);
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
