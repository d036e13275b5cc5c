/*
 * CFG: configuration files (module 17).
 *
 * A configuration is described by a schema whose type forms are the configuration entities and
 * whose fields are the parameters. cfg_ParseFile reads a text of the assignment language
 * (docs/config.md), and optionally a second text built from the command line whose statements
 * override the file's, into a configuration model: a model of the entity database holding one
 * entity per configured type form, each field filled from its parameter or from its default.
 *
 *     # a comment to the end of the line; C block comments too
 *     section_name:           (an entity name of the schema; one unnamed section when the schema
 *                              has one entity type)
 *     tolerance = 1.0e-6;     ints, doubles (with a point: 1.0e5, 1.e5, 2.5D-3), "strings"
 *     sizes = 1, , 3;         lists; an empty place is the field's zero
 *     points = {0., 1.}, {2., 3.};   structure elements in braces
 *
 * Errors in a statement are reported with the line and a caret under the bad token, and the
 * parse goes on after the next ';' or ':'; the end of the text inside a statement, comment and
 * string errors, and section errors end it. Every message is reported at once (mpm_ReportMessage,
 * MPM_ERROR, no header).
 *
 * cfg_FormatFile writes a model back as a configuration text; cfg_PreProcessCmdLineArg and
 * cfg_SplitCmdLine turn command-line options (named by the fields' descriptions) into the text
 * of overrides.
 *
 * Ownership: a configuration model lives until cfg_FreeModel (or cfg_Terminate); its entities
 * stay locked until then, so their memory may be read directly. Texts returned through out
 * arguments are malloc'ed; the caller frees them with free(). One thread at a time.
 */
#ifndef TESMAR_CFG_H
#define TESMAR_CFG_H

#include <stdint.h>
#include "tesmar/types.h"
#include "tesmar/ddf.h"
#include "tesmar/mda.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"
#include "tesmar/ugn.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module CFG (17). */
#define CFG_BINARY_UNSUPPORTED   0x110001u /* " Binary configuration files are not supported.\n" */
#define CFG_CB_EXP               0x110002u /* " Close-brace (}) operator expected.\n" */
#define CFG_CB_INVAL             0x110003u /* " Corresponding ({) not found.\n" */
#define CFG_CEQ_EXP              0x110004u /* " Colon (:) or Equal (=) operator expected.\n" */
#define CFG_CLOSE_ERROR          0x110005u /* file name */
#define CFG_COP_EXP              0x110006u /* " Comma (,) operator expected.\n" */
#define CFG_DATA_IGNORED         0x110007u /* line, name, elements, values */
#define CFG_D_TO_I               0x110008u /* line, name */
#define CFG_ENT_NOT_FOUND        0x110009u /* entity name, type, form */
#define CFG_ENT_WO_SECTION       0x11000Au /* entity name */
#define CFG_IDEN_EXP             0x11000Bu /* " Identifier expected.\n" */
#define CFG_INVALID_DDF          0x11000Cu
#define CFG_INVALID_DEFAULT      0x11000Du
#define CFG_INVALID_COMBO        0x11000Eu /* line, name */
#define CFG_INVALID_COUNT        0x11000Fu /* line, name */
#define CFG_INVALID_MODEL        0x110010u /* model number */
#define CFG_INVALID_NAME         0x110011u
#define CFG_INVALID_SECTION      0x110012u /* line, name */
#define CFG_I_TO_D               0x110013u /* line, name */
#define CFG_LOCK_ERROR           0x110014u
#define CFG_MALLOC_ERROR         0x110015u /* (memory exception) */
#define CFG_MODEL_INIT_ERROR     0x110016u
#define CFG_MODEL_ALLOC_ERROR    0x110017u
#define CFG_MULT_DIM_ARRAY       0x110018u /* line, name */
#define CFG_NESTED_COMMENT       0x110019u
#define CFG_NEWLINE_STRING       0x11001Au
#define CFG_NO_ENTITIES          0x11001Bu
#define CFG_NOT_SUPPORTED        0x11001Cu
#define CFG_NOT_UNIQUE           0x11001Du /* line, name */
#define CFG_OB_EXP               0x11001Eu
#define CFG_OB_INVAL             0x11001Fu
#define CFG_OPEN_ERROR           0x110020u /* file name */
#define CFG_PARAM_REDEC          0x110021u /* line, name */
#define CFG_PARSE_ERROR          0x110022u
#define CFG_PRINT_USAGE          0x110023u /* the result of "-h" (not issued) */
#define CFG_PS_ERROR             0x110024u /* line, name */
#define CFG_PVAL_EXP             0x110025u
#define CFG_RANGE_ERROR          0x110026u
#define CFG_READ_ERROR           0x110027u /* file name */
#define CFG_SECTION_MISSING      0x110028u
#define CFG_ST_ARRAY             0x110029u /* member, structure, line */
#define CFG_TRAVERSE_ENT_ERROR   0x11002Au /* entity handle */
#define CFG_TRAVERSE_MODEL_ERROR 0x11002Bu /* model number */
#define CFG_UNEXPECTED_EOF       0x11002Cu /* line */
#define CFG_UNDEFINED_SYMBOL     0x11002Du /* line, name */
#define CFG_UNKNOWN_OPTION       0x11002Eu /* the argument */
#define CFG_UNLOCK_ERROR         0x11002Fu
#define CFG__ARRAY_ERROR         0x110030u
#define CFG__ADDL_ERROR          0x110031u
#define CFG__ADDT_ERROR          0x110032u
#define CFG__DELETEL_ERROR       0x110033u
#define CFG__DELETET_ERROR       0x110034u
#define CFG__DIM_ERROR           0x110035u
#define CFG__ERROR_RECORD        0x110036u /* line, "file" or "cmd-line", the line's text */
#define CFG__ERROR_PTR           0x110037u /* the blanks before the caret */
#define CFG__GETL_ERROR          0x110038u
#define CFG__INVALID_TYPE        0x110039u
#define CFG__LIST_ERROR          0x11003Au
#define CFG__MOD_UDATA_ERROR     0x11003Bu /* model number */
#define CFG__RESETL_ERROR        0x11003Cu
#define CFG__RESETT_ERROR        0x11003Du
#define CFG__STRUCT_COUNT_ERROR  0x11003Eu
#define CFG__TREE_ERROR          0x11003Fu
#define CFG__UNKNOWN_TYPE        0x110040u

