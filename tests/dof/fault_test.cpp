// Every failure of the system calls under the paged file is reported, and nothing in memory is
// corrupted by it: the file table is replaced by one that fails on demand.
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dof_helpers.h"

namespace tesmar::test {
namespace {

using FaultTest = DofTest;

std::string page_bytes(const DofFile *file, int64_t page) {
  for (int32_t i = 0; i < file->buffer_count; ++i)
    if (file->buffers[i].page == page)
      return std::string(reinterpret_cast<char *>(file->buffers[i].data),
                         static_cast<size_t>(file->page_size));
  return "";
}

TEST_F(FaultTest, FailedPageLoadLeavesNoBufferLabelledWithThePage) {
  write_file(path(), std::string(64, 'a') + std::string(64, 'b'));
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_OPEN_EXISTING, path().c_str(), 2, 64, &file), 0u);
  DofPageBuffer *page = nullptr;
  {
    FaultyIo io({.fail_read_at = 1});
    EXPECT_EQ(dof_GetPage(file, 1, &page), DOF_READ_ERR);
    EXPECT_EQ(page, nullptr);
  }
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DOF_READ_ERR) ***\nError reading from file " + path() + ".\n");
  EXPECT_EQ(page_bytes(file, 1), "");
  char byte = 0;
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1, 64, &byte), 0u);  // loaded again, not a stale hit
  EXPECT_EQ(byte, 'b');
  EXPECT_EQ(file->page_hits, 0u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

TEST_F(FaultTest, FailedWriteBackKeepsTheDirtyPage) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 1, 64, &file), 0u);
  std::string data(64, 'd');
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 64, 0, data.data()), 0u);
  char byte = 0;
  {
    FaultyIo io({.fail_write_at = 1, .error = ENOSPC});
    EXPECT_EQ(dof_ReadWrite(DOF_READ, file, 1, 64, &byte), DOF_WRITE_ERR);  // needs the buffer
  }
  EXPECT_EQ(file->buffers[0].page, 0);
  EXPECT_EQ(file->buffers[0].dirty, 1u);
  EXPECT_EQ(page_bytes(file, 0), data);
  EXPECT_EQ(file->page_count, 1);
  ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 1, 64, &byte), 0u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
  EXPECT_EQ(read_file(path()), data + std::string(64, '\0'));
}

TEST_F(FaultTest, ShortWritesAreContinued) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 3, 100, &file), 0u);
  std::string data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 300, 0, data.data()), 0u);
  {
    FaultyIo io({.short_writes = 7});
    EXPECT_EQ(dof_CloseFile(0, file), 0u);
    EXPECT_EQ(FaultyIo::faults().writes, 43);  // three dirty pages in one run, 7 bytes at a time
  }
  EXPECT_EQ(read_file(path()), data);
}

TEST_F(FaultTest, WriteWithoutProgressIsAnError) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(0, path().c_str(), 2, 64, &file), 0u);
  DofPageBuffer *page = nullptr;
  ASSERT_EQ(dof_GetPage(file, 0, &page), 0u);
  FaultyIo io({.zero_writes = true});
  EXPECT_EQ(dof_FlushBuffer(file, page), DOF_WRITE_ERR);
  EXPECT_EQ(page->dirty, 1u);
  EXPECT_EQ(file->physical_writes, 0u);
  // A full disk at close: reported, and the handle is still released.
  EXPECT_EQ(dof_CloseFile(0, file), DOF_WRITE_ERR);
  EXPECT_EQ(FaultyIo::faults().closes, 1);
}

