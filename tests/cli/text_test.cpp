// `tesmar text` on Shift_JIS, EUC-JP, UTF-8 and UTF-16LE files made with glibc iconv.
//
// The tool reads the Japanese code pages through the Unicode Consortium's JIS tables and single
// bytes below 0x80 as ASCII. glibc differs from that in a few places, listed in kExceptions: the
// output must equal iconv's everywhere else, and equal the Consortium's value there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/library.h"
#include "unl/iconv_peer.h"

namespace tesmar::test {
namespace {

struct Exception {
  const char *encoding;
  std::string bytes;  // the input sequence
  uint32_t ours;      // the Consortium's character (or ASCII)
  uint32_t glibc;
};

const std::vector<Exception> kExceptions = {
    // JIS X 0208 0x2140: REVERSE SOLIDUS in the Consortium's table, FULLWIDTH REVERSE SOLIDUS in
    // glibc's.
    {"SHIFT_JIS", "\x81\x5F", 0x005C, 0xFF3C},
    {"EUC-JP", "\xA1\xC0", 0x005C, 0xFF3C},
    // JIS X 0212 0x2237: TILDE against FULLWIDTH TILDE.
    {"EUC-JP", "\x8F\xA2\xB7", 0x007E, 0xFF5E},
    // Single Shift_JIS bytes: ASCII here, JIS X 0201 Roman (YEN SIGN, OVERLINE) in glibc.
    {"SHIFT_JIS", "\x5C", 0x005C, 0x00A5},
    {"SHIFT_JIS", "\x7E", 0x007E, 0x203E},
};

std::vector<uint32_t> code_points(const std::string &utf8) {
  IconvResult r = iconv_convert("UTF-8", "UTF-32LE", utf8);
  EXPECT_TRUE(r.ok);
  std::vector<uint32_t> points;
  for (std::size_t i = 0; i + 3 < r.out.size(); i += 4) {
    uint32_t cp = 0;
    for (int k = 3; k >= 0; --k) cp = (cp << 8) | static_cast<unsigned char>(r.out[i + k]);
    points.push_back(cp);
  }
  return points;
}

std::string utf8_of(const std::vector<uint32_t> &points) {
  std::string utf32;
  for (uint32_t cp : points)
    for (int k = 0; k < 4; ++k) utf32 += static_cast<char>((cp >> (8 * k)) & 0xFF);
  return iconv_convert("UTF-32LE", "UTF-8", utf32).out;
}

class TextCommandTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    unl_Initialize(0);
    if (access(tool_path().c_str(), X_OK) != 0) GTEST_SKIP() << "the tesmar tool is not built";
  }
  void TearDown() override {
    unl_Terminate(0);
    LibraryTest::TearDown();
  }

  // A sample text: names as CAD files carry them, every character of the given JIS sets, the
  // characters on which glibc and the Consortium differ, half-width katakana and CR LF line ends.
  std::string sample(bool with_0212) {
    std::vector<uint32_t> points;
    for (char c : std::string("PART-01 \\ ~ name: ")) points.push_back(static_cast<unsigned char>(c));
    for (uint32_t cp : {0x90E8u, 0x54C1u, 0x540Du, 0xFF1Au, 0x30DCu, 0x30EBu, 0x30C8u, 0x0020u,
                        0xFF2Du, 0xFF11u, 0xFF10u, 0x00D7u, 0xFF12u, 0xFF10u, 0x000Du, 0x000Au})
      points.push_back(cp);
    for (int i = 0; i < UNL_JIS0208_ENTRIES; ++i) {
      if (unl_JIS0208Table[i] != 0) points.push_back(unl_JIS0208Table[i]);
      if (i % 94 == 93) {
        points.push_back('\r');
        points.push_back('\n');
      }
    }
    if (with_0212)
      for (int i = 0; i < UNL_JIS0212_ENTRIES; ++i)
        if (unl_JIS0212Table[i] != 0) points.push_back(unl_JIS0212Table[i]);
    points.push_back(0xFF3C);  // glibc writes FULLWIDTH REVERSE SOLIDUS as JIS X 0208 0x2140
    if (with_0212) points.push_back(0xFF5E);  // and FULLWIDTH TILDE as JIS X 0212 0x2237
    for (uint32_t cp = 0xFF61; cp <= 0xFF9F; ++cp) points.push_back(cp);
    points.push_back('\r');
    points.push_back('\n');
    return utf8_of(points);
  }

