/*
 * DST: growable byte strings (module 7).
 *
 * A string header lives in caller storage and owns a heap buffer whose capacity is a power of two;
 * the buffer grows by doubling. The bytes are not terminated in storage: dst_CopyString gives a
 * terminated copy, dst_GetBuffer the raw bytes (valid until the next change of the string).
 * Texts and byte ranges handed in may lie inside the same string's buffer.
 *
 * DST issues no messages: a failure returns DST_NOMEMORY and leaves the string unchanged. A null
 * string is refused with DST_NOMEMORY by the operations that make, grow or copy a string, and does
 * nothing in the others. After dst_Free the header must be initialised again before use. One
 * thread at a time per string.
 */
#ifndef TESMAR_DST_H
#define TESMAR_DST_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Status code of module DST (returned, never issued). */
#define DST_NOMEMORY 0x70001u /* " No more memory available\n" */

/* A string header. The fields are the string's own; read them through the accessors. */
typedef struct DstString {
  uint64_t capacity; /* bytes of the buffer: a power of two once initialised */
  char *data;        /* the buffer (owned), not terminated */
  uint64_t length;   /* bytes in use */
} DstString;

TESMAR_STATIC_ASSERT(sizeof(DstString) == 24, "DstString layout");
TESMAR_STATIC_ASSERT(offsetof(DstString, data) == 8, "DstString layout");
TESMAR_STATIC_ASSERT(offsetof(DstString, length) == 16, "DstString layout");

/* Module start-up: registers DST's message table unless registry entry 7 is already taken. */
TESMAR_API mpm_Status dst_Initialize(uint32_t flags);

/* Sets up an empty string: capacity 1 for 0, the capacity itself when it is a power of two, else
 * the next power of two above it. DST_NOMEMORY leaves an empty header of capacity 0. */
TESMAR_API mpm_Status dst_InitializeString(DstString *string, uint64_t initial_capacity);

/* Appends one byte (the buffer doubles when full). */
TESMAR_API mpm_Status dst_AppendChar(DstString *string, char byte);

/* Appends a terminated text without its terminator; a null or empty text does nothing. The capacity
 * grows to the smallest power of two that holds the new length. */
TESMAR_API mpm_Status dst_AppendString(DstString *string, const char *text);

/* Appends n bytes (which may contain zero bytes); nothing when bytes is null or n < 1. */
TESMAR_API mpm_Status dst_AppendSubstring(DstString *string, const char *bytes, int64_t n);

/* Inserts one byte before the first. */
TESMAR_API mpm_Status dst_PrependChar(DstString *string, char byte);

/* *text receives a malloc'ed, terminated copy of the contents (free it with free()). On
 * DST_NOMEMORY *text is null. */
TESMAR_API mpm_Status dst_CopyString(DstString *string, char **text);

/* Removes the first n bytes; n >= length empties the string. Returns 0. */
TESMAR_API mpm_Status dst_Erase(DstString *string, uint64_t n);

/* Sets the length to 0, keeping the buffer. Returns 0. */
TESMAR_API mpm_Status dst_Empty(DstString *string);

/* Frees the buffer and zeroes the header. */
TESMAR_API void dst_Free(DstString *string);

/* *buffer receives the buffer (not terminated; length bytes valid). Returns 0. */
TESMAR_API mpm_Status dst_GetBuffer(DstString *string, char **buffer);

/* The header's fields. */
TESMAR_API uint64_t dst_GetCapacity(const DstString *string);
TESMAR_API uint64_t dst_GetLength(const DstString *string);

TESMAR_EXTERN_C_END

#endif
