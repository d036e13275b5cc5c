// The second entity walk's own behaviour (status variable, answers, partial walks) and the visit of
// a model's entities.
#include <set>

#include "traverse_support.h"

namespace tesmar::test {
namespace {

using Calls = std::vector<std::string>;
using Traverse2Test = WalkTest;

// Every entity of the walk schema, filled so that each kind of field is reached, walked by both
// engines: the same calls in the same order with the same counts and addresses.
TEST_F(Traverse2Test, BothEnginesMakeTheSameCalls) {
  struct Setup {
    const char *entity;
    void (*fill)(char *);
  };
  const Setup setups[] = {
      {"plain", [](char *) {}},
      {"counted", [](char *e) { put<int32_t>(e, 24, 4); }},
      {"shapes", [](char *e) { put<int32_t>(e, 72, 3), put<int16_t>(e, 88, 1); }},
      {"nested", [](char *e) { put<int32_t>(e, 24, 1), put<int32_t>(e, 32, 2); }},
      {"variant", [](char *e) { put<int16_t>(e, 24, 1); }},
      {"defaults", [](char *) {}},
      {"loop", [](char *) {}},
  };
  for (const Setup &s : setups) {
    SCOPED_TRACE(s.entity);
    char *e = entity(s.entity);
    s.fill(e);
    walk(e, MDA_TRAVERSE_ALLOCATE);
    const Calls first = walk(e);
    EXPECT_EQ(walk2(e), first);
    EXPECT_EQ(first.back(), "19 0 - -");
  }
}

struct Answers {
  static inline int calls = 0;
  static inline int at = 0;            // the call that answers
  static inline mpm_Status status = 0;  // stored in the status variable there
  static inline mpm_Status result = 0;  // and answered
};

mpm_Status answering(void *, int32_t, int32_t, void *, const ddf_FieldDesc *, mpm_Status *status,
                     int32_t *, void *user) {
  ++*static_cast<int *>(user);
  if (Answers::calls++ == Answers::at) {
    *status = Answers::status;
    return Answers::result;
  }
  return 0;
}

TEST_F(Traverse2Test, StatusVariableAndAnswers) {
  char *e = entity("plain");
  struct Case {
    int at;
    mpm_Status status, result;
    mpm_Status returned;
    int calls;
  };
  const Case cases[] = {
      {3, 0x1234u, 0, 0x1234u, 10},                 // set and go on: returned at the end
      {3, 7, MDA_TRAVERSE_STOP, 7, 4},              // stop: the status variable
      {2, 7, MDA_INVALID_ARG, MDA_INVALID_ARG, 3},  // another answer: returned as it is
      {9, 0, MDA_TRAVERSE_SKIP, MDA_TRAVERSE_SKIP, 10},
  };
  for (const Case &c : cases) {
    Answers::calls = 0;
    Answers::at = c.at;
    Answers::status = c.status;
    Answers::result = c.result;
    int user = 0;
    EXPECT_EQ(mda_TraverseEntity2(0, e, answering, &user), c.returned);
    EXPECT_EQ(user, c.calls);
  }
  // The callback's own codes are its business: nothing was issued for them.
  EXPECT_TRUE(pending_codes().empty());
}

TEST_F(Traverse2Test, PartialWalkEndsOnTheEndDescriptor) {
  char *e = entity("shapes");
  put<int32_t>(e, 28, 5);
  ddf_Schema *saved = ddf_current;
  ddf_current = schema_;
  ddf_FieldDesc *member = nullptr;
  ASSERT_EQ(ddf_GetFieldDesc("pair.a", tf_of("shapes"), &member), 0u);
  ddf_current = saved;
  const ddf_FieldDesc *cursor = member;
  mpm_Status status = 0;
  Recorder::calls.clear();
  EXPECT_EQ(mda__TraverseEntity2(0, e, e + 28, &cursor, record2, &status, DDF_ENDSTRUCT, nullptr),
            0u);
  EXPECT_EQ(Recorder::calls, (Calls{"2 1 pair.a @28", "1 1 pair.b @32"}));
  EXPECT_EQ(cursor, member + 2);
  EXPECT_EQ(cursor->kind, DDF_ENDSTRUCT);
  // To the end of the type form, which is reported.
  cursor = member + 3;  // pts
  Recorder::calls.clear();
  EXPECT_EQ(mda__TraverseEntity2(0, e, e + 40, &cursor, record2, nullptr, DDF_ENDENT, nullptr), 0u);
  EXPECT_EQ(Recorder::calls.front(), "11 1 pts @40");
  EXPECT_EQ(Recorder::calls.back(), "19 0 - -");
  EXPECT_EQ(cursor->kind, DDF_ENDENT);
  EXPECT_EQ(mda__TraverseEntity2(0, e, e + 40, &cursor, record2, nullptr, DDF_INT, nullptr),
            MDA_INVALID_ARG);
}

struct Visits {
  static inline std::vector<uint64_t> seen;
  static inline uint64_t stop_after = 0;
  static inline int32_t model = 0;
  static inline int created = 0;
};

int32_t visit(db_ptr ptr) {
  Visits::seen.push_back(MDA_PTR_ENTITY(ptr));
  EXPECT_EQ(MDA_PTR_MODEL(ptr), Visits::model);
  return MDA_PTR_ENTITY(ptr) == Visits::stop_after ? 1 : 0;
}

TEST_F(Traverse2Test, ModelVisitSkipsDeletedAndReservedNumbers) {
  Visits::model = model_;
  std::vector<db_ptr> ptrs;
  for (int i = 0; i < 6; ++i) ptrs.push_back(make_entity(model_, tf_of("plain")));
  db_ptr reserved = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, model_, &reserved), 0u);  // number 7
  mda_ModelRec *rec = mda::model_in_use(model_);
  mda::release_number(rec, MDA_PTR_ENTITY(ptrs[2]));  // number 3 deleted
  struct Case {
    uint32_t options;
    uint64_t stop_after;
    mpm_Status status;
    std::vector<uint64_t> seen;
  };
  const Case cases[] = {
      {0, 0, 0, {1, 2, 4, 5, 6}},
      {MDA_TRAVERSE_DESCENDING, 0, 0, {6, 5, 4, 2, 1}},
      {0, 4, MDA_TRAVERSE_STOP, {1, 2, 4}},
      {MDA_TRAVERSE_DESCENDING, 5, MDA_TRAVERSE_STOP, {6, 5}},
  };
  for (const Case &c : cases) {
    Visits::seen.clear();
    Visits::stop_after = c.stop_after;
    EXPECT_EQ(mda_TraverseModel(c.options, model_, visit), c.status);
    EXPECT_EQ(Visits::seen, c.seen);
  }
  EXPECT_EQ(mda_TraverseModel(0, model_ + 1, visit), MDA_INVALID_MODEL);
  EXPECT_EQ(mda_TraverseModel(0, model_, nullptr), MDA_NULL_MEMPTR);
}

TEST_F(Traverse2Test, ModelVisitSeesEntitiesCreatedAhead) {
  Visits::model = model_;
  make_entity(model_, tf_of("plain"));
  make_entity(model_, tf_of("plain"));
  Visits::seen.clear();
  Visits::created = 0;
  auto creating = [](db_ptr ptr) -> int32_t {
    Visits::seen.push_back(MDA_PTR_ENTITY(ptr));
    if (Visits::created++ < 2) make_entity(Visits::model, 0x10000u);  // plain 1:0
    return 0;
  };
  EXPECT_EQ(mda_TraverseModel(0, model_, creating), 0u);
  EXPECT_EQ(Visits::seen, (std::vector<uint64_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tesmar::test
