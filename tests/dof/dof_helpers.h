// Shared helpers of the paged-file tests: a started library with a scratch directory, and a file
// table that fails on demand.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "dof/dof_internal.h"
#include "platform/file_io.h"
#include "support/library.h"

namespace tesmar::test {

class DofTest : public LibraryTest {
 protected:
  TempDir dir_;
  std::string path(const char *name = "paged.dat") const { return dir_.file(name); }
};

// A file table that forwards to the system's and fails where a test asks:
//  fail_*_at: the n-th call (1-based, counted from install) fails with `error`;
//  short_writes: writes move at most this many bytes; zero_writes: writes report 0 bytes.
struct Faults {
  int fail_open_at = 0, fail_read_at = 0, fail_write_at = 0, fail_size_at = 0, fail_close_at = 0;
  int error = EIO;
  int64_t short_writes = 0;
  bool zero_writes = false;
  bool all_writes_fail = false;
  int opens = 0, reads = 0, writes = 0, sizes = 0, closes = 0, removes = 0;
  int last_access = 0, last_mode = 0;  // of the last open
};

class FaultyIo {
 public:
  explicit FaultyIo(Faults faults) {
    faults_ = faults;
    platform::set_file_io(&kTable);
  }
  ~FaultyIo() { platform::set_file_io(nullptr); }
  FaultyIo(const FaultyIo &) = delete;
  FaultyIo &operator=(const FaultyIo &) = delete;
  static Faults &faults() { return faults_; }

 private:
  static int open(const char *name, int access, int mode) {
    faults_.last_access = access;
    faults_.last_mode = mode;
    if (++faults_.opens == faults_.fail_open_at) return fail();
    return platform::system_file_io().open(name, access, mode);
  }
  static int64_t read_at(int fd, void *buffer, std::size_t n, int64_t offset) {
    if (++faults_.reads == faults_.fail_read_at) return fail();
    return platform::system_file_io().read_at(fd, buffer, n, offset);
  }
  static int64_t write_at(int fd, const void *buffer, std::size_t n, int64_t offset) {
    if (++faults_.writes == faults_.fail_write_at || faults_.all_writes_fail) return fail();
    if (faults_.zero_writes) return 0;
    if (faults_.short_writes > 0 && static_cast<int64_t>(n) > faults_.short_writes)
      n = static_cast<std::size_t>(faults_.short_writes);
    return platform::system_file_io().write_at(fd, buffer, n, offset);
  }
  static int64_t size(int fd) {
    if (++faults_.sizes == faults_.fail_size_at) return fail();
    return platform::system_file_io().size(fd);
  }
  static int close(int fd) {
    int result = platform::system_file_io().close(fd);  // released either way, as the system does
    if (++faults_.closes == faults_.fail_close_at) return fail();
    return result;
  }
  static int remove(const char *name) {
    ++faults_.removes;
    return platform::system_file_io().remove(name);
  }
  static int fail() {
    errno = faults_.error;
    return -1;
  }
  static inline Faults faults_;
  static constexpr platform::FileIo kTable{open, read_at, write_at, size, close, remove};
};

}  // namespace tesmar::test
