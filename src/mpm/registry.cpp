// The module registry: one entry per module id, each a copy of a module's descriptor. An entry
// whose count is 0 belongs to an unregistered module. Codes are built, decoded and named from it.
#include <cstring>

#include "mpm/mpm_internal.h"

namespace tesmar::mpm {
namespace {
mpm_ModuleDesc g_registry[256];
}  // namespace
}  // namespace tesmar::mpm

using tesmar::mpm::g_registry;

extern "C" {

mpm_Status mpm_RegisterModule(uint32_t, const mpm_ModuleDesc *desc) {
  if (desc != nullptr) g_registry[desc->module_id & 0xFFu] = *desc;
  return 0;
}

mpm_Status mpm_ClearRegistry(uint32_t) {
  std::memset(g_registry, 0, sizeof g_registry);
  return 0;
}

const mpm_ModuleDesc *mpm_GetModuleDesc(int32_t module_id) {
  if (module_id < 0 || module_id > 255) return nullptr;
  return &g_registry[module_id];
}

mpm_Status mpm_DecodeStatus(mpm_Status code, int32_t *module_id, int32_t *msg_number) {
  // The halves are read as signed 16-bit numbers, so 0xFFFF.... is module -1, never valid.
  int32_t module = static_cast<int16_t>(code >> 16);
  int32_t number = static_cast<int16_t>(code & 0xFFFFu);
  if (module_id != nullptr) *module_id = module;
  if (msg_number != nullptr) *msg_number = number;
  if (module < 0 || module > 255 || number < 1 || number > g_registry[module].count)
    return MPM__INVALIDMESSAGE;
  return 0;
}

}  // extern "C"
