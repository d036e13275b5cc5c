// The reverse of mpm_GetMessageName: the code of a symbolic name.
#include <cstring>

#include "tmx/tmx_internal.h"

extern "C" {

mpm_Status tmx_GetMessageCode(const char *name, mpm_Status *code) {
  const char *underscore = name != nullptr ? std::strchr(name, '_') : nullptr;
  std::size_t module_length = underscore != nullptr ? static_cast<std::size_t>(underscore - name) : 0;
  if (underscore == nullptr || module_length < 3 || module_length > 4)
    return mpm_IssueMessage(0, TMX_BAD_MSG_NAME, MPM_ERROR, name != nullptr ? name : "(null)");
  const char *row_name = underscore + 1;
  for (int32_t id = 0; id < 256; ++id) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(id);
    if (desc->count == 0 || desc->name == nullptr) continue;
    if (std::strlen(desc->name) != module_length || std::strncmp(desc->name, name, module_length) != 0)
      continue;
    // The first registered module of that name decides.
    for (int32_t row = 0; row < desc->count; ++row) {
      if (desc->names[row].name != nullptr && std::strcmp(desc->names[row].name, row_name) == 0) {
        if (code != nullptr) *code = (static_cast<mpm_Status>(desc->module_id) << 16) |
                                     static_cast<mpm_Status>(row + 1);
        return 0;
      }
    }
    return 0xFFFF;
  }
  return 0xFFFF;
}

}  // extern "C"
