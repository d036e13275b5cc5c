// Issuing, reporting, counting, limits, handlers, flush and discard.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

using IssueTest = LibraryTest;

std::vector<std::pair<uint32_t, mpm_Status>> g_calls;

TEST_F(IssueTest, ReportWritesItselfThenTheOldestPending) {
  mpm_IssueMessage(0, OTM_INVALIDSIZE, MPM_ERROR, 7);
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_WARNING);
  OutputCapture out;
  mpm_ReportMessage(MPM_SHOW_OLDEST, OLM_INVALIDPOSITION, MPM_ERROR, 4);
  EXPECT_EQ(out.text(stderr),
            "*** Error (OLM_INVALIDPOSITION) ***\nInvalid position = 4\n\n"
            "*** Error (OTM_INVALIDSIZE) ***\nInvalid size = 7\n\n");
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(mpm_last_status, 0u);
  // Dropped messages stay counted.
  EXPECT_EQ(count_of(OTM_NOTFOUND).total, 1);
  EXPECT_EQ(mpm_severity_counts[2], 1);
  EXPECT_EQ(mpm_severity_counts[3], 3);
}

TEST_F(IssueTest, ShowNewestAndShowAllChooseWhatIsWritten) {
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 1);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 2);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 3);
  {
    OutputCapture out;
    mpm_FlushPending(MPM_SHOW_NEWEST);
    EXPECT_EQ(out.text(stderr), "Invalid size = 3\n\n");
  }
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 1);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 2);
  OutputCapture out;
  mpm_FlushPending(MPM_SHOW_ALL);
  EXPECT_EQ(out.text(stderr), "Invalid size = 2\n\nInvalid size = 1\n\n");
}

TEST_F(IssueTest, DiscardTakesMessagesOutOfTheCounts) {
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  OutputCapture out;
  mpm_ReportMessage(MPM_DISCARD_PENDING, OTM_NULLPOINTER, MPM_ERROR);
  EXPECT_EQ(count_of(OTM_NOTFOUND).issued, 0);
  EXPECT_EQ(count_of(OTM_NOTFOUND).total, 0);
  EXPECT_EQ(mpm_severity_counts[3], 1);
  EXPECT_EQ(count_of(OTM_NULLPOINTER).total, 1);
}

TEST_F(IssueTest, DiscardOfUncountedMessageLeavesCountersAlone) {
  mpm_IssueMessage(MPM_NO_COUNT, OTM_NOTFOUND, MPM_ERROR);
  EXPECT_EQ(pending_texts().size(), 1u);
  mpm_DiscardPending(0);
  EXPECT_EQ(mpm_severity_counts[3], 0);
  // No count record was created, by the issue or by the discard.
  EXPECT_EQ(mpm_count_tree->count, 0);
  // A counted message discarded twice cannot drive counters below 0.
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  mpm_ResetCounts(0);
  mpm_DiscardPending(0);
  EXPECT_EQ(mpm_severity_counts[3], 0);
}

TEST_F(IssueTest, SeverityLimitZeroSuppressesTheFirst) {
  mpm_severity_limits[3] = 0;
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(mpm_severity_counts[3], 1);
  EXPECT_EQ(mpm_CheckLimits(OTM_NULLPOINTER, MPM_ERROR), 0);
  EXPECT_EQ(mpm_CheckLimits(OTM_NULLPOINTER, MPM_WARNING), 1);
}

std::jmp_buf g_recovery;
void leave_by_longjmp(uint32_t, mpm_Status) { std::longjmp(g_recovery, 1); }

TEST_F(IssueTest, HandlerMayLeaveByLongjmp) {
  mpm_SetHandler(MPM_ERROR, leave_by_longjmp);
  volatile int reached = 0;
  if (setjmp(g_recovery) == 0) {
    mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
    reached = 1;
  }
  EXPECT_EQ(reached, 0);
  EXPECT_EQ(pending_texts().size(), 1u);  // the message was kept before the handler ran
  mpm_SetHandler(MPM_ERROR, nullptr);
}

