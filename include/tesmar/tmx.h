/*
 * TMX: the kernel (module 0).
 *
 * Starts and stops the library (tmx_Initialize / tmx_Terminate, counted per call), owns the
 * exception keys under which client handlers are registered with mpm_SetHandler, and the general
 * file messages.
 */
#ifndef TESMAR_TMX_H
#define TESMAR_TMX_H

#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Exception keys (also TMX's first four message codes). */
#define TMX_EXC_NONE     1u /* every issued message of kind 1 */
#define TMX_EXC_MEMORY   2u /* out-of-memory messages, and the message system's own failures */
#define TMX_EXC_FILEIO   3u /* file input/output failures */
#define TMX_EXC_MAXERROR 4u /* a message suppressed by a limit */

/* Further message codes of module TMX. */
#define TMX_BAD_MSG_NAME     5u  /* " Invalid message name %s.\n" */
#define TMX_CLEANUP_ERR      6u  /* " Cleanup error (%lx) in %s at line %d.\n" */
#define TMX_READ_ERROR       7u  /* " Error reading from the file '%s'.\n" */
#define TMX_BAD_FILENAME     8u  /* " Invalid or null filename specified.\n" */
#define TMX_NOT_FOUND        9u  /* " File '%s' does not exist.\n" */
#define TMX_OPEN_ERROR       10u /* " Error opening the file '%s'.\n" */
#define TMX_CLOSE_ERROR      11u /* " Error closing the file '%s'.\n" */
#define TMX_BAD_EOL_DELIM    12u
#define TMX_UNKNOWN_FILETYPE 13u /* " File type could not be determined for the file '%s'.\n" */

/* Starts the library on the first call (registers every module's message table and starts the
 * modules in their fixed order); nested calls only count. Returns 0. */
TESMAR_API mpm_Status tmx_Initialize(uint32_t flags);

/* Undoes one tmx_Initialize; the call that balances the first stops the modules. Returns 0. */
TESMAR_API mpm_Status tmx_Terminate(uint32_t flags);

/* The code of a symbolic name ("OTM_NOTFOUND" gives 0x30006). The module part (before the first
 * '_') must be 3 or 4 characters, else TMX_BAD_MSG_NAME is issued; an unknown name gives 0xFFFF
 * without a message; found: 0. */
TESMAR_API mpm_Status tmx_GetMessageCode(const char *name, mpm_Status *code);

TESMAR_EXTERN_C_END

#endif
