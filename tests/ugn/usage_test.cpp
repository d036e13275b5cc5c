// The usage text: synopsis pieces, groups, line breaks and the option list.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string usage_of(const std::vector<ugn_Option> &table, const char *program, const char *trailing,
                     const char *const *lines) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ugn_PrintUsage(0, table.data(), program, trailing, lines), 0u);
  return ::testing::internal::GetCapturedStderr();
}

TEST_F(LibraryTest, UsageShowsRequiredOptionalAndGroupedOptions) {
  int32_t v;
  const char *s;
  std::vector<ugn_Option> table{
      {"o", "s+", "FILE", &s, "output file"},
      {"v", "f", "IGNORED", &v, "verbose"},
      {"[", nullptr, nullptr, nullptr, nullptr},
      {"a", "f", nullptr, &v, "alpha"},
      {"bb", "s", "B", &s, nullptr},
      {"]", nullptr, nullptr, nullptr, nullptr},
      {"r", "i+", "N", &v, "rate"},
      {}};
  const char *lines[] = {"Example: conv -o x in", "Second line", nullptr};
  EXPECT_EQ(usage_of(table, "/usr/local/bin/conv", "INPUT...", lines),
            "Usage:\n\n"
            "conv -o FILE [-v] [-a | -bb B] -r N INPUT...\n\n"
            "   -o    output file\n"
            "   -v    verbose\n"
            "   -a    alpha\n"
            "   -bb    \n"
            "   -r    rate\n"
            "\n"
            "Example: conv -o x in\n"
            "Second line\n"
            "\n");
}

TEST_F(LibraryTest, UsageLinesBreakBeforeColumnEightyUnderTheFirstOption) {
  int32_t v;
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("option" + std::to_string(i));
  std::vector<ugn_Option> table;
  for (const std::string &n : names) table.push_back({n.c_str(), "s", "VALUE", &v, "some option"});
  table.push_back({});
  std::string text = usage_of(table, "./bin/translator", "FILES", nullptr);
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  ASSERT_EQ(line, "Usage:");
  std::getline(in, line);
  std::getline(in, line);
  EXPECT_EQ(line.rfind("translator [-option0 VALUE] ", 0), 0u) << line;
  std::size_t synopsis_lines = 1, pieces = 0;
  const std::string indent(std::string("translator").size() + 1, ' ');
  for (;;) {
    EXPECT_LT(line.size(), 80u) << line;
    for (std::size_t at = line.find("[-option"); at != std::string::npos; at = line.find("[-option", at + 1)) ++pieces;
    if (!std::getline(in, line) || line.empty()) break;
    ++synopsis_lines;
    EXPECT_EQ(line.rfind(indent, 0), 0u) << line;
    EXPECT_NE(line[indent.size()], ' ') << line;
  }
  EXPECT_EQ(pieces, 30u);
  EXPECT_GT(synopsis_lines, 4u);
  EXPECT_NE(text.find("FILES"), std::string::npos);
  EXPECT_NE(text.find("   -option9    some option\n"), std::string::npos);  // padded to "option10"
}

}  // namespace
}  // namespace tesmar::test
