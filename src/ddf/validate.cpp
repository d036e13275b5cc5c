// Checks of a schema that comes from outside.
//
// The reader hands over the header with every section it found in a block of its own (absent
// sections leave a null pointer) and the size of each block. Nothing here trusts a count, index
// or offset before comparing it with the block it refers to; the checks run in an order in which
// each one relies only on what the earlier ones established:
//   1. header counts are not negative; text sections hold their entries and texts (relocation);
//   2. per-type arrays hold tf_count entries, type forms ascend, field names ascend;
//   3. every type form's descriptor range lies in fld_data, its descriptors are well formed and
//      nest properly, and it ends with its only endent;
//   4. the sizes: each structure, subentity and entity holds at least what its descriptors imply
//      (subentities are followed depth first, a cycle being an error).
#include <algorithm>
#include <cstring>
#include <vector>

#include "ddf/ddf_internal.h"

namespace tesmar::ddf {
namespace {

enum Sec {
  kAttrNames, kAttrMasks, kPtrData, kPtrNames, kPtrCounts, kPtrIndices, kVdescs, kOpcodes,
  kTypeforms, kFldNames, kFldDescs, kFldData, kFldIndices, kEntNames, kEntFldcnts, kEntDescs,
  kEntUattrs, kEntSizes, kEntInfo, kSubentTfis, kSubSuperData, kSupertypeTfs, kSubtypeTfs,
};

bool holds(const int64_t sizes[], Sec s, int64_t count, int64_t width) {
  return sizes[s] >= 0 && count >= 0 && sizes[s] / width >= count;
}

// Checks one text section and relocates it. Entries: `count` of `stride` bytes, the stored offset
// at byte `at` of each.
const char *relocate(void *block, int64_t size, int64_t count, int64_t stride, int64_t at) {
  if (count == 0) return nullptr;
  if (block == nullptr || size < 0) return "a text section is missing";
  if (count < 0 || size / stride < count) return "a text section is shorter than its entries";
  auto *base = static_cast<unsigned char *>(block);
  for (int64_t i = 0; i < count; ++i) {
    uint64_t offset = 0;
    std::memcpy(&offset, base + i * stride + at, sizeof offset);
    if (offset >= static_cast<uint64_t>(size)) return "a text offset lies outside its section";
    if (std::memchr(base + offset, 0, static_cast<std::size_t>(size - static_cast<int64_t>(offset))) == nullptr)
      return "a text is not terminated inside its section";
    char *text = reinterpret_cast<char *>(base + offset);
    std::memcpy(base + i * stride + at, &text, sizeof text);
  }
  return nullptr;
}

constexpr int kMaxSubentityDepth = 64;  // type forms on a path of subentities, the top one included
constexpr std::size_t kMaxStructNesting = 32;  // structures and unions open at once (as the walks)

bool is_register(int x) { return x < 0 && -x < DDF_REGISTER_COUNT; }
bool is_operand(int x) { return x >= 0 || is_register(x); }

// Validates the let program that starts at instruction `first`.
bool program_ok(const ddf_Schema &s, int32_t first) {
  if (first < 0 || first >= s.opcode_count) return false;
  for (int32_t i = first; i < s.opcode_count; ++i) {
    const ddf_Opcode &op = s.opcodes[i];
    if (op.op == 'd') return i > first;
    if (op.op != 'f' && op.op != 'g' && op.op != 'h' && op.op != 'i') return false;
    if (!is_operand(op.a) || !is_operand(op.b) || op.dest > 0 || -op.dest >= DDF_REGISTER_COUNT)
      return false;
    if (op.op == 'i' && op.b == 0) return false;
  }
  return false;  // runs off the end of the section
}

bool literal_dims(const ddf_FieldDesc &d) {
  for (int k = 0; k < d.ndims; ++k) {
    const ddf_DimExpr &x = d.dims[k];
    if (x.a < 0 || (x.op != 'e' && x.b < 0)) return false;
  }
  return true;
}

class Checker {
 public:
  Checker(const ddf_Schema &s, const int64_t sizes[]) : s_(s), sizes_(sizes) {}

