/*
 * MAP: the mapping engine (module 19).
 *
 * A translator moves the entities of a source model into a target model through mappings. A
 * mapping names a source DTF (a schema and one of its type forms), a target DTF and a mapping
 * function; mapping lists run mappings one after the other (the output of one feeding the next),
 * and conditional mappings let a condition function pick one alternative. Defining a mapping
 * records it in an environment (map_Env); enabling it for a DTF appends its operations to that
 * DTF's operation list. map_DispatchEntity then runs, for an entity, the operations enabled for
 * its DTF: it calls the mapping function, which makes output entities in the target model and
 * hands each to map_ProcessEntity; that commits the output to the target model (map_CommitEntity)
 * or passes it on to the next operation of the chain, and deletes the output nobody committed.
 *
 * Ownership: an environment is the application's (map_CreateEnv, map_DeleteEnv); it owns its
 * mapping records, their names and the operation lists with their parameter settings. Mapping
 * records are never removed singly. The parameter registry, the trace level and the stack of
 * entities being deleted are process-wide; MAP is started by tmx_Initialize (last of all modules)
 * and stopped by tmx_Terminate (first). Failures are issued at MPM_ERROR with MAP's messages and
 * wait as pending messages; an operation that fails because a called one failed returns that code.
 * One thread at a time.
 */
#ifndef TESMAR_MAP_H
#define TESMAR_MAP_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"
#include "tesmar/ddf.h"
#include "tesmar/mda.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module MAP. */
#define MAP_INVALID_PTR            0x130001u /* " Invalid database pointer.\n" */
#define MAP_NULL_MEMPTR            0x130002u /* " Unexpected NULL memory pointer.\n" */
#define MAP_MALLOC_ERR             0x130003u /* " Error allocating memory.\n" (memory exception) */
#define MAP_REALLOC_ERR            0x130004u /* " Error reallocating memory.\n" (memory exception) */
#define MAP_INVALID_ARG            0x130005u /* " Invalid argument.\n" */
#define MAP_INVALID_OPTIONS        0x130006u /* " Invalid combination of options.\n" */
#define MAP_ALREADY_DEFINED        0x130007u /* " Mapping \"%s\" is already defined.\n" */
#define MAP_UNDEFINED              0x130008u /* " Mapping \"%s\" is not defined.\n" */
#define MAP_LIST_TOO_LONG          0x130009u /* " Mapping list \"%s\" contains more than %d mappings.\n" */
#define MAP_TOO_MANY_PARAMS        0x13000Au /* " Too many parameters specified for \"%s\". ..." */
#define MAP_EMPTY_PARAM            0x13000Bu /* " Empty parameter string.\n" */
#define MAP_UNKNOWN_TOKEN          0x13000Cu /* " Unknown token %d passed to map_EnableMapping.\n" */
#define MAP_SYNTAX_ERR             0x13000Du /* " Syntax error parsing mapping parameter \"%s\".\n" */
#define MAP_TREE_ERR               0x13000Eu /* " Error using OTM tree.\n" */
#define MAP_LIST_ERR               0x13000Fu /* " Error using OLM tree.\n" */
#define MAP_NO_MAPPING             0x130010u /* "+No mapping enabled for entity %<PTR> (%<PTR2>).\n" */
#define MAP_EMPTY_LIST             0x130011u /* " Mapping list \"%s\" does not contain any entries.\n" */
#define MAP_NOT_DEFINED            0x130012u /* " Mapping \"%s\" is not defined.\n" */
#define MAP_INCORRECT_TYPE         0x130013u /* "+An incorrect type was passed into map_DispatchEntity ..." */
#define MAP_NO_FORMS               0x130014u /* " Could not expand forms for mapping \"%s\".\n" */
#define MAP_PARAM_ALREADY_DEFINED  0x130015u /* " Mapping parameter \"%s\" is already defined.\n" */
#define MAP_UNDEFINED_PARAM        0x130016u /* " Mapping parameter \"%s\" is not defined.\n" */
#define MAP_INTERNAL_ERR           0x130017u /* " An internal error occurred in function %s.\n" */
#define MAP_FILE_DOES_NOT_EXIST    0x130018u /* " Mapping file %s does not exist.\n" */
#define MAP_OPEN_ERR               0x130019u /* " Error opening file %s.\n" */
#define MAP_READ_ERR               0x13001Au /* " Error reading file %s.\n" */
#define MAP_PARSE_ERR              0x13001Bu /* " Error while parsing argument list.\n" */
#define MAP_NO_MODEL               0x13001Cu /* " Could not determine the model number for the model name %s.\n" */
#define MAP_FILE_ERR               0x13001Du /* " Error on or before line %d of mapping file %s.\n" */
#define MAP_NOT_LISTABLE           0x13001Eu /* " Mapping \"%s\" can not be made part of a mapping list.\n" */
#define MAP_CONDITIONAL_NO_MATCH   0x13001Fu /* " Mapping \"%s\" can not be made a component of ... \"%s\".\n" */
#define MAP_HAS_PARENTS            0x130020u /* "+Could not delete entity %<PTR> (%<PTR2>) in map_ProcessEntity ..." */
#define MAP_UNEXPECTED_DTF         0x130021u /* "+Expected DTF %<DTF> but found %<DTF> for %<PTR> (%<PTR2>) ..." */
#define MAP_NON_GENERAL_MAP        0x130022u /* "+map_ProcessEntity called for ... not defined with MAP_GENERAL.\n" */
#define MAP_NO_TARGET_DDF          0x130023u /* "+map_ProcessEntity called for ... a target DDF of NULL.\n" */
#define MAP_NO_PROCESS_CONDITIONAL 0x130024u /* "+map_ProcessEntity called for ... a conditional mapping. ..." */
#define MAP_INVOKE_NONCONDITIONAL  0x130025u /* "+map_InvokeMapping called for ... not defined as a conditional ..." */
#define MAP_CNDTL_NEST_TOO_DEEP    0x130026u /* "+An attempt was made to nest conditional mappings beyond ..." */