TEST_F(FaultTest, FailedCloseDoesNotCloseTheDescriptorTwice) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_STATISTICS, path().c_str(), 2, 64, &file), 0u);
  FaultyIo io({.fail_close_at = 1});
  testing::internal::CaptureStdout();
  EXPECT_EQ(dof_CloseFile(0, file), DOF_CLOSE_ERR);
  EXPECT_EQ(file->descriptor, -1);
  EXPECT_EQ(dof_CloseFile(0, file), 0u);  // releases the handle only
  std::string report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(FaultyIo::faults().closes, 1);
  EXPECT_EQ(report.find("Statistics for file"), report.rfind("Statistics for file"));  // once
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DOF_CLOSE_ERR) ***\nError closing file " + path() + ".\n");
}

TEST_F(FaultTest, FailedOpenReleasesEverything) {
  DofFile *file = nullptr;
  {
    FaultyIo io({.fail_open_at = 1, .error = EACCES});
    EXPECT_EQ(dof_OpenFile(0, path().c_str(), 2, 64, &file), DOF_OPEN_ERR);
    EXPECT_EQ(file, nullptr);
  }
  write_file(path(), "abc");
  {
    FaultyIo io({.fail_size_at = 1});
    EXPECT_EQ(dof_OpenFile(DOF_OPEN_EXISTING, path().c_str(), 2, 64, &file), DOF_OPEN_ERR);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(FaultyIo::faults().closes, 1);  // the descriptor it had is closed
  }
  EXPECT_EQ(read_file(path()), "abc");
}

TEST_F(FaultTest, AllocationWhoseFreeBlockCannotBeTakenAppends) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 1, 64, &file), 0u);
  int64_t a, b, c;
  ASSERT_EQ(dof_AllocateBlock(file, 100, &a), 0u);  // pages 0..1
  ASSERT_EQ(dof_AllocateBlock(file, 100, &b), 0u);  // pages 1..3
  ASSERT_EQ(dof_FreeBlock(file, a), 0u);
  char byte = 'x';
  ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, 1, b, &byte), 0u);
  int64_t end = file->end;
  {
    // Page 0 is not in the only buffer, whose dirty page cannot be written back.
    FaultyIo io({.fail_write_at = 1});
    ASSERT_EQ(dof_AllocateBlock(file, 100, &c), 0u);
  }
  EXPECT_EQ(c, end + 8);
  EXPECT_EQ(pending_codes().front(), DOF_WRITE_ERR);
  ASSERT_NE(file->free_list->head, nullptr);
  EXPECT_EQ(file->free_list->head->offset, 0);
  EXPECT_EQ(file->free_list->head->size, 100u);
  ASSERT_TRUE(dof::index_consistent(file->free_list));
  {
    FaultyIo io({.all_writes_fail = true});
    int64_t d = -1;
    EXPECT_EQ(dof_AllocateBlock(file, 100, &d), DOF_WRITE_ERR);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(file->end, end + 108);
    EXPECT_EQ(file->free_list->head->size, 100u);
    EXPECT_EQ(dof_CloseFile(0, file), DOF_WRITE_ERR);
  }
}

TEST_F(FaultTest, FailedHeaderReadLeavesTheFreeListAlone) {
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 1, 64, &file), 0u);
  int64_t a, b;
  ASSERT_EQ(dof_AllocateBlock(file, 100, &a), 0u);
  ASSERT_EQ(dof_AllocateBlock(file, 100, &b), 0u);
  {
    FaultyIo io({.fail_read_at = 1});
    EXPECT_EQ(dof_FreeBlock(file, a), DOF_READ_ERR);
    uint32_t size = 0;
    EXPECT_EQ(dof_GetBlockSize(file, a, &size), 0u);  // the second read succeeds
    EXPECT_EQ(size, 100u);
  }
  EXPECT_EQ(file->free_list->head, nullptr);
  EXPECT_EQ(file->free_list->free_requests, 0u);
  ASSERT_EQ(dof_FreeBlock(file, a), 0u);
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

