/*
 * Types shared by every module of the Tesmar library.
 */
#ifndef TESMAR_TYPES_H
#define TESMAR_TYPES_H

#include <stdint.h>
#include "tesmar/export.h"

/* Status code: 0 is success; otherwise (module id << 16) | message number (see mpm.h). */
typedef uint32_t mpm_Status;

#endif