/* The quiet result of map_GetParameter for a code the operation does not set (names no message). */
#define MAP_NOT_FOUND 0x13FFFFu

/* ---- Options ---- */

/* map_DefineMapping, map_DefineConditionalMapping: enable the mapping at once (no arguments). */
#define MAP_ENABLE          0x1u
/* map_DefineMappingList, map_EnableMapping: the names or the argument stream are one text. */
#define MAP_TEXT_ARGS       0x2u
/* map_EnableMapping: clear the DTF's operations first. */
#define MAP_REPLACE         0x4u
/* map_DefineGenericMappings: define the copy mappings (1), the ignore mappings (2). */
#define MAP_GENERIC_COPY    0x1u
#define MAP_GENERIC_IGNORE  0x2u
/* map_ProcessEntity: the output is not deleted, and no parent check is made. */
#define MAP_KEEP_SOURCE     0x1u
/* map_LoadMapFile: honour TESMAR_TMP statements (the directory for temporary files). */
#define MAP_FILE_ENVIRONMENT 0x16000u
/* map_DbgDumpTable: include generic mappings (1); leave out the operations and the file form (2),
 * the definitions and the file form (4), the definitions and the operations (8). */
#define MAP_DUMP_GENERIC     0x1u
#define MAP_DUMP_NO_OPS      0x2u
#define MAP_DUMP_NO_DEFS     0x4u
#define MAP_DUMP_FILE_ONLY   0x8u
/* map_DbgDumpParameters: the mapping-file form (any of these bits). */
#define MAP_DUMP_FILE_FORM   0x16u
/* map_GetParameter: without a setting, give the registered default. */
#define MAP_GET_DEFAULT     0x20000000u
/* map_Context.options: entities whose DTF has no operations pass silently. */
#define MAP_IGNORE_UNMAPPED 0x40000u

/* Mapping flags (map_Mapping.flags). MAP_GENERIC, MAP_GENERAL and MAP_TRANSIENT are given to
 * map_DefineMapping among its options; MAP_CHAINABLE and MAP_CONDITIONAL are the engine's. */
#define MAP_CHAINABLE   0x1000000u  /* general, with one definite target type: may feed a list */
#define MAP_GENERIC     0x2000000u  /* made by map_DefineGenericMappings */
#define MAP_GENERAL     0x4000000u  /* its output goes through map_ProcessEntity */
#define MAP_TRANSIENT   0x8000000u  /* its output stands in its final place: committed as it is */
#define MAP_CONDITIONAL 0x10000000u /* a conditional mapping */