TEST_F(IssueTest, InvalidCodesAreCountedAndWrittenAsUnknown) {
  OutputCapture out;
  mpm_ReportMessage(0, 0x00FE0001u, MPM_ERROR);
  EXPECT_EQ(out.text(stderr), "*** Error (UNKNOWN) ***\n..... INVALID MESSAGE .....\n\n");
  out.clear();
  mpm_ReportMessage(0, 0, MPM_INFO);
  EXPECT_EQ(out.text(stderr), "*** Information (NOERR) ***\n..... INVALID MESSAGE .....\n\n");
  EXPECT_EQ(count_of(0x00FE0001u).total, 1);
}

TEST_F(IssueTest, ImmediateReportsAtOnceAndKeepsPending) {
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  OutputCapture out;
  mpm_IssueMessage(MPM_IMMEDIATE, OTM_INVALIDSIZE, MPM_WARNING, 5);
  EXPECT_EQ(out.text(stderr), "*** Warning (OTM_INVALIDSIZE) ***\nInvalid size = 5\n\n");
  EXPECT_EQ(pending_texts().size(), 1u);
}

TEST_F(IssueTest, OptionListCarriesTextStreamSourceAndArguments) {
  OutputCapture out;
  char *text = static_cast<char *>(std::malloc(16));
  std::strcpy(text, "while reading\n");
  mpm_ReportMessage(MPM_OPTIONS, OTM_INVALIDSIZE, MPM_ERROR, MPM_OPT_TEXT, text, MPM_OPT_SOURCE,
                    "file.c", 12, MPM_OPT_STREAM, stdout, MPM_OPT_END, 9);
  EXPECT_EQ(out.text(stdout),
            "*** Error (OTM_INVALIDSIZE) ***\nwhile reading\nInvalid size = 9\n\n");
  EXPECT_STREQ(mpm_source_file, "file.c");
  EXPECT_EQ(mpm_source_line, 12);
}

TEST_F(IssueTest, UserAndPrintMessages) {
  OutputCapture out;
  EXPECT_EQ(mpm_IssueUserMessage(0, "+%2$s has %1$d parts\n", MPM_INFO, 3, "model"),
            MPM_USER_DEFINED);
  EXPECT_EQ(out.text(stderr), "*** Information (MPM_USER_DEFINED) ***\nmodel has 3 parts\n\n");
  out.clear();
  mpm_PrintMessage(MPM_NO_NEWLINE, OTM_INVALIDSIZE, 4);
  EXPECT_EQ(out.text(stdout), "Invalid size = 4\n");
  EXPECT_EQ(mpm_severity_counts[0], 1);  // only the reported user message counted
}

TEST_F(IssueTest, LogFileReceivesEveryLineAndReopenReplacesIt) {
  TempDir dir;
  ASSERT_EQ(mpm_OpenLogFile(0, dir.file("a.log").c_str()), 0u);
  OutputCapture::Line dummy{};
  (void)dummy;
  mpm_output_function = nullptr;  // the default output function (fputs)
  mpm_ReportMessage(MPM_NO_SCREEN, OTM_NOTFOUND, MPM_ERROR);
  ASSERT_EQ(mpm_OpenLogFile(0, dir.file("b.log").c_str()), 0u);
  mpm_ReportMessage(MPM_NO_SCREEN, OTM_NULLPOINTER, MPM_ERROR);
  EXPECT_EQ(mpm_CloseLogFile(0), 0u);
  EXPECT_EQ(mpm_CloseLogFile(0), 0u);  // none open: nothing to do
  EXPECT_EQ(mpm_log_stream, nullptr);
  EXPECT_EQ(read_file(dir.file("a.log")), "*** Error (OTM_NOTFOUND) ***\nObject not found\n\n");
  EXPECT_EQ(read_file(dir.file("b.log")), "*** Error (OTM_NULLPOINTER) ***\nNULL pointer\n\n");
  EXPECT_EQ(mpm_OpenLogFile(0, dir.file("no/such/dir.log").c_str()), MPM_OPENERROR);
  EXPECT_EQ(mpm_log_stream, nullptr);
}

}  // namespace
}  // namespace tesmar::test
