/*
 * EAM: stacks of saved states (module 6).
 *
 * A stack keeps copies of a caller's working record (the "state"), the most recent at the head.
 * It is an ordered list (olm.h) whose records are the saved states and whose user word points to
 * the stack's own heap copy of the caller's descriptor. The descriptor names the working record
 * (caller storage, element_size bytes; its content is what gets saved) and a handler that produces
 * new states: called as handler(flags, stack, argument), it answers a malloc'ed block of
 * element_size bytes (which EAM copies onto the stack and frees), or another answer for
 * eam_CallHandler, or null.
 *
 * Failures are issued through the message system at MPM_ERROR (EAM_NULLPOINTER, EAM_NOMEMORY,
 * EAM_INVALIDSIZE; the list's own messages when a list operation fails) and answered with null.
 * One thread at a time.
 */
#ifndef TESMAR_EAM_H
#define TESMAR_EAM_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"
#include "tesmar/olm.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module EAM. */
#define EAM_NULLPOINTER 0x60001u /* " NULL pointer\n" */
#define EAM_NOMEMORY    0x60002u /* " Out of memory\n" (memory exception) */
#define EAM_INVALIDSIZE 0x60003u /* " Invalid size = %d\n" */

/* Descriptor flags, set by EAM while the handler runs. */
#define EAM_PUSHING 0x1u /* under eam_PushStateGuarded */
#define EAM_CALLING 0x2u /* under eam_CallHandler (stays set when the handler answers null) */

/* The handler: produces a new state (malloc'ed, element_size bytes) or an answer, or null. */
typedef void *(*eam_Handler)(uint32_t flags, olm_List *stack, void *argument);

/* The caller's description of a stack; eam_CreateStack keeps a copy. */
typedef struct EamDescriptor {
  uint32_t flags;       /* EAM_PUSHING, EAM_CALLING */
  int32_t element_size; /* bytes of one state, > 0 */
  eam_Handler handler;
  void *working;        /* the caller's working record */
} EamDescriptor;

TESMAR_STATIC_ASSERT(sizeof(EamDescriptor) == 24, "EamDescriptor layout");
TESMAR_STATIC_ASSERT(offsetof(EamDescriptor, handler) == 8, "EamDescriptor layout");
TESMAR_STATIC_ASSERT(offsetof(EamDescriptor, working) == 16, "EamDescriptor layout");

/* The result of the last eam_PushStateGuarded. */
TESMAR_API extern void *eam_guarded_state;

/* Module start-up: registers EAM's message table. Returns 0. */
TESMAR_API mpm_Status eam_Initialize(uint32_t flags);

/* A new stack holding the working record as its first state. An element size of 0 or below gives
 * EAM_INVALIDSIZE with the size; a missing descriptor, handler or working record EAM_NULLPOINTER;
 * null in every failure. */
TESMAR_API olm_List *eam_CreateStack(uint32_t flags, const EamDescriptor *descriptor);

/* Calls the handler with (flags, stack, argument); a non-null answer is copied onto the head of the
 * stack and freed. Returns the head state (the stack's own record), or null after a failure. */
TESMAR_API void *eam_PushState(uint32_t flags, olm_List *stack, void *argument);

/* eam_PushState with EAM_PUSHING set in the descriptor while it runs; the result is also stored in
 * eam_guarded_state. */
TESMAR_API void *eam_PushStateGuarded(uint32_t flags, olm_List *stack, void *argument);

/* Calls the handler with EAM_CALLING set and returns its answer as it is; the flag is cleared when
 * the answer is not null. A missing stack gives EAM_NULLPOINTER and null. */
TESMAR_API void *eam_CallHandler(uint32_t flags, olm_List *stack, void *argument);

/* Copies `record` (when not null) into the working record, empties the stack and saves the working
 * record as its only state. EAM_NULLPOINTER without a stack; the list's status when a list
 * operation fails. */
TESMAR_API mpm_Status eam_ResetStack(uint32_t flags, olm_List *stack, const void *record);

/* A malloc'ed copy of the head state (free it with free()), or null (EAM_NULLPOINTER,
 * EAM_NOMEMORY). */
TESMAR_API void *eam_GetSavedState(uint32_t flags, olm_List *stack);

/* A malloc'ed copy of the working record, or null (EAM_NULLPOINTER, EAM_NOMEMORY). */
TESMAR_API void *eam_GetWorkingState(uint32_t flags, olm_List *stack);

/* A new stack with copies of every state and its own copy of the descriptor; null after a failure. */
TESMAR_API olm_List *eam_CopyStack(uint32_t flags, olm_List *stack);

/* Frees the descriptor copy and the stack. Returns 0 (EAM_NULLPOINTER without a stack). */
TESMAR_API mpm_Status eam_DeleteStack(uint32_t flags, olm_List *stack);

TESMAR_EXTERN_C_END

#endif
