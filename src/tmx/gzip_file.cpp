// tmx_GzipFile: a gzip copy of a file.
//
// Failures are collected while the files are open and reported once both are closed: a client
// handler called by the report may leave by longjmp, and nothing must stay open behind it.
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <zlib.h>

#include "platform/platform.h"
#include "tesmar/ugn.h"
#include "tmx/tmx_internal.h"

namespace {

constexpr int kChunk = 16384;

struct Failure {
  mpm_Status code;
  const char *name;
  int error;
};

struct Failures {
  Failure list[4];
  int count = 0;
  void add(mpm_Status code, const char *name, int error) {
    if (count < 4) list[count++] = Failure{code, name, error != 0 ? error : EIO};
  }
};

// errno of a failed gzwrite or gzclose, as zlib tells it.
int gz_error(gzFile gz) {
  int saved = errno;
  int z = Z_OK;
  if (gz != nullptr) gzerror(gz, &z);
  return z == Z_ERRNO ? saved : EIO;
}

}  // namespace

namespace platform = tesmar::platform;

extern "C" mpm_Status tmx_GzipFile(uint32_t, const char *target_name, const char *source_name) {
  Failures failures;
  const char *target = target_name != nullptr ? target_name : "";
  const char *source_text = source_name != nullptr ? source_name : "";
  FILE *source = tmx_Fopen(source_name, "rb");
  if (source == nullptr) {
    failures.add(UGN_FILE_OPEN_ERROR, source_text, errno);
  } else {
    // Writing onto the source itself would destroy it before it is read.
    platform::FileStatus in, out;
    bool same = platform::stat_descriptor(fileno(source), &in) && target_name != nullptr &&
                platform::stat_file(target_name, &out) && in.device == out.device &&
                in.inode == out.inode;
    int fd = -1;
    gzFile gz = nullptr;
    bool removable = false;
    if (same) {
      failures.add(UGN_FILE_OPEN_ERROR, target, EINVAL);
    } else {
      fd = platform::open_file(target_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd >= 0) {
        platform::FileStatus status;
        removable = platform::stat_descriptor(fd, &status) &&
                    status.kind == platform::FileKind::kRegular;
        gz = gzdopen(fd, "wb");
      }
      if (gz == nullptr) {
        failures.add(UGN_FILE_OPEN_ERROR, target, fd < 0 ? errno : ENOMEM);
        if (fd >= 0) platform::close_descriptor(fd);
      }
    }
    if (gz != nullptr) {
      unsigned char buffer[kChunk];
      bool target_failed = false;
      for (;;) {
        std::size_t n = std::fread(buffer, 1, kChunk, source);
        if (n > 0 && gzwrite(gz, buffer, static_cast<unsigned>(n)) != static_cast<int>(n)) {
          failures.add(UGN_FILE_WRITE_ERROR, target, gz_error(gz));
          target_failed = true;
          break;
        }
        if (n < static_cast<std::size_t>(kChunk)) {
          if (std::ferror(source)) failures.add(UGN_FILE_READ_ERROR, source_text, errno);
          break;
        }
      }
      int closed = gzclose(gz);
      if (closed != Z_OK && !target_failed)
        failures.add(UGN_FILE_CLOSE_ERROR, target, closed == Z_ERRNO ? errno : EIO);
    }
    if (std::fclose(source) != 0) failures.add(UGN_FILE_CLOSE_ERROR, source_text, errno);
    // An incomplete copy must not pass for a good one.
    if (failures.count > 0 && removable) platform::remove_file(target_name);
  }
  mpm_Status status = 0;
  for (int i = 0; i < failures.count; ++i) {
    const Failure &f = failures.list[i];
    status = mpm_ReportMessage(0, f.code, MPM_ERROR, f.name, f.error);
  }
  return status;
}
