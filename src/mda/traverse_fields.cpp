// What both entity walks share: checking the entity, finding a field's elements in its memory
// block, choosing a union's member, and the registers that count and let fields fill.
//
// A field held in a memory block is trusted no further than its block: the block must be of the
// kind the field calls for (plain for PTRFIXED and one-dimensional VARIABLE fields, an array block
// of the same dimensions and element size for the others), every row pointer followed must lie in
// the block's row tables, and the elements the registers call for must lie in the block. Anything
// else is ARRAY_MISMATCH, so a callback is never handed a range it cannot read.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

bool holds_descriptor(const ddf_FieldDesc *first, const ddf_FieldDesc *end,
                      const ddf_FieldDesc *d) {
  return d >= first && d < end;
}

// Dimensions of a field in a block (an fstring's length excluded): 1 to 5, or 0 when malformed.
int32_t block_dims(const ddf_FieldDesc &desc) {
  const int32_t n = desc.ndims - (desc.kind == DDF_FSTRING ? 1 : 0);
  return n >= 1 && n <= MDA_MAX_DIMS ? n : 0;
}

}  // namespace

Result walk_target(void *entity, const ddf_FieldDesc *from, WalkTarget *target) {
  if (entity == nullptr) return MDA_NULL_MEMPTR;
  MBlock *block = block_at(entity, false);
  if (block == nullptr) return bad_block(static_cast<char *>(entity) - kHeader);
  const uint32_t size = block->size - kHeader;
  if (size < sizeof(mda_EntityHeader)) return MDA_INVALID_ARG;
  mda_EntityHeader header;
  std::memcpy(&header, entity, sizeof header);
  const mda_ModelRec *rec = model_in_use(model_of(header.ptr));
  if (rec == nullptr || rec->schema == nullptr) return MDA_INVALID_MODEL;
  const ddf_Schema *schema = rec->schema;
  int32_t tfi = static_cast<int32_t>(header.tfi);
  if (header.tfi >= static_cast<uint32_t>(schema->tf_count) || schema->typeforms[tfi] != header.tf)
    tfi = ddf_FindTFI(schema->typeforms, schema->tf_count, header.tf);
  if (tfi < 0 || schema->ent_sizes[tfi] > size) return MDA_INVALID_ARG;
  const auto fields = ddf::type_fields(schema, tfi);
  if (fields.empty()) return MDA_INVALID_ARG;
  target->entity = static_cast<char *>(entity);
  target->schema = schema;
  target->first = fields.data();
  target->end = fields.data() + fields.size();
  if (from == nullptr || holds_descriptor(target->first, target->end, from)) {
    if (from != nullptr) target->first = from;
    return 0;
  }
  // A descriptor of another type form (a subentity's walk started by hand).
  for (int32_t t = 0; t < schema->tf_count; ++t) {
    const auto other = ddf::type_fields(schema, t);
    if (holds_descriptor(other.data(), other.data() + other.size(), from)) {
      target->first = from;
      target->end = other.data() + other.size();
      return 0;
    }
  }
  return MDA_INVALID_ARG;
}

bool subentity_fields(const ddf_Schema *schema, int32_t number, const ddf_FieldDesc **first,
                      const ddf_FieldDesc **end) {
  if (schema->subent_tfis == nullptr || number < 0 || number >= schema->subent_count) return false;
  const auto fields = ddf::type_fields(schema, schema->subent_tfis[number]);
  if (fields.empty()) return false;
  *first = fields.data();
  *end = fields.data() + fields.size();
  return true;
}

SlotAdmission *g_slot_admission = nullptr;

