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

std::string bytes_of(size_t n, char c) { return std::string(n, c); }

TEST_F(PagedFileTest, OpenAppliesDefaultsAndCreatesAnEmptyFile) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 0, -5, &file), 0u);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->buffer_count, 16);
  EXPECT_EQ(file->page_size, 4096);
  EXPECT_EQ(file->page_count, 0);
  EXPECT_EQ(file->end, 0);
  EXPECT_EQ(file->free_list, nullptr);
  EXPECT_EQ(std::string(file->name), path());
  for (int i = 0; i < file->buffer_count; ++i) EXPECT_EQ(file->buffers[i].page, -1);
  EXPECT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), "");
  EXPECT_TRUE(pending_codes().empty());
}

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
#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define TESMAR_HUGE_ALLOCATIONS_FAIL 1
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define TESMAR_HUGE_ALLOCATIONS_FAIL 1
#endif
#endif
#ifdef TESMAR_HUGE_ALLOCATIONS_FAIL  // the sanitizer stops the process instead of failing
  // Buffers that cannot be had.
  EXPECT_EQ(dof_OpenFile(0, path().c_str(), INT32_MAX, INT32_MAX, &file), DOF_MALLOC_ERR);
  EXPECT_EQ(file, nullptr);
#endif
}

TEST_F(PagedFileTest, TemporaryFileIsPrivateAndRemovedAtClose) {
  ASSERT_EQ(ugn_PutEnv(0, "TESMAR_TMP", dir_.path().c_str()), 0u);
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_TEMPORARY | DOF_FREE_LIST, path("ignored").c_str(), 2, 64, &file),
            0u);
  ASSERT_NE(file, nullptr);
  const std::string name = file->name;
  EXPECT_EQ(name.rfind(dir_.path() + "/t", 0), 0u) << name;
  EXPECT_FALSE(std::filesystem::exists(path("ignored")));
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Enough blocks that pages are written out when their buffers are reused.
  std::vector<int64_t> blocks;
  for (int i = 0; i < 8; ++i) {
    int64_t address = 0;
    ASSERT_EQ(dof_AllocateBlock(file, 50, &address), 0u);
    std::string data(50, static_cast<char>('a' + i));
    ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 50, address, data.data()), 0u);
    blocks.push_back(address);
  }
  for (int i = 0; i < 8; ++i) {
    std::string back(50, '\0');
    ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 50, blocks[static_cast<size_t>(i)], back.data()), 0u);
    EXPECT_EQ(back, std::string(50, static_cast<char>('a' + i)));
  }
  EXPECT_GT(file->physical_writes, 0u);
  // A second temporary file gets a name of its own.
  DofFile *other = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_TEMPORARY, nullptr, 2, 64, &other), 0u);
  EXPECT_NE(std::string(other->name), name);
  const std::string other_name = other->name;
  ASSERT_EQ(dof_CloseFile(0, other), 0u);
  EXPECT_FALSE(std::filesystem::exists(other_name));
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_FALSE(std::filesystem::exists(name));
  EXPECT_TRUE(pending_codes().empty());
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

