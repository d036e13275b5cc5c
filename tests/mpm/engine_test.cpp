// The formatting engine: printf conversions, positional arguments, directives, and bad formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

using EngineTest = LibraryTest;

std::string expand(uint32_t flags, const char *marked, ...) {
  va_list ap;
  va_start(ap, marked);
  char *text = static_cast<char *>(std::malloc(std::strlen(marked) + 1));
  std::strcpy(text, marked);
  mpm_ExpandDirectives(flags, &text, &ap);
  va_end(ap);
  std::string s = text;
  std::free(text);
  return s;
}

TEST_F(EngineTest, PositionalArgumentsAreConsumedInNumberOrder) {
  EXPECT_EQ(format_text("%2$s has %1$d parts", 3, "model"), "model has 3 parts");
  EXPECT_EQ(format_text("%1$s and %1$s", "same"), "same and same");
  EXPECT_EQ(format_text("%d %1$d", 4), "4 4");  // the sequential directive is number 1 too
  EXPECT_EQ(format_text("%2d|%-3d|%03d", 5, 6, 7), " 5|6  |007");  // digits without '$' are a width
}

TEST_F(EngineTest, PrintfConversions) {
  EXPECT_EQ(format_text("%c%s%d %u %x %X %o %i", 'A', "bc", -1, 7u, 255, 255, 8, 9), "Abc-1 7 ff FF 10 9");
  EXPECT_EQ(format_text("%.3f %e %g %G %E", 1.5, 100.0, 0.5, 1e20, 2.0),
            "1.500 1.000000e+02 0.5 1E+20 2.000000E+00");
  EXPECT_EQ(format_text("%ld %lx", 1L << 40, static_cast<long>(0xABCDEF012L)), "1099511627776 abcdef012");
  EXPECT_EQ(format_text("%hd", 70000), "4464");
  EXPECT_EQ(format_text("%*d|%-*d|%.*f", 4, 1, 3, 2, 2, 3.14159), "   1|2  |3.14");
  EXPECT_EQ(format_text("%*d|", -4, 1), "1   |");
  EXPECT_EQ(format_text("%*d|%*d|", INT_MAX, 1, INT_MIN, 2), "1|2|");  // widths too large are ignored
  EXPECT_EQ(format_text("%5%|%%"), "%|%");
  EXPECT_EQ(format_text("%s", static_cast<const char *>(nullptr)), "(null)");
}

TEST_F(EngineTest, PointersPrintAsBareHexadecimal) {
  void *p = reinterpret_cast<void *>(0x1234abcdUL);
  EXPECT_EQ(format_text("0x%p", p), "0x1234abcd");
  EXPECT_EQ(expand(0, " at 0x%p.", p), "at 0x1234abcd.");
  EXPECT_EQ(expand(0, " %d%%, 0x%08p", 50, p), "50%, 0x1234abcd");
}

TEST_F(EngineTest, PercentNConsumesItsPointerAndWritesNothing) {
  int sentinel = 12345;
  EXPECT_EQ(format_text("ab%ncd%d", &sentinel, 9), "abcd9");
  EXPECT_EQ(sentinel, 12345);
}

TEST_F(EngineTest, WhatCannotBeFormattedStaysAsItsSourceText) {
  EXPECT_EQ(format_text("%y %d", 7), "%y 7");
  EXPECT_EQ(format_text("%<Nope> %d", 5), "%<Nope> 5");
  EXPECT_EQ(format_text("%5.2<Nope>%d", 5), "%5.2<Nope>5");
  EXPECT_EQ(format_text("%<unterminated %d", 6), "%<unterminated 6");
  EXPECT_EQ(format_text("tail %"), "tail %");
  EXPECT_EQ(format_text("%0$d %d", 8), "%0$d 8");
  EXPECT_EQ(format_text("%99999999999d %d", 9), "%99999999999d 9");
  EXPECT_EQ(format_text("%2000000d %d", 9), "%2000000d 9");
  EXPECT_EQ(format_text("%.2000000f %d", 9), "%.2000000f 9");
  EXPECT_EQ(format_text("%<%d", 1), "%<1");
}