// Random failures of reads and writes through long sequences: every failure is reported, and once
// the failures stop, every block holds exactly what was written to it.
std::mt19937 g_fault_rng;
int64_t flaky_read(int fd, void *buffer, size_t n, int64_t offset) {
  if (g_fault_rng() % 16 == 0) {
    errno = EIO;
    return -1;
  }
  return platform::system_file_io().read_at(fd, buffer, n, offset);
}
int64_t flaky_write(int fd, const void *buffer, size_t n, int64_t offset) {
  unsigned r = g_fault_rng() % 16;
  if (r == 0) {
    errno = ENOSPC;
    return -1;
  }
  if (r == 1 && n > 1) n /= 2;  // short, then continued
  return platform::system_file_io().write_at(fd, buffer, n, offset);
}

TEST_F(FaultTest, RandomFailuresCorruptNothing) {
  platform::FileIo flaky = platform::system_file_io();
  flaky.read_at = flaky_read;
  flaky.write_at = flaky_write;
  g_fault_rng.seed(7);
  std::mt19937 rng(11);
  DofFile *file = nullptr;
  ASSERT_EQ(dof_OpenFile(DOF_FREE_LIST, path().c_str(), 3, 128, &file), 0u);
  struct Block {
    uint32_t capacity;
    std::string bytes;
  };
  std::map<int64_t, Block> live;
  int failures = 0;
  for (int i = 0; i < 3000; ++i) {
    platform::set_file_io(&flaky);
    unsigned op = rng() % 10;
    mpm_Status status = 0;
    if (op < 4 || live.empty()) {
      uint32_t size = 1 + rng() % 700;
      int64_t address = 0;
      status = dof_AllocateBlock(file, size, &address);
      platform::set_file_io(nullptr);
      if (status == 0) {
        uint32_t capacity = 0;
        char header[8];
        ASSERT_EQ(dof_ReadWrite(DOF_READ, file, 8, address - 8, header), 0u);
        std::memcpy(&capacity, header + 4, 4);
        ASSERT_GE(capacity, size);
        std::string bytes(capacity, '\0');
        ASSERT_EQ(dof_ReadWrite(DOF_READ, file, capacity, address, bytes.data()), 0u);
        ASSERT_FALSE(live.count(address));
        live[address] = {capacity, bytes};
      }
    } else {
      auto it = live.begin();
      std::advance(it, static_cast<long>(rng() % live.size()));
      int64_t address = it->first;
      Block &block = it->second;
      if (op < 6) {
        status = dof_FreeBlock(file, address);
        platform::set_file_io(nullptr);
        if (status == 0) live.erase(it);
      } else if (op < 8) {
        std::string data(block.capacity, '\0');
        for (char &c : data) c = static_cast<char>(rng());
        status = dof_ReadWrite(DOF_WRITE, file, block.capacity, address, data.data());
        platform::set_file_io(nullptr);
        if (status != 0) {  // some chunks may be done: write the whole block again
          ASSERT_EQ(dof_ReadWrite(DOF_WRITE, file, block.capacity, address, data.data()), 0u);
        }
        block.bytes = data;
      } else {
        std::string back(block.capacity, '\0');
        status = dof_ReadWrite(DOF_READ, file, block.capacity, address, back.data());
        platform::set_file_io(nullptr);
        if (status == 0) {
          ASSERT_EQ(back, block.bytes);
        }
      }
    }
    if (status != 0) {
      ++failures;
      ASSERT_TRUE(status == DOF_READ_ERR || status == DOF_WRITE_ERR) << std::hex << status;
      ASSERT_EQ(pending_codes().front(), status);
      mpm_DiscardPending(0);
    }
    ASSERT_TRUE(dof::index_consistent(file->free_list));
  }
  EXPECT_GT(failures, 100);
  for (auto &[address, block] : live) {
    std::string back(block.capacity, '\0');
    ASSERT_EQ(dof_ReadWrite(DOF_READ, file, block.capacity, address, back.data()), 0u);
    ASSERT_EQ(back, block.bytes);
  }
  ASSERT_EQ(dof_CloseFile(0, file), 0u);
}

}  // namespace
}  // namespace tesmar::test