  // Converts the sample to `encoding` with iconv, runs the tool on it and checks the result
  // character by character against iconv's reading.
  void check_against_iconv(const char *encoding, const char *option, bool with_0212) {
    std::string text = sample(with_0212);
    IconvResult encoded = iconv_convert("UTF-8", encoding, text);
    ASSERT_TRUE(encoded.ok) << "iconv cannot write the sample at " << encoded.error_at;
    std::string path = dir.file("sample");
    write_file(path, encoded.out);
    ToolRun run = run_tool(dir, "text '" + path + "' --from " + option);
    ASSERT_EQ(run.status, 0) << run.err;
    IconvResult peer = iconv_convert(encoding, "UTF-8", encoded.out);
    ASSERT_TRUE(peer.ok);
    std::vector<uint32_t> ours = code_points(run.out), theirs = code_points(peer.out);
    ASSERT_EQ(ours.size(), theirs.size());
    std::vector<bool> seen(kExceptions.size(), false);
    for (std::size_t i = 0; i < ours.size(); ++i) {
      if (ours[i] == theirs[i]) continue;
      bool listed = false;
      for (std::size_t k = 0; k < kExceptions.size(); ++k) {
        const Exception &e = kExceptions[k];
        if (std::string(e.encoding) == encoding && e.ours == ours[i] && e.glibc == theirs[i]) {
          listed = true;
          seen[k] = true;
        }
      }
      EXPECT_TRUE(listed) << std::hex << "character " << std::dec << i << ": U+" << std::hex
                          << ours[i] << " against glibc's U+" << theirs[i];
    }
    for (std::size_t k = 0; k < kExceptions.size(); ++k) {
      if (std::string(kExceptions[k].encoding) != encoding) continue;
      EXPECT_TRUE(seen[k]) << "exception " << k << " did not occur";
      // The listed sequence alone gives the Consortium's character.
      std::string one = dir.file("one");
      write_file(one, kExceptions[k].bytes);
      ToolRun single = run_tool(dir, "text '" + one + "' --from " + option);
      EXPECT_EQ(single.out, utf8_of({kExceptions[k].ours}));
    }
  }

  TempDir dir;
};

TEST_F(TextCommandTest, ShiftJisMatchesIconvExceptWhereTheTablesDiffer) {
  check_against_iconv("SHIFT_JIS", "sjis", false);
}

TEST_F(TextCommandTest, EucJpMatchesIconvExceptWhereTheTablesDiffer) {
  check_against_iconv("EUC-JP", "euc-jp", true);
}

TEST_F(TextCommandTest, Utf16AndUtf8) {
  std::string text = sample(true);
  std::string path = dir.file("utf8");
  write_file(path, text);
  ToolRun run = run_tool(dir, "text '" + path + "' --to utf-16le");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, iconv_convert("UTF-8", "UTF-16LE", text).out);
  std::string utf16 = dir.file("utf16");
  write_file(utf16, run.out);
  run = run_tool(dir, "text '" + utf16 + "' --from utf-16le");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, text);
  // Zero characters pass through.
  write_file(path, std::string("a\0b", 3));
  run = run_tool(dir, "text '" + path + "' --to utf-16le");
  EXPECT_EQ(run.out, std::string("a\0\0\0b\0", 6));
}

TEST_F(TextCommandTest, ReportsTheOffsetOfTheFirstInvalidSequence) {
  struct Case {
    const char *option;
    std::string bytes;
    std::size_t offset;
  } cases[] = {
      {"sjis", "ab\x81\x20", 2},         {"sjis", "ab\x81", 2},          {"sjis", "\x80", 0},
      {"sjis", "x\xEF\x40", 1},          {"sjis", "\x82\x40 ok", 0},     {"euc-jp", "a\xA1", 1},
      {"euc-jp", "ab\x8F\xA1\xA1", 2},   {"euc-jp", "\xF5\xA1", 0},       {"euc-jp", "\x8E\xE0", 0},
      {"utf-8", "abc\xC0\x80", 3},       {"utf-8", "ab\xED\xA0\x80", 2},  {"utf-8", "\xE6\x97", 0},
      {"utf-8", std::string("a\0\xFF", 3), 2},
      {"utf-16le", std::string("a\0\x00\xDC", 4), 2},
      {"utf-16le", std::string("a\0\x00\xD8", 4), 2},
      {"utf-16le", std::string("a\0b", 3), 2},
  };
  for (const Case &c : cases) {
    std::string path = dir.file("bad");
    write_file(path, c.bytes);
    ToolRun run = run_tool(dir, "text '" + path + "' --from " + c.option);
    EXPECT_EQ(run.status, 1) << c.option;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("at byte offset " + std::to_string(c.offset) + "\n"), std::string::npos)
        << c.option << ": " << run.err;
  }
  ToolRun run = run_tool(dir, "text '" + dir.file("missing") + "'");
  EXPECT_EQ(run.status, 1);
  run = run_tool(dir, "text --from latin1 x");
  EXPECT_EQ(run.status, 2);
}

}  // namespace
}  // namespace tesmar::test