TEST_F(PagedFileTest, WrittenBytesComeBackAfterReopening) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 2, 64, &file), 0u);
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7 + 3));
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 1000, 30, data.data()), 0u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  std::string on_disk = read_file(path());
  ASSERT_EQ(on_disk.size(), 1088u);  // 17 whole pages
  EXPECT_EQ(on_disk.substr(0, 30), bytes_of(30, '\0'));
  EXPECT_EQ(on_disk.substr(30, 1000), data);

  ASSERT_EQ(dof_OpenFile(DOF_OPEN_EXISTING, path().c_str(), 3, 64, &file), 0u);
  EXPECT_EQ(file->page_count, 17);
  EXPECT_EQ(file->end, 1088);
  std::string back(1000, '\0');
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1000, 30, back.data()), 0u);
  EXPECT_EQ(back, data);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, TransferAcrossPagesTouchesEachPageOnceAndCountsOneRequest) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 8, 100, &file), 0u);
  std::string data(250, 'x');
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 250, 90, data.data()), 0u);  // pages 0..3
  EXPECT_EQ(file->write_requests, 1u);
  EXPECT_EQ(file->page_requests, 4u);
  EXPECT_EQ(file->page_count, 4);
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 0, 90, data.data()), 0u);  // nothing to move
  EXPECT_EQ(file->read_requests, 1u);
  EXPECT_EQ(file->page_requests, 4u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, ReadingBeyondTheEndGrowsAWritableFileWithZeros) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 4, 64, &file), 0u);
  std::string back(10, 'q');
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 10, 64 * 9 + 5, back.data()), 0u);
  EXPECT_EQ(back, bytes_of(10, '\0'));
  EXPECT_EQ(file->page_count, 10);
  // A page between the old end and the new one reads as zeros too.
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 10, 64 * 4, back.data()), 0u);
  EXPECT_EQ(back, bytes_of(10, '\0'));
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), bytes_of(640, '\0'));
}

TEST_F(PagedFileTest, OneBufferMissesEveryTimeTwoBuffersHitAfterTheFirstLoads) {
  for (int buffers : {1, 2}) {
    DofFile *file = nullptr;
    ASSERT_EQ(dof_OpenFile(0, path().c_str(), buffers, 64, &file), 0u);
    char byte = 0;
    ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, 64, &byte), 0u);  // pages 0 and 1 exist
    uint32_t hits = file->page_hits;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1, (i % 2) * 64, &byte), 0u);
    if (buffers == 1)
      EXPECT_EQ(file->page_hits - hits, 0u);
    else
      EXPECT_EQ(file->page_hits - hits, 19u);  // page 1 is still held from the write
    ASSERT_EQ(dof_CloseFile(0, file), 0u);
  }
}

TEST_F(PagedFileTest, ReplacementKeepsAFrequentlyUsedPage) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 4, 64, &file), 0u);
  char byte = 1;
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, 64 * 40, &byte), 0u);
  // Page 0 is used on every other request; a scan over 40 other pages must not push it out.
  for (int i = 1; i < 40; ++i) {
    ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1, 0, &byte), 0u);
    ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1, 64 * i, &byte), 0u);
  }
  EXPECT_GE(file->page_hits, 38u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, VictimIsTheOldestAmongBuffersNoHeavierThanTheCandidate) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 3, 64, &file), 0u);
  DofPageBuffer *b = file->buffers;
  // Weights and ages chosen so that the lightest buffer is not the oldest: buffer 0 (weight 10,
  // age 5) is the first candidate, buffer 1 (weight 5, age 3) is younger and does not displace it,
  // buffer 2 (weight 10, age 9) is heavier than the candidate and is passed over.
  file->clock = 99;  // the look-up makes it 100
  b[0].weight = 10; b[0].last_use = 95;
  b[1].weight = 5;  b[1].last_use = 97;
  b[2].weight = 20; b[2].last_use = 91;
  DofPageBuffer *got = nullptr;
  ASSERT_EQ(dof_GetPage(file, 0, &got), 0u);
  EXPECT_EQ(got, &b[0]);
  EXPECT_EQ(got->weight, 128);
  EXPECT_EQ(got->last_use, 100u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, WeightsAreHalvedEverySixteenRequests) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 2, 64, &file), 0u);
  DofPageBuffer *got = nullptr;
  ASSERT_EQ(dof_GetPage(file, 0, &got), 0u);  // clock 1, weight 128
  for (int i = 0; i < 14; ++i) ASSERT_EQ(dof_GetPage(file, 0, &got), 0u);  // clock 15
  EXPECT_EQ(got->weight, 128 * 15);
  ASSERT_EQ(dof_GetPage(file, 0, &got), 0u);  // clock 16: halved, then the hit adds 128
  EXPECT_EQ(got->weight, 128 * 15 / 2 + 128);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, PartialLastPageCountsAndReadsZeroFilled) {
  write_file(path(), std::string(100, 'a'));
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_READ_ONLY, path().c_str(), 2, 64, &file), 0u);
  EXPECT_EQ(file->page_count, 2);
  EXPECT_EQ(file->end, 100);
  std::string back(64, 'z');
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 64, 64, back.data()), 0u);
  EXPECT_EQ(back, bytes_of(36, 'a') + bytes_of(28, '\0'));
  ASSERT_EQ(dof_CloseFile(0, file), 0u);

  // Opened for update, the partial page keeps its bytes when it is written back whole.
  ASSERT_EQ(dof_OpenFile(DOF_OPEN_EXISTING, path().c_str(), 2, 64, &file), 0u);
  char b = 'b';
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, 127, &b), 0u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), bytes_of(100, 'a') + bytes_of(27, '\0') + "b");
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