/* Argument-stream tokens of map_EnableMapping (ended by MAP_END). */
#define MAP_END    0         /* end of the arguments */
#define MAP_PARAM  1         /* followed by a parameter code and a value of its type */
#define MAP_MODEL  2         /* followed by a target model number */
#define MAP_COMMIT 0x10000   /* commit the final output to the target model */

/* Operation options (map_Operation.options). */
#define MAP_OP_COMMIT 0x10000u

/* Parameter types. */
#define MAP_PARAM_LONG    0  /* a 32-bit integer */
#define MAP_PARAM_DOUBLE  1
#define MAP_PARAM_STRING  2  /* a status code whose symbolic name is the string */
#define MAP_PARAM_BOOLEAN 3  /* 1 or 0 */

/* Limits. */
#define MAP_MAX_LIST_NAMES     128 /* names of a list, its own included */
#define MAP_MAX_PARAMS         128 /* parameter settings of one enabling */
#define MAP_MAX_COND_NESTING   45  /* conditional mappings inside one another */
#define MAP_MAX_DISPATCH_DEPTH 256 /* dispatch calls inside one another (see map_DispatchEntity) */

/* ---- Records ---- */

/* A DTF: a schema and a type form of it. Its layout is fmt_NamedTypeForm's, and a schema begins
 * with its database name, so %<DTF> prints it as "dbname:type:form". */
typedef struct map_DTF {
  ddf_Schema *schema;
  uint32_t type_form;
  uint32_t reserved;
} map_DTF;

TESMAR_STATIC_ASSERT(sizeof(map_DTF) == 16, "map_DTF layout");
TESMAR_STATIC_ASSERT(offsetof(map_DTF, type_form) == 8, "map_DTF layout");

typedef struct map_Context map_Context;

/* A mapping function, a condition function or a dispatcher: the entity and the dispatch context;
 * 0 for success. */
typedef mpm_Status (*map_MappingFn)(db_ptr entity, map_Context *context);
typedef mpm_Status (*map_DispatchFn)(db_ptr entity, map_Context *context);

/* A mapping definition. */
typedef struct map_Mapping {
  char *name;             /* owned */
  int32_t count;          /* 1 for a single mapping; else the entries of `names` (at least 2) */
  int32_t reserved0;
  char **names;           /* lists and conditionals: names[0] its own name, then the components
                             flattened (a component list contributes its names); owned */
  map_DTF source;
  map_DTF target;         /* schema null: the mapping produces nothing */
  map_MappingFn function; /* null for a list; the condition function of a conditional */
  uint32_t flags;         /* MAP_CHAINABLE, MAP_GENERIC, MAP_GENERAL, MAP_TRANSIENT, MAP_CONDITIONAL */
  uint32_t reserved1;
} map_Mapping;

TESMAR_STATIC_ASSERT(sizeof(map_Mapping) == 72, "map_Mapping layout");
TESMAR_STATIC_ASSERT(offsetof(map_Mapping, source) == 24, "map_Mapping layout");
TESMAR_STATIC_ASSERT(offsetof(map_Mapping, function) == 56, "map_Mapping layout");

/* One parameter setting of an operation. */
typedef struct map_ParamSetting {
  uint32_t code;  /* the status code that names the parameter */
  uint32_t type;  /* MAP_PARAM_* */
  union {
    int32_t integer;  /* MAP_PARAM_LONG, _STRING (a status code), _BOOLEAN */
    double real;      /* MAP_PARAM_DOUBLE */
  } value;
} map_ParamSetting;

TESMAR_STATIC_ASSERT(sizeof(map_ParamSetting) == 16, "map_ParamSetting layout");

/* A registered parameter: its code, type and the application's variable holding the default (a
 * 32-bit integer, or a double for MAP_PARAM_DOUBLE). */
typedef struct map_Parameter {
  uint32_t code;
  uint32_t type;
  void *address;
} map_Parameter;

TESMAR_STATIC_ASSERT(sizeof(map_Parameter) == 16, "map_Parameter layout");