/* What cfg_ReportError returns when it reported the error record alone (names no message). */
#define CFG_RECORD_ONLY 0x11FFFFu

/* cfg_ParseFile: the second argument is the configuration text itself, not a file name. */
#define CFG_TEXT 0x1u
/* cfg_ReportError: report the error record (line, source, caret) first. */
#define CFG_WITH_RECORD 0x1u

/* Value kinds of the parser (the schema's field kinds for the first three). */
#define CFG_KIND_EMPTY  (-1)
#define CFG_KIND_INT    2
#define CFG_KIND_DOUBLE 5
#define CFG_KIND_STRING 8
#define CFG_KIND_OPEN   11
#define CFG_KIND_CLOSE  12

/* An argument slot of cfg__BuildArgTable: the option parser stores the argument there. */
typedef struct cfg_ArgSlot {
  char *value;             /* the option's argument (not a copy), or null when not given */
  const char *field_name;  /* a text of the schema */
  uint32_t kind;           /* the field's kind */
  uint32_t reserved;
} cfg_ArgSlot;

TESMAR_STATIC_ASSERT(sizeof(cfg_ArgSlot) == 24, "cfg_ArgSlot layout");

/* ---- Life cycle ---- */

/* Registers CFG's table; the list of configuration models starts empty. Run by tmx_Initialize. */
TESMAR_API mpm_Status cfg_Initialize(uint32_t options);
/* Frees every configuration model (as cfg_FreeModel). Run by tmx_Terminate. */
TESMAR_API mpm_Status cfg_Terminate(uint32_t options);

/* ---- Reading ---- */

/* Reads a configuration file (with CFG_TEXT: the text `source` itself) and then, when not null,
 * the command-line text, into a new model of `schema` whose number is stored in *model.
 * Failures: CFG_INVALID_DDF, CFG_INVALID_NAME, CFG_OPEN_ERROR, CFG_READ_ERROR, CFG_MALLOC_ERROR,
 * CFG_PARSE_ERROR (each leaves no model: *model is 0), CFG_MODEL_ALLOC_ERROR; making or filling
 * the entities: CFG_NO_ENTITIES, CFG_ENT_WO_SECTION, CFG_INVALID_DEFAULT, CFG_TRAVERSE_MODEL_ERROR,
 * CFG_TRAVERSE_ENT_ERROR and the entity database's statuses, after which the model stays and
 * *model names it, so that the caller can look at what was made and free it. Warnings
 * (CFG_PARAM_REDEC, CFG_D_TO_I, CFG_INVALID_SECTION, CFG_UNDEFINED_SYMBOL, ...) are reported and
 * do not fail the read. */
TESMAR_API mpm_Status cfg_ParseFile(uint32_t options, ddf_Schema *schema, const char *source,
                                    const char *command_line, int32_t *model);

/* The configuration entity of a type form. CFG_INVALID_MODEL (a number outside 1..65535 or not
 * allocated), CFG__MOD_UDATA_ERROR (not a configuration model), CFG_ENT_NOT_FOUND. */
TESMAR_API mpm_Status cfg_GetEntity(int32_t model, uint32_t tf, db_ptr *entity);

