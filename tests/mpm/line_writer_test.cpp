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

TEST_F(LineWriterTest, LongWordIsCutHardAndTextBreaksAtTheLastBlank) {
  std::string word(100, 'w');
  EXPECT_EQ(write(0, word), (std::vector<std::string>{std::string(80, 'w') + "\n", std::string(20, 'w') + "\n"}));
  std::string text = std::string(70, 'a') + " " + std::string(20, 'b') + " c";
  EXPECT_EQ(write(0, text),
            (std::vector<std::string>{std::string(70, 'a') + "\n", std::string(20, 'b') + " c\n"}));
  // A blank exactly at the limit breaks there.
  text = std::string(80, 'a') + " b";
  EXPECT_EQ(write(0, text), (std::vector<std::string>{std::string(80, 'a') + "\n", "b\n"}));
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

TEST_F(LineWriterTest, EveryLineMakesProgressWhateverTheSettings) {
  mpm_left_indent = 50;
  mpm_right_margin = 40;  // no room left at width 80
  std::vector<std::string> lines = write(0, "abcd");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(50, ' ') + "a\n");
  mpm_left_indent = 0;
  mpm_right_margin = 0;
  mpm_current_column = 500;
  lines = write(0, "xy");
  EXPECT_EQ(lines, (std::vector<std::string>{"x\n", "y\n"}));
  mpm_line_width = -5;
  mpm_left_indent = -3;
  lines = write(0, "ab");
  EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b\n"}));
}

TEST_F(LineWriterTest, WidthZeroPassesTheTextUnchanged) {
  mpm_line_width = 0;
  std::vector<int> last;
  std::string text = std::string(200, 'z') + "\nrest";
  EXPECT_EQ(write(0, text, &last), (std::vector<std::string>{text}));
  EXPECT_EQ(last, (std::vector<int>{1}));
}

TEST_F(LineWriterTest, VeryLongLinesGoOutInPiecesOf8192) {
  mpm_line_width = 100000;
  mpm_left_indent = 10;
  std::string text(20000, 'p');
  std::vector<std::string> lines = write(0, text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(10, ' ') + std::string(8182, 'p'));
  EXPECT_EQ(lines[1], std::string(8192, 'p'));
  EXPECT_EQ(lines[2], std::string(20000 - 8182 - 8192, 'p') + "\n");
}

TEST_F(LineWriterTest, ScreenAndLogAreChosenByFlags) {
  TempDir dir;
  ASSERT_EQ(mpm_OpenLogFile(0, dir.file("x.log").c_str()), 0u);
  OutputCapture out;
  mpm_WriteText(0, stdout, heap("both"));
  mpm_WriteText(MPM_NO_LOG, stdout, heap("screen"));
  mpm_WriteText(MPM_NO_SCREEN, stdout, heap("log"));
  mpm_global_flags = MPM_NO_SCREEN;
  mpm_WriteText(0, stdout, heap("global"));
  mpm_global_flags = 0;
  EXPECT_EQ(out.text(stdout), "both\nscreen\n");
  EXPECT_EQ(out.text(mpm_log_stream), "both\nlog\nglobal\n");
  mpm_CloseLogFile(0);
}

}  // namespace
}  // namespace tesmar::test