/* One enabled operation of a DTF's operation list (numbered from 1 in list order). */
typedef struct map_Operation {
  uint32_t options;          /* MAP_OP_COMMIT */
  uint32_t reserved0;
  map_Mapping *mapping;      /* owned by the environment's mappings */
  int32_t model;             /* the target model; 0: the default (map_DispatchEntity) */
  int32_t next;              /* the operation taking the output: 0 final, -1 conditional header */
  int32_t param_count;       /* at most MAP_MAX_PARAMS */
  int32_t reserved1;
  map_ParamSetting *params;  /* owned; null when param_count is 0 */
} map_Operation;

TESMAR_STATIC_ASSERT(sizeof(map_Operation) == 40, "map_Operation layout");
TESMAR_STATIC_ASSERT(offsetof(map_Operation, model) == 16, "map_Operation layout");
TESMAR_STATIC_ASSERT(offsetof(map_Operation, params) == 32, "map_Operation layout");

/* A DTF with its operation list (an olm_List of map_Operation, 2 nodes per block). */
typedef struct map_DTFNode {
  map_DTF dtf;
  olm_List *operations;
} map_DTFNode;

TESMAR_STATIC_ASSERT(sizeof(map_DTFNode) == 24, "map_DTFNode layout");

/* A mapping environment: the definitions (ordered by name) and the enabled DTFs (ordered by
 * schema address, then type form). */
typedef struct map_Env {
  otm_Tree *mappings;  /* map_Mapping records */
  otm_Tree *enabled;   /* map_DTFNode records */
} map_Env;

/* The dispatch context. The application fills one with map_InitContext and sets `env`; the
 * dispatcher works on copies of it, so that nested dispatches each keep their own chain. */
struct map_Context {
  uint32_t options;               /* MAP_IGNORE_UNMAPPED */
  uint32_t reserved0;
  uint64_t unused1;               /* cleared, not used */
  int32_t depth;                  /* nesting depth of dispatch calls */
  int32_t target_model;           /* the model the current operation writes into */
  map_Env *env;
  map_Operation *operation;       /* the operation being run */
  map_DispatchFn dispatcher;      /* receives processed output */
  uint64_t unused2;               /* cleared, not used */
  olm_List *commit_list;          /* null, or a list of db_ptr receiving every committed handle */
  map_DTF list_dtf;               /* the DTF of the operation list being walked */
  map_DTFNode *list_node;         /* that list's node; null: look up afresh */
  int32_t index;                  /* the next operation to run in that list */
  int32_t reserved1;
  map_DispatchFn saved_dispatcher;/* the dispatcher in force when the list was entered */
  uint32_t run_flags;             /* MAP_TRANSIENT of the current operation's mapping */
  uint32_t reserved2;
  db_ptr result;                  /* the handle committed last (0: none) */
  mda_PtrTable *translation;      /* null, or source handle -> copy (map__GenericCopy) */
};

TESMAR_STATIC_ASSERT(sizeof(map_Context) == 128, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, depth) == 16, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, env) == 24, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, dispatcher) == 40, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, commit_list) == 56, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, list_dtf) == 64, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, list_node) == 80, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, index) == 88, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, saved_dispatcher) == 96, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, run_flags) == 104, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, result) == 112, "map_Context layout");
TESMAR_STATIC_ASSERT(offsetof(map_Context, translation) == 120, "map_Context layout");

/* ---- Settings ---- */

/* Trace level of the engine: 0 silent, 1 a line per top-level entity, 2 every step. The trace
 * goes to standard output. */
TESMAR_API extern int32_t map_trace_level;

/* ---- Life cycle ---- */

/* Start-up (run by tmx_Initialize): registers MAP's table, sets the trace level to 0, creates the
 * parameter registry (MAP_TREE_ERR) and the deletion stack (MAP_MALLOC_ERR). */
TESMAR_API mpm_Status map_Initialize(uint32_t options);
/* Shut-down (run by tmx_Terminate): frees the deletion stack and the parameter registry. */
TESMAR_API mpm_Status map_Terminate(uint32_t options);
/* Sets map_trace_level, unless `level` is -1. */
TESMAR_API mpm_Status map_DbgSetLevel(int32_t level);

