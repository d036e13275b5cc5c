// ugn_Uncompress: the first file member of a zip archive, or a gzip file, into a plain file.
//
// Design notes.
//
// The input is tried as a zip archive first (minizip, opened through the platform layer), then as
// gzip (zlib over a descriptor). A regular file that is neither is copied through unchanged, as
// zlib's own reading of a plain file does, so that callers may decompress "just in case"; what is
// not a regular file (a FIFO, a device) must really be gzip data and is refused otherwise. Zip members are checked before a byte is written: directories are passed
// over, and a member that is encrypted or stored with a method other than store or deflate ends the
// operation. Every byte taken out of a member is counted and checksummed; the count and CRC must match
// the archive's directory, and the gzip stream must close cleanly, or the result is refused.
//
// The output is written to a fresh file beside it and renamed over the target only once everything
// succeeded, so a failure leaves an earlier file of that name as it was and never leaves a partial
// result under the target's name. Targets that a rename would not update in place (symbolic links,
// files with several links, devices, FIFOs) are written directly instead.
//
// Failures are collected while files are open and reported once everything is closed and freed:
// the report calls client handlers, which may leave by longjmp.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unzip.h>
#include <zlib.h>

#include "platform/platform.h"
#include "tesmar/mpm.h"
#include "tesmar/ugn.h"

namespace platform = tesmar::platform;

namespace {

constexpr unsigned kChunk = 1u << 17;
constexpr std::size_t kField = 65536;  // zip names and extra fields are at most 65535 bytes
constexpr uint64_t kSizeInExtraField = 0xFFFFFFFFu;

struct Failure {
  mpm_Status code;
  const char *path;
  int error;
};

struct Failures {
  Failure list[4];
  int count = 0;
  void add(mpm_Status code, const char *path, int error) {
    if (count < 4) list[count++] = Failure{code, path, error != 0 ? error : EIO};
  }
  bool any() const { return count > 0; }
};

// The zip reader opens its file through the platform layer (so a FIFO cannot hold it); the other
// stream functions are the C library's, as minizip sets them up.
voidpf open_zip_stream(voidpf, const void *name, int) {
  return platform::open_stream(static_cast<const char *>(name), "rb");
}

// ---- Input -------------------------------------------------------------------------------------

struct Input {
  const char *path = nullptr;
  unzFile zip = nullptr;
  bool member_open = false;
  uint64_t expected_size = 0;
  uLong expected_crc = 0;
  gzFile gz = nullptr;
  uint64_t total = 0;
  uLong crc = 0;
};

bool is_directory_member(const char *name, uLong length) {
  return length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\');
}

uint64_t little_endian(const unsigned char *p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The uncompressed size of a zip64 member from its extra field (record 0x0001), when the directory
// holds the 32-bit marker there; minizip does not always read it. False when the record is missing
// or malformed.
bool zip64_size(const unsigned char *extra, uLong length, uint64_t *size) {
  uLong at = 0;
  while (at + 4 <= length) {
    uint64_t id = little_endian(extra + at, 2), bytes = little_endian(extra + at + 2, 2);
    if (at + 4 + bytes > length) return false;
    if (id == 1) {
      if (bytes < 8) return false;
      *size = little_endian(extra + at + 4, 8);
      return true;
    }
    at += 4 + static_cast<uLong>(bytes);
  }
  return false;
}

// Positions the archive on its first file member and opens it. False when the archive has none or
// it cannot be read, with the failure added.
bool open_first_member(Input *in, unsigned char *fields, Failures *failures) {
  char *name = reinterpret_cast<char *>(fields);
  unsigned char *extra = fields + kField;
  unz_file_info64 info;
  int status = unzGoToFirstFile(in->zip);
  for (; status == UNZ_OK; status = unzGoToNextFile(in->zip)) {
    if (unzGetCurrentFileInfo64(in->zip, &info, name, kField, extra, kField, nullptr, 0) != UNZ_OK) {
      failures->add(UGN_FILE_READ_ERROR, in->path, EBADMSG);
      return false;
    }
    if (!is_directory_member(name, info.size_filename)) break;
  }
  if (status == UNZ_END_OF_LIST_OF_FILE) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, ENOENT);  // no file member at all
    return false;
  }
  if (status != UNZ_OK) {
    failures->add(UGN_FILE_READ_ERROR, in->path, EBADMSG);
    return false;
  }
  if ((info.flag & 1u) != 0 || (info.compression_method != 0 && info.compression_method != Z_DEFLATED)) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, ENOTSUP);  // encrypted, or a method we cannot read
    return false;
  }
  if (unzOpenCurrentFile(in->zip) != UNZ_OK) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, EBADMSG);
    return false;
  }
  in->member_open = true;
  in->expected_size = info.uncompressed_size;
  if (info.uncompressed_size == kSizeInExtraField &&
      !zip64_size(extra, std::min<uLong>(info.size_file_extra, kField), &in->expected_size)) {
    failures->add(UGN_FILE_READ_ERROR, in->path, EBADMSG);
    return false;
  }
  in->expected_crc = info.crc;
  return true;
}

