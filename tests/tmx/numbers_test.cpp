// Double text, EBCDIC, string and memory helpers, environment.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/library.h"

namespace tesmar::test {
namespace {

std::string format(double value, mpm_Status *status = nullptr) {
  char buffer[TMX_DOUBLE_TEXT_SIZE];
  std::memset(buffer, 'Z', sizeof buffer);
  mpm_Status s = tmx_FormatDouble(value, buffer);
  if (status != nullptr) *status = s;
  EXPECT_NE(std::memchr(buffer, '\0', sizeof buffer), nullptr);
  return buffer;
}

TEST(FormatDouble, Examples) {
  EXPECT_EQ(format(0.0), "0.0D0");
  EXPECT_EQ(format(-0.0), "0.0D0");
  EXPECT_EQ(format(1.0), "1.0D0");
  EXPECT_EQ(format(123.45), "123.45D0");
  EXPECT_EQ(format(0.5), ".5D0");
  EXPECT_EQ(format(0.05), ".05D0");
  EXPECT_EQ(format(-0.25), "-.25D0");
  EXPECT_EQ(format(2.0e14), "2.0D14");
  EXPECT_EQ(format(1.0e15), "1.0D15");
  EXPECT_EQ(format(1.0e-20), "1.0D-20");
  EXPECT_EQ(format(2.0e13), "20000000000000.0D0");
  EXPECT_EQ(format(1.0 / 3.0), ".333333333333333D0");
  EXPECT_EQ(format(2.0 / 3.0), ".666666666666667D0");
  EXPECT_EQ(format(0.001234), ".001234D0");
  EXPECT_EQ(format(1.234567890123e-3), ".001234567890123D0");
  EXPECT_EQ(format(1.2345678901234e-3), "1.2345678901234D-3");
  EXPECT_EQ(format(1.23456789012345e-3), "1.23456789012345D-3");
  EXPECT_EQ(format(-1.5e300), "-1.5D300");
  EXPECT_EQ(format(9.999999999999999), "10.0D0");  // the carry moves the point
  // A half rounds up: 1234567890123445 and ...455 are exact doubles.
  EXPECT_EQ(format(1234567890123445.0), "1.23456789012345D15");
  EXPECT_EQ(format(1234567890123455.0), "1.23456789012346D15");
}

TEST(FormatDouble, ExtremesAndNonNumbers) {
  mpm_Status status = 1;
  EXPECT_EQ(format(std::numeric_limits<double>::max(), &status), "1.79769313486232D308");
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(format(1.0e-307, &status), "1.0D-307");
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(format(1.0e-310, &status), "9.99999999999997D-307");  // a subnormal
  EXPECT_EQ(status, UGN_MINEXP_ERR);
  EXPECT_EQ(format(-std::numeric_limits<double>::denorm_min(), &status), "-4.94065645841247D-307");
  EXPECT_EQ(status, UGN_MINEXP_ERR);
  EXPECT_EQ(format(std::numeric_limits<double>::infinity(), &status), "1.0D308");
  EXPECT_EQ(status, UGN_MAXEXP_ERR);
  EXPECT_EQ(format(-std::numeric_limits<double>::infinity(), &status), "-1.0D308");
  EXPECT_EQ(status, UGN_MAXEXP_ERR);
  EXPECT_EQ(format(std::nan(""), &status), "0.0D0");
  EXPECT_EQ(status, UGN_BAD_FLOAT);
  EXPECT_EQ(tmx_FormatDouble(1.0, nullptr), 0u);
}

// Compared with the C library's correctly rounded 15 digits: the values agree after reading back.
TEST(FormatDouble, AgreesWithFifteenDigitPrintfOnRandomValues) {
  std::mt19937_64 random(42);
  for (int i = 0; i < 200000; ++i) {
    double value;
    uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value) || value == 0.0) continue;
    if (i % 2 == 0)  // ordinary magnitudes too
      value = std::ldexp(static_cast<double>(random() % 1000000000) / 7.0,
                         static_cast<int>(random() % 120) - 60);
    mpm_Status status;
    std::string text = format(value, &status);
    if (status != 0) {
      EXPECT_LT(std::fabs(value), 1.0e-307) << text;
      continue;
    }
    ASSERT_LT(text.size(), static_cast<size_t>(TMX_DOUBLE_TEXT_SIZE));
    std::string c_text = text;
    c_text[c_text.find('D')] = 'e';
    char reference[64];
    std::snprintf(reference, sizeof reference, "%.14e", value);
    if (std::strtod(c_text.c_str(), nullptr) != std::strtod(reference, nullptr)) {
      // Only an exact half may differ: printf rounds it to even, the kernel up.
      char exact[900];
      std::snprintf(exact, sizeof exact, "%.800e", std::fabs(value));
      std::string digits = std::string(exact).substr(0, std::string(exact).find('e'));
      digits.erase(1, 1);
      EXPECT_EQ(digits[15], '5') << text << " vs " << reference;
      EXPECT_EQ(digits.find_first_not_of('0', 16), std::string::npos) << exact;
      EXPECT_GT(std::fabs(std::strtod(c_text.c_str(), nullptr)), std::fabs(value));
    }
    // One digit always follows the point; no trailing zeros beyond it.
    std::size_t point = text.find('.'), d = text.find('D');
    ASSERT_NE(point, std::string::npos);
    EXPECT_GT(d, point + 1);
    if (d > point + 2) {
      EXPECT_NE(text[d - 1], '0') << text;
    }
  }
}

