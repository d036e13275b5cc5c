/*
 * DAR: dynamic arrays (module 8).
 *
 * A growable array of fixed-size elements whose header lives in caller storage. Two storage kinds:
 *
 *   DAR_CONTIGUOUS  one buffer that doubles when full; element addresses change when it grows.
 *   DAR_SEGMENTED   a directory of 64 segments; segment 0 holds elements 0 and 1, segment k >= 1
 *                   holds the 2^k elements 2^k .. 2^(k+1) - 1. Growing adds the next segment, so a
 *                   stored element never moves while the array grows (only prepending and deleting
 *                   move elements).
 *
 * The array owns its buffer or segments; dar_Free releases them. After dar_Free the header must be
 * initialised again before use. Element copies are byte copies of element_size bytes.
 *
 * DAR issues no messages: failures are returned as codes (DAR_NOMEMORY, DAR_BAD_TYPE) or as a null
 * result, and a failed operation leaves the array as it was. DAR's message table shares module id 8
 * with the schema module, which registers after it, so once both are started the codes 0x8000n
 * are named and texted from the schema module's table. One thread at a time per array.
 */
#ifndef TESMAR_DAR_H
#define TESMAR_DAR_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Status codes of module DAR (returned, never issued). */
#define DAR_NOMEMORY 0x80001u /* " No more memory available\n" */
#define DAR_BAD_TYPE 0x80002u /* " Bad array type." */

/* Storage kinds. */
#define DAR_CONTIGUOUS 0u
#define DAR_SEGMENTED  1u

/* Segments in the directory of a segmented array. */
#define DAR_SEGMENTS 64

/* An array header. The fields are the array's own; read them through the accessors. */
typedef struct DarArray {
  uint32_t kind;         /* DAR_CONTIGUOUS or DAR_SEGMENTED */
  uint32_t reserved;
  void *data;            /* contiguous: the element buffer; segmented: DAR_SEGMENTS segment pointers */
  uint64_t capacity;     /* elements that fit without growing */
  uint64_t element_size; /* bytes per element */
  uint64_t count;        /* elements stored */
} DarArray;

TESMAR_STATIC_ASSERT(sizeof(DarArray) == 40, "DarArray layout");
TESMAR_STATIC_ASSERT(offsetof(DarArray, data) == 8, "DarArray layout");
TESMAR_STATIC_ASSERT(offsetof(DarArray, capacity) == 16, "DarArray layout");
TESMAR_STATIC_ASSERT(offsetof(DarArray, element_size) == 24, "DarArray layout");
TESMAR_STATIC_ASSERT(offsetof(DarArray, count) == 32, "DarArray layout");

/* Module start-up: registers DAR's message table unless registry entry 8 is already taken (by an
 * earlier start, or by the schema module). Returns 0. */
TESMAR_API mpm_Status dar_Initialize(uint32_t flags);

/* Sets up an empty array. The capacity becomes the smallest power of two not below
 * initial_capacity (1 for 0; a segmented array starts with at least its first segment of 2).
 * An element size of 0 is allowed (every element then has the same address).
 * Returns 0; DAR_BAD_TYPE for another kind (the header is not touched); DAR_NOMEMORY when the
 * storage cannot be allocated (the header is then an empty array of capacity 0, safe to free). */
TESMAR_API mpm_Status dar_InitializeArray(DarArray *array, uint32_t kind, uint64_t element_size,
                                          uint64_t initial_capacity);

/* Stores a copy of the element at index count, growing a full array first (contiguous: twice the
 * capacity; segmented: the next segment). The element may lie inside the same array. Returns the
 * address of the stored copy; null when the array cannot grow (array unchanged) or the kind is
 * unknown. */
TESMAR_API void *dar_AppendElement(DarArray *array, const void *element);

/* Stores a copy of the element at index 0, after moving every element up one index (growing a full
 * array first). The element may lie inside the same array. Returns the address of element 0, or
 * null as for dar_AppendElement. */
TESMAR_API void *dar_PrependElement(DarArray *array, const void *element);

/* Removes the last element, copying it to `element` first when that is not null. Returns 1, or 0
 * for an empty array (nothing copied). */
TESMAR_API int32_t dar_ExtractLast(DarArray *array, void *element);

/* Removes the first n elements; the others move down n places, keeping their order. n >= count
 * empties the array. Returns 0, or DAR_BAD_TYPE. */
TESMAR_API mpm_Status dar_DeleteFirst(DarArray *array, uint64_t n);

/* Empties the array, keeping its storage. Returns 0. */
TESMAR_API mpm_Status dar_ClearArray(DarArray *array);

/* Frees the buffer, or every segment and the directory; capacity, element size and count become 0.
 * Returns 0; DAR_BAD_TYPE for another kind (nothing is freed). */
TESMAR_API mpm_Status dar_Free(DarArray *array);

/* The address of the element at the index. Addresses up to the capacity are given (the caller may
 * read or write any element slot the array holds); an index at or beyond the capacity, or an
 * unknown kind, gives null. */
TESMAR_API void *dar_IndexElement(DarArray *array, uint64_t index);

/* The address of the last element, or null when the array is empty. */
TESMAR_API void *dar_GetLast(DarArray *array);

/* The header's fields. */
TESMAR_API uint64_t dar_GetCapacity(const DarArray *array);
TESMAR_API uint64_t dar_GetElementSize(const DarArray *array);
TESMAR_API uint64_t dar_GetNumElements(const DarArray *array);

TESMAR_EXTERN_C_END

#endif