// The zip record a file starts with: 1 a local file header ("PK" 3 4), 2 the end record of an
// empty archive ("PK" 5 6), 0 neither.
int zip_signature(const char *path) {
  int fd = platform::open_for_reading(path);
  if (fd < 0) return 0;
  unsigned char head[4] = {};
  const int64_t n = platform::read_descriptor(fd, head, sizeof head);
  platform::close_descriptor(fd);
  if (n != 4 || head[0] != 'P' || head[1] != 'K') return 0;
  if (head[2] == 3 && head[3] == 4) return 1;
  return head[2] == 5 && head[3] == 6 ? 2 : 0;
}

bool open_input(Input *in, unsigned char *fields, Failures *failures) {
  platform::FileStatus status;
  if (!platform::stat_file(in->path, &status)) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, errno);
    return false;
  }
  if (status.kind == platform::FileKind::kDirectory) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, EISDIR);
    return false;
  }
  // A zip archive is found through its directory at the end, so only a regular file can be one.
  if (status.kind == platform::FileKind::kRegular) {
    zlib_filefunc64_def functions;
    fill_fopen64_filefunc(&functions);
    functions.zopen64_file = open_zip_stream;
    in->zip = unzOpen2_64(in->path, &functions);
    if (in->zip != nullptr) return open_first_member(in, fields, failures);
    // A file that begins as a zip archive but cannot be read as one is not plain: an empty
    // archive (only its end record) has no file member, anything else is damaged.
    if (int zip = zip_signature(in->path); zip != 0) {
      if (zip == 2) failures->add(UGN_FILE_OPEN_ERROR, in->path, ENOENT);
      else failures->add(UGN_FILE_READ_ERROR, in->path, EBADMSG);
      return false;
    }
  }
  int fd = platform::open_for_reading(in->path);
  if (fd < 0) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, errno);
    return false;
  }
  in->gz = gzdopen(fd, "rb");
  if (in->gz == nullptr) {
    platform::close_descriptor(fd);
    failures->add(UGN_FILE_OPEN_ERROR, in->path, ENOMEM);
    return false;
  }
  gzbuffer(in->gz, kChunk);
  // Neither zip nor gzip: zlib copies the bytes through unchanged, which only a regular file gets.
  if (gzdirect(in->gz) != 0 && status.kind != platform::FileKind::kRegular) {
    failures->add(UGN_FILE_OPEN_ERROR, in->path, EBADMSG);
    return false;
  }
  return true;
}

// errno of a failed gzip read or close, as zlib tells it.
int gz_error(gzFile gz, int code) {
  int saved = errno;
  int z = code;
  if (gz != nullptr && code != Z_ERRNO) gzerror(gz, &z);
  return z == Z_ERRNO ? saved : EBADMSG;
}

// Bytes read (0 at the end), or -1 with the failure added.
int64_t read_input(Input *in, unsigned char *buffer, Failures *failures) {
  int n = in->zip != nullptr ? unzReadCurrentFile(in->zip, buffer, kChunk)
                             : gzread(in->gz, buffer, kChunk);
  if (n < 0) {
    int error = in->zip != nullptr ? (n == UNZ_ERRNO ? errno : EBADMSG) : gz_error(in->gz, 0);
    failures->add(UGN_FILE_READ_ERROR, in->path, error);
    return -1;
  }
  if (in->zip != nullptr) {
    in->total += static_cast<uint64_t>(n);
    in->crc = crc32(in->crc, buffer, static_cast<uInt>(n));
  }
  return n;
}

// Closes the member and the archive, or the gzip stream. `complete`: the whole member was read, so
// its size and CRC must now match the directory.
void close_input(Input *in, bool complete, Failures *failures) {
  if (in->zip != nullptr) {
    if (in->member_open) {
      int closed = unzCloseCurrentFile(in->zip);
      bool mismatch = in->total != in->expected_size || in->crc != in->expected_crc;
      if (complete && (closed != UNZ_OK || mismatch))
        failures->add(UGN_FILE_CLOSE_ERROR, in->path, closed == UNZ_ERRNO ? errno : EBADMSG);
    }
    if (unzClose(in->zip) != UNZ_OK && complete) failures->add(UGN_FILE_CLOSE_ERROR, in->path, errno);
    in->zip = nullptr;
  }
  if (in->gz != nullptr) {
    int closed = gzclose_r(in->gz);  // reports a stream that ended early (Z_BUF_ERROR)
    if (closed != Z_OK && complete)
      failures->add(UGN_FILE_CLOSE_ERROR, in->path, closed == Z_ERRNO ? errno : EBADMSG);
    in->gz = nullptr;
  }
}

// ---- Output ------------------------------------------------------------------------------------

