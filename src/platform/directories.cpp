// Reading without blocking on FIFOs, directories, renames, permissions and whole writes.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tesmar::platform {

int open_for_reading(const char *name) {
  int fd = open_file(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0) return -1;
  int status = ::fcntl(fd, F_GETFL);
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int rename_file(const char *from, const char *to) {
  if (from == nullptr || to == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::rename(from, to);
}

int link_file(const char *from, const char *to) {
  if (from == nullptr || to == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::link(from, to);
}

int set_permissions(int fd, uint32_t permissions) {
  return ::fchmod(fd, static_cast<mode_t>(permissions & 07777));
}

int write_all(int fd, const void *data, std::size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  while (n > 0) {
    ssize_t written = ::write(fd, bytes, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (written == 0) {  // nothing taken and no error: treat as a full device
      errno = ENOSPC;
      return -1;
    }
    bytes += written;
    n -= static_cast<std::size_t>(written);
  }
  return 0;
}

char *make_private_directory(const char *parent, const char *prefix) {
  if (parent == nullptr || prefix == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::size_t parent_length = std::strlen(parent), prefix_length = std::strlen(prefix);
  auto *path = static_cast<char *>(std::malloc(parent_length + prefix_length + 8));
  if (path == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(path, parent, parent_length);
  path[parent_length] = '/';
  std::memcpy(path + parent_length + 1, prefix, prefix_length);
  std::memcpy(path + parent_length + 1 + prefix_length, "XXXXXX", 7);
  if (::mkdtemp(path) == nullptr) {
    int saved = errno;
    std::free(path);
    errno = saved;
    return nullptr;
  }
  return path;
}

int remove_directory(const char *name) {
  if (name == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::rmdir(name);
}

}  // namespace tesmar::platform
