// The environment as the library sees it, and the process id.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tesmar/ugn.h"
#include "tmx/tmx_internal.h"
#include "ugn/ugn_internal.h"

namespace {
char *g_value = nullptr;  // the last value handed out; valid until the next lookup
}  // namespace

extern "C" {

mpm_Status tmx_GetEnv(uint32_t, const char *name, const char **value) {
  if (value == nullptr) return 0;
  *value = nullptr;
  std::free(g_value);
  g_value = nullptr;
  if (name == nullptr || name[0] == '\0') return 0;
  const char *found = tesmar::ugn::resolve_environment(name, tesmar::platform::get_environment);
  if (found == nullptr) return 0;
  std::size_t length = std::strlen(found);
  g_value = static_cast<char *>(std::malloc(length + 1));
  if (g_value == nullptr) return mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
  std::memcpy(g_value, found, length + 1);
  *value = g_value;
  return 0;
}

int32_t tmx_GetPid(void) { return tesmar::platform::process_id(); }

}  // extern "C"
