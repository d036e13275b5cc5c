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

uint64_t handle(uint64_t model, uint64_t entity) { return model << 48 | entity; }

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

TEST_F(DirectivesTest, HandlesAndWideIntegers) {
  EXPECT_EQ(format_text("%<PTR>", handle(2, 5)), "#2:5");
  EXPECT_EQ(format_text("%<PTR>", handle(65535, 0xFFFFFFFFFFFFull)), "#65535:281474976710655");
  EXPECT_EQ(format_text("%<PTR>", uint64_t{0}), "#0:0");
  EXPECT_EQ(format_text("%<PTR2>", uint64_t{255}), "0xff");
  EXPECT_EQ(format_text("%<PTR2>", ~uint64_t{0}), "0xffffffffffffffff");
  EXPECT_EQ(format_text("%<lld> %<llx>", INT64_MIN, uint64_t{0xABCDEF0123456789ull}),
            "-9223372036854775808 abcdef0123456789");
  // Positional arguments: the directive takes the slot its number names.
  EXPECT_EQ(format_text("%2$<PTR> %1$d", 3, handle(1, 9)), "#1:9 3");
}

TEST_F(DirectivesTest, FmtOwnTextsUseTheDirectives) {
  EXPECT_EQ(message(FMT_TEST, 0x007C0000u, handle(2, 5)), "TF = 124:0, PTR = #2:5\n");
  EXPECT_EQ(message(FMT_IGES_ORIG, 0x007C0001u, "part.igs", 17L), "IGES 124:1 part.igs DE#17");
  EXPECT_EQ(message(FMT_MDA_ORIG, "source", handle(3, 1000)), "MDA source model:entity #3:1000");
  EXPECT_EQ(message(FMT_STEP_ORIG, "part.stp", 42L), "STEP part.stp PFID #42");
  EXPECT_EQ(message(FMT_DXFI_ORIG, "part.dxf", "1F"), "DXF part.dxf handle:1F");
  EXPECT_STREQ(mpm_GetMessageName(FMT_LLX), "FMT_LLX");
  EXPECT_STREQ(mpm_GetMessageName(FMT_CURDATE), "FMT_CURDATE");
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

TEST_F(DirectivesTest, ErrorSummaryWithNothingIssued) {
  EXPECT_EQ(format_text("%<ErrorSummary>"), "No errors.\n");
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

TEST_F(DirectivesTest, ReplacingAHandlerAndUnregisteredNames) {
  // The geometry module's text names a directive the library leaves to translators.
  EXPECT_EQ(format_text("%<PTRPFID> %d", 4), "%<PTRPFID> 4");
  // A second start-up replaces the handlers rather than adding duplicates.
  int32_t before = mpm_directive_table->count;
  fmt_Initialize(0);
  EXPECT_EQ(mpm_directive_table->count, before);
  EXPECT_EQ(format_text("%<TF>", 0x00010002u), "1:2");
}

}  // namespace
}  // namespace tesmar::test
