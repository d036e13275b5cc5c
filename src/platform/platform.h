// The library's only contact with the operating system.
//
// File names are UTF-8 and are handed to the system as they are. Every function here retries calls
// interrupted by signals and leaves errno as the failing system call set it; none of them issues a
// message: callers decide what a failure means.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tesmar::platform {

// What stat says about a name.
enum class FileKind { kMissing, kRegular, kDirectory, kFifo, kOther };

struct FileStatus {
  FileKind kind = FileKind::kMissing;
  int64_t size = 0;      // bytes, for regular files
  uint64_t device = 0;   // device and inode identify the file
  uint64_t inode = 0;
  uint32_t permissions = 0;  // the permission bits (07777)
  uint64_t links = 0;        // number of hard links
};

// stat() of a name (symbolic links followed). False with errno set when it fails.
bool stat_file(const char *name, FileStatus *status);

// Whether something stands under a name: false for a null or empty name and when stat() says
// the name or a directory on its path is missing; true otherwise, also when stat() fails for
// another reason (a directory that cannot be searched): the question stays open then.
bool file_exists(const char *name);

// lstat() of a name: a symbolic link is described itself (kind kOther), not the file it names.
bool link_status(const char *name, FileStatus *status);

// fstat() of an open descriptor.
bool stat_descriptor(int fd, FileStatus *status);

// open() of a name with this platform's flags; `mode` is read only when the flags create a file.
// The descriptor, or -1 with errno set.
int open_file(const char *name, int flags, int mode);

// Opens a stream the way fopen() does ("r", "w", "a", "r+", ... with 'b', 't', 'x' and 'e'
// accepted), except that opening a FIFO never blocks: a FIFO without a writer reads as empty, and
// one without a reader cannot be opened for writing (ENXIO). Null with errno set on failure;
// errno is kept across the clean-up of a failed open.
FILE *open_stream(const char *name, const char *mode);

// read(): up to `size` bytes; the count read (0 at the end of the file), or -1 with errno set.
int64_t read_descriptor(int fd, void *buffer, std::size_t size);

// lseek(); the new offset, or -1 with errno set.
int64_t seek_descriptor(int fd, int64_t offset, int whence);

// close(); 0 or -1 with errno set (EINTR is not retried: the descriptor is gone either way).
int close_descriptor(int fd);

// unlink(); 0 or -1 with errno set.
int remove_file(const char *name);

// Opens a name for reading (O_RDONLY | O_CLOEXEC) without blocking on a FIFO that has no writer
// (it then reads as empty); reads block as usual afterwards. The descriptor, or -1 with errno set.
int open_for_reading(const char *name);

// rename(); 0 or -1 with errno set.
int rename_file(const char *from, const char *to);

// link(): a second name for a file, failing (EEXIST) when the name is taken; 0 or -1 with errno.
int link_file(const char *from, const char *to);

// fchmod() of an open descriptor; 0 or -1 with errno set.
int set_permissions(int fd, uint32_t permissions);

// Writes all n bytes (retrying short writes and interruptions); 0, or -1 with errno set.
int write_all(int fd, const void *data, std::size_t n);

// Creates a directory of mode 0700 named `prefix` + six random characters inside `parent`, as
// mkdtemp() does. The malloc'ed path, or null with errno set.
char *make_private_directory(const char *parent, const char *prefix);

// rmdir(); 0 or -1 with errno set.
int remove_directory(const char *name);

// The value of an environment variable (bytes as the environment holds them), or null.
const char *get_environment(const char *name);

// The process id.
int32_t process_id();

}  // namespace tesmar::platform
