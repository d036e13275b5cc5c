// Stacks of saved states over ordered lists.
//
// A stack is an olm_List of states (head = most recent) whose user word holds the address of the
// stack's own heap copy of the caller's descriptor. Every stack made by eam_CreateStack or
// eam_CopyStack holds at least one state until a list operation fails. The client's handler may
// leave an operation by longjmp or by throwing, so nothing here holds an object with a destructor
// across a handler call or a message.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tesmar/eam.h"
#include "tesmar/mpm.h"

void *eam_guarded_state = nullptr;

namespace tesmar::eam {
namespace {

constexpr int32_t kNodesPerBlock = 10;

EamDescriptor *descriptor_of(olm_List *stack) {
  return stack != nullptr ? reinterpret_cast<EamDescriptor *>(static_cast<std::uintptr_t>(stack->user))
                          : nullptr;
}

uint64_t user_word(EamDescriptor *descriptor) {
  return static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(descriptor));
}

// The stack's descriptor, or null after issuing NULLPOINTER.
EamDescriptor *checked(olm_List *stack) {
  EamDescriptor *descriptor = descriptor_of(stack);
  if (descriptor == nullptr) mpm_IssueMessage(0, EAM_NULLPOINTER, MPM_ERROR);
  return descriptor;
}

// A malloc'ed copy of `size` bytes, or null after issuing NOMEMORY.
void *duplicate(const void *bytes, int32_t size) {
  void *copy = bytes != nullptr ? std::malloc(static_cast<std::size_t>(size)) : nullptr;
  if (copy == nullptr) {
    mpm_IssueMessage(0, bytes != nullptr ? EAM_NOMEMORY : EAM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  std::memcpy(copy, bytes, static_cast<std::size_t>(size));
  return copy;
}

}  // namespace
}  // namespace tesmar::eam

using namespace tesmar::eam;

extern "C" {

olm_List *eam_CreateStack(uint32_t, const EamDescriptor *descriptor) {
  if (descriptor == nullptr) {
    mpm_IssueMessage(0, EAM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  if (descriptor->element_size <= 0) {
    mpm_IssueMessage(0, EAM_INVALIDSIZE, MPM_ERROR, static_cast<int>(descriptor->element_size));
    return nullptr;
  }
  if (descriptor->handler == nullptr || descriptor->working == nullptr) {
    mpm_IssueMessage(0, EAM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  auto *copy = static_cast<EamDescriptor *>(duplicate(descriptor, sizeof *descriptor));
  if (copy == nullptr) return nullptr;
  olm_List *stack = olm_CreateList(0, copy->element_size, kNodesPerBlock, user_word(copy));
  if (stack == nullptr) {
    std::free(copy);
    return nullptr;
  }
  if (olm_AddObject(0, stack, OLM_HEAD, copy->working) == nullptr) {
    olm_DeleteList(0, stack);
    std::free(copy);
    return nullptr;
  }
  return stack;
}

void *eam_PushState(uint32_t flags, olm_List *stack, void *argument) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return nullptr;
  void *answer = descriptor->handler(flags, stack, argument);
  if (answer != nullptr) {
    void *stored = olm_AddObject(0, stack, OLM_HEAD, answer);
    std::free(answer);
    if (stored == nullptr) return nullptr;
  }
  return olm_GetObject(0, stack, OLM_HEAD);
}

void *eam_PushStateGuarded(uint32_t flags, olm_List *stack, void *argument) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) {
    eam_guarded_state = nullptr;
    return nullptr;
  }
  descriptor->flags |= EAM_PUSHING;
  void *state = eam_PushState(flags, stack, argument);
  descriptor->flags &= ~EAM_PUSHING;
  eam_guarded_state = state;
  return state;
}

void *eam_CallHandler(uint32_t flags, olm_List *stack, void *argument) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return nullptr;
  descriptor->flags |= EAM_CALLING;
  void *answer = descriptor->handler(flags, stack, argument);
  if (answer != nullptr) descriptor->flags &= ~EAM_CALLING;
  return answer;
}

mpm_Status eam_ResetStack(uint32_t, olm_List *stack, const void *record) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return EAM_NULLPOINTER;
  if (record != nullptr)
    std::memmove(descriptor->working, record, static_cast<std::size_t>(descriptor->element_size));
  if (olm_PurgeList(0, stack) != 0) return mpm_last_status;
  if (olm_AddObject(0, stack, OLM_HEAD, descriptor->working) == nullptr) return mpm_last_status;
  return 0;
}

void *eam_GetSavedState(uint32_t, olm_List *stack) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return nullptr;
  return duplicate(olm_GetObject(0, stack, OLM_HEAD), descriptor->element_size);
}

void *eam_GetWorkingState(uint32_t, olm_List *stack) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return nullptr;
  return duplicate(descriptor->working, descriptor->element_size);
}

olm_List *eam_CopyStack(uint32_t, olm_List *stack) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return nullptr;
  auto *copy = static_cast<EamDescriptor *>(duplicate(descriptor, sizeof *descriptor));
  if (copy == nullptr) return nullptr;
  olm_List *list = olm_CopyList(0, stack);
  if (list == nullptr) {
    std::free(copy);
    return nullptr;
  }
  list->user = user_word(copy);
  return list;
}

mpm_Status eam_DeleteStack(uint32_t, olm_List *stack) {
  EamDescriptor *descriptor = checked(stack);
  if (descriptor == nullptr) return EAM_NULLPOINTER;
  std::free(descriptor);
  olm_DeleteList(0, stack);
  return 0;
}

}  // extern "C"
