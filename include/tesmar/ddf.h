/*
 * DDF: the compiled schema (module 8).
 *
 * A schema declares the entity types (type forms) that a model may hold and the fields of each. It
 * is compiled ahead of time (the `tesmar ddl compile` command, docs/ddl.md) into a binary schema
 * file (docs/ddf-format.md), which ddf_ReadBinaryDDF reads into a ddf_Schema: a 456-byte header and
 * up to 23 separately allocated arrays. The layout of the header and of its arrays is part of the
 * interface: the entity database lays out, walks, saves and prints entities from it, and
 * applications may read it directly.
 *
 * Type form (TF): 32 bits, the type number in the high half and the form number in the low half,
 * printed "%d:%d" (type unsigned, form as a signed 16-bit number). Type form index (TFI): position
 * of a TF in the schema's sorted `typeforms` array; -1 means none. Every per-type array (ent_*,
 * fld_indices) is indexed by TFI.
 *
 * Ownership: a schema returned by ddf_ReadBinaryDDF belongs to the caller, who releases it with
 * ddf_FreeSchema (or frees the header and each array with free()); it must outlive the models bound
 * to it. Lookups that take no schema argument query ddf_current; with no current schema they find
 * nothing. Arrays returned through out arguments are malloc'ed; the caller frees them with free().
 *
 * Lookups that find nothing return DDF_NOT_FOUND (or TF_NONE, -1) without issuing a message;
 * failures issue a message of the DDF table at MPM_ERROR and return its code.
 *
 * All state is process-wide; use the library from one thread at a time.
 */
#ifndef TESMAR_DDF_H
#define TESMAR_DDF_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module DDF (8). */
#define DDF_NULL_MEMPTR     0x80001u /* " Unexpected NULL memory pointer.\n" */
#define DDF_INVALID_ARG     0x80002u /* " Invalid argument.\n" */
#define DDF_FIELD_NOT_FOUND 0x80003u /* " Specified field was not found.\n" */
#define DDF_MALLOC_ERR      0x80004u /* " Error allocating memory.\n" */
#define DDF_OPEN_ERR        0x80005u /* " Error opening DDF file %s.\n" */
#define DDF_READ_ERR        0x80006u /* " Error reading DDF file %s.\n" */
#define DDF_VERSION_ERR     0x80007u /* " Binary DDF file %s has wrong version number.\n" */
#define DDF_ID_ERR          0x80008u /* " File %s is not a binary DDF.\n" */
#define DDF_NOT_UNION_TYPE  0x80009u /* " Field type of union expected but not found.\n" */

/* Quiet statuses, never issued. */
#define DDF_NOT_FOUND  0x8FFFFu /* a lookup found nothing */
#define DDF_BAD_OPCODE 0x8FFFEu /* a dimension program cannot be run to its end */

/* Type form values with a meaning of their own. */
#define TF_NONE 0x3E803E80u /* no type form */
#define TF_ANY  0x3E813E81u /* any type form */
#define DDF_ALL_FORMS 16001 /* form number standing for all forms of a type */

/* Field kinds (byte 22 of a field descriptor; index of ddf_types). */
#define DDF_EMPTY     0
#define DDF_SHORT     1
#define DDF_INT       2
#define DDF_LONG      3  /* 32 bits */
#define DDF_FLOAT     4
#define DDF_DOUBLE    5
#define DDF_CHAR      6
#define DDF_FSTRING   7  /* fixed string: its last dimension is its length */
#define DDF_VSTRING   8  /* pointer to a string in its own memory block */
#define DDF_PTR       9  /* entity handle */
#define DDF_COUNT     10 /* element count read into a register by a walk */
#define DDF_STRUCT    11 /* structure, or with DDF_UNION a union */
#define DDF_ENDSTRUCT 12
#define DDF_LET       13 /* computed by a dimension program */
#define DDF_UNIONKIND 14 /* kind reported for a union structure */
#define DDF_ENDUNION  15 /* kind reported at the end of a union */
#define DDF_SUBENT    16 /* embedded subentity of another type form */
#define DDF_DERIVED   17
#define DDF_METHOD    18
#define DDF_ENDENT    19 /* closes the descriptors of a type form */
#define DDF_KIND_COUNT 20