TEST_F(EngineTest, LargeResultsAreMeasuredNotTruncated) {
  std::string big = format_text("%100000d", 1);
  EXPECT_EQ(big.size(), 100000u);
  EXPECT_EQ(big.back(), '1');
  std::string text(20000, 'x');
  EXPECT_EQ(format_text("<%s>", text.c_str()), "<" + text + ">");
  std::string plain = expand(0, " %s|%50000d", text.c_str(), 3);
  EXPECT_EQ(plain.size(), 20000u + 1 + 50000u);
  // A plain text whose width the C library refuses keeps its own text.
  EXPECT_EQ(expand(0, " %2147483647d%2147483647d", 1, 2), "%2147483647d%2147483647d");
}

// Differential test against the C library: random formats of three conversions, sequential or all
// positional, with random flags, widths and precisions, must print exactly what snprintf prints.
template <typename A, typename B, typename C>
void compare(const std::string &fmt, A a, B b, C c) {
  char expected[4096];
  std::snprintf(expected, sizeof expected, fmt.c_str(), a, b, c);
  EXPECT_EQ(format_text(fmt.c_str(), a, b, c), expected) << "format: " << fmt;
}

TEST_F(EngineTest, AgreesWithTheCLibraryOnRandomFormats) {
  std::mt19937 rng(20261206);
  auto pick = [&](const char *set) { return set[rng() % std::strlen(set)]; };
  const char *int_convs = "diouxXc";
  const char *dbl_convs = "feEgG";
  for (int round = 0; round < 3000; ++round) {
    int kinds[3];
    std::string convs[3];
    for (int i = 0; i < 3; ++i) {
      kinds[i] = static_cast<int>(rng() % 3);
      std::string flags;
      for (int f = static_cast<int>(rng() % 3); f > 0; --f) flags += pick("-+ #0");
      if (kinds[i] == 2 || (kinds[i] == 0 && rng() % 4 == 0)) {
        flags.erase(std::remove(flags.begin(), flags.end(), '#'), flags.end());
        flags.erase(std::remove(flags.begin(), flags.end(), '0'), flags.end());
      }
      std::string spec = flags;
      if (rng() % 2) spec += std::to_string(rng() % 20);
      if (rng() % 2 && kinds[i] != 0) spec += "." + std::to_string(rng() % 8);
      char conv = kinds[i] == 0 ? pick(int_convs) : kinds[i] == 1 ? pick(dbl_convs) : 's';
      if (conv == 'c') spec = flags.find('-') != std::string::npos ? "-" : "";
      convs[i] = spec + conv;
    }
    int order[3] = {1, 2, 3};
    bool positional = rng() % 2 == 0;
    if (positional) std::shuffle(order, order + 3, rng);
    std::string fmt = "<";
    for (int slot = 0; slot < 3; ++slot) {
      int arg = order[slot] - 1;
      fmt += "%";
      if (positional) fmt += std::to_string(arg + 1) + "$";
      fmt += convs[arg];
      fmt += pick("|: ab");
    }
    fmt += ">";
    int iv = static_cast<int>(rng()) % 100000 * (rng() % 2 ? 1 : -1);
    if (iv < 32 && iv > -1) iv += 40;
    double dv = std::ldexp(static_cast<double>(rng() % 100000) - 50000, static_cast<int>(rng() % 40) - 20);
    const char *sv = rng() % 2 ? "text" : "";
    auto dispatch = [&](auto a) {
      auto second = [&](auto b) {
        switch (kinds[2]) {
          case 0: compare(fmt, a, b, iv); break;
          case 1: compare(fmt, a, b, dv); break;
          default: compare(fmt, a, b, sv); break;
        }
      };
      switch (kinds[1]) {
        case 0: second(iv); break;
        case 1: second(dv); break;
        default: second(sv); break;
      }
    };
    switch (kinds[0]) {
      case 0: dispatch(iv); break;
      case 1: dispatch(dv); break;
      default: dispatch(sv); break;
    }
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace tesmar::test
