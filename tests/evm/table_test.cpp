// Validation tables: what bad indexes and missing arrays get. Sorting, lookup, values, merge, copy
// and delete are checked against a model in random_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "evm/table_support.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using ValidationTableTest = LibraryTest;

// Three checks: OTM_NOTFOUND (integer, own tolerance in slot 0), OLM_INVALIDSIZE (double, default
// tolerance), MPM_OPENERROR (text, tolerance in slot 2); values in slots 1, 2 and 0.
evm_Table *sample_table() {
  evm_Table *t = new_table(3, true);
  set_check(t, 0, static_cast<int32_t>(OTM_NOTFOUND), EVM_VALUE_INTEGER, 1, 0);
  set_check(t, 1, static_cast<int32_t>(OLM_INVALIDSIZE), EVM_VALUE_DOUBLE, 2, -1);
  set_check(t, 2, static_cast<int32_t>(MPM_OPENERROR), EVM_VALUE_TEXT, 0, 2);
  t->integers[1] = 42;
  t->doubles[2] = 2.5;
  t->doubles[0] = 0.125;  // tolerance of OTM_NOTFOUND
  t->texts[0] = heap_text("mm");
  t->default_tolerance = 1e-6;
  t->user = 0xBEEF;
  EXPECT_EQ(evm_SortTable(0, t), 0u);
  return t;
}

TEST_F(ValidationTableTest, BadIndexesAndMissingArraysAreErrorsNotWildAccesses) {
  evm_Table *t = sample_table();
  const std::string bad_index =
      "*** Error (EVM_BAD_INDEX) ***\nCheck OTM_NOTFOUND has an index outside the validation table.\n";
  const std::string null_memptr = "*** Error (EVM_NULL_MEMPTR) ***\nUnexpected NULL memory pointer.\n";
  int32_t integer = 5;
  evm_Check &c = *evm_FindCheck(t, static_cast<int32_t>(OTM_NOTFOUND));
  for (int16_t index : {3, 300, -1, -32768}) {
    c.value_index = index;
    EXPECT_EQ(evm_SetValue(t, c.code, &integer), EVM_BAD_INDEX) << index;
    evm_CheckRecord r{};
    EXPECT_EQ(evm_GetCheck(t, c.code, &r), EVM_BAD_INDEX) << index;
  }
  c.value_index = 1;
  for (int16_t tolerance : {3, -2}) {
    c.tolerance_index = tolerance;
    evm_CheckRecord r{};
    EXPECT_EQ(evm_GetCheck(t, c.code, &r), EVM_BAD_INDEX) << tolerance;
  }
  c.tolerance_index = 0;
  EXPECT_EQ(pending_texts().size(), 10u);
  EXPECT_EQ(pending_texts().front(), bad_index);
  mpm_DiscardPending(0);

  // A text on a table without a text array; a missing value pointer; a missing table.
  evm_Table *plain = new_table(1, false);
  set_check(plain, 0, 77, EVM_VALUE_TEXT, 0, -1);
  char *text = heap_text("x");
  EXPECT_EQ(evm_SetValue(plain, 77, &text), EVM_NULL_MEMPTR);
  evm_CheckRecord r{};
  EXPECT_EQ(evm_GetCheck(plain, 77, &r), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_SetValue(t, c.code, nullptr), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_GetCheck(t, c.code, nullptr), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_GetCheck(nullptr, 1, &r), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_SortTable(0, nullptr), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_MergeTable(0, nullptr, t), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_CopyTable(0, nullptr, plain), EVM_NULL_MEMPTR);
  EXPECT_EQ(evm_FindCheck(nullptr, 1), nullptr);
  EXPECT_EQ(evm_DeleteTable(0, nullptr), 0u);
  EXPECT_EQ(pending_texts().size(), 8u);
  EXPECT_EQ(pending_texts().back(), null_memptr);
  std::free(text);
  evm_DeleteTable(0, plain);
  evm_DeleteTable(0, t);
}

}  // namespace
}  // namespace tesmar::test
