// What the fuzz targets share: the library started once with its output discarded, and a scratch
// file that holds the input when the code under test reads files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tesmar/tesmar.h"

namespace tesmar::fuzz {

inline int discard(const char *, FILE *) { return 0; }

// Starts the library on the first call; its messages go nowhere.
inline void start_library() {
  static const bool started = [] {
    tmx_Initialize(0);
    mpm_output_function = discard;
    return true;
  }();
  (void)started;
}

// A file of this process under $TMPDIR (or /tmp), removed at exit, that `write` fills with the
// input; false when it cannot be written.
class Scratch {
 public:
  explicit Scratch(const char *name) {
    const char *base = std::getenv("TMPDIR");
    path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tesmar-fuzz-" + name +
            "-" + std::to_string(getpid());
  }
  ~Scratch() { std::remove(path_.c_str()); }
  bool write(const uint8_t *data, std::size_t size) const {
    FILE *f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
  }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};

}  // namespace tesmar::fuzz