struct Output {
  const char *path = nullptr;
  char *temporary = nullptr;  // the file being written when it is renamed at the end
  int fd = -1;
  bool created = false;       // written directly to a target that did not exist before
  uint32_t permissions = 0;   // of the replaced file; 0 when none was replaced
};

// A fresh file "<path>.<pid>.<n>" created exclusively, or -1.
int create_beside(Output *out) {
  std::size_t length = std::strlen(out->path) + 32;
  out->temporary = static_cast<char *>(std::malloc(length));
  if (out->temporary == nullptr) return -1;
  auto pid = static_cast<unsigned>(platform::process_id());
  for (unsigned n = 0; n < 64; ++n) {
    std::snprintf(out->temporary, length, "%s.%x.%x~", out->path, pid, n);
    int fd = platform::open_file(out->temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      if (fd < 0) break;
      return fd;
    }
  }
  std::free(out->temporary);
  out->temporary = nullptr;
  return -1;
}

bool open_output(Output *out, Failures *failures) {
  platform::FileStatus status;
  bool existed = platform::link_status(out->path, &status);
  if (!existed && errno != ENOENT) {
    failures->add(UGN_FILE_OPEN_ERROR, out->path, errno);
    return false;
  }
  bool replace = !existed || (status.kind == platform::FileKind::kRegular && status.links == 1);
  if (replace) {
    out->fd = create_beside(out);
    if (out->fd >= 0) {
      out->permissions = existed ? status.permissions : 0;
      return true;
    }
  }
  out->fd = platform::open_file(out->path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out->fd < 0) {
    failures->add(UGN_FILE_OPEN_ERROR, out->path, errno);
    return false;
  }
  out->created = !existed;
  return true;
}

// Closes the output; on success puts it in place, on failure removes what was written.
void close_output(Output *out, Failures *failures) {
  bool ok = !failures->any();
  if (ok && out->temporary != nullptr && out->permissions != 0 &&
      platform::set_permissions(out->fd, out->permissions) != 0) {
    failures->add(UGN_FILE_WRITE_ERROR, out->path, errno);
    ok = false;
  }
  if (platform::close_descriptor(out->fd) != 0 && ok) {
    failures->add(UGN_FILE_CLOSE_ERROR, out->path, errno);
    ok = false;
  }
  out->fd = -1;
  if (out->temporary != nullptr) {
    if (ok && platform::rename_file(out->temporary, out->path) != 0) {
      failures->add(UGN_FILE_CLOSE_ERROR, out->path, errno);
      ok = false;
    }
    if (!ok) platform::remove_file(out->temporary);
    std::free(out->temporary);
    out->temporary = nullptr;
  } else if (!ok && out->created) {
    platform::remove_file(out->path);
  }
}

// True when both names lead to the same file.
bool same_file(const char *a, const char *b) {
  platform::FileStatus first, second;
  return platform::stat_file(a, &first) && platform::stat_file(b, &second) &&
         first.device == second.device && first.inode == second.inode;
}

}  // namespace

extern "C" mpm_Status ugn_Uncompress(uint32_t, const char *output, const char *input) {
  Failures failures;
  Input in;
  Output out;
  in.path = input != nullptr ? input : "";
  out.path = output != nullptr ? output : "";
  auto *buffer = static_cast<unsigned char *>(std::malloc(kChunk + 2 * kField));
  if (buffer == nullptr) return mpm_ReportMessage(0, UGN_MALLOC_ERR, MPM_ERROR);

  if (in.path[0] == '\0') {
    failures.add(UGN_FILE_OPEN_ERROR, in.path, ENOENT);
  } else if (out.path[0] == '\0') {
    failures.add(UGN_FILE_OPEN_ERROR, out.path, ENOENT);
  } else if (same_file(in.path, out.path)) {
    failures.add(UGN_FILE_OPEN_ERROR, out.path, EINVAL);  // writing would destroy the input
  } else if (open_input(&in, buffer + kChunk, &failures) &&
             open_output(&out, &failures)) {
    bool complete = false;
    for (;;) {
      int64_t n = read_input(&in, buffer, &failures);
      if (n < 0) break;
      if (n == 0) {
        complete = true;
        break;
      }
      if (platform::write_all(out.fd, buffer, static_cast<std::size_t>(n)) != 0) {
        failures.add(UGN_FILE_WRITE_ERROR, out.path, errno);
        break;
      }
    }
    close_input(&in, complete, &failures);
    close_output(&out, &failures);
  }
  close_input(&in, false, &failures);  // what a failed open left behind
  std::free(buffer);

  // Every failure is reported; the first is the cause and is returned.
  for (int i = 0; i < failures.count; ++i) {
    const Failure &f = failures.list[i];
    mpm_ReportMessage(0, f.code, MPM_ERROR, f.path, f.error);
  }
  return failures.any() ? failures.list[0].code : 0;
}
