// Lookups in a compiled schema: type forms, entity names, field descriptors, count fields and union
// members.
//
// The walks over a type form's descriptors are bounded by its `ent_fldcnts` entry, so a schema
// built by hand whose type form lacks its closing endent is not walked beyond its range.
#include <cstdlib>
#include <cstring>

#include "ddf/ddf_internal.h"

namespace tesmar::ddf {

int32_t lookup_tfi(const ddf_Schema *schema, uint32_t tf) {
  if (schema == nullptr) return -1;
  if (schema == ddf_current && tf == ddf_last_tf) return ddf_last_tfi;
  int32_t tfi = ddf_FindTFI(schema->typeforms, schema->tf_count, tf);
  if (schema == ddf_current) {
    ddf_last_tf = tf;
    ddf_last_tfi = tfi;
  }
  return tfi;
}

std::span<const ddf_FieldDesc> type_fields(const ddf_Schema *schema, int32_t tfi) {
  if (schema == nullptr || tfi < 0 || tfi >= schema->tf_count || schema->fld_data == nullptr ||
      schema->fld_indices == nullptr || schema->ent_fldcnts == nullptr)
    return {};
  int32_t first = schema->fld_indices[tfi];
  int32_t count = schema->ent_fldcnts[tfi];
  if (first < 0 || count <= 0) return {};
  return {schema->fld_data + first, static_cast<std::size_t>(count)};
}

const char *field_name(const ddf_Schema *schema, const ddf_FieldDesc &desc) {
  if (schema == nullptr || schema->fld_names == nullptr || desc.name < 0 ||
      desc.name >= schema->fld_name_count)
    return nullptr;
  return schema->fld_names[desc.name];
}

int32_t element_size(const ddf_FieldDesc &desc) {
  if (desc.kind == DDF_FSTRING) {
    if (desc.ndims < 1 || desc.ndims > DDF_MAX_DIMS) return 0;
    const ddf_DimExpr &last = desc.dims[desc.ndims - 1];
    return last.a > 0 ? last.a : 0;
  }
  if (desc.kind == DDF_STRUCT) return desc.key > 0 ? desc.key : 0;
  if (desc.kind < 0 || desc.kind >= DDF_KIND_COUNT) return 0;
  return ddf_types[desc.kind].size;
}

namespace {

// Value of a dimension expression whose operands are literals (register operands count as 0).
int64_t literal_dim(const ddf_DimExpr &dim) {
  int64_t a = dim.a >= 0 ? dim.a : 0, b = dim.b >= 0 ? dim.b : 0;
  switch (dim.op) {
    case 'f': return a + b;
    case 'g': return a - b > 0 ? a - b : 0;
    case 'h': return a * b;
    case 'i': return b != 0 ? a / b : 0;
    default: return a;
  }
}

}  // namespace

int64_t slot_size(const ddf_FieldDesc &desc) {
  switch (desc.kind) {
    case DDF_STRUCT:
    case DDF_SHORT: case DDF_INT: case DDF_LONG: case DDF_FLOAT: case DDF_DOUBLE: case DDF_CHAR:
    case DDF_FSTRING: case DDF_VSTRING: case DDF_PTR:
      break;
    case DDF_COUNT: case DDF_LET: return 4;
    case DDF_SUBENT: return desc.aux > 0 ? desc.aux : 0;
    default: return 0;
  }
  if ((desc.flags & DDF_ARRAY) == 0) return element_size(desc);
  if (held_in_block(desc)) return 8;
  int64_t n = 1;
  int dims = desc.ndims - (desc.kind == DDF_FSTRING ? 1 : 0);
  for (int i = 0; i < dims && i < DDF_MAX_DIMS; ++i) {
    n *= literal_dim(desc.dims[i]);
    if (n > (int64_t{1} << 32)) n = int64_t{1} << 32;  // callers compare against 16-bit sizes
  }
  return n * element_size(desc);
}

namespace {

// The type form's descriptors in the current schema.
std::span<const ddf_FieldDesc> current_fields(uint32_t tf) {
  return type_fields(ddf_current, lookup_tfi(ddf_current, tf));
}

unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// The last dotted component of a name.
const char *last_component(const char *name) {
  const char *dot = std::strrchr(name, '.');
  return dot != nullptr ? dot + 1 : name;
}

// Kind of a descriptor as union lookups see it: a struct carrying DDF_UNION is a union.
int32_t effective_kind(const ddf_FieldDesc &desc) {
  if (desc.kind == DDF_STRUCT && (desc.flags & DDF_UNION) != 0) return DDF_UNIONKIND;
  return desc.kind;
}

// Walks the members of a union (bounded by the union's count of descriptors up to its endstruct)
// and answers the position of the first one that `match` accepts.
template <typename Match>
mpm_Status find_union_member(const ddf_FieldDesc *union_desc, int32_t *index, Match match) {
  if (index == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *index = -1;
  if (union_desc == nullptr || union_desc->kind != DDF_STRUCT ||
      (union_desc->flags & DDF_UNION) == 0)
    return mpm_IssueMessage(0, DDF_NOT_UNION_TYPE, MPM_ERROR);
  int depth = 1;
  for (int32_t i = 1; i <= union_desc->aux; ++i) {
    const ddf_FieldDesc &d = union_desc[i];
    if (d.kind == DDF_ENDSTRUCT) {
      if (--depth < 1) break;
      continue;
    }
    if (match(d)) {
      *index = d.number - union_desc->number - 1;
      return 0;
    }
    if (d.kind == DDF_STRUCT) ++depth;
  }
  return DDF_NOT_FOUND;
}

}  // namespace

}  // namespace tesmar::ddf

using namespace tesmar::ddf;

extern "C" {

int32_t ddf_FindTFI(const uint32_t *typeforms, int32_t count, uint32_t tf) {
  if (typeforms == nullptr) return -1;
  int32_t low = 0, high = count - 1;
  while (low <= high) {
    int32_t middle = (low + high) >> 1;
    if (typeforms[middle] == tf) return middle;
    if (typeforms[middle] < tf)
      low = middle + 1;
    else
      high = middle - 1;
  }
  return -1;
}

mpm_Status ddf_FindFormsOfType(int32_t type, int32_t *count, uint32_t **tfs) {
  if (count == nullptr || tfs == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *count = 0;
  *tfs = nullptr;
  const ddf_Schema *schema = ddf_current;
  if (schema == nullptr || schema->typeforms == nullptr) return 0;
  auto type_of = [](uint32_t tf) { return static_cast<int32_t>(static_cast<int16_t>(tf >> 16)); };
  int32_t first = -1, n = 0;
  for (int32_t i = 0; i < schema->tf_count; ++i) {
    if (type_of(schema->typeforms[i]) != type) continue;
    if (first < 0) first = i;
    ++n;
  }
  if (n == 0) return 0;
  auto *out = static_cast<uint32_t *>(std::malloc(sizeof(uint32_t) * static_cast<std::size_t>(n)));
  if (out == nullptr) return mpm_IssueMessage(0, DDF_MALLOC_ERR, MPM_ERROR);
  // The forms of one type are adjacent in the sorted array; gather them wherever they are anyway.
  int32_t k = 0;
  for (int32_t i = first; i < schema->tf_count && k < n; ++i)
    if (type_of(schema->typeforms[i]) == type) out[k++] = schema->typeforms[i];
  *count = n;
  *tfs = out;
  return 0;
}

uint32_t ddf_GetTFByName(const char *name) {
  const ddf_Schema *schema = ddf_current;
  if (name == nullptr || schema == nullptr || schema->ent_names == nullptr ||
      schema->typeforms == nullptr)
    return TF_NONE;
  for (int32_t i = 0; i < schema->tf_count; ++i) {
    const char *stored = schema->ent_names[i];
    if (stored == nullptr) continue;
    std::size_t k = 0;
    while (name[k] != '\0' && lower(static_cast<unsigned char>(name[k])) ==
                                  static_cast<unsigned char>(stored[k]))
      ++k;
    if (name[k] == '\0' && stored[k] == '\0') return schema->typeforms[i];
  }
  return TF_NONE;
}

mpm_Status ddf_GetFieldDesc(const char *name, uint32_t tf, ddf_FieldDesc **desc) {
  if (desc == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *desc = nullptr;
  if (name == nullptr) return DDF_NOT_FOUND;
  for (const ddf_FieldDesc &d : current_fields(tf)) {
    const char *field = field_name(ddf_current, d);
    if (field != nullptr && std::strcmp(field, name) == 0) {
      *desc = const_cast<ddf_FieldDesc *>(&d);
      return 0;
    }
  }
  return DDF_NOT_FOUND;
}

mpm_Status ddf_SearchFieldName(const char *name, int32_t *index) {
  if (index == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *index = -1;
  const ddf_Schema *schema = ddf_current;
  if (name == nullptr || schema == nullptr || schema->fld_names == nullptr) return DDF_NOT_FOUND;
  int32_t low = 0, high = schema->fld_name_count - 1;
  while (low <= high) {
    int32_t middle = (low + high) >> 1;
    int c = std::strcmp(schema->fld_names[middle], name);
    if (c == 0) {
      *index = middle;
      return 0;
    }
    if (c < 0)
      low = middle + 1;
    else
      high = middle - 1;
  }
  return DDF_NOT_FOUND;
}

mpm_Status ddf_FindFieldInTFI(int32_t tfi, const char *name, ddf_FieldDesc **desc) {
  if (desc == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *desc = nullptr;
  if (tfi < 0) return DDF_NOT_FOUND;
  int32_t index = -1;
  if (ddf_SearchFieldName(name, &index) != 0) return DDF_NOT_FOUND;
  for (const ddf_FieldDesc &d : type_fields(ddf_current, tfi)) {
    if (d.kind == DDF_ENDENT) break;
    if (d.name == index) {
      *desc = const_cast<ddf_FieldDesc *>(&d);
      return 0;
    }
  }
  return DDF_NOT_FOUND;
}

mpm_Status ddf_GetCountField(uint32_t tf, const ddf_FieldDesc *array, ddf_FieldDesc **count,
                             uint64_t) {
  if (array == nullptr || count == nullptr)
    return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  *count = nullptr;
  for (const ddf_FieldDesc &d : current_fields(tf)) {
    if (d.kind == DDF_ENDENT) break;
    if (d.kind == DDF_COUNT && d.dims[0].a == array->dims[0].a) {
      *count = const_cast<ddf_FieldDesc *>(&d);
      return 0;
    }
  }
  return mpm_IssueMessage(0, DDF_FIELD_NOT_FOUND, MPM_ERROR);
}

mpm_Status ddf_GetUnionMemberByName(const ddf_FieldDesc *union_desc, const char *name,
                                    int32_t *index, uint64_t) {
  if (name == nullptr) return mpm_IssueMessage(0, DDF_NULL_MEMPTR, MPM_ERROR);
  const char *wanted = last_component(name);
  const ddf_Schema *schema = ddf_current;
  return find_union_member(union_desc, index, [&](const ddf_FieldDesc &d) {
    const char *field = field_name(schema, d);
    return field != nullptr && std::strcmp(last_component(field), wanted) == 0;
  });
}

mpm_Status ddf_GetUnionMemberByType(const ddf_FieldDesc *union_desc, int32_t kind, int32_t *index,
                                    uint64_t) {
  return find_union_member(union_desc, index,
                           [&](const ddf_FieldDesc &d) { return effective_kind(d) == kind; });
}

}  // extern "C"