TEST(CompareDoubles, SortsConsistentlyWithNaNs) {
  std::vector<double> values = {3.0, std::nan(""), -1.0, 0.0, -0.0, std::nan(""), 2.5,
                                -std::numeric_limits<double>::infinity()};
  std::qsort(values.data(), values.size(), sizeof(double), tmx_CompareDoubles);
  EXPECT_EQ(values[0], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(values[1], -1.0);
  EXPECT_EQ(values[4], 2.5);
  EXPECT_EQ(values[5], 3.0);
  EXPECT_TRUE(std::isnan(values[6]) && std::isnan(values[7]));
  double a = 1.0, b = 2.0;
  EXPECT_EQ(tmx_CompareDoubles(&a, &b), -1);
  EXPECT_EQ(tmx_CompareDoubles(&b, &a), 1);
  EXPECT_EQ(tmx_CompareDoubles(&a, &a), 0);
}

TEST(Ebcdic, Table) {
  EXPECT_EQ(tmx_EbcdicToAscii(0xC1), 'A');
  EXPECT_EQ(tmx_EbcdicToAscii(0x4A), -1);
  EXPECT_EQ(tmx_EbcdicToAscii(300), -1);
  EXPECT_EQ(tmx_EbcdicToAscii(-1), -1);
  EXPECT_EQ(tmx_EbcdicToAscii(0x40), ' ');
  EXPECT_EQ(tmx_EbcdicToAscii(0x7D), '\'');
  EXPECT_EQ(tmx_EbcdicToAscii(0x7F), '"');
  EXPECT_EQ(tmx_EbcdicToAscii(0xE0), '\\');
  EXPECT_EQ(tmx_EbcdicToAscii(0xA9), 'z');
  EXPECT_EQ(tmx_EbcdicToAscii(0xF9), '9');
  int mapped = 0;
  std::string letters;
  for (int code = 0; code < 256; ++code) {
    mapped += tmx_EbcdicTable[code] != -1;
    int32_t c = tmx_EbcdicToAscii(code);
    if (std::isalpha(c)) letters += static_cast<char>(c);
  }
  EXPECT_EQ(mapped, 100);
  EXPECT_EQ(letters, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST(Strings, CaseAndWords) {
  char text[] = "  hELLO wORLD \xC3\xA9";
  tmx_StrUpper(text);
  EXPECT_STREQ(text, "  HELLO WORLD \xC3\xA9");
  tmx_StrLower(text);
  EXPECT_STREQ(text, "  hello world \xC3\xA9");
  char cap[] = " \tmIXED Case";
  EXPECT_EQ(tmx_StrCapitalize(cap), 'M');
  EXPECT_STREQ(cap, " \tMixed case");
  char digit[] = " 9Lives";
  EXPECT_EQ(tmx_StrCapitalize(digit), '9');
  EXPECT_STREQ(digit, " 9lives");
  char blank[] = "   ";
  EXPECT_EQ(tmx_StrCapitalize(blank), 0);
  tmx_StrLower(nullptr);
  EXPECT_EQ(tmx_StrCapitalize(nullptr), 0);

  EXPECT_EQ(tmx_StrStartsWithWord("END", "  -- END of it"), 1);
  EXPECT_EQ(tmx_StrStartsWithWord("END", "ENDING"), 1);
  EXPECT_EQ(tmx_StrStartsWithWord("END", "x END"), 0);
  EXPECT_EQ(tmx_StrStartsWithWord("END", " ... "), 0);
  EXPECT_EQ(tmx_StrStartsWithWord("-x", "  -x"), 1);
  EXPECT_EQ(tmx_StrStartsWithWord("END", ""), 0);
  EXPECT_EQ(tmx_StrStartsWithWord(nullptr, "x"), 0);

  EXPECT_EQ(tmx_StrIsBlank(" \t\r\n\x7F\x01"), 1);
  EXPECT_EQ(tmx_StrIsBlank(""), 1);
  EXPECT_EQ(tmx_StrIsBlank("  a "), 0);
  EXPECT_EQ(tmx_StrIsBlank("\xA0"), 0);
}

TEST(Memory, MoveAndFill) {
  char buffer[] = "abcdefgh";
  EXPECT_EQ(tmx_MoveBytes(-4, buffer, buffer + 2), buffer + 2);
  EXPECT_STREQ(buffer, "ababcdgh");
  tmx_MoveBytes(4, buffer + 2, buffer);
  EXPECT_STREQ(buffer, "abcdcdgh");
  tmx_FillBytes(3, 'z', buffer + 1);
  EXPECT_STREQ(buffer, "azzzcdgh");
  tmx_FillBytes(-3, 'y', buffer);
  EXPECT_STREQ(buffer, "azzzcdgh");
}

TEST(Memory, AllocArray) {
  void *p = nullptr;
  EXPECT_EQ(tmx_AllocArray(1, 100, 8, &p), 0);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 800; ++i) EXPECT_EQ(static_cast<char *>(p)[i], 0);
  tmx_FreePointer(&p);
  EXPECT_EQ(p, nullptr);
  tmx_FreePointer(&p);
  EXPECT_EQ(tmx_AllocArray(0, INT64_MAX / 2, 16, &p), 1);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(tmx_AllocArray(0, -1, 16, &p), 1);
  EXPECT_EQ(tmx_AllocArray(0, 0, 16, &p), 0);
  tmx_FreePointer(&p);
}

TEST(Memory, GrowArrayGrowsUntilTheRequestFits) {
  int32_t capacity = 0, count = 0;
  void *array = nullptr;
  EXPECT_EQ(tmx_GrowArray(0, 0, 3, 10, 4, &capacity, &array), 0);
  EXPECT_EQ(capacity, 10);
  ASSERT_NE(array, nullptr);
  static_cast<int32_t *>(array)[2] = 77;
  // 35 more after 5: one increment would not do; grows to 50, keeps the contents, zeroes the rest.
  EXPECT_EQ(tmx_GrowArray(0, 5, 35, 10, 4, &capacity, &array), 0);
  EXPECT_EQ(capacity, 50);
  EXPECT_EQ(static_cast<int32_t *>(array)[2], 77);
  for (int i = 10; i < 50; ++i) EXPECT_EQ(static_cast<int32_t *>(array)[i], 0);
  EXPECT_EQ(tmx_GrowArray(0, 10, 5, 10, 4, &capacity, &array), 0);
  EXPECT_EQ(capacity, 50);
  // Overflowing sizes fail and leave the array as it was.
  EXPECT_EQ(tmx_GrowArray(0, 0, INT32_MAX, 1000, 4, &capacity, &array), 1);
  EXPECT_EQ(tmx_GrowArray(0, INT32_MAX - 5, 10, 1000, 4, &capacity, &array), 1);
  EXPECT_EQ(tmx_GrowArray(0, -1, 1, 10, 4, &capacity, &array), 1);
  EXPECT_EQ(tmx_GrowArray(0, 49, 10, 0, 4, &capacity, &array), 1);
  EXPECT_EQ(capacity, 50);
  EXPECT_EQ(static_cast<int32_t *>(array)[2], 77);
  count = 12;
  tmx_FreeArray(&count, &capacity, &array);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(capacity, 0);
}

TEST(Memory, FixedArrayAnswersOneWhenTheRequestDoesNotFit) {
  int32_t capacity = 0, count = 0;
  void *array = nullptr;
  EXPECT_EQ(tmx_GrowArray(1, 0, 4, 8, 2, &capacity, &array), 0);
  EXPECT_EQ(capacity, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(static_cast<int16_t *>(array)[i], 0);
  EXPECT_EQ(tmx_GrowArray(1, 4, 4, 8, 2, &capacity, &array), 0);
  EXPECT_EQ(tmx_GrowArray(1, 4, 5, 8, 2, &capacity, &array), 1);
  EXPECT_EQ(capacity, 8);
  tmx_FreeArray(&count, &capacity, &array);
  EXPECT_EQ(tmx_GrowArray(1, 0, 9, 8, 2, &capacity, &array), 1);
  tmx_FreeArray(&count, &capacity, &array);
}

class EnvironmentTest : public LibraryTest {};

TEST_F(EnvironmentTest, GetEnvReturnsAKernelOwnedCopy) {
  setenv("TESMAR_TEST_VALUE", "v\xC3\xA4lue", 1);
  const char *value = nullptr;
  EXPECT_EQ(tmx_GetEnv(0, "TESMAR_TEST_VALUE", &value), 0u);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "v\xC3\xA4lue");
  EXPECT_NE(value, std::getenv("TESMAR_TEST_VALUE"));
  unsetenv("TESMAR_TEST_VALUE");
  EXPECT_EQ(tmx_GetEnv(0, "TESMAR_TEST_VALUE", &value), 0u);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(tmx_GetEnv(0, nullptr, &value), 0u);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(tmx_GetEnv(0, "PATH", nullptr), 0u);
  EXPECT_GT(tmx_GetPid(), 0);
}

}  // namespace
}  // namespace tesmar::test
