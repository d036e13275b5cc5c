/*
 * EVM: validation tables (module 12).
 *
 * A validation table configures a client's checks. Each check is identified by a status code and
 * carries three switch bytes, an optional value (an integer, a double or a text) and a tolerance.
 * The values live in three arrays of `count` elements each (integers, doubles, texts) that the
 * checks index; tolerances are doubles of the same array, and a check with tolerance index -1 uses
 * the table's default tolerance. What the switches and the `user` word mean is the client's affair.
 *
 * Ownership: a table and its arrays are malloc'ed (clients build them with malloc/calloc, or with
 * evm_CopyTable); the table owns every text in its text array, and evm_DeleteTable frees them all
 * with the arrays and the table. Texts stored by evm_SetValue and evm_MergeTable are copies, so no
 * two tables (and no table and its caller) ever share a text. The text returned by evm_GetCheck
 * belongs to the table.
 *
 * Lookups use binary search: sort a table (evm_SortTable) after building or changing its codes.
 * A code that is not in the table is reported at once (mpm_ReportMessage, MPM_WARNING) as
 * EVM_CHECK_NOT_FOUND with the code's symbolic name, and that code is returned. Other failures are
 * issued at MPM_ERROR and wait as pending messages. Use from one thread at a time.
 */
#ifndef TESMAR_EVM_H
#define TESMAR_EVM_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module EVM. */
#define EVM_INVALID_PTR     0xC0001u /* " Invalid database pointer.\n" (not issued by EVM) */
#define EVM_NULL_MEMPTR     0xC0002u /* " Unexpected NULL memory pointer.\n" */
#define EVM_CHECK_NOT_FOUND 0xC0003u /* " Check %s not found in validation table.\n" (warning) */
#define EVM_BAD_INDEX       0xC0004u /* " Check %s has an index outside the validation table.\n" */
#define EVM_NOMEMORY        0xC0005u /* " Out of memory\n" (memory exception) */

/* Value kinds. */
#define EVM_VALUE_NONE    0
#define EVM_VALUE_INTEGER 1
#define EVM_VALUE_DOUBLE  2
#define EVM_VALUE_TEXT    3

/* Tolerance index of a check that uses the table's default tolerance. */
#define EVM_DEFAULT_TOLERANCE (-1)

/* One check of a table (the unit of sorting). */
typedef struct evm_Check {
  int32_t code;            /* the check's status code: the key */
  uint8_t switch1;
  uint8_t switch2;
  uint8_t switch3;
  int8_t value_kind;       /* EVM_VALUE_* */
  int16_t value_index;     /* index into the array of the value kind */
  int16_t tolerance_index; /* index into `doubles`, or EVM_DEFAULT_TOLERANCE */
} evm_Check;

TESMAR_STATIC_ASSERT(sizeof(evm_Check) == 12, "evm_Check layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Check, switch1) == 4, "evm_Check layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Check, value_kind) == 7, "evm_Check layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Check, value_index) == 8, "evm_Check layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Check, tolerance_index) == 10, "evm_Check layout");

/* A validation table. Every array has `count` elements; `texts` may be null (no text values). */
typedef struct evm_Table {
  int32_t count;
  evm_Check *checks;          /* sorted by code for lookups */
  int32_t *integers;
  double *doubles;            /* double values and tolerances */
  char **texts;               /* malloc'ed texts owned by the table, or null */
  uint32_t user;              /* the client's word, copied with the table */
  double default_tolerance;
} evm_Table;

TESMAR_STATIC_ASSERT(sizeof(evm_Table) == 56, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, checks) == 8, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, integers) == 16, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, doubles) == 24, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, texts) == 32, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, user) == 40, "evm_Table layout");
TESMAR_STATIC_ASSERT(offsetof(evm_Table, default_tolerance) == 48, "evm_Table layout");