/* ---- Environments and definitions ---- */

/* A new environment in *env. MAP_NULL_MEMPTR (no out argument), MAP_MALLOC_ERR, MAP_TREE_ERR. */
TESMAR_API mpm_Status map_CreateEnv(uint32_t options, map_Env **env);

/* Frees an environment with every definition and operation list. MAP_TREE_ERR. */
TESMAR_API mpm_Status map_DeleteEnv(uint32_t options, map_Env *env);

/* Defines a single mapping from the source DTF to the target DTF (target schema null: it makes
 * nothing). options: MAP_GENERAL, MAP_TRANSIENT, MAP_GENERIC (kept in the flags; a general mapping
 * with a target schema and a target type form other than TF_ANY and TF_NONE is
 * MAP_CHAINABLE), MAP_ENABLE (enable it at once).
 * MAP_INVALID_ARG (no environment, name or source schema), MAP_ALREADY_DEFINED, MAP_MALLOC_ERR,
 * MAP_TREE_ERR, and the statuses of map_EnableMapping. */
TESMAR_API mpm_Status map_DefineMapping(uint32_t options, map_Env *env, const char *name,
                                        ddf_Schema *source_schema, uint32_t source_tf,
                                        ddf_Schema *target_schema, uint32_t target_tf,
                                        map_MappingFn function);

/* Defines a mapping list: the component names follow, ended by a null (with MAP_TEXT_ARGS: one
 * text of names each in double or single quotes). A component list contributes all its names. The
 * list's source DTF is its first component's; every component but the last must be chainable
 * (its output feeds the next). MAP_INVALID_ARG, MAP_ALREADY_DEFINED, MAP_NOT_DEFINED, MAP_LIST_TOO_LONG (more than
 * 128 names, its own included), MAP_EMPTY_LIST, MAP_NOT_LISTABLE, MAP_PARSE_ERR (an unclosed
 * quote), MAP_MALLOC_ERR, MAP_TREE_ERR. */
TESMAR_API mpm_Status map_DefineMappingList(uint32_t options, map_Env *env, const char *name, ...);

/* Defines a conditional mapping: `condition` picks one of the alternatives (their names follow,
 * ended by a null) with map_InvokeMapping. Every alternative must have the conditional's source
 * DTF. MAP_ENABLE enables it at once. As map_DefineMappingList, and MAP_CONDITIONAL_NO_MATCH. */
TESMAR_API mpm_Status map_DefineConditionalMapping(uint32_t options, map_Env *env,
                                                   const char *name, ddf_Schema *source_schema,
                                                   uint32_t source_tf, map_MappingFn condition,
                                                   ...);

/* For every type form of the schema, "NAME copy" (MAP_GENERIC_COPY: to {schema, TF_ANY} through
 * map__GenericCopy) and/or "NAME ignore" (MAP_GENERIC_IGNORE: to {schema, TF_NONE}), NAME the
 * entity name, both MAP_GENERIC | MAP_GENERAL | MAP_TRANSIENT. The first failure ends it.
 * MAP_INVALID_ARG, MAP_INTERNAL_ERR (a schema without type forms), and map_DefineMapping's. */
TESMAR_API mpm_Status map_DefineGenericMappings(uint32_t options, map_Env *env, ddf_Schema *schema);

/* Prints a definition to the trace stream; an unknown name prints "Could not locate mapping NAME"
 * and returns 0. MAP_INVALID_ARG (no environment or name). */
TESMAR_API mpm_Status map_DbgDumpMapping(uint32_t options, map_Env *env, const char *name);

/* ---- Enabling ---- */

/* Enables a mapping for its source DTF, or for every form of its source type when the source
 * form number is 16001, appending its operations to the DTF's list. The argument stream follows:
 * MAP_PARAM code value, MAP_MODEL number, MAP_COMMIT, ended by MAP_END (with MAP_TEXT_ARGS one
 * text of tokens: PARAM/MAP_PARAM NAME VALUE, MODEL 'name', COMMIT, END; values are checked, a
 * number beyond 32 bits is MAP_PARSE_ERR). MAP_REPLACE clears the DTF first. Existing final
 * operations whose output this DTF takes are chained to the new ones. On failure the operations
 * already appended stay. MAP_INVALID_ARG, MAP_UNDEFINED, MAP_NO_FORMS, MAP_TREE_ERR,
 * MAP_LIST_ERR, MAP_TOO_MANY_PARAMS, MAP_UNDEFINED_PARAM, MAP_UNKNOWN_TOKEN, MAP_PARSE_ERR,
 * MAP_NO_MODEL, MAP_CNDTL_NEST_TOO_DEEP, MAP_MALLOC_ERR, MAP_INTERNAL_ERR (MAP_REPLACE for a DTF
 * without operations). */
