// The small array operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

TEST_F(LibraryTest, SubscriptOffsetsAreRowMajor) {
  // double a[3][4][5]: a[2][1][3] lies at ((2 * 4 + 1) * 5 + 3) elements.
  const int64_t dims[] = {3, 4, 5};
  const int64_t subs[] = {2, 1, 3};
  EXPECT_EQ(ugn_SubscriptOffset(8, 3, subs, 3, dims), 8 * ((2 * 4 + 1) * 5 + 3));
  // Two subscripts give the offset of the row a[2][1].
  EXPECT_EQ(ugn_SubscriptOffset(8, 2, subs, 3, dims), 8 * (2 * 4 + 1) * 5);
  EXPECT_EQ(ugn_SubscriptOffset(8, 0, subs, 3, dims), 0);
  // More subscripts than dimensions read no dimension beyond the table.
  EXPECT_EQ(ugn_SubscriptOffset(8, 5, subs, 3, dims), 8 * ((2 * 4 + 1) * 5 + 3));
  const int32_t dims32[] = {3, 4, 5};
  const int32_t subs32[] = {2, 1, 3};
  EXPECT_EQ(ugn_SubscriptOffsetInt(4, 3, subs32, 3, dims32), 4 * 48);
  EXPECT_EQ(ugn_SubscriptOffsetLong(4, 1, subs32, 3, dims32), 4 * 2 * 20);
  // Every element of a small array gets its own offset, in order.
  std::vector<int64_t> seen;
  for (int64_t i = 0; i < 3; ++i)
    for (int64_t j = 0; j < 4; ++j)
      for (int64_t k = 0; k < 5; ++k) {
        const int64_t s[] = {i, j, k};
        seen.push_back(ugn_SubscriptOffset(1, 3, s, 3, dims));
      }
  std::vector<int64_t> expected(60);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(seen, expected);
}

TEST_F(LibraryTest, SwapsExchangeExactlyCountElements) {
  double a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  ugn_SwapDouble(3, a, b);
  EXPECT_EQ(a[0], 5);
  EXPECT_EQ(a[2], 7);
  EXPECT_EQ(a[3], 4);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[3], 8);
  int16_t s1[2] = {1, 2}, s2[2] = {3, 4};
  ugn_SwapShort(-1, s1, s2);
  EXPECT_EQ(s1[0], 1);
  ugn_SwapShort(2, s1, s2);
  EXPECT_EQ(s1[1], 4);
  char c1[] = "ab", c2[] = "cd";
  ugn_SwapChar(1, c1, c2);
  EXPECT_STREQ(c1, "cb");
  EXPECT_STREQ(c2, "ad");
  int32_t i1 = 1, i2 = 2;
  ugn_SwapInt(1, &i1, &i2);
  ugn_SwapLong(1, &i1, &i2);
  EXPECT_EQ(i1, 1);
  float f1 = 1, f2 = 2;
  ugn_SwapFloat(1, &f1, &f2);
  EXPECT_EQ(f1, 2);
}

TEST_F(LibraryTest, ZeroAndStrDup) {
  unsigned char block[8];
  std::memset(block, 0xFF, sizeof block);
  ugn_Zero(5, block);
  EXPECT_EQ(block[4], 0);
  EXPECT_EQ(block[5], 0xFF);
  ugn_Zero(-3, block + 5);
  EXPECT_EQ(block[5], 0xFF);
  char *copy = ugn_StrDup("text");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "text");
  std::free(copy);
  EXPECT_EQ(ugn_StrDup(nullptr), nullptr);
}

}  // namespace
}  // namespace tesmar::test
