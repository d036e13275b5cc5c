// The checks every subcommand makes of the files it is given.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {

bool check_input(const char *command, const char *path) {
  struct stat st;
  if (::stat(path, &st) != 0) {
    std::fprintf(stderr, "tesmar %s: %s: %s\n", command, path, std::strerror(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "tesmar %s: %s: is a directory\n", command, path);
    return false;
  }
  return true;
}

bool check_output(const char *command, const char *input, const char *output) {
  struct stat in, out;
  if (::stat(input, &in) == 0 && ::stat(output, &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    std::fprintf(stderr, "tesmar %s: %s: the output would overwrite the input\n", command, output);
    return false;
  }
  return true;
}

}  // namespace tesmar::cli

namespace tesmar::cli {

void show_pending() {
  olm_List *pending = mpm_pending_list;
  for (int32_t n = pending != nullptr ? pending->count : 0; n >= 1; --n) {
    const auto *m = static_cast<const mpm_PendingMessage *>(olm_GetObject(0, pending, n));
    if (m == nullptr || m->text == nullptr) continue;
    std::fputs(m->text, stderr);
    const std::size_t length = std::strlen(m->text);
    std::fputs(length > 0 && m->text[length - 1] == '\n' ? "\n" : "\n\n", stderr);
  }
  mpm_FlushPending(0);  // written: dropped, still counted
}

}  // namespace tesmar::cli