/* Modifier mask of a field descriptor. */
#define DDF_MOD_ATTR      0x01u /* the field has attributes (attribute mask at offset 0) */
#define DDF_MOD_DEFAULT   0x02u /* the field has a default key */
#define DDF_MOD_FUNCTION  0x04u /* a derived field computed by a method */
#define DDF_MOD_RANGE     0x08u
#define DDF_MOD_REFTYPE   0x10u /* a ptr field with a list of referable type forms */
#define DDF_MOD_LENGTH    0x20u
#define DDF_MOD_MAXLENGTH 0x40u
#define DDF_MOD_METHOD    0x80u

/* Flags of a field descriptor. */
#define DDF_ARRAY    0x01u /* the field has array dimensions */
#define DDF_FIXED    0x02u /* the elements lie in the entity */
#define DDF_PTRFIXED 0x04u /* the entity holds a pointer to one block of elements */
#define DDF_VARIABLE 0x08u /* the entity holds a pointer to an array block with row pointers */
#define DDF_REFANY   0x10u /* a ptr field that may refer to any type form */
#define DDF_REFNONE  0x20u /* a ptr field that names no referable type form */
#define DDF_UNION    0x40u /* a struct descriptor that is a union */
#define DDF_UNSIZED  0x80u /* the first dimension comes from the size of the memory block */

/* Header field ent_info, bits per type form. */
#define DDF_INFO_POINTERS 0x04u /* entities of the type hold ptr fields (subentities included) */

#define DDF_MAX_DIMS 5
/* Registers of dimension programs: an array of DDF_REGISTER_COUNT 32-bit values, indexed by
 * register number; schemas name registers 1 to DDF_REGISTER_COUNT - 1. */
#define DDF_REGISTER_COUNT 64
#define DDF_SECTION_COUNT 23
#define DDF_PAGE_SIZE 32768
#define DDF_FILE_VERSION 100
#define DDF_SIGNATURE "Tes/mar Binary DDF"

/* One dimension expression: operand A, operand B, operator ('e' A, 'f' A+B, 'g' A-B, 'h' A*B,
 * 'i' A/B). An operand below zero names register -operand; otherwise it is a literal. */
typedef struct ddf_DimExpr {
  int16_t a;
  int16_t b;
  char op;
  uint8_t pad;
} ddf_DimExpr;

/* One instruction of a dimension program: operands as above, destination -register, opcode
 * ('f', 'g', 'h', 'i'; 'd' ends the program). */
typedef struct ddf_Opcode {
  int16_t a;
  int16_t b;
  int8_t dest;
  char op;
} ddf_Opcode;

/* Field descriptor, 60 bytes. */
typedef struct ddf_FieldDesc {
  uint32_t attributes;  /* 0: attribute mask (bits index attr_names); 0 when none */
  uint32_t modifiers;   /* 4: DDF_MOD_* */
  int16_t name;         /* 8: index in fld_names, -1 unnamed */
  int16_t desc;         /* 10: index in fld_descs, -1 none */
  int16_t instr;        /* 12: let: first instruction in opcodes; ptr with DDF_MOD_REFTYPE: its
                           reference list (index of ptr_names); -1 otherwise */
  int16_t aux;          /* 14: struct: descriptors up to its endstruct; subent: bytes of the
                           subentity; value kinds with value descriptions: first vdescs entry */
  int32_t version;      /* 16: version * 100 + release that introduced the field; 0 always */
  int16_t key;          /* 20: count: referring fields; struct: structure size; subent: subentity
                           number; derived, endent: method index; value kinds: default key */
  int8_t kind;          /* 22: DDF_SHORT ... DDF_ENDENT */
  int8_t number;        /* 23: position of the descriptor within its type form */
  uint16_t flags;       /* 24: DDF_ARRAY ... */
  int8_t nvdescs;       /* 26: number of value descriptions */
  int8_t ndims;         /* 27: number of dimension expressions */
  int8_t filler;        /* 28: bytes between the end of the field's slot and the next field */
  uint8_t member_offset;/* 29: union: bytes between the 2-byte selector and the members */
  ddf_DimExpr dims[DDF_MAX_DIMS]; /* 30: dimensions; count: dims[0].a = -register */
} ddf_FieldDesc;