TEST_F(PagedFileTest, ClosingWritesDirtyPagesBackInBufferOrder) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 4, 64, &file), 0u);
  std::string data(200, 'd');
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 200, 0, data.data()), 0u);
  EXPECT_EQ(file->physical_writes, 0u);  // nothing is written until a buffer is reused or closed
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), data + bytes_of(56, '\0'));
}

TEST_F(PagedFileTest, FlushBufferWritesAndClearsTheMark) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 4, 64, &file), 0u);
  DofPageBuffer *page = nullptr;
  ASSERT_EQ(dof_GetPage(file, 1, &page), 0u);
  std::memset(page->data, 'f', 64);
  page->dirty = 1;
  ASSERT_EQ(dof_FlushBuffer(file, page), 0u);
  EXPECT_EQ(page->dirty, 0u);
  EXPECT_EQ(file->physical_writes, 1u);
  EXPECT_EQ(file->position, 128);
  EXPECT_EQ(read_file(path()), bytes_of(64, '\0') + bytes_of(64, 'f'));
  ASSERT_EQ(dof_FlushBuffer(file, &file->buffers[3]), 0u);  // holds no page: nothing to do
  EXPECT_EQ(file->physical_writes, 1u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
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

TEST_F(PagedFileTest, StatisticsReportOfAnUnusedFile) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 0, 0, &file), 0u);
  testing::internal::CaptureStdout();
  dof_DumpStatistics(file);
  std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(report, head(path()) +
                        "         16       4096          0          0          0          0"
                        "          0          0\n" +
                        kReportPages + "          0          0     0.00          0\n" +
                        kReportFree + "Totals:          0          0     0.00          0\n");
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(PagedFileTest, StatisticsReportCountsEveryRequestAndPage) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST | DOF_STATISTICS, path().c_str(), 2, 100, &file), 0u);
  int64_t a = 0, b = 0, c = 0;
  ASSERT_EQ(dof_AllocateBlock(file, 50, &a), 0u);  // header write: page 0 created
  ASSERT_EQ(dof_AllocateBlock(file, 50, &b), 0u);  // header write: hit
  ASSERT_EQ(dof_FreeBlock(file, a), 0u);           // header read: hit
  std::string data(100, 's');
  // Pages 1 and 2 are created; the second takes page 0's buffer, which is written back.
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 100, 150, data.data()), 0u);
  // Page 0 is loaded again into the buffer of page 1, which is written back first.
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 10, 0, data.data()), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, 30, &c), 0u);  // the freed block, taken whole: a hit
  EXPECT_EQ(c, a);
  testing::internal::CaptureStdout();
  ASSERT_EQ(dof_CloseFile(0, file), 0u);  // prints the report first
  std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(report, head(path()) +
                        "          2        100          2          4          6          1"
                        "          2          3\n" +
                        kReportPages + "          7          3    42.86        300\n" +
                        kReportFree + "Totals:          3          1    43.33          0\n");
}

}  // namespace
}  // namespace tesmar::test
