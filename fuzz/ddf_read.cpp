// Fuzz target: arbitrary bytes read as a binary schema file with ddf_ReadBinaryDDF.
//
// The bytes are written to a scratch file and read through the paged file as a user's schema file
// would be. A schema the reader accepts is made current and every lookup a model makes is run
// over every field of every type form: whatever the reader lets through must be safe to use.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

void use_field(const ddf_Schema *schema, uint32_t tf, const ddf_FieldDesc *desc) {
  unsigned char value[8];
  ddf_GetFieldDefault(desc, value);
  for (int32_t i = 0; i < desc->nvdescs && i < 4; ++i) ddf_GetFieldValueDesc(desc, i);
  char *attributes = nullptr;
  if (ddf_GetFieldAttrDesc(desc->attributes, &attributes) == 0) std::free(attributes);
  int32_t index = -1;
  if (desc->kind == DDF_STRUCT && (desc->flags & DDF_UNION) != 0) {
    ddf_GetUnionMemberByType(desc, DDF_DOUBLE, &index, 0);
    ddf_GetUnionMemberByType(desc, DDF_UNIONKIND, &index, 0);
    ddf_GetUnionMemberByName(desc, "a.b", &index, 0);
  }
  ddf_FieldDesc *found = nullptr;
  if (desc->name >= 0 && desc->name < schema->fld_name_count) {
    const char *name = schema->fld_names[desc->name];
    ddf_GetFieldDesc(name, tf, &found);
    ddf_SearchFieldName(name, &index);
  }
  if ((desc->flags & DDF_ARRAY) != 0 && desc->ndims > 0 && desc->dims[0].a < 0)
    ddf_GetCountField(tf, desc, &found, 0);
  if (desc->kind == DDF_LET && desc->instr >= 0 && desc->instr < schema->opcode_count) {
    int32_t result = 0;
    ddf_EvaluateOpcodes(schema->opcodes + desc->instr, &result);
  }
}

void use_schema(ddf_Schema *schema) {
  ddf_current = schema;
  ddf_last_tf = TF_NONE;
  int32_t registers[DDF_REGISTER_COUNT] = {};
  for (int32_t i = 0; i < DDF_REGISTER_COUNT; ++i) registers[i] = i * 3 - 7;
  int32_t *previous_registers = ddf_registers;
  ddf_registers = registers;
  for (int32_t tfi = 0; tfi < schema->tf_count; ++tfi) {
    uint32_t tf = schema->typeforms[tfi];
    ddf_GetTFByName(schema->ent_names[tfi]);
    int32_t count = 0;
    uint32_t *forms = nullptr;
    if (ddf_FindFormsOfType(static_cast<int16_t>(tf >> 16), &count, &forms) == 0) std::free(forms);
    const ddf_FieldDesc *first = schema->fld_data + schema->fld_indices[tfi];
    for (int32_t k = 0; k < schema->ent_fldcnts[tfi]; ++k) use_field(schema, tf, first + k);
    ddf_FieldDesc *found = nullptr;
    ddf_FindFieldInTFI(tfi, "x", &found);
  }
  ddf_registers = previous_registers;
  ddf_FreeSchema(0, schema);  // also clears ddf_current
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::fuzz::start_library();
  static const tesmar::fuzz::Scratch scratch("ddf-read");
  if (!scratch.write(data, size)) return 0;
  ddf_Schema *schema = nullptr;
  mpm_Status status = ddf_ReadBinaryDDF(0, scratch.path(), &schema);
  if (status == 0) {
    use_schema(schema);
  } else if (schema != nullptr) {
    std::abort();  // a failed read hands nothing over
  }
  mpm_DiscardPending(0);
  return 0;
}