/* Frees a configuration model: unlocks its entities and frees it. Any other model number is left
 * alone. Returns 0. */
TESMAR_API mpm_Status cfg_FreeModel(uint32_t options, int32_t model);

/* The reader's reporter: with CFG_WITH_RECORD the error record (line, source and the line with a
 * caret under the current token) and then, when `code` is not 0, the message of `code` with the
 * arguments that follow, all reported at once. Returns `code`, or CFG_RECORD_ONLY for the record
 * alone. */
TESMAR_API mpm_Status cfg_ReportError(uint32_t options, mpm_Status code, ...);

/* ---- Writing and the command line ---- */

/* Writes every entity of the model as a configuration section: "name:", one "   field=values"
 * assignment per field (ints, counts, doubles with 16 significant digits, strings in quotes,
 * structure elements in braces), each ended by ";". The file is written whole or not at all.
 * CFG_INVALID_MODEL, CFG_INVALID_NAME, CFG_OPEN_ERROR, CFG_READ_ERROR (a write or close that
 * failed), CFG_MALLOC_ERROR, CFG_TRAVERSE_ENT_ERROR. */
TESMAR_API mpm_Status cfg_FormatFile(uint32_t options, int32_t model, const char *file_name);

/* The field writer of cfg_FormatFile (a first-engine walk callback). */
TESMAR_API mpm_Status cfg__FormatField(void *entity, int32_t count, int32_t type, void *address,
                                       const ddf_FieldDesc *desc);

/* Options from a configuration schema with one entity type: one "s" option per field that has a
 * description (the option's name), then "h". *text receives the configuration text of the
 * options given ("field=value;", strings quoted), null when none was. Fewer than 2 arguments or
 * no schema: nothing (0). "-h" prints the usage and returns CFG_PRINT_USAGE. CFG_NOT_SUPPORTED
 * (not one entity type, or no fields), CFG_UNKNOWN_OPTION (reported with the argument),
 * CFG_MALLOC_ERROR, and a value that would leave its statement (a '"' in a string value, a ';',
 * '#' or comment opener in a bare value) CFG_PVAL_EXP with the option. */
TESMAR_API mpm_Status cfg_PreProcessCmdLineArg(uint32_t options, int32_t argc, char **argv,
                                               ddf_Schema *schema, char **text);

/* The option table (ugn_Option, ending with a null name) and argument slots of a schema with one
 * entity type, and the number of slots. The caller frees *table (and the "h" description, the
 * last entry's) and *slots with free(). CFG_NOT_SUPPORTED, CFG_MALLOC_ERROR. */
TESMAR_API mpm_Status cfg__BuildArgTable(ugn_Option **table, cfg_ArgSlot **slots, int32_t *count,
                                         ddf_Schema *schema);

/* The configuration text of the slots that hold a value. CFG_MALLOC_ERROR, CFG_PVAL_EXP. */
TESMAR_API mpm_Status cfg__PreProcArgs(const cfg_ArgSlot *slots, int32_t count, char **text);

/* For a schema with any number of entity types: "-KEY VALUE" arguments, KEY a field's description
 * (or its name when it has none), become "entity: field=value; ..." in *text (entities in name
 * order); every other argument joins *remaining (separated by blanks). Either is null when empty.
 * A known key without a value: UGN_OPTS_VALUE_MISSING; a value that would leave its statement:
 * CFG_PVAL_EXP; CFG_MALLOC_ERROR. */
TESMAR_API mpm_Status cfg_SplitCmdLine(uint32_t options, int32_t argc, char **argv,
                                       ddf_Schema *schema, char **text, char **remaining);

/* Records of the lookup trees of cfg_SplitCmdLine: an option (keyed by `key`: the field's
 * description, or its name when it has none) and an entity (keyed by `entity`) with the list of
 * cfg_SplitValue records given for it. The texts are the schema's. */
typedef struct cfg_OptionNode {
  const char *key;
  const char *field_name;
  uint32_t kind;
  uint32_t reserved;
  const char *entity;
} cfg_OptionNode;

typedef struct cfg_SplitValue {
  const char *field_name;
  uint32_t kind;
  uint32_t reserved;
  const char *value;  /* the argument (not a copy) */
} cfg_SplitValue;

typedef struct cfg_EntityNode {
  const char *entity;
  olm_List *values;   /* cfg_SplitValue */
} cfg_EntityNode;

/* The lookup trees of cfg_SplitCmdLine (the schema made current while they are built). The
 * caller deletes every entity node's list and both trees. CFG_MALLOC_ERROR. */
TESMAR_API mpm_Status cfg__BuildArgTrees(uint32_t options, ddf_Schema *schema, otm_Tree **keys,
                                         otm_Tree **entities);

TESMAR_EXTERN_C_END

#endif
