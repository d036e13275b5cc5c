// The second entity walk's own behaviour (status variable, answers, partial walks) and the visit of
// a model's entities.
#include <set>

#include "traverse_support.h"

namespace tesmar::test {
namespace {

using Calls = std::vector<std::string>;
using Traverse2Test = WalkTest;

struct Answers {
};

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
};

}  // namespace
}  // namespace tesmar::test