/* Value description: a value of a field and its text. */
typedef struct ddf_ValueDesc {
  uint32_t value;
  uint32_t pad;
  char *text;
} ddf_ValueDesc;

/* The compiled schema (header, 456 bytes). The comments give the byte offsets. */
typedef struct ddf_Schema {
  char db_name[192];         /*   0: database name, NUL-terminated */
  int32_t db_version;        /* 192 */
  int32_t db_release;        /* 196 */
  int32_t attr_count;        /* 200: entries of attr_names (at most 32 are used) */
  int32_t pad0;
  char **attr_names;         /* 208 */
  uint32_t *attr_masks;      /* 216: per attribute, its bit (1 << index) */
  int32_t ptr_count;         /* 224: reference lists (entries of ptr_names) */
  int32_t pad1;
  uint32_t *ptr_data;        /* 232: the TFs of all reference lists */
  char **ptr_names;          /* 240: per list, "entity.field" of the ptr field that owns it */
  int32_t *ptr_counts;       /* 248: per list, its number of TFs */
  int32_t *ptr_indices;      /* 256: per list, the index of its first TF in ptr_data */
  int32_t vdesc_count;       /* 264 */
  int32_t pad2;
  ddf_ValueDesc *vdescs;     /* 272 */
  int32_t opcode_count;      /* 280: instructions in opcodes (set from the section size) */
  int32_t pad3;
  ddf_Opcode *opcodes;       /* 288 */
  uint8_t reserved0[8];      /* 296 */
  int32_t tf_count;          /* 304 */
  int32_t pad4;
  uint32_t *typeforms;       /* 312: sorted ascending */
  int32_t fld_name_count;    /* 320 */
  int32_t pad5;
  char **fld_names;          /* 328: sorted ascending by byte comparison */
  int32_t fld_desc_count;    /* 336 */
  int32_t pad6;
  char **fld_descs;          /* 344 */
  ddf_FieldDesc *fld_data;   /* 352 */
  int16_t *fld_indices;      /* 360: per TFI, its first descriptor */
  char **ent_names;          /* 368: per TFI, the entity name in lower case */
  int16_t *ent_fldcnts;      /* 376: per TFI, its number of descriptors (endent included) */
  char **ent_descs;          /* 384: per TFI, the description of the entity type */
  uint32_t *ent_uattrs;      /* 392: per TFI, the attribute mask of the entity type */
  uint16_t *ent_sizes;       /* 400: per TFI, bytes of an entity, its 24-byte header included */
  uint8_t *ent_info;         /* 408: per TFI, DDF_INFO_* bits */
  int32_t subent_count;      /* 416: entries of subent_tfis (set from the section size) */
  int32_t pad7;
  int32_t *subent_tfis;      /* 424: per subentity number, its TFI */
  void *sub_super_data;      /* 432 */
  uint32_t *supertype_tfs;   /* 440 */
  uint32_t *subtype_tfs;     /* 448 */
} ddf_Schema;

/* A section of the binary file: its name, number and the header offset of its pointer. */
typedef struct ddf_Section {
  const char *name;
  int32_t number;
  int32_t offset;
} ddf_Section;

/* A field kind: schema keyword, C declaration text, size of a value, size of an array slot. */
typedef struct ddf_Type {
  const char *keyword;
  const char *declaration;
  int32_t size;
  int32_t array_size;
} ddf_Type;

