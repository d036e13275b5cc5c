// Validation tables: sorting, lookup, values, switches, merge, copy and delete.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

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

TEST_F(ValidationTableTest, SortAndFindMatchASetPeer) {
  std::mt19937 random(3);
  for (int round = 0; round < 20; ++round) {
    std::set<int32_t> codes;
    int32_t n = static_cast<int32_t>(random() % 60);
    while (static_cast<int32_t>(codes.size()) < n) codes.insert(static_cast<int32_t>(random() % 500) - 100);
    std::vector<int32_t> order(codes.begin(), codes.end());
    std::shuffle(order.begin(), order.end(), random);
    evm_Table *t = new_table(n, false);
    for (int32_t i = 0; i < n; ++i) {
      set_check(t, i, order[i], EVM_VALUE_INTEGER, static_cast<int16_t>(i), -1);
      t->integers[i] = order[i] * 3;
    }
    ASSERT_EQ(evm_SortTable(0, t), 0u);
    for (int32_t i = 1; i < n; ++i) EXPECT_LT(t->checks[i - 1].code, t->checks[i].code);
    for (int32_t code = -110; code < 410; ++code) {
      evm_Check *found = evm_FindCheck(t, code);
      ASSERT_EQ(found != nullptr, codes.count(code) == 1) << code;
      // Entries move with their value indexes.
      if (found != nullptr) {
        EXPECT_EQ(t->integers[found->value_index], code * 3);
      }
    }
    evm_DeleteTable(0, t);
  }
}

TEST_F(ValidationTableTest, SetValueStoresByKindAndCopiesTexts) {
  evm_Table *t = sample_table();
  int32_t integer = -7;
  double real = 9.75;
  ASSERT_EQ(evm_SetValue(t, static_cast<int32_t>(OTM_NOTFOUND), &integer), 0u);
  ASSERT_EQ(evm_SetValue(t, static_cast<int32_t>(OLM_INVALIDSIZE), &real), 0u);
  EXPECT_EQ(t->integers[1], -7);
  EXPECT_EQ(t->doubles[2], 9.75);
  char unit[] = "inch";
  char *text = unit;
  ASSERT_EQ(evm_SetValue(t, static_cast<int32_t>(MPM_OPENERROR), &text), 0u);  // "mm" is freed
  unit[0] = 'X';
  EXPECT_STREQ(t->texts[0], "inch");
  EXPECT_NE(t->texts[0], unit);
  text = nullptr;
  ASSERT_EQ(evm_SetValue(t, static_cast<int32_t>(MPM_OPENERROR), &text), 0u);
  EXPECT_EQ(t->texts[0], nullptr);
  // No value kind: nothing is stored, and the value pointer is not even read.
  evm_FindCheck(t, static_cast<int32_t>(OTM_NOTFOUND))->value_kind = EVM_VALUE_NONE;
  EXPECT_EQ(evm_SetValue(t, static_cast<int32_t>(OTM_NOTFOUND), nullptr), 0u);
  EXPECT_EQ(t->integers[1], -7);
  evm_DeleteTable(0, t);
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