TESMAR_API mpm_Status map_EnableMapping(uint32_t options, map_Env *env, const char *name, ...);

/* map_EnableMapping for one DTF and one mapping, with the argument stream as a va_list (or, with
 * MAP_TEXT_ARGS, its first argument the text). */
TESMAR_API mpm_Status map__EnableMapping(uint32_t options, map_Env *env, const map_DTF *dtf,
                                         map_Mapping *mapping, va_list *args);

/* Removes every operation of the DTF (of every form of the type, for form number 16001).
 * MAP_INVALID_ARG, MAP_INTERNAL_ERR (a DTF without operations, a type without forms). */
TESMAR_API mpm_Status map_ClearDTFMapping(uint32_t options, map_Env *env, ddf_Schema *schema,
                                          uint32_t tf);

/* ---- Parameters ---- */

/* Registers a parameter named by a status code, of a MAP_PARAM_* type, with the variable holding
 * its default. MAP_INVALID_ARG (no variable, unknown type), MAP_PARAM_ALREADY_DEFINED,
 * MAP_TREE_ERR. */
TESMAR_API mpm_Status map__DefineParameter(uint32_t options, uint32_t code, uint32_t type,
                                           void *address);

/* The operation's setting of a parameter (a double for MAP_PARAM_DOUBLE, else 32 bits) in *value;
 * the later of two settings wins. Without a setting: with MAP_GET_DEFAULT the default (0),
 * otherwise the quiet MAP_NOT_FOUND and nothing written. MAP_INVALID_ARG, MAP_UNDEFINED_PARAM
 * (MAP_GET_DEFAULT for an unregistered code), MAP_INTERNAL_ERR (an unknown stored type). */
TESMAR_API mpm_Status map_GetParameter(uint32_t options, const map_Operation *operation,
                                       uint32_t code, void *value);

/* The registered default of a parameter, and setting it. MAP_INVALID_ARG, MAP_UNDEFINED_PARAM. */
TESMAR_API mpm_Status map_GetParameterDefault(uint32_t options, uint32_t code, void *value);
TESMAR_API mpm_Status map_SetParameterDefault(uint32_t options, uint32_t code, const void *value);

/* ---- Dispatch ---- */

/* Fills a context: everything 0 or null, the dispatcher map_DispatchEntity; list_dtf is left as
 * it is. MAP_INVALID_ARG for a null context. */
TESMAR_API mpm_Status map_InitContext(uint32_t options, map_Context *context);

/* Runs the next operation for the entity: the one after the current operation in the chain the
 * context is walking, or the first of the entity's DTF's list. Picks the target model (the
 * operation's; else the entity's own when source and target schemas are one; else the first
 * model of the target schema), calls the mapping function and returns its status. Dispatches
 * nest at most MAP_MAX_DISPATCH_DEPTH deep (MAP_INTERNAL_ERR beyond: output dispatched back to
 * the mapping that made it would otherwise recurse without end). MAP_INVALID_ARG (no context or
 * environment), MAP_INVALID_PTR, MAP_NO_MAPPING (or 0 with MAP_IGNORE_UNMAPPED),
 * MAP_INCORRECT_TYPE, MAP_LIST_ERR, and the mapping function's status. */
TESMAR_API mpm_Status map_DispatchEntity(db_ptr entity, map_Context *context);

/* Calls the context's dispatcher for every entity of one per-type list (`tfi`) of a model, oldest
 * first; the dispatcher's failures do not stop it. MAP_INVALID_ARG, and the walk's failures. */
TESMAR_API mpm_Status map_DispatchEntityList(uint32_t options, mda_TypeLists *lists, int32_t tfi,
                                             map_Context *context);

