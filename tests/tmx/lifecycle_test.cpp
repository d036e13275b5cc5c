// Start-up nesting, shut-down order and restart, observed through the module registry.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <ctime>
#include <vector>

#include "support/library.h"
#include "tmx/tmx_internal.h"

namespace tesmar::test {
namespace {

struct Entry {
  int32_t id;
  std::string name;
  uint16_t count;
  const mpm_MsgName *names;
};

TEST(Lifecycle, StartTimesAreTakenAtEveryFullStart) {
  tmx_Initialize(0);
  std::clock_t first = tmx::start_times().clock;
  EXPECT_NE(tmx::start_times().time, 0);
  tmx_Terminate(0);
  // Use some processor time so that the clock moves.
  std::clock_t until = std::clock() + CLOCKS_PER_SEC / 50;
  volatile unsigned sink = 0;
  while (std::clock() < until) sink = sink + 1;
  tmx_Initialize(0);
  EXPECT_GT(tmx::start_times().clock, first);
  tmx_Initialize(0);  // nested: the times stay
  std::clock_t second = tmx::start_times().clock;
  EXPECT_GE(tmx::processor_seconds_since_start(), 0.0);
  EXPECT_LT(tmx::processor_seconds_since_start(), 60.0);  // seconds, not clock ticks
  EXPECT_GE(tmx::elapsed_seconds_since_start(), 0.0);
  tmx_Terminate(0);
  EXPECT_EQ(tmx::start_times().clock, second);
  tmx_Terminate(0);
}

TEST(Lifecycle, MessagesWhileStoppedReturnTheirCode) {
  tmx_Initialize(0);
  tmx_Terminate(0);
  OutputCapture capture;
  EXPECT_EQ(mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR), OTM_NOTFOUND);
  EXPECT_EQ(mpm_ReportMessage(0, UGN_FILE_OPEN_ERROR, MPM_ERROR, "x", 2), UGN_FILE_OPEN_ERROR);
  EXPECT_EQ(mpm_IssueMessage(MPM_IMMEDIATE, TMX_NOT_FOUND, MPM_ERROR, "x"), TMX_NOT_FOUND);
  EXPECT_EQ(mpm_IssueUserMessage(0, " text %d\n", MPM_ERROR, 1), MPM_USER_DEFINED);
  EXPECT_NE(mpm_GetMessageName(OTM_NOTFOUND), nullptr);
  mpm_Status code = 0;
  EXPECT_EQ(tmx_GetMessageCode("NOUNDERSCORE", &code), TMX_BAD_MSG_NAME);
  EXPECT_EQ(mpm_DiscardPending(0), 0u);
  EXPECT_EQ(mpm_FlushPending(0), 0u);
}

TEST(Lifecycle, StreamTableHoldsTwentyStreamsAndIsEmptiedAtStart) {
  tmx_Initialize(0);
  TempDir dir;
  std::vector<FILE *> streams;
  for (int i = 0; i < TMX_STREAM_SLOTS; ++i) {
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(tmx_RegisterStream(f), i);
    streams.push_back(f);
  }
  EXPECT_EQ(tmx_FindStream(streams[7]), 7);
  EXPECT_EQ(tmx_RegisterStream(nullptr), -1);
  // The 21st is closed and refused; its descriptor is free again afterwards.
  std::string path = dir.file("extra");
  FILE *extra = std::fopen(path.c_str(), "w");
  ASSERT_NE(extra, nullptr);
  int fd = fileno(extra);
  EXPECT_EQ(tmx_RegisterStream(extra), -1);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(tmx_FindStream(nullptr), -1);
  tmx_Terminate(0);
  tmx_Initialize(0);
  EXPECT_EQ(tmx_FindStream(streams[7]), -1);
  for (FILE *f : streams) std::fclose(f);
  tmx_Terminate(0);
}

}  // namespace
}  // namespace tesmar::test
