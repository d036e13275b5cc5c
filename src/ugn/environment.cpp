// ugn_PutEnv and ugn_SetEnvAlias: the program's entries in the environment override table that
// tmx_GetEnv consults (the table itself is the kernel's, src/tmx/environment.cpp).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tmx/tmx_internal.h"
#include "ugn/ugn_internal.h"

using tesmar::tmx::env_name_fits;

extern "C" {

mpm_Status ugn_PutEnv(uint32_t, const char *name, const char *value) {
  if (name == nullptr || name[0] == '\0') return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  if (!env_name_fits(name)) return mpm_IssueMessage(0, UGN_ENV_VAR_TOO_LONG, MPM_ERROR);
  char *copy = nullptr;
  if (value != nullptr) {
    std::size_t length = std::strlen(value);
    copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr) return mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
    std::memcpy(copy, value, length + 1);
  }
  if (!tesmar::tmx::set_env_value(name, copy)) {
    std::free(copy);
    return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  }
  return 0;
}

mpm_Status ugn_SetEnvAlias(uint32_t, const char *name, const char *alias) {
  if (name == nullptr || name[0] == '\0') return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  if (!env_name_fits(name) || (alias != nullptr && !env_name_fits(alias)))
    return mpm_IssueMessage(0, UGN_ENV_VAR_TOO_LONG, MPM_ERROR);
  if (!tesmar::tmx::set_env_alias(name, alias)) return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  return 0;
}

}  // extern "C"
