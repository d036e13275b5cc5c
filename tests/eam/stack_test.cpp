// Stacks of saved states: the handler protocol, flags, copies and resets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

struct State {
  int32_t depth;
  char label[12];
};

struct Recorder {
  std::vector<uint32_t> flags_seen;  // descriptor flags at each call
  bool answer_null = false;
};
Recorder g_recorder;

EamDescriptor *descriptor_of(olm_List *stack) {
  return reinterpret_cast<EamDescriptor *>(static_cast<uintptr_t>(stack->user));
}

// Produces the next state from the working record: depth + the argument.
void *next_state(uint32_t, olm_List *stack, void *argument) {
  EamDescriptor *d = descriptor_of(stack);
  g_recorder.flags_seen.push_back(d->flags);
  if (g_recorder.answer_null) return nullptr;
  auto *state = static_cast<State *>(std::malloc(sizeof(State)));
  *state = *static_cast<State *>(d->working);
  state->depth += argument != nullptr ? *static_cast<int32_t *>(argument) : 1;
  std::snprintf(state->label, sizeof state->label, "d%d", state->depth);
  return state;
}

class EamTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    g_recorder = Recorder{};
    working_ = State{0, "root"};
    EamDescriptor d{0, sizeof(State), next_state, &working_};
    stack_ = eam_CreateStack(0, &d);
    ASSERT_NE(stack_, nullptr);
  }
  void TearDown() override {
    if (stack_ != nullptr) eam_DeleteStack(0, stack_);
    LibraryTest::TearDown();
  }
  State working_;
  olm_List *stack_ = nullptr;
};

TEST_F(EamTest, CreateSavesTheWorkingRecordFirst) {
  EXPECT_EQ(stack_->count, 1);
  auto *saved = static_cast<State *>(eam_GetSavedState(0, stack_));
  ASSERT_NE(saved, nullptr);
  EXPECT_STREQ(saved->label, "root");
  std::free(saved);
  // The stack keeps its own descriptor: the caller's may go away.
  EXPECT_EQ(descriptor_of(stack_)->working, &working_);
}

TEST_F(EamTest, GuardedPushAndCallHandlerSetTheirFlags) {
  void *head = eam_PushStateGuarded(0, stack_, nullptr);
  EXPECT_EQ(head, eam_guarded_state);
  EXPECT_EQ(descriptor_of(stack_)->flags, 0u);
  void *answer = eam_CallHandler(0, stack_, nullptr);
  ASSERT_NE(answer, nullptr);
  std::free(answer);
  EXPECT_EQ(descriptor_of(stack_)->flags, 0u);
  g_recorder.answer_null = true;
  EXPECT_EQ(eam_CallHandler(0, stack_, nullptr), nullptr);
  EXPECT_EQ(descriptor_of(stack_)->flags, EAM_CALLING);  // stays set after a null answer
  EXPECT_EQ(g_recorder.flags_seen, (std::vector<uint32_t>{EAM_PUSHING, EAM_CALLING, EAM_CALLING}));
  EXPECT_EQ(stack_->count, 2);  // eam_CallHandler stores nothing
}

TEST_F(EamTest, ResetLeavesOneStateFromTheRecord) {
  for (int i = 0; i < 25; ++i) eam_PushState(0, stack_, nullptr);
  EXPECT_EQ(stack_->count, 26);
  State fresh{42, "fresh"};
  EXPECT_EQ(eam_ResetStack(0, stack_, &fresh), 0u);
  EXPECT_EQ(stack_->count, 1);
  EXPECT_EQ(working_.depth, 42);
  auto *working = static_cast<State *>(eam_GetWorkingState(0, stack_));
  EXPECT_STREQ(working->label, "fresh");
  std::free(working);
  working_.depth = 7;
  EXPECT_EQ(eam_ResetStack(0, stack_, nullptr), 0u);
  EXPECT_EQ(static_cast<State *>(olm_GetObject(0, stack_, OLM_HEAD))->depth, 7);
}

TEST_F(EamTest, CopiesAreIndependent) {
  eam_PushState(0, stack_, nullptr);
  olm_List *copy = eam_CopyStack(0, stack_);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(descriptor_of(copy), descriptor_of(stack_));
  EXPECT_EQ(copy->count, 2);
  eam_PushState(0, copy, nullptr);
  EXPECT_EQ(copy->count, 3);
  EXPECT_EQ(stack_->count, 2);
  EXPECT_EQ(eam_DeleteStack(0, copy), 0u);
  // The original still works after its copy (and the copy's descriptor) is gone.
  EXPECT_NE(eam_PushState(0, stack_, nullptr), nullptr);
}

TEST_F(LibraryTest, EamRefusesBadDescriptors) {
  State working{};
  EamDescriptor d{0, 0, next_state, &working};
  EXPECT_EQ(eam_CreateStack(0, &d), nullptr);
  EXPECT_EQ(pending_texts().front(), "*** Error (EAM_INVALIDSIZE) ***\nInvalid size = 0\n");
  d.element_size = -4;
  EXPECT_EQ(eam_CreateStack(0, &d), nullptr);
  EXPECT_EQ(mpm_last_status, EAM_INVALIDSIZE);
  d.element_size = sizeof working;
  d.handler = nullptr;
  EXPECT_EQ(eam_CreateStack(0, &d), nullptr);
  EXPECT_EQ(mpm_last_status, EAM_NULLPOINTER);
  d.handler = next_state;
  d.working = nullptr;
  EXPECT_EQ(eam_CreateStack(0, &d), nullptr);
  EXPECT_EQ(eam_CreateStack(0, nullptr), nullptr);
  EXPECT_EQ(eam_PushState(0, nullptr, nullptr), nullptr);
  EXPECT_EQ(eam_CallHandler(0, nullptr, nullptr), nullptr);
  EXPECT_EQ(eam_ResetStack(0, nullptr, nullptr), EAM_NULLPOINTER);
  EXPECT_EQ(eam_GetSavedState(0, nullptr), nullptr);
  EXPECT_EQ(eam_DeleteStack(0, nullptr), EAM_NULLPOINTER);
  EXPECT_EQ(mpm_last_status, EAM_NULLPOINTER);
}

}  // namespace
}  // namespace tesmar::test