TESMAR_STATIC_ASSERT(sizeof(ddf_DimExpr) == 6, "ddf_DimExpr layout");
TESMAR_STATIC_ASSERT(sizeof(ddf_Opcode) == 6, "ddf_Opcode layout");
TESMAR_STATIC_ASSERT(sizeof(ddf_FieldDesc) == 60, "ddf_FieldDesc layout");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, modifiers) == 4, "ddf_FieldDesc.modifiers");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, name) == 8, "ddf_FieldDesc.name");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, desc) == 10, "ddf_FieldDesc.desc");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, instr) == 12, "ddf_FieldDesc.instr");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, aux) == 14, "ddf_FieldDesc.aux");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, version) == 16, "ddf_FieldDesc.version");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, key) == 20, "ddf_FieldDesc.key");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, kind) == 22, "ddf_FieldDesc.kind");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, number) == 23, "ddf_FieldDesc.number");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, flags) == 24, "ddf_FieldDesc.flags");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, nvdescs) == 26, "ddf_FieldDesc.nvdescs");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, ndims) == 27, "ddf_FieldDesc.ndims");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, filler) == 28, "ddf_FieldDesc.filler");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, member_offset) == 29, "ddf_FieldDesc.member_offset");
TESMAR_STATIC_ASSERT(offsetof(ddf_FieldDesc, dims) == 30, "ddf_FieldDesc.dims");
TESMAR_STATIC_ASSERT(sizeof(ddf_ValueDesc) == 16, "ddf_ValueDesc layout");
TESMAR_STATIC_ASSERT(offsetof(ddf_ValueDesc, text) == 8, "ddf_ValueDesc.text");
TESMAR_STATIC_ASSERT(sizeof(ddf_Schema) == 456, "ddf_Schema layout");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, db_version) == 192, "ddf_Schema.db_version");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, db_release) == 196, "ddf_Schema.db_release");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, attr_count) == 200, "ddf_Schema.attr_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, attr_names) == 208, "ddf_Schema.attr_names");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, attr_masks) == 216, "ddf_Schema.attr_masks");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ptr_count) == 224, "ddf_Schema.ptr_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ptr_data) == 232, "ddf_Schema.ptr_data");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ptr_names) == 240, "ddf_Schema.ptr_names");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ptr_counts) == 248, "ddf_Schema.ptr_counts");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ptr_indices) == 256, "ddf_Schema.ptr_indices");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, vdesc_count) == 264, "ddf_Schema.vdesc_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, vdescs) == 272, "ddf_Schema.vdescs");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, opcode_count) == 280, "ddf_Schema.opcode_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, opcodes) == 288, "ddf_Schema.opcodes");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, tf_count) == 304, "ddf_Schema.tf_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, typeforms) == 312, "ddf_Schema.typeforms");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_name_count) == 320, "ddf_Schema.fld_name_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_names) == 328, "ddf_Schema.fld_names");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_desc_count) == 336, "ddf_Schema.fld_desc_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_descs) == 344, "ddf_Schema.fld_descs");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_data) == 352, "ddf_Schema.fld_data");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, fld_indices) == 360, "ddf_Schema.fld_indices");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_names) == 368, "ddf_Schema.ent_names");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_fldcnts) == 376, "ddf_Schema.ent_fldcnts");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_descs) == 384, "ddf_Schema.ent_descs");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_uattrs) == 392, "ddf_Schema.ent_uattrs");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_sizes) == 400, "ddf_Schema.ent_sizes");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, ent_info) == 408, "ddf_Schema.ent_info");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, subent_count) == 416, "ddf_Schema.subent_count");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, subent_tfis) == 424, "ddf_Schema.subent_tfis");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, sub_super_data) == 432, "ddf_Schema.sub_super_data");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, supertype_tfs) == 440, "ddf_Schema.supertype_tfs");
TESMAR_STATIC_ASSERT(offsetof(ddf_Schema, subtype_tfs) == 448, "ddf_Schema.subtype_tfs");
TESMAR_STATIC_ASSERT(sizeof(ddf_Section) == 16, "ddf_Section layout");
TESMAR_STATIC_ASSERT(sizeof(ddf_Type) == 24, "ddf_Type layout");