/* From a mapping function: takes an output entity onward: checks it against the mapping's target,
 * then commits it (a final operation with MAP_COMMIT) or hands it to the context's dispatcher, and
 * deletes it, with the children only it points to, unless it was committed in place or
 * MAP_KEEP_SOURCE is given. MAP_INVALID_ARG (no current operation), MAP_INVALID_PTR,
 * MAP_NO_PROCESS_CONDITIONAL, MAP_NO_TARGET_DDF, MAP_UNEXPECTED_DTF, MAP_NON_GENERAL_MAP,
 * MAP_MALLOC_ERR, the dispatcher's or the commit's status. MAP_HAS_PARENTS is issued and the
 * processing goes on. */
TESMAR_API mpm_Status map_ProcessEntity(uint32_t options, db_ptr entity, map_Context *context);

/* From a condition function: runs the named alternative for the entity. MAP_INVALID_ARG (no
 * current operation), MAP_INVOKE_NONCONDITIONAL, MAP_UNDEFINED, MAP_INCORRECT_TYPE, MAP_LIST_ERR
 * (no such alternative after the current position), and the dispatch's status. */
TESMAR_API mpm_Status map_InvokeMapping(const char *name, db_ptr entity, map_Context *context);

/* Commits an entity to the context's target model: a copy of it (its mapping not transient) or
 * the entity itself; *committed (may be null) receives the committed handle, which becomes
 * context->result and joins the commit list. MAP_INVALID_ARG, MAP_INVALID_PTR, MAP_LIST_ERR, and
 * the entity database's statuses. */
TESMAR_API mpm_Status map_CommitEntity(uint32_t options, db_ptr entity, map_Context *context,
                                       db_ptr *committed);

/* The generic mappings' functions: a copy of the entity in the target model (pointer fields
 * through the context's translation table), processed; and nothing. */
TESMAR_API mpm_Status map__GenericCopy(db_ptr entity, map_Context *context);
TESMAR_API mpm_Status map__GenericIgnore(db_ptr entity, map_Context *context);

/* ---- Mapping files (docs/mapping-file.md) ---- */

/* Reads a mapping file into the environment: enable statements ("NAME"; or "NAME", ARGUMENTS;),
 * list definitions ("LIST" = "A", "B";), parameter defaults (MODULE_ROW = VALUE;) and, with
 * MAP_FILE_ENVIRONMENT, TESMAR_TMP = DIRECTORY; statements. The first statement that is malformed
 * or fails ends the reading: MAP_FILE_ERR with its line (the failure itself is issued first).
 * A list definition identical to the list's existing one is accepted. MAP_INVALID_ARG,
 * MAP_FILE_DOES_NOT_EXIST, MAP_OPEN_ERR, MAP_MALLOC_ERR. */
TESMAR_API mpm_Status map_LoadMapFile(uint32_t options, const char *file_name, map_Env *env);

/* map_LoadMapFile with MAP_FILE_ENVIRONMENT; nothing (0) for a null environment. */
TESMAR_API mpm_Status map_DbgLoadEnv(uint32_t options, const char *file_name, map_Env *env);

/* Writes the environment to the trace stream as a mapping file: the definitions of the lists its
 * operations use, one enable statement per enabling in each DTF's operation list, the parameter
 * defaults, and TESMAR_TMP when it is set. Loaded into an environment with the same single and
 * conditional mappings, it gives the same operation tables and defaults (docs/mapping-file.md
 * names what it cannot carry). Nothing for a null environment. */
TESMAR_API mpm_Status map_DbgDumpEnv(uint32_t options, map_Env *env);

/* Dumps the definitions, the enabled operations and the file form of the operations to the
 * trace stream (MAP_DUMP_* options). MAP_INVALID_ARG. */
TESMAR_API mpm_Status map_DbgDumpTable(uint32_t options, map_Env *env);

/* Dumps the parameter registry: each parameter with its default and the address of its default
 * variable, or with MAP_DUMP_FILE_FORM as mapping-file statements. MAP_INTERNAL_ERR for a
 * parameter of an unknown type. */
TESMAR_API mpm_Status map_DbgDumpParameters(uint32_t options);

TESMAR_EXTERN_C_END

#endif
