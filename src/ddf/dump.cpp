// Debugging dumps of field descriptors to standard output.
#include <cstdio>

#include "ddf/ddf_internal.h"

namespace {

constexpr const char *kModifierNames[8] = {"ATTR",   "DEFAULT", "FUNCTION",  "RANGE",
                                           "REFTYPE", "LENGTH", "MAXLENGTH", "METHOD"};
constexpr const char *kFlagNames[8] = {"ARRAY",  "FIXED",   "PTRFIXED", "VARIABLE",
                                       "REFANY", "REFNONE", "UNION",    "UNSIZED"};

void print_bits(const char *title, uint32_t bits, const char *const (&names)[8]) {
  std::printf("%s", title);
  for (int i = 0; i < 8; ++i)
    if ((bits & (1u << i)) != 0) std::printf("  %s", names[i]);
  std::printf("\n");
}

}  // namespace

extern "C" {

mpm_Status ddf_DbgDumpField(uint32_t, const ddf_FieldDesc *desc) {
  if (desc == nullptr) return 0;
  const ddf_Schema *schema = ddf_current;
  const char *keyword =
      desc->kind >= 0 && desc->kind < DDF_KIND_COUNT ? ddf_types[desc->kind].keyword : "";
  const char *name = tesmar::ddf::field_name(schema, *desc);
  const char *text = "";
  if (schema != nullptr && schema->fld_descs != nullptr && desc->desc >= 0 &&
      desc->desc < schema->fld_desc_count && schema->fld_descs[desc->desc] != nullptr)
    text = schema->fld_descs[desc->desc];
  std::printf("%s %s (\"%s\")\n   Address: %p\n", keyword,
              name != nullptr ? name : "**Field not named**", text,
              static_cast<const void *>(desc));
  print_bits("   Modifiers:", desc->modifiers, kModifierNames);
  print_bits("   Flags:", desc->flags, kFlagNames);
  std::printf("   Field #: %d  NDims: %d   Offset: %d", desc->number, desc->ndims, desc->filler);
  switch (desc->kind) {
    case DDF_COUNT: std::printf("  # of referencing fields:  %d\n", desc->key); break;
    case DDF_STRUCT: std::printf("  Structure size:  %d\n", desc->key); break;
    case DDF_SUBENT: std::printf("  Subentity form:  %d\n", desc->key); break;
    case DDF_DERIVED:
    case DDF_ENDENT: std::printf("  fld_methods index:  %d\n", desc->key); break;
    default: std::printf("  Default value key:  %d\n", desc->key); break;
  }
  if (desc->kind == DDF_STRUCT) std::printf("   # of fields to endstruct:  %d\n", desc->aux);
  if (desc->kind == DDF_SUBENT) std::printf("   # of bytes in subent:  %d\n", desc->aux);
  return 0;
}

mpm_Status ddf_DbgDumpEntityFields(uint32_t options, uint32_t tf) {
  if (tf == TF_NONE) return 0;
  int32_t tfi = tesmar::ddf::lookup_tfi(ddf_current, tf);
  for (const ddf_FieldDesc &d : tesmar::ddf::type_fields(ddf_current, tfi))
    ddf_DbgDumpField(options, &d);
  return 0;
}

}  // extern "C"
