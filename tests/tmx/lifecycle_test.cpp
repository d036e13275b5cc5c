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

std::vector<Entry> registry() {
  std::vector<Entry> entries;
  for (int32_t id = 0; id < 256; ++id) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(id);
    if (desc->count != 0) entries.push_back({id, desc->name, desc->count, desc->names});
  }
  return entries;
}

bool same(const std::vector<Entry> &a, const std::vector<Entry> &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].id != b[i].id || a[i].name != b[i].name || a[i].count != b[i].count ||
        a[i].names != b[i].names)
      return false;
  return true;
}

TEST(Lifecycle, StartRegistersTheKernelAndEveryStartedModule) {
  mpm_ClearRegistry(0);
  tmx_Initialize(0);
  std::vector<Entry> entries = registry();
  std::vector<std::pair<int32_t, std::string>> ids;
  for (const Entry &e : entries) ids.emplace_back(e.id, e.name);
  const std::vector<std::pair<int32_t, std::string>> expected = {
      {0, "TMX"}, {1, "MPM"}, {2, "OLM"}, {3, "OTM"}, {4, "OSM"}, {5, "OQM"}, {10, "UGN"}};
  for (const auto &want : expected)
    EXPECT_NE(std::find(ids.begin(), ids.end(), want), ids.end()) << want.second;
  EXPECT_EQ(mpm_GetModuleDesc(10)->count, 21);
  EXPECT_EQ(mpm_GetModuleDesc(0)->count, 13);
  // UNL is started by its client, not by the kernel.
  EXPECT_EQ(mpm_GetModuleDesc(24)->count, 0);
  tmx_Terminate(0);
}

TEST(Lifecycle, NestedStartsOnlyCount) {
  tmx_Initialize(0);
  tmx_Initialize(0);
  ASSERT_NE(mpm_pending_list, nullptr);
  tmx_Terminate(0);
  // Still started: the message system keeps its pending list and counts.
  ASSERT_NE(mpm_pending_list, nullptr);
  EXPECT_EQ(mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR), OTM_NOTFOUND);
  EXPECT_EQ(pending_texts().size(), 1u);
  tmx_Terminate(0);
  // Stopped: the message system's state is gone.
  EXPECT_EQ(mpm_pending_list, nullptr);
  EXPECT_EQ(mpm_count_tree, nullptr);
  // A third terminate does nothing, and the next start is a full start again.
  tmx_Terminate(0);
  tmx_Initialize(0);
  EXPECT_NE(mpm_pending_list, nullptr);
  EXPECT_TRUE(pending_texts().empty());
  tmx_Terminate(0);
  EXPECT_EQ(mpm_pending_list, nullptr);
}

TEST(Lifecycle, RestartRegistersEveryTableAgain) {
  tmx_Initialize(0);
  std::vector<Entry> first = registry();
  tmx_Terminate(0);
  // A client clearing the registry while stopped must not leave any module unknown afterwards.
  mpm_ClearRegistry(0);
  tmx_Initialize(0);
  EXPECT_TRUE(same(first, registry()));
  for (const Entry &e : first) {
    mpm_Status code = (static_cast<mpm_Status>(e.id) << 16) | e.count;
    EXPECT_STRNE(mpm_GetMessageName(code), "UNKNOWN") << e.name;
  }
  EXPECT_STREQ(mpm_GetMessageName(UGN_FILE_CLOSE_ERROR), "UGN_FILE_CLOSE_ERROR");
  tmx_Terminate(0);
}

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
