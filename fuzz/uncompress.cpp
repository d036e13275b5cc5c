// Fuzz target: ugn_Uncompress over arbitrary files (gzip, zip, zip64, and anything else).
//
// Each input is written to a file in a private directory and decompressed into another. A success
// must leave an output file; a failure must leave none.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {


std::string g_directory, g_input, g_output;

void clean_up() {
  std::remove(g_input.c_str());
  std::remove(g_output.c_str());
  rmdir(g_directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool started = false;
  if (!started) {
    tesmar::fuzz::start_library();
    const char *base = std::getenv("TMPDIR");
    std::string dir = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-fuzz-uncompress.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    g_directory = dir;
    g_input = dir + "/input";
    g_output = dir + "/output";
    std::atexit(clean_up);
    started = true;
  }
  FILE *f = std::fopen(g_input.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  std::remove(g_output.c_str());
  mpm_Status status = ugn_Uncompress(0, g_output.c_str(), g_input.c_str());
  bool written = access(g_output.c_str(), F_OK) == 0;
  if ((status == 0) != written) std::abort();
  mpm_DiscardPending(0);
  return 0;
}
