// The line writer: wrapping, indentation, justification, pieces, and output to screen and log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

using LineWriterTest = LibraryTest;

char *heap(const std::string &s) {
  char *text = static_cast<char *>(std::malloc(s.size() + 1));
  std::memcpy(text, s.c_str(), s.size() + 1);
  return text;
}

std::vector<std::string> write(uint32_t flags, const std::string &s, std::vector<int> *last = nullptr) {
  OutputCapture out;
  mpm_WriteText(flags, stdout, heap(s));
  std::vector<std::string> lines;
  for (const auto &line : out.lines()) {
    lines.push_back(line.text);
    if (last != nullptr) last->push_back(line.last);
  }
  return lines;
}

TEST_F(LineWriterTest, MessageEndsWithAnEmptyLineUnlessNoNewline) {
  std::vector<int> last;
  EXPECT_EQ(write(0, "abc\n", &last), (std::vector<std::string>{"abc\n", "\n"}));
  EXPECT_EQ(last, (std::vector<int>{0, 1}));
  last.clear();
  EXPECT_EQ(write(MPM_NO_NEWLINE, "abc\n", &last), (std::vector<std::string>{"abc\n"}));
  EXPECT_EQ(last, (std::vector<int>{1}));
  EXPECT_EQ(write(0, "abc"), (std::vector<std::string>{"abc\n"}));
  EXPECT_EQ(write(0, ""), (std::vector<std::string>{"\n"}));
  EXPECT_EQ(write(MPM_NO_NEWLINE, ""), (std::vector<std::string>{}));
}

TEST_F(LineWriterTest, IndentMarginAndJustification) {
  std::string line(20, 'x');
  mpm_justification = 3;
  EXPECT_EQ(write(0, line), (std::vector<std::string>{std::string(30, ' ') + line + "\n"}));
  mpm_justification = 2;
  mpm_left_indent = 4;
  mpm_right_margin = 6;
  EXPECT_EQ(write(0, line), (std::vector<std::string>{std::string(4 + 70 - 20, ' ') + line + "\n"}));
  mpm_justification = 1;
  std::vector<std::string> lines = write(0, std::string(75, 'y'));
  EXPECT_EQ(lines, (std::vector<std::string>{"    " + std::string(70, 'y') + "\n", "    yyyyy\n"}));
}

TEST_F(LineWriterTest, CurrentColumnShortensTheFirstLine) {
  mpm_current_column = 75;
  EXPECT_EQ(write(0, "abc defgh"), (std::vector<std::string>{"abc\n", "defgh\n"}));
  EXPECT_EQ(mpm_current_column, 0);
  write(MPM_NO_NEWLINE, "12345");
  EXPECT_EQ(mpm_current_column, 5);
}

}  // namespace
}  // namespace tesmar::test
