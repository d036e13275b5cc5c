// The page layer: open, close, look-up and replacement, transfers, statistics.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dof_helpers.h"

namespace tesmar::test {
namespace {

using PagedFileTest = DofTest;

TEST_F(PagedFileTest, FailedOpenLeavesNoHandle) {
  DofFile *file = reinterpret_cast<DofFile *>(0x1);
  EXPECT_EQ(dof_OpenFile(DOF_OPEN_EXISTING, path("missing").c_str(), 4, 64, &file), DOF_OPEN_ERR);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DOF_OPEN_ERR) ***\nError opening file " + path("missing") + ".\n");
  file = reinterpret_cast<DofFile *>(0x1);
  EXPECT_EQ(dof_OpenFile(DOF_READ_ONLY, dir_.path().c_str(), 4, 64, &file), DOF_OPEN_ERR);
  EXPECT_EQ(file, nullptr);  // a directory is not a paged file
  EXPECT_EQ(dof_OpenFile(0, "", 4, 64, &file), DOF_OPEN_ERR);
  EXPECT_EQ(dof_OpenFile(0, nullptr, 4, 64, &file), DOF_OPEN_ERR);
  EXPECT_EQ(dof_OpenFile(0, path().c_str(), 4, 64, nullptr), DOF_BAD_SLOT);
  // More buffers than the page index can number: refused before anything large is allocated
  // (and before the file is made).
  EXPECT_EQ(dof_OpenFile(0, path().c_str(), INT32_MAX, 1, &file), DOF_MALLOC_ERR);
  EXPECT_EQ(dof_OpenFile(0, path().c_str(), (1 << 30) + 1, 1, &file), DOF_MALLOC_ERR);
  EXPECT_EQ(file, nullptr);
  EXPECT_FALSE(std::filesystem::exists(path()));
  if (!kSanitized) {  // the sanitizer stops the process instead of failing
    EXPECT_EQ(dof_OpenFile(0, path().c_str(), INT32_MAX, INT32_MAX, &file), DOF_MALLOC_ERR);
    EXPECT_EQ(file, nullptr);
  }
}

TEST_F(PagedFileTest, TemporaryFileIsCreatedExclusivelyAndTakesTheNextFreeName) {
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
  DofFile *file = nullptr;
  {
    // The first name is taken by someone else between naming and opening.
    FaultyIo io({.fail_open_at = 1, .error = EEXIST});
    ASSERT_EQ(dof_OpenFile(DOF_TEMPORARY, nullptr, 2, 64, &file), 0u);
    EXPECT_EQ(FaultyIo::faults().opens, 2);
    EXPECT_EQ(FaultyIo::faults().last_access,
              platform::kOpenReadWrite | platform::kOpenCreate | platform::kOpenExclusive);
    EXPECT_EQ(FaultyIo::faults().last_mode, 0600);
  }
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_TRUE(pending_codes().empty());
  {
    // Any other failure is the open's failure, with the name it tried.
    FaultyIo io({.fail_open_at = 1, .error = EACCES});
    file = reinterpret_cast<DofFile *>(0x1);
    EXPECT_EQ(dof_OpenFile(DOF_TEMPORARY, nullptr, 2, 64, &file), DOF_OPEN_ERR);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(FaultyIo::faults().opens, 1);
  }
  const std::string text = pending_texts().front();
  EXPECT_EQ(text.rfind("*** Error (DOF_OPEN_ERR) ***\nError opening file " + dir_.path() + "/t", 0),
            0u)
      << text;
  mpm_DiscardPending(0);
  // A directory too long to form a name in: no name, no file.
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", (dir_.path() + "/" + std::string(1100, 'd')).c_str()), 0u);
  EXPECT_EQ(dof_OpenFile(DOF_TEMPORARY, nullptr, 2, 64, &file), DOF_OPEN_ERR);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DOF_OPEN_ERR) ***\nError opening file "
            "(no temporary name could be formed).\n");
}

TEST_F(PagedFileTest, ReadOnlyFileIsNeverWritten) {
  write_file(path(), std::string(128, 'r'));
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_READ_ONLY | DOF_FREE_LIST, path().c_str(), 2, 64, &file), 0u);
  char byte = 'w';
  EXPECT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, 3, &byte), DOF_WRITE_ERR);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 1, 128, &byte), DOF_WRITE_ERR);  // would grow the file
  EXPECT_EQ(file->page_count, 2);
  int64_t address = 0;
  EXPECT_EQ(dof_AllocateBlock(file, 10, &address), DOF_WRITE_ERR);
  DofPageBuffer *page = nullptr;
  ASSERT_EQ(dof_GetPage(file, 0, &page), 0u);
  page->data[0] = 'x';
  page->dirty = 1;  // a careless caller
  EXPECT_EQ(dof_FlushBuffer(file, page), DOF_WRITE_ERR);
  EXPECT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), std::string(128, 'r'));
}