  const char *run() {
    const ddf_Schema &s = s_;
    if (s.tf_count < 0 || s.attr_count < 0 || s.ptr_count < 0 || s.vdesc_count < 0 ||
        s.fld_name_count < 0 || s.fld_desc_count < 0 || s.opcode_count < 0 || s.subent_count < 0)
      return "a header count is negative";
    // Sections every lookup uses.
    if (!holds(sizes_, kTypeforms, s.tf_count, 4) || !holds(sizes_, kFldIndices, s.tf_count, 2) ||
        !holds(sizes_, kEntFldcnts, s.tf_count, 2) || !holds(sizes_, kEntSizes, s.tf_count, 2) ||
        !holds(sizes_, kEntInfo, s.tf_count, 1) || sizes_[kEntNames] < 0 || sizes_[kFldData] < 0)
      return "a per-type section is missing or shorter than the number of type forms";
    if (sizes_[kFldData] % static_cast<int64_t>(sizeof(ddf_FieldDesc)) != 0)
      return "fld_data is not a whole number of descriptors";
    descriptors_ = sizes_[kFldData] / static_cast<int64_t>(sizeof(ddf_FieldDesc));
    // Optional sections, when present, hold their entries.
    if (sizes_[kEntUattrs] >= 0 && !holds(sizes_, kEntUattrs, s.tf_count, 4))
      return "ent_uattrs is shorter than the number of type forms";
    if (sizes_[kAttrMasks] >= 0 && !holds(sizes_, kAttrMasks, s.attr_count, 4))
      return "attr_masks is shorter than the number of attributes";
    if (s.ptr_count > 0 && (!holds(sizes_, kPtrCounts, s.ptr_count, 4) ||
                            !holds(sizes_, kPtrIndices, s.ptr_count, 4)))
      return "ptr_counts or ptr_indices is missing or short";
    for (int32_t i = 0; i < s.ptr_count; ++i) {
      int64_t first = s.ptr_indices[i], n = s.ptr_counts[i];
      if (first < 0 || n < 0 || (n > 0 && !holds(sizes_, kPtrData, first + n, 4)))
        return "a reference list lies outside ptr_data";
    }
    for (int32_t i = 1; i < s.tf_count; ++i)
      if (s.typeforms[i - 1] >= s.typeforms[i]) return "typeforms are not in ascending order";
    for (int32_t i = 1; i < s.fld_name_count; ++i)
      if (std::strcmp(s.fld_names[i - 1], s.fld_names[i]) >= 0)
        return "fld_names are not in ascending order";
    for (int32_t i = 0; i < s.subent_count; ++i)
      if (s.subent_tfis[i] < 0 || s.subent_tfis[i] >= s.tf_count)
        return "a subentity names no type form";
    for (int32_t t = 0; t < s.tf_count; ++t)
      if (const char *why = check_type(t)) return why;
    state_.assign(static_cast<std::size_t>(s.tf_count), 0);
    area_.assign(static_cast<std::size_t>(s.tf_count), 0);
    for (int32_t t = 0; t < s.tf_count; ++t) {
      int64_t area = 0;
      if (const char *why = type_area(t, &area)) return why;
      if (s.ent_sizes[t] < 24 || s.ent_sizes[t] - 24 < area)
        return "an entity size is smaller than its fields";
    }
    return nullptr;
  }

 private:
  const char *check_type(int32_t t) {
    const ddf_Schema &s = s_;
    int64_t first = s.fld_indices[t], count = s.ent_fldcnts[t];
    if (first < 0 || count < 1 || first + count > descriptors_)
      return "a type form's descriptors lie outside fld_data";
    std::vector<int64_t> open;  // positions of the endstructs of the open structures
    for (int64_t k = 0; k < count; ++k) {
      const ddf_FieldDesc &d = s.fld_data[first + k];
      if (d.number != k) return "a field number differs from the descriptor's position";
      if (const char *why = check_field(d)) return why;
      if (d.kind == DDF_ENDENT) {
        if (k != count - 1) return "an endent descriptor before the end of its type form";
        if (!open.empty()) return "a structure is not closed before endent";
        continue;
      }
      if (k == count - 1) return "a type form does not end with endent";
      if (d.kind == DDF_STRUCT) {
        if (d.aux < 1 || k + d.aux >= count - 1) return "a structure's end lies outside its type form";
        if (s.fld_data[first + k + d.aux].kind != DDF_ENDSTRUCT)
          return "a structure's count does not land on its endstruct";
        if (!open.empty() && k + d.aux >= open.back()) return "structures overlap";
        // The checks below and the walks follow structures by recursion: keep them shallow.
        if (open.size() >= kMaxStructNesting) return "structures nest too deeply";
        open.push_back(k + d.aux);
      } else if (d.kind == DDF_ENDSTRUCT) {
        if (open.empty() || open.back() != k) return "an endstruct closes no structure";
        open.pop_back();
      }
    }
    return nullptr;
  }

