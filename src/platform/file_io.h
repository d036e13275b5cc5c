// Descriptor-level file input and output: open, positioned read and write, size, close, remove.
//
// Every call goes through one table of operations. The library uses the system's; a test may put
// its own table in place (set_file_io) to make any call fail, return short, or report a full disk,
// and so reach every failure path of the code above it. Calls interrupted by a signal are retried;
// a failing call returns -1 and leaves errno as the system (or the test's table) set it. Nothing
// here issues a message: callers decide what a failure means.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tesmar::platform {

// Access requested of open_descriptor (bits).
inline constexpr int kOpenRead = 0x1;       // read only
inline constexpr int kOpenReadWrite = 0x2;  // read and write
inline constexpr int kOpenCreate = 0x4;     // create when missing
inline constexpr int kOpenTruncate = 0x8;   // empty an existing file
inline constexpr int kOpenExclusive = 0x10; // with kOpenCreate: fail (EEXIST) when the name exists

struct FileIo {
  // A descriptor, or -1. `mode` (permission bits) is used when the file is created. Opening never
  // waits for the peer of a FIFO.
  int (*open)(const char *name, int access, int mode);
  // Reads up to n bytes at offset; the count read (0 at the end of the file), or -1.
  int64_t (*read_at)(int fd, void *buffer, std::size_t n, int64_t offset);
  // Writes up to n bytes at offset; the count written (possibly short), or -1.
  int64_t (*write_at)(int fd, const void *buffer, std::size_t n, int64_t offset);
  // Size of the open file in bytes; -1 when it fails or the file is not a regular file.
  int64_t (*size)(int fd);
  // 0 or -1. The descriptor is released either way.
  int (*close)(int fd);
  // Removes a name; 0 or -1.
  int (*remove)(const char *name);
};

// The table in use.
const FileIo &file_io();

// The system's table.
const FileIo &system_file_io();

// Puts a table in place (null restores the system's). For tests.
void set_file_io(const FileIo *io);

// errno, read and cleared, so that a caller can tell a failure from a short count.
int last_error();
void clear_error();

}  // namespace tesmar::platform
