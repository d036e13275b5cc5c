/*
 * UGN: general utilities (module 10).
 *
 * UGN's message table: out of memory, the environment override table, the command-line option
 * parser, the limits of the double formatter (tmx_FormatDouble returns UGN_MAXEXP_ERR and
 * UGN_MINEXP_ERR without issuing them) and the file messages of compressing and decompressing
 * files (tmx_GzipFile). ugn_Initialize, run by the library's start-up, registers the table.
 */
#ifndef TESMAR_UGN_H
#define TESMAR_UGN_H

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

/* Module start-up: registers UGN's message table. Returns 0. */
TESMAR_API mpm_Status ugn_Initialize(uint32_t flags);

TESMAR_EXTERN_C_END

#endif