Result block_elements(const ddf_FieldDesc &desc, const void *slot, const int32_t *registers,
                          int32_t *count, char **first) {
  *count = 0;
  *first = nullptr;
  char *data = nullptr;
  std::memcpy(&data, slot, sizeof data);
  if (data == nullptr) return 0;  // no block, no elements
  if (g_slot_admission != nullptr && !g_slot_admission->admit(g_slot_admission->state, slot, data))
    return bad_block(data);
  const int32_t n = block_dims(desc);
  const uint64_t element = static_cast<uint64_t>(ddf::element_size(desc));
  if (n == 0 || element == 0) return MDA_INVALID_ARG;
  const bool rows = (desc.flags & DDF_VARIABLE) != 0 && n >= 2;
  // The plain header is looked at first: reading 88 bytes before a plain block's data would read
  // outside it.
  MBlock *b = find_block(data);
  if (b == nullptr) return bad_block(data - kHeader - (rows ? kArrayHeader : 0));
  if (b->type != (rows ? MDA_MBLOCK_ARRAY : MDA_MBLOCK_PLAIN)) return MDA_ARRAY_MISMATCH;
  const mda_ArrayHeader *ah = rows ? array_header(b) : nullptr;
  char *const end = block_end(b);
  char *elements = data;
  if (ah != nullptr) {
    if (ah->ndims != n || ah->element_size != element || ah->element_offset < kArrayHeader ||
        ah->element_offset > b->size - kHeader)
      return MDA_ARRAY_MISMATCH;
    elements = data_of(b) + ah->element_offset;
  }

  int32_t dims[MDA_MAX_DIMS] = {};
  for (int32_t i = 0; i < n; ++i) dims[i] = evaluate_dim(desc.dims[i], registers);
  if ((desc.flags & DDF_UNSIZED) != 0) {
    // The first dimension is what the block holds.
    uint64_t per_row = element;
    for (int32_t i = 1; i < n; ++i)
      per_row = dims[i] > 0 && per_row <= UINT32_MAX ? per_row * static_cast<uint64_t>(dims[i]) : 0;
    const uint64_t rows_held = per_row != 0 ? static_cast<uint64_t>(end - elements) / per_row : 0;
    dims[0] = rows_held > INT32_MAX ? INT32_MAX : static_cast<int32_t>(rows_held);
  }
  uint64_t total = 1;
  for (int32_t i = 0; i < n; ++i) {
    if (dims[i] <= 0) total = 0;
    else if (total != 0 && __builtin_mul_overflow(total, static_cast<uint64_t>(dims[i]), &total))
      return MDA_ARRAY_MISMATCH;
  }
  if (total > INT32_MAX) return MDA_ARRAY_MISMATCH;

  char *at = data;
  if (ah != nullptr) {
    // Inner dimensions must be the block's: the elements are handed over as one run.
    for (int32_t i = 1; i < n; ++i)
      if (static_cast<uint32_t>(dims[i] > 0 ? dims[i] : 0) != ah->dims[i])
        return MDA_ARRAY_MISMATCH;
    if (dims[0] > 0 && static_cast<uint32_t>(dims[0]) > ah->dims[0]) return MDA_ARRAY_MISMATCH;
    char *const tables = reinterpret_cast<char *>(const_cast<mda_ArrayHeader *>(ah)) + kArrayHeader;
    for (int32_t level = 0; level < n - 1; ++level) {
      if (at < tables || at + 8 > elements) return MDA_ARRAY_MISMATCH;
      std::memcpy(&at, at, sizeof(char *));
    }
    if (at < elements) return MDA_ARRAY_MISMATCH;
  }
  if (at > end || static_cast<uint64_t>(end - at) / element < total) return MDA_ARRAY_MISMATCH;
  *count = static_cast<int32_t>(total);
  *first = at;
  return 0;
}

int32_t embedded_count(const ddf_FieldDesc &desc) {
  const int64_t element = ddf::element_size(desc);
  if (element <= 0) return 0;
  const int64_t n = ddf::slot_size(desc) / element;
  return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

int32_t union_member(const ddf_FieldDesc *fields, int32_t end, int32_t selector) {
  if (selector < 0) return -1;
  int32_t k = 1;
  while (k < end) {
    if (k - 1 == selector) return k;
    k += fields[k].kind == DDF_STRUCT && fields[k].aux > 0 ? fields[k].aux + 1 : 1;
  }
  return -1;
}

void store_count(const ddf_FieldDesc &desc, const void *address, int32_t *registers) {
  const int32_t r = -static_cast<int32_t>(desc.dims[0].a);
  if (r >= 1 && r < DDF_REGISTER_COUNT) std::memcpy(&registers[r], address, sizeof(int32_t));
}

void compute_let(const ddf_FieldDesc &desc, void *address, int32_t *registers) {
  const ddf_Schema *schema = ddf_current;
  if (schema == nullptr || schema->opcodes == nullptr || desc.instr < 0 ||
      desc.instr >= schema->opcode_count)
    return;
  int32_t *saved = ddf_registers;
  ddf_registers = registers;
  int32_t value = 0;
  const ddf_Opcode *program = schema->opcodes + desc.instr;
  const Result status = ddf_EvaluateOpcodes(program, &value);
  ddf_registers = saved;
  // A record being checked while it loads is read, not changed: only the registers take the value.
  const bool store = g_slot_admission == nullptr;
  if (status == 0) {
    if (store) std::memcpy(address, &value, sizeof value);
    return;
  }
  // A well-formed program fails only by its arithmetic (a division by zero): the field and its
  // register then hold 0, as a dimension with a zero divisor does. A malformed one stores nothing.
  auto in_range = [](int32_t x) { return x >= 0 || -x < DDF_REGISTER_COUNT; };
  for (int32_t i = desc.instr; i < schema->opcode_count; ++i) {
    const ddf_Opcode &op = schema->opcodes[i];
    if (op.op == 'd') {
      if (i == desc.instr) return;
      const int32_t r = -static_cast<int32_t>(schema->opcodes[i - 1].dest);
      if (r >= 0 && r < DDF_REGISTER_COUNT) registers[r] = 0;
      value = 0;
      if (store) std::memcpy(address, &value, sizeof value);
      return;
    }
    if ((op.op != 'f' && op.op != 'g' && op.op != 'h' && op.op != 'i') || !in_range(op.a) ||
        !in_range(op.b) || op.dest > 0 || -op.dest >= DDF_REGISTER_COUNT)
      return;
  }
}

}  // namespace tesmar::mda
