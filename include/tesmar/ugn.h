/*
 * UGN: general utilities (module 10).
 *
 * What translator programs need around their main job:
 *  - a table-driven command-line option parser (ugn_ParseCommandLine) and its usage text
 *    (ugn_PrintUsage);
 *  - the environment override table: values and aliases set by the program that the library's
 *    environment lookup (tmx_GetEnv) consults before the process environment;
 *  - temporary file names (ugn_TempName), whose files are removed when the library stops;
 *  - decompression of a gzip file or of the first file member of a zip archive (ugn_Uncompress);
 *  - a few small array operations.
 *
 * UGN's message table also carries the limits of the double formatter (tmx_FormatDouble returns
 * UGN_MAXEXP_ERR and UGN_MINEXP_ERR without issuing them) and the file messages of compressing and
 * decompressing files. ugn_Initialize, run by the library's start-up, registers the table;
 * ugn_Terminate, run by its shut-down, frees the override table and removes the temporary files.
 * Failures of the parser and the override table are issued at MPM_ERROR and wait as pending
 * messages; those of ugn_Uncompress are reported at once. One thread at a time.
 */
#ifndef TESMAR_UGN_H
#define TESMAR_UGN_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module UGN. */
#define UGN_MALLOC_ERR              0xA0001u /* " Error allocating memory.\n" */
#define UGN_ENV_VAR_TOO_LONG        0xA0002u /* " Environment variable name too long.\n" */
#define UGN_ENVALIAS_ERR            0xA0003u
#define UGN_OPTS_REPEATED_OPTION    0xA0004u /* option name */
#define UGN_OPTS_VALUE_MISSING      0xA0005u /* option name */
#define UGN_OPTS_ILLEGAL_TYPE       0xA0006u /* type string, option name */
#define UGN_OPTS_UNKNOWN_OPTION     0xA0007u /* argument */
#define UGN_OPTS_INVALID_TF         0xA0008u /* value, option name */
#define UGN_OPTS_INVALID_NAME       0xA0009u /* table index */
#define UGN_OPTS_INVALID_TYPE       0xA000Au /* table index */
#define UGN_OPTS_INVALID_GROUP      0xA000Bu /* table index */
#define UGN_OPTS_CONFLICT           0xA000Cu /* two option names */
#define UGN_OPTS_REQUIRED_IN_GROUP  0xA000Du /* option name */
#define UGN_OPTS_REQUIRED_NOT_FOUND 0xA000Eu /* option name */
#define UGN_MAXEXP_ERR              0xA000Fu
#define UGN_MINEXP_ERR              0xA0010u
#define UGN_BAD_FLOAT               0xA0011u
#define UGN_FILE_OPEN_ERROR         0xA0012u /* file name, errno */
#define UGN_FILE_READ_ERROR         0xA0013u /* file name, errno */
#define UGN_FILE_WRITE_ERROR        0xA0014u /* file name, errno */
#define UGN_FILE_CLOSE_ERROR        0xA0015u /* file name, errno */

/* ---- Option tables ----
 *
 * One entry per option, ending with an entry whose name is null. An entry whose name begins with
 * "[" opens a group of options that exclude one another, one whose name begins with "]" closes it
 * (groups do not nest; their type string may be null). The type string's first character is the
 * type letter; a second character '+' makes the option required (not allowed inside a group):
 *
 *   f  a flag, no value             stores int32_t 1
 *   d  a number                     stores double
 *   i  a 32-bit number              stores int32_t
 *   l  a 32-bit number              stores int32_t
 *   m  an entity handle "M:E" or "E" (model 0..65535, entity 0 .. 2^48-1)
 *                                   stores uint64_t (model << 48 | entity)
 *   s  a text                       stores char *, the argument itself (not a copy)
 *   t  a type form "T:F"            stores uint32_t (T << 16 | F; each half -32768..65535, so
 *                                   -1 is 0xFFFF)
 *
 * Numbers are whole arguments in the C locale, range-checked; a value of types d, i and l may
 * begin with '-', a value of the other types may not (it would be the next option). */
