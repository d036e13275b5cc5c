// The mapping parameter registry and the parameter settings of operations.
//
// A parameter is named by a status code (its printable name is the code's symbolic name) and has
// a type and an application variable that holds its default: a 32-bit integer, or a double for
// MAP_PARAM_DOUBLE. An operation carries the settings its enabling gave; map_GetParameter reads
// the operation's setting (the later of two wins) or, when asked, the default.
#include "map/map_internal.h"

namespace tesmar::map {
namespace {

bool known_type(uint32_t type) { return type <= MAP_PARAM_BOOLEAN; }

void copy_value(uint32_t type, const void *from, void *to) {
  std::memcpy(to, from, type == MAP_PARAM_DOUBLE ? sizeof(double) : sizeof(int32_t));
}

}  // namespace

const map_Parameter *find_parameter(uint32_t code) {
  if (g_parameters == nullptr) return nullptr;
  const map_Parameter key{code, 0, nullptr};
  return static_cast<const map_Parameter *>(
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, g_parameters, &key));
}

}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map__DefineParameter(uint32_t, uint32_t code, uint32_t type, void *address) {
  if (address == nullptr || !known_type(type)) return issue(fail(MAP_INVALID_ARG));
  if (g_parameters == nullptr) return issue(fail(MAP_TREE_ERR));
  if (find_parameter(code) != nullptr)
    return issue(fail(MAP_PARAM_ALREADY_DEFINED).with(mpm_GetMessageName(code)));
  const map_Parameter record{code, type, address};
  if (otm_AddObject(0, g_parameters, &record) == nullptr) return issue(fail(MAP_TREE_ERR));
  return 0;
}

mpm_Status map_GetParameter(uint32_t options, const map_Operation *operation, uint32_t code,
                            void *value) {
  if (operation == nullptr || value == nullptr) return issue(fail(MAP_INVALID_ARG));
  const map_ParamSetting *found = nullptr;
  for (int32_t i = 0; i < operation->param_count; ++i)
    if (operation->params[i].code == code) found = &operation->params[i];
  if (found != nullptr) {
    if (!known_type(found->type)) return issue(internal("map/map_GetParameter"));
    copy_value(found->type, &found->value, value);
    return 0;
  }
  if ((options & MAP_GET_DEFAULT) == 0) return MAP_NOT_FOUND;
  return map_GetParameterDefault(0, code, value);
}

mpm_Status map_GetParameterDefault(uint32_t, uint32_t code, void *value) {
  if (value == nullptr) return issue(fail(MAP_INVALID_ARG));
  const map_Parameter *p = find_parameter(code);
  if (p == nullptr) return issue(fail(MAP_UNDEFINED_PARAM).with(mpm_GetMessageName(code)));
  copy_value(p->type, p->address, value);
  return 0;
}

mpm_Status map_SetParameterDefault(uint32_t, uint32_t code, const void *value) {
  if (value == nullptr) return issue(fail(MAP_INVALID_ARG));
  const map_Parameter *p = find_parameter(code);
  if (p == nullptr) return issue(fail(MAP_UNDEFINED_PARAM).with(mpm_GetMessageName(code)));
  copy_value(p->type, value, p->address);
  return 0;
}

}  // extern "C"