  const char *check_field(const ddf_FieldDesc &d) {
    const ddf_Schema &s = s_;
    if (d.kind < DDF_SHORT || d.kind > DDF_ENDENT || d.kind == DDF_UNIONKIND ||
        d.kind == DDF_ENDUNION)
      return "a field kind is out of range";
    if (d.name < -1 || d.name >= s.fld_name_count) return "a field name index is out of range";
    if (d.desc < -1 || d.desc >= s.fld_desc_count) return "a description index is out of range";
    if (d.ndims < 0 || d.ndims > DDF_MAX_DIMS) return "a field has more than 5 dimensions";
    if (d.filler < 0 || d.nvdescs < 0) return "a filler or value-description count is negative";
    if (d.nvdescs > 0 &&
        (d.kind == DDF_STRUCT || d.kind == DDF_SUBENT || d.aux < 0 ||
         int64_t{d.aux} + d.nvdescs > s.vdesc_count))
      return "value descriptions lie outside vdescs";
    for (int k = 0; k < d.ndims; ++k) {
      const ddf_DimExpr &x = d.dims[k];
      if (x.op != 'e' && x.op != 'f' && x.op != 'g' && x.op != 'h' && x.op != 'i')
        return "a dimension has an unknown operator";
      if (!is_operand(x.a) || (x.op != 'e' && !is_operand(x.b)))
        return "a dimension names a register out of range";
      if (x.op == 'i' && x.b == 0) return "a dimension divides by zero";
    }
    const uint16_t storage = d.flags & (DDF_FIXED | DDF_PTRFIXED | DDF_VARIABLE);
    if ((d.flags & DDF_ARRAY) != 0) {
      if (storage != DDF_FIXED && storage != DDF_PTRFIXED && storage != DDF_VARIABLE)
        return "an array has no single storage flag";
      if (d.ndims < (d.kind == DDF_FSTRING ? 2 : 1)) return "an array has no dimensions";
      if (storage == DDF_FIXED && !literal_dims(d)) return "an embedded array has register dimensions";
    }
    if ((d.flags & DDF_UNSIZED) != 0 &&
        ((d.flags & DDF_ARRAY) == 0 || (storage & (DDF_PTRFIXED | DDF_VARIABLE)) == 0))
      return "an unsized field is not held in a memory block";
    switch (d.kind) {
      case DDF_FSTRING: {
        if (d.ndims < 1) return "an fstring has no length";
        const ddf_DimExpr &len = d.dims[d.ndims - 1];
        if (len.op != 'e' || len.a < 1) return "an fstring's length is not a literal";
        break;
      }
      case DDF_COUNT:
        if (!is_register(d.dims[0].a)) return "a count names no register";
        break;
      case DDF_LET:
        if (!program_ok(s, d.instr)) return "a let program is malformed or runs off opcodes";
        break;
      case DDF_PTR:
        if ((d.modifiers & DDF_MOD_REFTYPE) != 0 && (d.instr < 0 || d.instr >= s.ptr_count))
          return "a reference list index is out of range";
        break;
      case DDF_STRUCT:
        if (d.key < 1) return "a structure has no size";
        break;
      case DDF_SUBENT:
        if (d.key < 0 || d.key >= s.subent_count) return "a subentity number is out of range";
        if (d.aux < 0) return "a subentity's size is negative";
        break;
      default:
        break;
    }
    if ((d.kind == DDF_COUNT || d.kind == DDF_LET || d.kind == DDF_SUBENT ||
         d.kind == DDF_DERIVED || d.kind == DDF_METHOD) && (d.flags & DDF_ARRAY) != 0)
      return "a field of this kind cannot be an array";
    return nullptr;
  }

