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

}  // namespace
}  // namespace tesmar::test
