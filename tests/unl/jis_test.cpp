// The code-page tables and the single-character conversions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

class JisTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    mpm_line_width = 0;
    unl_Initialize(0);
  }
  void TearDown() override {
    unl_Terminate(0);
    LibraryTest::TearDown();
  }
};

int assigned(const uint16_t *table, int size) {
  int n = 0;
  for (int i = 0; i < size; ++i) n += table[i] != 0;
  return n;
}

TEST_F(JisTest, CountsAndSpotValues) {
  EXPECT_EQ(assigned(unl_JIS0208Table, UNL_JIS0208_ENTRIES), 6879);
  EXPECT_EQ(assigned(unl_JIS0212Table, UNL_JIS0212_ENTRIES), 6067);
  int inverse = 0;
  for (int i = 0; i < UNL_UNICODE_ENTRIES; ++i) inverse += unl_UnicodeTable[i] != 0;
  EXPECT_EQ(inverse, 12946);
  EXPECT_EQ(unl_JISToUnicode(1, 0x2140), 0x005Cu);
  EXPECT_EQ(unl_JISToUnicode(1, 0x2141), 0x301Cu);
  EXPECT_EQ(unl_JISToUnicode(1, 0x215D), 0x2212u);
  EXPECT_EQ(unl_JISToUnicode(1, 0x2171), 0x00A2u);
  EXPECT_EQ(unl_JISToUnicode(1, 0x2121), 0x3000u);
  EXPECT_EQ(unl_JISToUnicode(1, 0x7426), 0x7199u);
  EXPECT_EQ(unl_JISToUnicode(2, 0x2237), 0x007Eu);
  EXPECT_EQ(unl_JISToUnicode(2, 0x2242), 0x00A1u);
  EXPECT_EQ(unl_JISToUnicode(1, 0x2221 + 0x0E), 0u);  // unassigned
  EXPECT_EQ(unl_UnicodeToJIS(0, 0x3000), 0x382121u);
  EXPECT_EQ(unl_UnicodeToJIS(0, 0x00A1), 0x322242u);
  EXPECT_EQ(unl_UnicodeToJIS(0, 'A'), 0u);
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(JisTest, InverseTableIsTheExactInverse) {
  for (int set = 1; set <= 2; ++set) {
    const uint16_t *table = set == 1 ? unl_JIS0208Table : unl_JIS0212Table;
    int size = set == 1 ? UNL_JIS0208_ENTRIES : UNL_JIS0212_ENTRIES;
    for (int i = 0; i < size; ++i) {
      if (table[i] == 0) continue;
      int32_t code = ((i / 94 + 0x21) << 8) | (i % 94 + 0x21);
      uint32_t tag = set == 1 ? UNL_TAG_JIS0208 : UNL_TAG_JIS0212;
      ASSERT_EQ(unl_UnicodeTable[table[i]], (tag << 16) | static_cast<uint32_t>(code));
      ASSERT_EQ(unl_JISToUnicode(set, code), table[i]);
    }
  }
  for (int cp = 0; cp < UNL_UNICODE_ENTRIES; ++cp) {
    uint32_t entry = unl_UnicodeTable[cp];
    if (entry == 0) continue;
    ASSERT_EQ(entry >> 24, 0u);
    int32_t set = (entry >> 16) == UNL_TAG_JIS0208 ? 1 : 2;
    ASSERT_EQ(unl_JISToUnicode(set, static_cast<int32_t>(entry & 0xFFFF)), static_cast<uint32_t>(cp));
  }
}

TEST_F(JisTest, ShiftJisArithmeticRoundTrips) {
  EXPECT_EQ(unl_JISToSJIS(0x2121), 0x8140);
  EXPECT_EQ(unl_SJISToJIS(0x8140), 0x2121);
  EXPECT_EQ(unl_JISToSJIS(0x7426), 0xEAA4);
  EXPECT_EQ(unl_SJISToJIS(0xEAA4), 0x7426);
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      int32_t sjis = unl_JISToSJIS((j1 << 8) | j2);
      int lead = sjis >> 8, trail = sjis & 0xFF;
      ASSERT_TRUE((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEF)) << std::hex << sjis;
      ASSERT_TRUE(trail >= 0x40 && trail <= 0xFC && trail != 0x7F) << std::hex << sjis;
      ASSERT_EQ(unl_SJISToJIS(sjis), (j1 << 8) | j2);
    }
  }
  EXPECT_EQ(unl_SJISToJIS(0x0041), 0);
  EXPECT_EQ(unl_SJISToJIS(0x8100), 0);
}