/* A check as evm_GetCheck returns it. */
typedef struct evm_CheckRecord {
  int32_t code;
  uint8_t switch1;
  uint8_t switch2;
  uint8_t switch3;
  uint8_t reserved;
  union {
    int32_t integer;
    double real;
    char *text;             /* the table's own text */
    uint64_t bits;
  } value;                  /* by the check's value kind; untouched when it has none */
  double tolerance;
} evm_CheckRecord;

TESMAR_STATIC_ASSERT(sizeof(evm_CheckRecord) == 24, "evm_CheckRecord layout");
TESMAR_STATIC_ASSERT(offsetof(evm_CheckRecord, value) == 8, "evm_CheckRecord layout");
TESMAR_STATIC_ASSERT(offsetof(evm_CheckRecord, tolerance) == 16, "evm_CheckRecord layout");

/* Module start-up: registers EVM's message table. Returns 0. */
TESMAR_API mpm_Status evm_Initialize(uint32_t flags);

/* Sorts the checks by ascending code. A missing table (or checks array): EVM_NULL_MEMPTR. */
TESMAR_API mpm_Status evm_SortTable(uint32_t flags, evm_Table *table);

/* The check of a code (binary search of the sorted checks), or null when it is absent. Reports
 * nothing. */
TESMAR_API evm_Check *evm_FindCheck(evm_Table *table, int32_t code);

/* Fills *record with the check's code, switches, value (as its kind says; untouched for none) and
 * tolerance. Absent code: EVM_CHECK_NOT_FOUND (reported). An index outside the table:
 * EVM_BAD_INDEX; a value array that is missing: EVM_NULL_MEMPTR (record untouched in both). */
TESMAR_API mpm_Status evm_GetCheck(evm_Table *table, int32_t code, evm_CheckRecord *record);

/* Stores the value at `value` by the check's value kind: an int32_t, a double, or a text pointer
 * (char *), whose text is copied (a null pointer stores no text) and replaces the text the check
 * had, which is freed. A check without value kind stores nothing. Absent code:
 * EVM_CHECK_NOT_FOUND (reported); a value index outside the table: EVM_BAD_INDEX; a missing value
 * pointer or value array (a text on a table without texts): EVM_NULL_MEMPTR; EVM_NOMEMORY. */
TESMAR_API mpm_Status evm_SetValue(evm_Table *table, int32_t code, const void *value);

/* Set the first, second or third switch of a check. Absent code: EVM_CHECK_NOT_FOUND. */
TESMAR_API mpm_Status evm_SetSwitch1(evm_Table *table, int32_t code, uint8_t value);
TESMAR_API mpm_Status evm_SetSwitch2(evm_Table *table, int32_t code, uint8_t value);
TESMAR_API mpm_Status evm_SetSwitch3(evm_Table *table, int32_t code, uint8_t value);

/* Copies the settings of every source check, in source order, into the target check of the same
 * code: the three switches; the value when both checks have the same value kind (a text is copied,
 * the replaced one freed); the tolerance when both tolerance indexes are 0 or above. A source code
 * missing from the (sorted) target is reported as EVM_CHECK_NOT_FOUND and ends the merge there:
 * the checks before it are merged. Index and memory failures as for evm_SetValue also end it. */
TESMAR_API mpm_Status evm_MergeTable(uint32_t flags, evm_Table *target, const evm_Table *source);

/* Fills *target with copies of the source's arrays (the checks, integers, doubles, and the texts
 * when the source has them, each text copied), its user word and default tolerance. What *target
 * held before is overwritten, not freed; a table copied onto itself stays as it is. On failure
 * (EVM_NULL_MEMPTR for a missing table, EVM_NOMEMORY) *target is left as it was. */
TESMAR_API mpm_Status evm_CopyTable(uint32_t flags, const evm_Table *source, evm_Table *target);

/* Frees the arrays, every text and the table itself. A null table is ignored. Returns 0. */
TESMAR_API mpm_Status evm_DeleteTable(uint32_t flags, evm_Table *table);

TESMAR_EXTERN_C_END

#endif