/* ---- Tables and state (process-wide) ---- */
TESMAR_API extern const ddf_Section ddf_sections[DDF_SECTION_COUNT]; /* in section-number order */
TESMAR_API extern const ddf_Type ddf_types[DDF_KIND_COUNT];          /* indexed by field kind */
TESMAR_API extern ddf_Schema *ddf_current;  /* the current schema; null until one is made current */
TESMAR_API extern ddf_Schema *ddf_saved;    /* a schema set aside while another is current */
TESMAR_API extern uint32_t ddf_last_tf;     /* TF lookup cache of ddf_current: the last TF ... */
TESMAR_API extern int32_t ddf_last_tfi;     /* ... and its TFI; reset ddf_last_tf to TF_NONE
                                               whenever ddf_current changes */
TESMAR_API extern int32_t *ddf_registers;   /* registers read by ddf_EvaluateOpcodes */
TESMAR_API extern const double ddf_float_defaults[5]; /* keys 50..54: 0, 1, pi, pi/2, pi/4 */

/* Entity name of type form index ii of the current schema. */
#define ddf_GetTFIName(ii) (ddf_current->ent_names[(ii)])

/* ---- Life cycle ---- */

/* Registers the DDF message table; sets ddf_current to null and the lookup cache to TF_NONE / 0.
 * Called by tmx_Initialize. Returns 0. */
TESMAR_API mpm_Status ddf_Initialize(uint32_t options);
/* Called by tmx_Terminate. Returns 0. */
TESMAR_API mpm_Status ddf_Terminate(uint32_t options);

/* ---- Type forms ---- */

/* Binary search of `tf` in a sorted array of `count` TFs: its index, or -1. */
TESMAR_API int32_t ddf_FindTFI(const uint32_t *typeforms, int32_t count, uint32_t tf);

/* The TFs of the current schema whose type number (high half, as a signed 16-bit number) is
 * `type`: a new array (free() it) and its length; none gives 0 and null. DDF_MALLOC_ERR,
 * DDF_NULL_MEMPTR for null out arguments. */
TESMAR_API mpm_Status ddf_FindFormsOfType(int32_t type, int32_t *count, uint32_t **tfs);

/* The TF of an entity name of the current schema, compared without regard to ASCII case; TF_NONE
 * when unknown. */
TESMAR_API uint32_t ddf_GetTFByName(const char *name);

/* ---- Fields ---- */

/* The descriptor of the field `name` (exact, a dotted path for structure members) of type form
 * `tf` in the current schema. Not found: *desc = null and DDF_NOT_FOUND. */
TESMAR_API mpm_Status ddf_GetFieldDesc(const char *name, uint32_t tf, ddf_FieldDesc **desc);

/* Binary search of a field name in fld_names: its index, or DDF_NOT_FOUND (index -1). */
TESMAR_API mpm_Status ddf_SearchFieldName(const char *name, int32_t *index);

/* The descriptor of field `name` of type form index `tfi`; DDF_NOT_FOUND (and null) when the
 * index is negative or out of range, or the type form has no such field. */
TESMAR_API mpm_Status ddf_FindFieldInTFI(int32_t tfi, const char *name, ddf_FieldDesc **desc);

/* The count field of type form `tf` whose register sizes the array field `array` (the first
 * dimension's operand A). None: DDF_FIELD_NOT_FOUND is issued. `arg` is not used. */
TESMAR_API mpm_Status ddf_GetCountField(uint32_t tf, const ddf_FieldDesc *array,
                                        ddf_FieldDesc **count, uint64_t arg);

/* The selector value of the member of a union (a struct descriptor with DDF_UNION) whose name's
 * last dotted component equals that of `name`: the member's position among the descriptors after
 * the union's. DDF_NOT_UNION_TYPE (issued) when `union_desc` is no union; DDF_NOT_FOUND (quiet,
 * index -1) when no member matches. `arg` is not used. */
TESMAR_API mpm_Status ddf_GetUnionMemberByName(const ddf_FieldDesc *union_desc, const char *name,
                                               int32_t *index, uint64_t arg);

