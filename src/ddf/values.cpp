// Default values and value descriptions of fields.
#include <cstring>

#include "ddf/ddf_internal.h"
#include "tesmar/dst.h"

extern "C" {

mpm_Status ddf_GetFieldDefault(const ddf_FieldDesc *desc, void *value) {
  if (desc == nullptr || value == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  const int16_t key = desc->key;
  // Keys 50 to 54 select ddf_float_defaults; 0 and every other key give 0.0 (an unknown key must
  // not index past the table).
  double real = key >= 50 && key <= 54 ? ddf_float_defaults[key - 50] : 0.0;
  switch (desc->kind) {
    case DDF_SHORT: std::memcpy(value, &key, sizeof key); break;
    case DDF_INT:
    case DDF_LONG: {
      int32_t v = key;
      std::memcpy(value, &v, sizeof v);
      break;
    }
    case DDF_FLOAT: {
      float v = static_cast<float>(real);
      std::memcpy(value, &v, sizeof v);
      break;
    }
    case DDF_DOUBLE: std::memcpy(value, &real, sizeof real); break;
    case DDF_CHAR: *static_cast<unsigned char *>(value) = static_cast<unsigned char>(key); break;
    case DDF_FSTRING: *static_cast<char *>(value) = '\0'; break;
    case DDF_VSTRING:
    case DDF_PTR: std::memset(value, 0, 8); break;
    case DDF_COUNT: std::memset(value, 0, 4); break;
    default: break;
  }
  return 0;
}

const char *ddf_GetFieldValueDesc(const ddf_FieldDesc *desc, uint32_t value) {
  const ddf_Schema *schema = ddf_current;
  if (desc == nullptr || schema == nullptr || schema->vdescs == nullptr || desc->nvdescs <= 0 ||
      desc->aux < 0)
    return nullptr;
  for (int32_t i = desc->aux; i < desc->aux + desc->nvdescs && i < schema->vdesc_count; ++i)
    if (schema->vdescs[i].value == value) return schema->vdescs[i].text;
  return nullptr;
}

mpm_Status ddf_GetFieldAttrDesc(uint32_t mask, char **text) {
  if (text == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *text = nullptr;
  const ddf_Schema *schema = ddf_current;
  int32_t count = 0;
  if (schema != nullptr && schema->attr_names != nullptr)
    count = schema->attr_count < 32 ? schema->attr_count : 32;  // a mask has 32 bits
  DstString names;
  mpm_Status status = dst_InitializeString(&names, 64);
  bool first = true;
  for (int32_t i = 0; status == 0 && i < count; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    if (!first) status = dst_AppendChar(&names, ',');
    if (status == 0) status = dst_AppendString(&names, schema->attr_names[i]);
    first = false;
  }
  if (status == 0) status = dst_CopyString(&names, text);
  dst_Free(&names);
  return status;
}

}  // extern "C"
