// The named directives, through the formatting engine and through FMT's own '+' texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

using DirectivesTest = LibraryTest;

template <typename... Args>
std::string message(mpm_Status code, Args... args) {
  char *text = nullptr;
  mpm_AppendMessage(0, code, &text, args...);
  std::string result = text != nullptr ? text : "<null>";
  std::free(text);
  return result;
}

TEST_F(DirectivesTest, TypeForms) {
  EXPECT_EQ(format_text("%<TF>", 0x007C0000u), "124:0");
  EXPECT_EQ(format_text("%<TF>", 0x3E810000u), "*:0");
  EXPECT_EQ(format_text("%<TF>", 0x0001FFFFu), "1:-1");
  EXPECT_EQ(format_text("%<TF>", 0x3E813E81u), "*:*");
  EXPECT_EQ(format_text("%<TF>", 0xFFFF8000u), "-1:-32768");
  // Width and flags before the name are read and ignored; the argument after is the next one.
  EXPECT_EQ(format_text("[%-12<TF>] %d", 0x00640001u, 7), "[100:1] 7");
  fmt_NamedTypeForm unnamed{nullptr, 0x00640001u, 0};
  fmt_NamedTypeForm named{"geometry", 0x3E810002u, 0};
  EXPECT_EQ(format_text("%<DTF>", &unnamed), "NULL:100:1");
  EXPECT_EQ(format_text("%<DTF> %<DTF>", &named, &unnamed), "geometry:*:2 NULL:100:1");
  EXPECT_EQ(format_text("%<DTF>", static_cast<fmt_NamedTypeForm *>(nullptr)), "NULL:0:0");
}

TEST_F(DirectivesTest, DatesAndTimes) {
  const std::string date = format_text("%<CurDate>");
  EXPECT_TRUE(
      std::regex_match(date, std::regex("[A-Z][a-z]{2}, [A-Z][a-z]{2} [ 0-9][0-9], [0-9]{4}")))
      << date;
  std::time_t now = std::time(nullptr);
  char text[32];
  ASSERT_NE(ctime_r(&now, text), nullptr);
  EXPECT_EQ(date.substr(date.size() - 4), std::string(text + 20, 4));
  EXPECT_TRUE(std::regex_match(format_text("%<CurTime>"), std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}")));
  EXPECT_TRUE(std::regex_match(
      format_text("%<ElapsedCPU>|%<ElapsedClock>"),
      std::regex("[0-9]{2,}:[0-5][0-9]:[0-5][0-9]\\|[0-9]{2,}:[0-5][0-9]:[0-5][0-9]")));
}

TEST_F(DirectivesTest, ErrorSummaryListsEachCountedMessage) {
  for (int i = 0; i < 3; ++i) mpm_IssueMessage(0, OTM_SIZENOTEQ, MPM_ERROR, 1, 2);
  const char *counters =
      "Information: 0\nStatus:      0\nWarning:     0\nError:       3\nFatal:       0\n";
  EXPECT_EQ(format_text("%<ErrorSummary>"),
            std::string("The following message was issued 3 time(s)\n"
                        "Data size one (%d) does not equal data size two (%d)\n\n") +
                counters);
}

TEST_F(DirectivesTest, ErrorSummaryNamesSuppressionInCodeOrder) {
  for (int i = 0; i < 5; ++i) mpm_IssueMessage(0, OTM_NOTFOUND, MPM_WARNING);
  // Both counters count every issue; a client that lowers the issued counter (to let the message
  // through again under a limit) makes the total exceed it, and the summary says so.
  mpm_CountRecord key{static_cast<int32_t>(OTM_NOTFOUND), 0, 0, 0};
  auto *record =
      static_cast<mpm_CountRecord *>(otm_GetObject(OTM_KEEP_CURRENT, mpm_count_tree, &key));
  ASSERT_NE(record, nullptr);
  record->issued = 2;
  mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  const std::string summary = format_text("%<ErrorSummary>");
  const std::string null_part = "The following message was issued 1 time(s)\nNULL pointer\n\n";
  const std::string found_part =
      "The following message was issued 5 time(s) and suppressed after 2 time(s)\nObject not "
      "found\n\n";
  EXPECT_EQ(summary.find(null_part), 0u) << summary;  // 0x30003 before 0x30006
  EXPECT_EQ(summary.find(found_part), null_part.size()) << summary;
  EXPECT_NE(summary.find("Warning:     "), std::string::npos);
}

TEST_F(DirectivesTest, ModelListWithoutAModel) {
  EXPECT_EQ(format_text("%<ModelList>"), "No model active.\n");
}

}  // namespace
}  // namespace tesmar::test
