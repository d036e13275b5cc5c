// Private declarations of the schema module, and the seams the entity database uses.
#pragma once

#include <cstdint>
#include <span>

#include "tesmar/ddf.h"
#include "tesmar/mpm.h"

namespace tesmar::ddf {

const mpm_ModuleDesc &module_desc();

// The TFI of `tf` in `schema`, or -1. For ddf_current the answer goes through the one-entry cache
// (ddf_last_tf / ddf_last_tfi), which a miss refills.
int32_t lookup_tfi(const ddf_Schema *schema, uint32_t tf);

// Forgets the cached TF; done whenever ddf_current changes.
void reset_cache();

// The descriptors of type form index `tfi`: `ent_fldcnts[tfi]` of them from `fld_indices[tfi]`.
// Empty for a null schema or an index outside 0..tf_count-1. Walks over the span stop at its end
// whether or not it closes with an endent descriptor.
std::span<const ddf_FieldDesc> type_fields(const ddf_Schema *schema, int32_t tfi);

// The name of a descriptor (null when unnamed or out of range).
const char *field_name(const ddf_Schema *schema, const ddf_FieldDesc &desc);

// Size in bytes of one element of a field: the last dimension of an fstring, the structure size of
// a struct, otherwise the kind's value size.
int32_t element_size(const ddf_FieldDesc &desc);

// Is the field's value held in a memory block of its own, the entity holding only its address?
// Arrays are, unless their size is fixed and they are stored in place (DDF_FIXED alone).
inline bool held_in_block(const ddf_FieldDesc &desc) {
  return (desc.flags & DDF_ARRAY) != 0 &&
         ((desc.flags & (DDF_PTRFIXED | DDF_VARIABLE)) != 0 || (desc.flags & DDF_FIXED) == 0);
}

// Bytes a field occupies in the entity (before its filler bytes), as the entity walk advances:
// 8 for a field held in a memory block, the elements of an embedded array, the subentity's bytes,
// nothing for derived, method and the bracketing kinds. Literal dimensions are required for
// embedded arrays (a register operand counts as 0).
int64_t slot_size(const ddf_FieldDesc &desc);

}  // namespace tesmar::ddf

namespace tesmar::ddf {

// Checking a schema read from outside (validate.cpp). `sizes` holds, per section number - 1, the
// size in bytes of the section's block, or -1 when the file had no such section (its header
// pointer is then null). Each returns null when the schema is sound, else the reason it is not
// (the reader reports every reason as READ_ERR; the reasons help tests and debugging).

// Sets the counts the header takes from section sizes (opcodes, subentities), checks the text
// sections (entries within the section, every offset inside it, every text terminated inside it)
// and turns their stored offsets into addresses.
const char *relocate_texts(ddf_Schema *schema, const int64_t sizes[DDF_SECTION_COUNT]);

// Checks everything the lookups and the entity walks rely on: required sections, per-type arrays,
// sorted type forms and names, descriptor ranges, kinds, indexes, dimensions, registers, let
// programs, structure nesting, subentities (not cyclic) and the sizes the layout implies.
const char *check_schema(const ddf_Schema *schema, const int64_t sizes[DDF_SECTION_COUNT]);

}  // namespace tesmar::ddf

namespace tesmar::ddf {

// Reads `count` bytes at `position` of the schema file into `buffer`; 0 or a failure status.
using ReadFn = mpm_Status (*)(void *context, int64_t position, uint32_t count, void *buffer);

// Reads a binary schema file of `file_size` bytes through `read` (read_binary.cpp). Every extent
// is checked against the file size before it is read. Returns 0 with the new schema in *schema, or
// the code of the DDF message that the caller issues with the file name (DDF_READ_ERR, DDF_ID_ERR,
// DDF_VERSION_ERR, DDF_MALLOC_ERR) after closing the file; nothing is kept then and *schema is
// null. Issues nothing itself. `reason`, when given, receives what was wrong (for tests).
mpm_Status load(int64_t file_size, ReadFn read, void *context, ddf_Schema **schema,
                const char **reason = nullptr);

// Frees the arrays and the header of a schema that is not (yet) known to the globals.
void free_blocks(ddf_Schema *schema);

}  // namespace tesmar::ddf
