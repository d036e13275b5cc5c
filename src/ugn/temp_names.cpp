// ugn_TempName: names for temporary files, removed when the library stops.
//
// Names are "<dir>/t<pid>.<counter>": <dir> is TESMAR_TMP when it is set (through the override
// table), otherwise a private directory (mode 0700) made on first need under $TMPDIR, or /tmp when
// that cannot be used. The 16-bit counter advances with every name tried; a name that already
// exists (a file of another process, or one of ours after the counter wrapped) is passed over, so a
// name handed out never points at a file that someone else owns. Every name handed out is recorded,
// and ugn_Terminate removes those files (whether they were created or not) and then the private
// directory when it is empty.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tesmar/olm.h"
#include "tesmar/tmx.h"
#include "ugn/ugn_internal.h"

namespace tesmar::ugn {
namespace {

constexpr std::size_t kNameBuffer = 1024;
constexpr std::size_t kLongestDirectory = 1008;  // leaves room for "/t%08lx.%04hx"
constexpr int32_t kNamesPerBlock = 32;

char g_name[kNameBuffer];
uint16_t g_counter = 0;
olm_List *g_names = nullptr;       // records: char * (owned copies)
char *g_private_directory = nullptr;

// The private directory, made on first need; null when none can be made.
const char *private_directory() {
  if (g_private_directory != nullptr) return g_private_directory;
  const char *base = nullptr;
  tmx_GetEnv(0, "TMPDIR", &base);
  if (base != nullptr && base[0] != '\0') g_private_directory = platform::make_private_directory(base, "tesmar-");
  if (g_private_directory == nullptr) g_private_directory = platform::make_private_directory("/tmp", "tesmar-");
  return g_private_directory;
}

// True only when something is known to stand under the name. When the directory cannot be
// searched the name is handed out and whoever opens it meets the real error.
bool exists(const char *name) {
  platform::FileStatus status;
  return platform::link_status(name, &status);
}

// Records a copy of the name for removal at shut-down; false after issuing the failure.
bool record(const char *name) {
  if (g_names == nullptr) {
    g_names = olm_CreateList(0, sizeof(char *), kNamesPerBlock, 0);
    if (g_names == nullptr) return false;
  }
  std::size_t length = std::strlen(name);
  auto *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr) {
    mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
    return false;
  }
  std::memcpy(copy, name, length + 1);
  if (olm_AddObject(0, g_names, OLM_TAIL, &copy) == nullptr) {
    std::free(copy);
    return false;
  }
  return true;
}

}  // namespace

void remove_temporary_files() {
  if (g_names != nullptr) {
    while (auto *entry = static_cast<char **>(olm_CycleList(0, g_names))) {
      platform::remove_file(*entry);
      std::free(*entry);
    }
    olm_DeleteList(0, g_names);
    g_names = nullptr;
  }
  if (g_private_directory != nullptr) {
    platform::remove_directory(g_private_directory);  // kept when something else was put there
    std::free(g_private_directory);
    g_private_directory = nullptr;
  }
}

}  // namespace tesmar::ugn

using namespace tesmar::ugn;

extern "C" const char *ugn_TempName(void) {
  const char *configured = nullptr;
  tmx_GetEnv(0, "TESMAR_TMP", &configured);
  const char *directory = configured != nullptr && configured[0] != '\0' ? configured : private_directory();
  if (directory == nullptr || std::strlen(directory) > kLongestDirectory) return nullptr;
  char name[kNameBuffer];
  auto pid = static_cast<unsigned long>(static_cast<uint32_t>(tesmar::platform::process_id()));
  for (uint32_t tries = 0; tries <= 0xFFFFu; ++tries) {
    std::snprintf(name, sizeof name, "%s%ct%08lx.%04hx", directory, '/', pid,
                  static_cast<unsigned short>(g_counter));
    ++g_counter;
    if (exists(name)) continue;
    if (!record(name)) return nullptr;
    std::memcpy(g_name, name, sizeof name);
    return g_name;
  }
  return nullptr;  // all 65536 names are taken
}
