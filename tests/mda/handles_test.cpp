// Handles: forming, testing, printing, and what bad handles get.
#include <cstdio>
#include <cstdlib>

#include "mda_test.h"

namespace tesmar::test {
namespace {

using HandleTest = MdaTest;

TEST_F(HandleTest, FormingAndPrinting) {
  const db_ptr p = MDA_MAKE_PTR(2, 5);
  EXPECT_EQ(p, (uint64_t{2} << 48) | 5u);
  EXPECT_EQ(MDA_PTR_MODEL(p), 2);
  EXPECT_EQ(MDA_PTR_ENTITY(p), 5u);
  const db_ptr big = MDA_MAKE_PTR(65535, 0xFFFFFFFFFFFFull);
  EXPECT_EQ(big, UINT64_MAX);
  EXPECT_EQ(MDA_PTR_MODEL(big), 65535);
  char text[64];
  std::snprintf(text, sizeof text, MDA_PTR_FORMAT, static_cast<int>(MDA_PTR_MODEL(p)),
                static_cast<long>(MDA_PTR_ENTITY(p)));
  EXPECT_STREQ(text, "#2:5");
  std::snprintf(text, sizeof text, MDA_PTR_FORMAT, static_cast<int>(MDA_PTR_MODEL(big)),
                static_cast<long>(MDA_PTR_ENTITY(big)));
  EXPECT_STREQ(text, "#65535:281474976710655");
}

TEST_F(HandleTest, StatesOfANumber) {
  int32_t m = allocate();
  db_ptr live = make_entity(m, tf("line"), true);
  db_ptr reserved = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &reserved), 0u);
  db_ptr deleted = make_entity(m, tf("point"));
  mda::release_number(mda::model_in_use(m), mda::number_of(deleted));
  const db_ptr never = MDA_MAKE_PTR(m, 1000000);
  const db_ptr other_model = MDA_MAKE_PTR(m + 1, 1);

  EXPECT_EQ(mda_IsValidPtr(live), 1);
  EXPECT_EQ(mda_IsValidPtr(reserved), 0);
  EXPECT_EQ(mda_IsValidPtr(deleted), 0);
  EXPECT_EQ(mda_IsValidPtr(never), 0);
  EXPECT_EQ(mda_IsValidPtr(other_model), 0);
  EXPECT_EQ(mda_IsValidPtr(MDA_NULL_PTR), 0);
  EXPECT_EQ(mda_IsValidPtr(MDA_MAKE_PTR(m, 0)), 0);  // entity 0 is reserved

  EXPECT_EQ(mda_IsDeleted(deleted), 1);
  EXPECT_EQ(mda_IsDeleted(live), 0);
  EXPECT_EQ(mda_IsDeleted(never), 0);
  EXPECT_EQ(mda_IsDeleted(other_model), 0);
  EXPECT_EQ(mda_IsInMemory(0, live), 1);
  EXPECT_EQ(mda_IsInMemory(0, reserved), 0);
  EXPECT_EQ(mda_IsInMemory(0, never), 0);
  EXPECT_EQ(mda_IsInMemory(0, deleted), 0);
  EXPECT_TRUE(pending_codes().empty());  // the tests issue nothing

  int32_t type = 0, form = 0;
  ASSERT_EQ(mda_GetPtrTF(live, &type, &form), 0u);
  EXPECT_EQ(type, 110);
  EXPECT_EQ(form, 0);
  ASSERT_EQ(mda_GetPtrTF(MDA_NULL_PTR, &type, &form), 0u);
  EXPECT_EQ(type, 16000);
  EXPECT_EQ(form, 16000);
  for (db_ptr bad : {reserved, deleted, never, other_model}) {
    type = form = -5;
    EXPECT_EQ(mda_GetPtrTF(bad, &type, &form), MDA_INVALID_PTR);
    EXPECT_EQ(type, -5);
  }
  EXPECT_EQ(count_of(MDA_INVALID_PTR).total, 4);

  // A negative form prints as such.
  mda::lookup(live)->tf = 0x00070000u | 0xFFFFu;
  ASSERT_EQ(mda_GetPtrTF(live, &type, &form), 0u);
  EXPECT_EQ(type, 7);
  EXPECT_EQ(form, -1);
}

TEST_F(HandleTest, EntityInfoComesFromTheModelsSchema) {
  int32_t m = allocate();
  db_ptr line = make_entity(m, tf("line"));
  uint32_t t = 0;
  char *name = nullptr, *description = nullptr;
  ASSERT_EQ(mda_GetEntityInfo(0, line, &t, &name, &description), 0u);
  EXPECT_EQ(t, tf("line"));
  ASSERT_NE(name, nullptr);
  ASSERT_NE(description, nullptr);
  EXPECT_STREQ(name, "line");
  EXPECT_STREQ(description, "A straight segment between two points");
  std::free(name);
  std::free(description);
  ASSERT_EQ(mda_GetEntityInfo(0, line, &t, nullptr, nullptr), 0u);
  ASSERT_EQ(mda_GetEntityInfo(0, MDA_NULL_PTR, &t, &name, nullptr), 0u);
  EXPECT_EQ(t, TF_NONE);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(mda_GetEntityInfo(0, MDA_MAKE_PTR(m, 99), &t, &name, nullptr), MDA_INVALID_PTR);
  // A type form the schema does not hold has no texts.
  mda::lookup(line)->tf = 0x12345678u;
  ASSERT_EQ(mda_GetEntityInfo(0, line, &t, &name, &description), 0u);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(description, nullptr);
}

}  // namespace
}  // namespace tesmar::test
