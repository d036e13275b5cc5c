// Opening and closing a paged file.
//
// A handle is either fully built or not handed out at all: dof_OpenFile builds the handle, its
// buffers, its page index and free list, then opens the file; any failure releases everything
// built so far, leaves the caller's pointer null and only then issues the message (a handler may
// leave by longjmp, so nothing may be held at that point).
//
// A temporary file gets its name from ugn_TempName and is created exclusively (mode 0600), so it
// is never a file that someone else made under that name; it is removed at close (and, should the
// program never close it, when the library stops).
//
// Close writes the dirty pages back (unless the file is temporary or read-only), closes the
// descriptor and releases the handle. When the system refuses the close, the descriptor is gone
// all the same: the handle stays with descriptor -1, so that a second close only releases it and
// never closes a number that may by then belong to another file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dof/dof_internal.h"
#include "platform/file_io.h"
#include "tesmar/ugn.h"

using namespace tesmar::dof;
namespace platform = tesmar::platform;

namespace {

void release(DofFile *file) {
  if (file == nullptr) return;
  if (file->buffers != nullptr) std::free(file->buffers[0].data);  // one block for every page
  std::free(file->buffers);
  page_index_destroy(file);
  if (file->free_list != nullptr) {
    index_destroy(file->free_list);
    std::free(file->free_list);
  }
  std::free(file->name);
  std::free(file);
}

char *copy_name(const char *name) {
  std::size_t n = std::strlen(name);
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy != nullptr) std::memcpy(copy, name, n + 1);
  return copy;
}

// Allocates the handle and everything in it but the file. Null when memory fails.
DofFile *build_handle(uint32_t flags, int32_t buffer_count, int32_t page_size) {
  auto *file = static_cast<DofFile *>(std::calloc(1, sizeof(DofFile)));
  if (file == nullptr) return nullptr;
  file->descriptor = -1;
  file->flags = flags;
  file->buffer_count = buffer_count;
  file->page_size = page_size;
  // The page index first: it refuses buffer counts it cannot index before the buffers are had.
  if (!page_index_create(file)) {
    release(file);
    return nullptr;
  }
  auto count = static_cast<std::size_t>(buffer_count);
  auto size = static_cast<std::size_t>(page_size);
  file->buffers = static_cast<DofPageBuffer *>(std::calloc(count, sizeof(DofPageBuffer)));
  auto *data = count <= SIZE_MAX / size ? static_cast<uint8_t *>(std::calloc(count, size)) : nullptr;
  if (file->buffers == nullptr || data == nullptr) {
    std::free(data);
    release(file);
    return nullptr;
  }
  for (std::size_t i = 0; i < count; ++i) {
    file->buffers[i].page = -1;
    file->buffers[i].data = data + i * size;
  }
  if (flags & DOF_FREE_LIST) {
    file->free_list = static_cast<DofFreeList *>(std::calloc(1, sizeof(DofFreeList)));
    if (file->free_list == nullptr) {
      release(file);
      return nullptr;
    }
  }
  return file;
}

constexpr int kTemporaryTries = 16;
constexpr int kTemporaryAccess =
    platform::kOpenReadWrite | platform::kOpenCreate | platform::kOpenExclusive;
constexpr const char *kNoTemporaryName = "(no temporary name could be formed)";
constexpr std::size_t kShownName = 1100;  // temporary names are at most 1023 bytes

int access_of(uint32_t flags) {
  if (flags & DOF_READ_ONLY) return platform::kOpenRead;
  if (flags & DOF_OPEN_EXISTING) return platform::kOpenReadWrite;
  return platform::kOpenReadWrite | platform::kOpenCreate | platform::kOpenTruncate;
}

}  // namespace

extern "C" {

mpm_Status dof_OpenFile(uint32_t flags, const char *name, int32_t buffer_count, int32_t page_size,
                        DofFile **out) {
  if (out == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  *out = nullptr;
  if (buffer_count <= 0) buffer_count = 16;
  if (page_size <= 0) page_size = 4096;
  const bool temporary = (flags & DOF_TEMPORARY) != 0;
  if (!temporary && (name == nullptr || name[0] == '\0'))
    return issue(Failure::error(DOF_OPEN_ERR).with(name != nullptr ? name : ""));

  DofFile *file = build_handle(flags, buffer_count, page_size);
  if (file == nullptr) return issue(failure(DOF_MALLOC_ERR, nullptr));

  const platform::FileIo &io = platform::file_io();
  if (temporary) {
    // A fresh name, created exclusively and private to its owner: a name that someone took between
    // naming and opening is passed over for the next one.
    for (int tries = 0; tries < kTemporaryTries && file->descriptor < 0; ++tries) {
      const char *temporary_name = ugn_TempName();
      if (temporary_name == nullptr) break;
      std::free(file->name);
      file->name = copy_name(temporary_name);
      if (file->name == nullptr) {
        release(file);
        return issue(failure(DOF_MALLOC_ERR, nullptr));
      }
      platform::clear_error();
      file->descriptor = io.open(file->name, kTemporaryAccess, 0600);
      if (file->descriptor < 0 && platform::last_error() != EEXIST) break;
    }
  } else {
    file->name = copy_name(name);
    if (file->name == nullptr) {
      release(file);
      return issue(failure(DOF_MALLOC_ERR, nullptr));
    }
    platform::clear_error();
    file->descriptor = io.open(name, access_of(flags), 0666);
  }
  bool opened = file->descriptor >= 0;
  if (opened) {
    // Only regular files: a directory or a device is refused here rather than at the first read.
    int64_t size = io.size(file->descriptor);
    if (size < 0 || size > offset_limit(file)) {
      opened = false;
    } else if (flags & (DOF_OPEN_EXISTING | DOF_READ_ONLY)) {
      file->end = size;
      file->page_count = size / page_size + (size % page_size != 0 ? 1 : 0);
    }
  }
  if (!opened) {
    // The message names the file that could not be opened: for a temporary file, a copy of its
    // generated name (released with the handle), or a placeholder when no name could be formed.
    char temporary_name[kShownName];
    const char *shown = name;
    if (temporary) {
      std::snprintf(temporary_name, sizeof temporary_name, "%s",
                    file->name != nullptr ? file->name : kNoTemporaryName);
      shown = temporary_name;
    }
    if (file->descriptor >= 0) {
      io.close(file->descriptor);
      if (temporary) io.remove(file->name);
    }
    release(file);
    return issue(Failure::error(DOF_OPEN_ERR).with(shown));
  }
  *out = file;
  return 0;
}

mpm_Status dof_CloseFile(uint32_t, DofFile *file) {
  if (file == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  mpm_Status status = 0;
  if (file->descriptor >= 0) {
    if (file->flags & DOF_STATISTICS) dof_DumpStatistics(file);
    if (!(file->flags & (DOF_TEMPORARY | DOF_READ_ONLY))) {
      for (int32_t i = 0; i < file->buffer_count; ++i) {
        if (!file->buffers[i].dirty) continue;
        Failure written = write_back_run(file, i);
        if (status == 0) status = written.code();
        issue(written);
      }
    }
    int fd = file->descriptor;
    file->descriptor = -1;
    if (platform::file_io().close(fd) != 0) return issue(failure(DOF_CLOSE_ERR, file));
  }
  if (file->flags & DOF_TEMPORARY) platform::file_io().remove(file->name);
  release(file);
  return status;
}

}  // extern "C"