  // Bytes that the members from descriptor `k` up to the endstruct at `end` imply, as a walk
  // advances (a union: its selector, member offset and largest member).
  const char *members(int64_t base, int64_t k, int64_t end, bool is_union, int64_t *bytes) {
    int64_t sum = 0, largest = 0;
    while (k < end) {
      const ddf_FieldDesc &d = s_.fld_data[base + k];
      int64_t slot = 0;
      if (const char *why = field_slot(base, k, &slot)) return why;
      if (d.kind != DDF_DERIVED && d.kind != DDF_METHOD) {
        sum += slot + d.filler;
        largest = std::max(largest, slot + d.filler);
      }
      k += d.kind == DDF_STRUCT ? d.aux + 1 : 1;
    }
    *bytes = is_union ? largest : sum;
    return nullptr;
  }

  const char *field_slot(int64_t base, int64_t k, int64_t *slot) {
    const ddf_FieldDesc &d = s_.fld_data[base + k];
    if (d.kind == DDF_STRUCT) {
      bool is_union = (d.flags & DDF_UNION) != 0;
      int64_t inner = 0;
      if (const char *why = members(base, k + 1, k + d.aux, is_union, &inner)) return why;
      if (is_union) inner += 2 + d.member_offset;
      if (inner > d.key) return "a structure is smaller than its members";
    } else if (d.kind == DDF_SUBENT) {
      int32_t sub = s_.subent_tfis[d.key];
      int64_t area = 0;
      if (const char *why = type_area(sub, &area)) return why;
      if (area > d.aux) return "a subentity is smaller than its fields";
    }
    *slot = slot_size(d);
    return nullptr;
  }

  // Bytes of the field area of type form `t`, computed once; a subentity cycle is an error.
  const char *type_area(int32_t t, int64_t *area) {
    if (state_[t] == 2) {
      *area = area_[t];
      return nullptr;
    }
    if (state_[t] == 1) return "subentities contain each other";
    // Walks descend into subentities by recursion; keep the depth they can reach modest.
    if (depth_ >= kMaxSubentityDepth) return "subentities nest too deeply";
    state_[t] = 1;
    ++depth_;
    int64_t base = s_.fld_indices[t], count = s_.ent_fldcnts[t];
    if (const char *why = members(base, 0, count - 1, false, &area_[t])) return why;
    --depth_;
    state_[t] = 2;
    *area = area_[t];
    return nullptr;
  }

  const ddf_Schema &s_;
  const int64_t *sizes_;
  int64_t descriptors_ = 0;
  int depth_ = 0;
  std::vector<int> state_;
  std::vector<int64_t> area_;
};

}  // namespace

const char *relocate_texts(ddf_Schema *s, const int64_t sizes[DDF_SECTION_COUNT]) {
  s->opcode_count = sizes[kOpcodes] > 0 ? static_cast<int32_t>(sizes[kOpcodes] / 6) : 0;
  s->subent_count = sizes[kSubentTfis] > 0 ? static_cast<int32_t>(sizes[kSubentTfis] / 4) : 0;
  struct Text {
    Sec section;
    void *block;
    int64_t count;
    int64_t stride;
    int64_t at;
  };
  const Text texts[] = {
      {kAttrNames, s->attr_names, s->attr_count, 8, 0},
      {kPtrNames, s->ptr_names, s->ptr_count, 8, 0},
      {kVdescs, s->vdescs, s->vdesc_count, 16, 8},
      {kFldNames, s->fld_names, s->fld_name_count, 8, 0},
      {kFldDescs, s->fld_descs, s->fld_desc_count, 8, 0},
      {kEntNames, s->ent_names, s->tf_count, 8, 0},
      // Entity descriptions are optional; when present there is one per type form.
      {kEntDescs, s->ent_descs, s->ent_descs != nullptr ? s->tf_count : 0, 8, 0},
  };
  for (const Text &t : texts) {
    if (t.count < 0) return "a header count is negative";
    if (const char *why = relocate(t.block, sizes[t.section], t.count, t.stride, t.at)) return why;
  }
  return nullptr;
}

const char *check_schema(const ddf_Schema *schema, const int64_t sizes[DDF_SECTION_COUNT]) {
  return Checker(*schema, sizes).run();
}

}  // namespace tesmar::ddf