TEST_F(JisTest, OutOfRangeCodesAreReported) {
  OutputCapture capture;
  EXPECT_EQ(unl_JISToUnicode(2, 0x6E21), 0u);  // row 77
  EXPECT_NE(capture.text(stderr).find("*** Error (UNL_INVALID_INDEX_ERR) ***\nThe index 77 or 0 is "
                                      "too large or too small for the array."),
            std::string::npos)
      << capture.text(stderr);
  EXPECT_EQ(unl_JISToUnicode(1, 0x7521), 0u);  // row 84
  EXPECT_EQ(unl_JISToUnicode(1, 0x2120), 0u);  // cell -1
  EXPECT_EQ(unl_JISToUnicode(1, 0x217F), 0u);  // cell 94
  EXPECT_EQ(unl_JISToUnicode(1, 0), 0u);
  EXPECT_EQ(unl_JISToUnicode(1, INT32_MIN), 0u);
  EXPECT_EQ(unl_JISToUnicode(1, INT32_MAX), 0u);
  EXPECT_EQ(unl_JISToUnicode(1, 0x12121), 0u);
  EXPECT_EQ(mpm_count_tree != nullptr ? count_of(UNL_INVALID_INDEX_ERR).total : -1, 8);
  EXPECT_EQ(unl_JISToUnicode(3, 0x2121), 0u);  // another set: no message
  EXPECT_EQ(count_of(UNL_INVALID_INDEX_ERR).total, 8);
  capture.clear();
  EXPECT_EQ(unl_UnicodeToJIS(0, 0x10000), 0x690000u);
  EXPECT_NE(capture.text(stderr).find("The index 256 or 0"), std::string::npos);
  EXPECT_EQ(unl_UnicodeToJIS(0, -1), 0x690000u);
}

// The generated tables against the Consortium's files, where they are at hand.
std::string mapping_directory() {
  const char *explicit_dir = std::getenv("TESMAR_JIS_DATA");
  if (explicit_dir != nullptr) return explicit_dir;
  const std::string root = source_dir();
  for (const char *relative : {"/../shared/data", "/../../shared/data"}) {
    std::ifstream probe(root + relative + "/JIS0208.TXT");
    if (probe) return root + relative;
  }
  return "";
}

std::map<int, int> read_mapping(const std::string &path, int columns) {
  std::map<int, int> table;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string field[3];
    for (int i = 0; i < columns; ++i) fields >> field[i];
    table[std::stoi(field[columns - 2], nullptr, 16)] = std::stoi(field[columns - 1], nullptr, 16);
  }
  return table;
}

TEST_F(JisTest, TablesEqualTheMappingFiles) {
  std::string dir = mapping_directory();
  if (dir.empty())
    GTEST_SKIP() << "the mapping files JIS0208.TXT and JIS0212.TXT are not at hand "
                    "(../shared/data or TESMAR_JIS_DATA); counts and spot values are checked above";
  for (int set = 1; set <= 2; ++set) {
    std::map<int, int> file = read_mapping(dir + (set == 1 ? "/JIS0208.TXT" : "/JIS0212.TXT"),
                                           set == 1 ? 3 : 2);
    EXPECT_EQ(file.size(), set == 1 ? 6879u : 6067u);
    const uint16_t *table = set == 1 ? unl_JIS0208Table : unl_JIS0212Table;
    int size = set == 1 ? UNL_JIS0208_ENTRIES : UNL_JIS0212_ENTRIES;
    for (int i = 0; i < size; ++i) {
      int code = ((i / 94 + 0x21) << 8) | (i % 94 + 0x21);
      auto it = file.find(code);
      ASSERT_EQ(table[i], it != file.end() ? it->second : 0) << set << " " << std::hex << code;
    }
  }
}

}  // namespace
}  // namespace tesmar::test