/* The same, matching the first member of field kind `kind` (DDF_UNIONKIND matches a union). */
TESMAR_API mpm_Status ddf_GetUnionMemberByType(const ddf_FieldDesc *union_desc, int32_t kind,
                                               int32_t *index, uint64_t arg);

/* Stores the field's default value at `value` by its kind: short 2 bytes, int and long 4 (the key
 * sign-extended), float 4 and double 8 (key 0: 0.0; 50..54: ddf_float_defaults; any other: 0.0),
 * char 1 (the key's low byte), fstring one NUL, vstring and ptr 8 zero bytes, count 4 zero bytes;
 * other kinds store nothing. Returns 0 (DDF_NULL_MEMPTR for null arguments). */
TESMAR_API mpm_Status ddf_GetFieldDefault(const ddf_FieldDesc *desc, void *value);

/* The text of `value` among the field's value descriptions (current schema), or null. */
TESMAR_API const char *ddf_GetFieldValueDesc(const ddf_FieldDesc *desc, uint32_t value);

/* The names of the attributes of the current schema whose bits are set in `mask`, in index order,
 * joined by ","; a new text (free() it). At most 32 attributes are considered; mask 0 gives "".
 * A failing string operation returns its status (DST_NOMEMORY). */
TESMAR_API mpm_Status ddf_GetFieldAttrDesc(uint32_t mask, char **text);

/* Runs the dimension program that starts at `program` over ddf_registers and stores its result.
 * The program ends at its 'd' instruction, which yields the destination register of the
 * instruction before it. Any other opcode, a leading 'd', a register number outside 0 to
 * DDF_REGISTER_COUNT - 1, a division by zero or an overflowing division, a program that runs past
 * the end of the current schema's opcodes, and missing registers end it with the quiet
 * DDF_BAD_OPCODE and leave *value unchanged. */
TESMAR_API mpm_Status ddf_EvaluateOpcodes(const ddf_Opcode *program, int32_t *value);

/* ---- Debugging ---- */

/* Prints every descriptor of type form `tf` of the current schema with ddf_DbgDumpField; an
 * unknown TF prints nothing. Returns 0. */
TESMAR_API mpm_Status ddf_DbgDumpEntityFields(uint32_t options, uint32_t tf);

/* Prints one descriptor to standard output: kind, name, description and address, modifiers, flags,
 * field number, dimensions, filler and key. A null descriptor prints nothing. Returns 0. */
TESMAR_API mpm_Status ddf_DbgDumpField(uint32_t options, const ddf_FieldDesc *desc);

/* ---- Binary schema file ---- */

/* Reads the binary schema file `file_name` (UTF-8; docs/ddf-format.md) into a new schema stored in
 * *schema; it is not made current. The file is opened read-only through the paged file and is
 * never written. Nothing in it is trusted: every extent is checked against the file's size and the
 * whole schema is checked before it is handed over. `options`: none defined.
 * Statuses (each issued with the file name where the text has a place for it; after the open, the
 * file is closed first): DDF_OPEN_ERR (the file cannot be opened; the paged file's own message
 * precedes it), DDF_ID_ERR (another signature), DDF_VERSION_ERR (a format version other than
 * 100), DDF_READ_ERR (a short or damaged file, a schema the lookups could not use safely, a failed
 * read or close), DDF_MALLOC_ERR, DDF_NULL_MEMPTR (null name or out pointer). On any failure
 * *schema is null and nothing read is kept. Free the result with ddf_FreeSchema. */
TESMAR_API mpm_Status ddf_ReadBinaryDDF(uint32_t options, const char *file_name,
                                        ddf_Schema **schema);

/* Frees a schema read by ddf_ReadBinaryDDF: each array and the header. When it is ddf_current or
 * ddf_saved, that global becomes null (and the lookup cache is reset). Null is ignored. Returns 0. */
TESMAR_API mpm_Status ddf_FreeSchema(uint32_t options, ddf_Schema *schema);

TESMAR_EXTERN_C_END

#endif