typedef struct ugn_Option {
  const char *name;        /* without the leading '-'; compared exactly */
  const char *type;        /* type letter, then '+' when required */
  const char *value_name;  /* placeholder shown in the usage synopsis, or null */
  void *value;             /* where the value is stored, or null: recognised, not stored */
  const char *description; /* shown in the usage's option list, or null */
} ugn_Option;

TESMAR_STATIC_ASSERT(sizeof(ugn_Option) == 40, "ugn_Option layout");
TESMAR_STATIC_ASSERT(offsetof(ugn_Option, value) == 24, "ugn_Option layout");

/* Module start-up: registers UGN's message table. Returns 0. */
TESMAR_API mpm_Status ugn_Initialize(uint32_t flags);

/* Module shut-down: frees the override table and its values, removes every file whose name
 * ugn_TempName handed out (created or not) and the private temporary directory. Returns 0. */
TESMAR_API mpm_Status ugn_Terminate(uint32_t flags);

/* Parses the options of an argument vector in place. Arguments from index 1 that begin with '-'
 * are options, up to the first that does not. Each option's value is stored through its entry's
 * value address and the option and its value are taken out of the vector; options whose entry has
 * no value address stay in the vector (with their value). On success the remaining arguments are
 * compacted behind argv[0] in their order, *argc is their new count and argv[*argc] is null (the
 * vector must have room for that terminator, as main's has).
 *
 * The table is checked first: UGN_OPTS_INVALID_NAME, _INVALID_TYPE, _INVALID_GROUP (with the entry's
 * index), _REQUIRED_IN_GROUP (name). Then the arguments: UGN_OPTS_UNKNOWN_OPTION (the argument),
 * _REPEATED_OPTION (the argument; only for options with a value address), _CONFLICT (two options of
 * one group), _VALUE_MISSING (no value, or a value of the wrong form for types d, i, l),
 * _INVALID_TF (a bad value of types t or m), _ILLEGAL_TYPE (an unknown type letter),
 * _REQUIRED_NOT_FOUND (the first required option not given). The first failure ends the parse and
 * the vector is left as it was (values stored before it stay stored). */
TESMAR_API mpm_Status ugn_ParseCommandLine(uint32_t flags, const ugn_Option *table, int32_t *argc,
                                           char **argv);

/* Prints the usage text of a table to standard error: "Usage:", the program's name (the part of
 * `program` after its last '/') with the synopsis of the options and then `trailing` (or nothing),
 * lines broken before column 80 and continued under the first option; then one line per option
 * with its description; then every line of the null-terminated array `lines` (or none). Returns 0. */
TESMAR_API mpm_Status ugn_PrintUsage(uint32_t flags, const ugn_Option *table, const char *program,
                                     const char *trailing, const char *const *lines);

/* ---- Environment override table ----
 *
 * tmx_GetEnv(name) gives, for a name with an alias, the alias's set value or else the alias's
 * environment value; when that gives nothing, or there is no alias, the name's set value; otherwise
 * the process environment. Names and aliases are at most 63 characters. */

/* Sets the value of a name (a copy is kept; null removes the value, keeping an alias). Returns 0;
 * UGN_ENV_VAR_TOO_LONG, UGN_ENVALIAS_ERR (no name, or the table failed), UGN_MALLOC_ERR. */
TESMAR_API mpm_Status ugn_PutEnv(uint32_t flags, const char *name, const char *value);

/* Gives a name an alias, or with a null alias removes the name's entry with its value. Returns 0;
 * UGN_ENV_VAR_TOO_LONG, UGN_ENVALIAS_ERR. */
TESMAR_API mpm_Status ugn_SetEnvAlias(uint32_t flags, const char *name, const char *alias);

/* ---- Temporary names ---- */

