// Files by UTF-8 name: the names go to the system as they are.
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tesmar::platform {
namespace {

void fill_status(const struct stat &st, FileStatus *status) {
  if (S_ISREG(st.st_mode))
    status->kind = FileKind::kRegular;
  else if (S_ISDIR(st.st_mode))
    status->kind = FileKind::kDirectory;
  else if (S_ISFIFO(st.st_mode))
    status->kind = FileKind::kFifo;
  else
    status->kind = FileKind::kOther;
  status->size = static_cast<int64_t>(st.st_size);
  status->device = static_cast<uint64_t>(st.st_dev);
  status->inode = static_cast<uint64_t>(st.st_ino);
  status->permissions = static_cast<uint32_t>(st.st_mode & 07777);
  status->links = static_cast<uint64_t>(st.st_nlink);
}

// The open() flags of an fopen() mode and the plain mode fdopen() is given; false for a mode that
// fopen() would not take.
bool parse_mode(const char *mode, int *flags, char (&plain)[3]) {
  if (mode == nullptr) return false;
  int access;
  switch (mode[0]) {
    case 'r': access = 0; break;
    case 'w': access = O_CREAT | O_TRUNC; break;
    case 'a': access = O_CREAT | O_APPEND; break;
    default: return false;
  }
  bool update = false;
  int extra = 0;
  for (const char *p = mode + 1; *p != '\0'; ++p) {
    switch (*p) {
      case '+': update = true; break;
      case 'b': case 't': break;  // no text/binary distinction here
      case 'x': extra |= O_EXCL; break;
      case 'e': extra |= O_CLOEXEC; break;
      default: return false;
    }
  }
  if ((extra & O_EXCL) && mode[0] != 'w') return false;
  int direction = update ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
  *flags = access | direction | extra;
  plain[0] = mode[0];
  plain[1] = update ? '+' : '\0';
  plain[2] = '\0';
  return true;
}

}  // namespace

bool stat_file(const char *name, FileStatus *status) {
  struct stat st;
  if (name == nullptr) {
    errno = EINVAL;
    return false;
  }
  if (::stat(name, &st) != 0) {
    *status = FileStatus{};
    return false;
  }
  fill_status(st, status);
  return true;
}

bool file_exists(const char *name) {
  if (name == nullptr || name[0] == '\0') return false;
  FileStatus status;
  if (stat_file(name, &status)) return true;
  // Any other failure (no permission to search a directory, a loop of links) leaves the question
  // open, and the name is taken to exist.
  return !(errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG);
}

bool link_status(const char *name, FileStatus *status) {
  struct stat st;
  if (name == nullptr) {
    errno = EINVAL;
    return false;
  }
  if (::lstat(name, &st) != 0) {
    *status = FileStatus{};
    return false;
  }
  fill_status(st, status);
  return true;
}

bool stat_descriptor(int fd, FileStatus *status) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *status = FileStatus{};
    return false;
  }
  fill_status(st, status);
  return true;
}

int open_file(const char *name, int flags, int mode) {
  if (name == nullptr) {
    errno = EINVAL;
    return -1;
  }
  bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  int fd;
  do {
    fd = creates ? ::open(name, flags, static_cast<mode_t>(mode)) : ::open(name, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

FILE *open_stream(const char *name, const char *mode) {
  int flags = 0;
  char plain[3];
  if (name == nullptr || !parse_mode(mode, &flags, plain)) {
    errno = EINVAL;
    return nullptr;
  }
  // Non-blocking only for the open itself, so that a FIFO cannot hold the caller; reads and writes
  // block as usual afterwards.
  int fd = open_file(name, flags | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  int status = ::fcntl(fd, F_GETFL);
  FILE *stream = nullptr;
  if (status != -1 && ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != -1)
    stream = ::fdopen(fd, plain);
  if (stream == nullptr) {
    int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return stream;
}

int64_t read_descriptor(int fd, void *buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return static_cast<int64_t>(n);
}

int64_t seek_descriptor(int fd, int64_t offset, int whence) {
  return static_cast<int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

int close_descriptor(int fd) { return ::close(fd); }

int remove_file(const char *name) {
  if (name == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::unlink(name);
}

}  // namespace tesmar::platform
