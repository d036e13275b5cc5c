// The 'D'-exponent text of doubles, and their sort comparison.
//
// tmx_FormatDouble writes 15 significant digits rounded half up from the double's exact decimal
// value. std::to_chars gives correctly rounded digits without regard to the locale; only when the
// 16th digit of its 16-digit form is a 5 can the two roundings part, and then the exact expansion
// (at most 767 significant digits for a double) decides.
#include <charconv>
#include <cmath>
#include <cstring>

#include "tesmar/ugn.h"
#include "tmx/tmx_internal.h"

namespace {

constexpr int kDigits = 15;
constexpr int kMaxExponent = 308;
constexpr int kMinExponent = -307;

// Parses "d.ddd...e[+-]xx" into `count` digits and the exponent.
void split_scientific(const char *text, const char *end, char *digits, int count, int *exponent) {
  int n = 0;
  const char *p = text;
  for (; p != end && *p != 'e'; ++p)
    if (*p != '.' && n < count) digits[n++] = *p;
  while (n < count) digits[n++] = '0';
  int sign = 1, value = 0;
  if (p != end) ++p;  // 'e'
  if (p != end && (*p == '-' || *p == '+')) sign = *p++ == '-' ? -1 : 1;
  for (; p != end; ++p) value = value * 10 + (*p - '0');
  *exponent = sign * value;
}

// The 15 significant digits of a positive finite value, rounded half up, and its exponent.
void significant_digits(double value, char (&digits)[kDigits], int *exponent) {
  char text[40];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, kDigits);
  char sixteen[kDigits + 1];
  split_scientific(text, r.ptr, sixteen, kDigits + 1, exponent);
  char round_digit = sixteen[kDigits];
  if (round_digit == '5') {
    char exact[820];  // the whole expansion
    r = std::to_chars(exact, exact + sizeof exact, value, std::chars_format::scientific, 800);
    split_scientific(exact, r.ptr, sixteen, kDigits + 1, exponent);
    round_digit = sixteen[kDigits];
  }
  std::memcpy(digits, sixteen, kDigits);
  if (round_digit >= '5') {
    int i = kDigits - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {
      digits[0] = '1';  // 9.99...95 became 10.0
      ++*exponent;
    }
  }
}

}  // namespace

extern "C" {

mpm_Status tmx_FormatDouble(double value, char *buffer) {
  if (buffer == nullptr) return 0;
  std::memset(buffer, 0, TMX_DOUBLE_TEXT_SIZE);
  if (std::isnan(value)) {
    std::strcpy(buffer, "0.0D0");
    return UGN_BAD_FLOAT;
  }
  if (value == 0.0) {
    std::strcpy(buffer, "0.0D0");
    return 0;
  }
  mpm_Status status = 0;
  char digits[kDigits];
  int exponent = 0;
  if (std::isinf(value)) {
    std::memset(digits, '0', kDigits);
    digits[0] = '1';
    exponent = kMaxExponent;
    status = UGN_MAXEXP_ERR;
  } else {
    significant_digits(std::fabs(value), digits, &exponent);
  }
  if (exponent > kMaxExponent) {
    exponent = kMaxExponent;
    status = UGN_MAXEXP_ERR;
  } else if (exponent < kMinExponent) {
    exponent = kMinExponent;
    status = UGN_MINEXP_ERR;
  }
  int count = kDigits;  // significant digits without trailing zeros, at least one
  while (count > 1 && digits[count - 1] == '0') --count;

  char *out = buffer;
  if (value < 0) *out++ = '-';
  auto put_digits = [&out, &digits](int from, int to) {
    for (int i = from; i < to; ++i) *out++ = digits[i];
  };
  if (exponent >= 0 && exponent <= 13) {
    for (int i = 0; i <= exponent; ++i) *out++ = i < count ? digits[i] : '0';
    *out++ = '.';
    if (count > exponent + 1)
      put_digits(exponent + 1, count);
    else
      *out++ = '0';
    std::memcpy(out, "D0", 2);
    return status;
  }
  int zeros = -1 - exponent;
  if (exponent < 0 && count + zeros <= kDigits) {
    *out++ = '.';
    for (int i = 0; i < zeros; ++i) *out++ = '0';
    put_digits(0, count);
    std::memcpy(out, "D0", 2);
    return status;
  }
  *out++ = digits[0];
  *out++ = '.';
  if (count > 1)
    put_digits(1, count);
  else
    *out++ = '0';
  *out++ = 'D';
  if (exponent < 0) *out++ = '-';
  int magnitude = exponent < 0 ? -exponent : exponent;
  char reversed[4];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  while (n > 0) *out++ = reversed[--n];
  return status;
}

int tmx_CompareDoubles(const void *a, const void *b) {
  double x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  bool x_nan = std::isnan(x), y_nan = std::isnan(y);
  if (x_nan || y_nan) return x_nan == y_nan ? 0 : (x_nan ? 1 : -1);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // extern "C"