/* A name for a temporary file: "DIR/tPPPPPPPP.CCCC" (process id and a 16-bit counter in
 * hexadecimal). DIR is TESMAR_TMP (as tmx_GetEnv sees it) when set and not empty, otherwise a
 * private directory (mode 0700) made under $TMPDIR or /tmp and removed at shut-down. Names of files
 * that already exist are passed over. The name is in a static buffer overwritten by the next call;
 * null when DIR is longer than 1008 bytes, no private directory can be made, every counter value is
 * taken, or the name cannot be recorded (issued). The file is removed by ugn_Terminate. */
TESMAR_API const char *ugn_TempName(void);

/* ---- Decompression ---- */

/* Writes the contents of `input` (a gzip file, or the first file member of a zip archive; directory
 * members are passed over) to `output`. A regular file that is neither is copied through unchanged
 * (as zlib's gzread does), so a file can be decompressed "just in case"; an input that is not a
 * regular file (a FIFO, a device) must be gzip data. Empty archives, encrypted members, members
 * stored with methods other than store and deflate, corrupt or truncated gzip data and members
 * whose size or CRC do not match the archive's directory are refused.
 * Output and input may not be the same file. The output appears only when everything succeeded; an
 * earlier file of that name stays as it was otherwise (symbolic links, devices and files with
 * several links are written in place). Member names are never used as paths.
 *
 * Failures are reported at once, with the file name and an error number: UGN_FILE_OPEN_ERROR,
 * _READ_ERROR, _WRITE_ERROR, _CLOSE_ERROR (the last also for a member whose size or CRC does not
 * match); error numbers of the data itself are EBADMSG (corrupt, truncated, not an archive),
 * ENOTSUP (encrypted or unknown method), ENOENT (no file member). The first failure's code is
 * returned; 0 on success. */
TESMAR_API mpm_Status ugn_Uncompress(uint32_t flags, const char *output, const char *input);

/* ---- Small array operations ---- */

/* A malloc'ed copy of a text; null for a null text or when memory fails (UGN_MALLOC_ERR). */
TESMAR_API char *ugn_StrDup(const char *text);

/* Row-major byte offset of element (or sub-array) `subscripts[0..n-1]` of an array with
 * `dimension_count` dimensions: the element size times dimensions n .. dimension_count-1 is the
 * factor; then for k = n-1 down to 0 the offset grows by factor x subscripts[k] and the factor is
 * multiplied by dimensions[k]. n is held to 0 .. dimension_count. In 64 bits, and in 32 bits. */
TESMAR_API int64_t ugn_SubscriptOffset(int64_t element_size, int32_t n, const int64_t *subscripts,
                                       int32_t dimension_count, const int64_t *dimensions);
TESMAR_API int32_t ugn_SubscriptOffsetInt(int32_t element_size, int32_t n, const int32_t *subscripts,
                                          int32_t dimension_count, const int32_t *dimensions);
TESMAR_API int32_t ugn_SubscriptOffsetLong(int32_t element_size, int32_t n,
                                           const int32_t *subscripts, int32_t dimension_count,
                                           const int32_t *dimensions);

/* Exchange `count` elements of a and b (nothing for count <= 0). */
TESMAR_API void ugn_SwapChar(int64_t count, char *a, char *b);
TESMAR_API void ugn_SwapShort(int64_t count, int16_t *a, int16_t *b);
TESMAR_API void ugn_SwapInt(int64_t count, int32_t *a, int32_t *b);
TESMAR_API void ugn_SwapLong(int64_t count, int32_t *a, int32_t *b);
TESMAR_API void ugn_SwapFloat(int64_t count, float *a, float *b);
TESMAR_API void ugn_SwapDouble(int64_t count, double *a, double *b);

/* Sets `count` bytes to zero (nothing for count <= 0). */
TESMAR_API void ugn_Zero(int64_t count, void *block);

TESMAR_EXTERN_C_END

#endif