TEST_F(PagedFileTest, BadOffsetsAndCountsAreRefused) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 2, 64, &file), 0u);
  char buffer[16] = {};
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 1, -1, buffer), DOF_BAD_OFFSET);  // "never written"
  EXPECT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, INT64_MIN, buffer), DOF_BAD_OFFSET);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 1, INT64_MAX, buffer), DOF_BAD_OFFSET);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 16, INT64_MAX - 8, buffer), DOF_BAD_OFFSET);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, UINT32_MAX, INT64_MAX - UINT32_MAX / 2, buffer),
            DOF_BAD_OFFSET);
  EXPECT_EQ(dof_ReadWrite(2, file, 1, 0, buffer), DOF_BAD_SLOT);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, nullptr, 1, 0, buffer), DOF_BAD_SLOT);
  EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 1, 0, nullptr), DOF_BAD_SLOT);
  DofPageBuffer *page = nullptr;
  EXPECT_EQ(dof_GetPage(file, -1, &page), DOF_BAD_OFFSET);
  EXPECT_EQ(dof_GetPage(file, INT64_MAX / 64, &page), DOF_BAD_OFFSET);
  DofPageBuffer stranger{};
  EXPECT_EQ(dof_FlushBuffer(file, &stranger), DOF_BAD_SLOT);
  EXPECT_EQ(file->page_count, 0);  // nothing grew
  EXPECT_EQ(pending_texts().back(),
            "*** Error (DOF_BAD_OFFSET) ***\nBad offset specified into file " + path() + ".\n");
  EXPECT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(dof_CloseFile(0, nullptr), DOF_BAD_SLOT);
}

constexpr const char *kReportHead =
    "\n\nStatistics for file %s:\n"
    "========================================================================================\n"
    "Page Buffer Stats:\n"
    "     buffer     buffer       read      write      total       phsy       phsy      total\n"
    "      count       size      rqsts      rqsts      rqsts      reads     writes        r/w\n"
    "----------------------------------------------------------------------------------------\n";
constexpr const char *kReportPages =
    "========================================================================================\n"
    "       page       page      hit       file\n"
    "      rqsts       hits    ratio       size\n"
    "----------------------------------------------------------------------------------------\n";
constexpr const char *kReportFree =
    "========================================================================================\n"
    "Free List Stats:\n"
    "             alloc       free      avg     free\n"
    "             rqsts      rqsts     size     blocks\n"
    "----------------------------------------------------------------------------------------\n";

std::string head(const std::string &name) {
  std::string text = kReportHead;
  text.replace(text.find("%s"), 2, name);
  return text;
}

TEST_F(PagedFileTest, StatisticsReportCountsEveryRequestAndPage) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST | DOF_STATISTICS, path().c_str(), 2, 100, &file), 0u);
  int64_t a = 0, b = 0, c = 0;
  ASSERT_EQ(dof_AllocateBlock(file, 50, &a), 0u);  // header write: page 0 created
  ASSERT_EQ(dof_AllocateBlock(file, 50, &b), 0u);  // header write: hit
  ASSERT_EQ(dof_FreeBlock(file, a), 0u);           // header read: hit
  std::string data(100, 's');
  // Pages 1 and 2 are created; the second takes page 1's buffer, which is written back: page 0,
  // used three times, outweighs it.
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 100, 150, data.data()), 0u);
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 10, 0, data.data()), 0u);  // page 0 is held: a hit
  ASSERT_EQ(dof_AllocateBlock(file, 30, &c), 0u);  // the freed block, taken whole: a hit
  EXPECT_EQ(c, a);
  testing::internal::CaptureStdout();
  ASSERT_EQ(dof_CloseFile(0, file), 0u);  // prints the report first
  std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(report, head(path()) +
                        "          2        100          2          4          6          0"
                        "          1          1\n" +
                        kReportPages + "          7          4    57.14        300\n" +
                        kReportFree + "Totals:          3          1    43.33          0\n");
}

}  // namespace
}  // namespace tesmar::test
