// Files by UTF-8 name, file names and extensions, and the stream table.
#include <cerrno>
#include <cstring>

#include <fcntl.h>

#include "platform/platform.h"
#include "tmx/tmx_internal.h"

namespace tesmar::tmx {
namespace {
FILE *g_streams[TMX_STREAM_SLOTS];
}  // namespace

void clear_streams() {
  for (FILE *&slot : g_streams) slot = nullptr;
}

}  // namespace tesmar::tmx

using tesmar::tmx::g_streams;
namespace platform = tesmar::platform;

extern "C" {

FILE *tmx_Fopen(const char *file_name, const char *mode) {
  return platform::open_stream(file_name, mode);
}

int32_t tmx_Open(const char *file_name, int32_t flags, int32_t permission) {
  return platform::open_file(file_name, flags, permission);
}

int32_t tmx_FileExists(uint32_t, const char *file_name) {
  return platform::file_exists(file_name) ? 1 : 0;
}

mpm_Status tmx_GetFileSize(uint32_t, const char *file_name, int64_t *size) {
  if (size == nullptr) return 0;
  *size = 0;
  int saved = errno;
  int fd = platform::open_file(file_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) return 0;
  platform::FileStatus status;
  if (platform::stat_descriptor(fd, &status)) {
    if (status.kind == platform::FileKind::kRegular) {
      *size = status.size;
    } else if (status.kind == platform::FileKind::kOther) {
      int64_t end = platform::seek_descriptor(fd, 0, SEEK_END);  // block devices know their size this way
      if (end > 0) *size = end;
    }
  }
  platform::close_descriptor(fd);
  errno = saved;
  return 0;
}

int32_t tmx_MakeFileName(uint32_t, const char *name, const char *extension, char *buffer) {
  if (name == nullptr || extension == nullptr || buffer == nullptr || name[0] == '\0' ||
      extension[0] == '\0')
    return 0;
  std::size_t length = std::strlen(name);
  std::size_t stem = length;
  for (std::size_t i = length; i > 0; --i) {
    char c = name[i - 1];
    if (c == '/' || c == '\\') break;
    if (c == '.') {
      stem = i - 1;
      break;
    }
  }
  std::memmove(buffer, name, stem);
  buffer[stem] = '.';
  std::strcpy(buffer + stem + 1, extension);
  return 1;
}

int32_t tmx_RegisterStream(FILE *stream) {
  if (stream == nullptr) return -1;
  for (int32_t slot = 0; slot < TMX_STREAM_SLOTS; ++slot) {
    if (g_streams[slot] == nullptr) {
      g_streams[slot] = stream;
      return slot;
    }
  }
  std::fclose(stream);
  return -1;
}

int32_t tmx_FindStream(FILE *stream) {
  if (stream == nullptr) return -1;
  for (int32_t slot = 0; slot < TMX_STREAM_SLOTS; ++slot)
    if (g_streams[slot] == stream) return slot;
  return -1;
}

}  // extern "C"
