// The system's descriptor-level file operations (POSIX), behind the table of file_io.h. Opening,
// closing, sizing and removing go through the platform's file calls (platform.h).
#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace tesmar::platform {
namespace {

int system_open(const char *name, int access, int mode) {
  // Non-blocking: opening a FIFO must not wait for a peer (and the size check refuses it after).
  int flags = O_CLOEXEC | O_NONBLOCK;
  flags |= (access & kOpenReadWrite) ? O_RDWR : O_RDONLY;
  if (access & kOpenCreate) flags |= O_CREAT;
  if (access & kOpenTruncate) flags |= O_TRUNC;
  if (access & kOpenExclusive) flags |= O_EXCL;
  return open_file(name, flags, mode);
}

int64_t system_read_at(int fd, void *buffer, std::size_t n, int64_t offset) {
  ssize_t got;
  do {
    got = ::pread(fd, buffer, n, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
}

int64_t system_write_at(int fd, const void *buffer, std::size_t n, int64_t offset) {
  ssize_t put;
  do {
    put = ::pwrite(fd, buffer, n, static_cast<off_t>(offset));
  } while (put < 0 && errno == EINTR);
  return put;
}

int64_t system_size(int fd) {
  FileStatus status;
  if (!stat_descriptor(fd, &status)) return -1;
  if (status.kind != FileKind::kRegular) {
    errno = status.kind == FileKind::kDirectory ? EISDIR : EINVAL;
    return -1;
  }
  return status.size;
}

int system_close(int fd) { return close_descriptor(fd); }

int system_remove(const char *name) { return remove_file(name); }

constexpr FileIo kSystem{system_open, system_read_at, system_write_at,
                         system_size, system_close,   system_remove};

const FileIo *g_current = &kSystem;

}  // namespace

const FileIo &file_io() { return *g_current; }

const FileIo &system_file_io() { return kSystem; }

void set_file_io(const FileIo *io) { g_current = io != nullptr ? io : &kSystem; }

int last_error() { return errno; }

void clear_error() { errno = 0; }

}  // namespace tesmar::platform
