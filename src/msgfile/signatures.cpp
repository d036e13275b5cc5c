// The arguments a message text takes, so that a replacement text from a message-text file is used
// only when it takes exactly the arguments of the built-in text it replaces.
//
// A text is formatted in one of two ways: by the C library's printf (marker ' ') or by the
// library's engine (marker '+', or any text with MPM_DIRECTIVES). Each way reads the conversions
// differently, so a text has a signature for each: the sequence of argument classes it consumes,
// in the order it consumes them. A replacement is accepted when, for both ways, its signature
// equals the built-in text's. Classes are what va_arg must agree on: 'I' int-sized, 'L' 64-bit
// integer, 'D' double, 'Q' long double, 'S' narrow string, 'W' wide string, 'P' pointer; a named
// directive is the token "<NAME>" with its length modifier, since its handler decides what it reads.
//
// printf texts follow this platform's C library: positional arguments ("%2$d", "*3$") are
// allowed when every conversion uses them and they cover 1..N without gaps or conflicts. A
// replacement may not use "%n" (it writes through its argument), a conversion the library does not
// know, or a width or precision above kMaxReplacementWidth.
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "mpm/mpm_internal.h"
#include "msgfile/msgfile_internal.h"

namespace tesmar::msgfile {
namespace {

constexpr int64_t kMaxReplacementWidth = 4096;

// A signature: the tokens one after another, each ended by '|'. (A string, and only containers of
// this file's own types: instantiations of standard templates over standard types alone would be
// exported from the library.)
using Signature = std::string;

bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads digits; false on overflow past int32.
bool number(const char *&p, int64_t *value) {
  int64_t v = 0;
  while (digit(*p)) {
    v = v * 10 + (*p++ - '0');
    if (v > INT32_MAX) return false;
  }
  *value = v;
  return true;
}

// ---- printf ----

struct PlainArg {
  int64_t position;  // 0: the next one in order
  std::string cls;
};

// "*" or "*N$" after a '%' spec; false when malformed.
bool plain_star(const char *&p, std::vector<PlainArg> *args, int *positional) {
  ++p;  // '*'
  int64_t pos = 0;
  if (digit(*p)) {
    if (!number(p, &pos) || pos < 1 || *p != '$') return false;
    ++p;
  }
  *positional |= pos > 0 ? 1 : 2;
  args->push_back({pos, "I"});
  return true;
}

bool plain_signature(const char *text, bool strict, Signature *out) {
  std::vector<PlainArg> args;
  int positional = 0;  // bit 1: numbered arguments seen; bit 2: unnumbered ones
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    int64_t pos = 0;
    const char *start = p;
    if (digit(*p)) {
      int64_t n;
      if (number(p, &n) && *p == '$' && n >= 1) {
        pos = n;
        ++p;
      } else {
        p = start;
      }
    }
    while (*p != '\0' && std::strchr("-+ #0'I", *p) != nullptr) ++p;
    if (*p == '*') {
      if (!plain_star(p, &args, &positional)) return false;
    } else {
      int64_t width = 0;
      if (!number(p, &width) || (strict && width > kMaxReplacementWidth)) return false;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        if (!plain_star(p, &args, &positional)) return false;
      } else {
        int64_t precision = 0;
        if (!number(p, &precision) || (strict && precision > kMaxReplacementWidth)) return false;
      }
    }
    std::string length;
    while (*p != '\0' && std::strchr("hlLqjzZt", *p) != nullptr) length += *p++;
    char conv = *p;
    if (conv == '\0') return false;
    std::string cls;
    bool integer_length = length.empty() || length == "hh" || length == "h";
    bool wide_length = length == "l" || length == "ll" || length == "q" || length == "j" ||
                       length == "z" || length == "Z" || length == "t" || length == "L";
    switch (conv) {
      case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        if (integer_length) cls = "I";
        else if (wide_length) cls = "L";
        break;
      case 'c':
        if (length.empty() || length == "l") cls = "I";
        break;
      case 'C':
        if (length.empty()) cls = "I";
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (length.empty() || length == "l") cls = "D";
        else if (length == "L") cls = "Q";
        break;
      case 's':
        if (length.empty()) cls = "S";
        else if (length == "l") cls = "W";
        break;
      case 'S':
        if (length.empty()) cls = "W";
        break;
      case 'p':
        if (length.empty()) cls = "P";
        break;
      case 'n':
        if (!strict) cls = "N";
        break;
      case 'm':
        if (length.empty()) cls = "-";  // strerror(errno): no argument
        break;
      default:
        break;
    }
    if (cls.empty()) return false;
    if (cls == "-") continue;
    positional |= pos > 0 ? 1 : 2;
    args.push_back({pos, cls});
  }
  if (positional == 3) return false;  // numbered and unnumbered arguments mixed
  out->clear();
  if (positional != 1) {
    for (const PlainArg &a : args) *out += a.cls + "|";
    return true;
  }
  std::stable_sort(args.begin(), args.end(),
                   [](const PlainArg &a, const PlainArg &b) { return a.position < b.position; });
  int64_t expect = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0 && args[i].position == args[i - 1].position) {
      if (args[i].cls != args[i - 1].cls) return false;  // one argument read as two types
      continue;
    }
    if (args[i].position != expect++) return false;  // a gap
    *out += args[i].cls + "|";
  }
  return true;
}

// ---- the engine ----

struct EngineArg {
  int64_t number;
  Signature tokens;
};

// The engine reads its texts with mpm::parse_directive; so does this, so that the two readings
// cannot drift apart.
bool engine_signature(const char *text, Signature *out) {
  std::vector<EngineArg> args;
  int64_t sequential = 0;
  for (const char *p = text; *p != '\0';) {
    if (*p != '%') {
      ++p;
      continue;
    }
    if (p[1] == '%') {
      p += 2;
      continue;
    }
    mpm_DirectiveRecord r;
    const char *next = mpm::parse_directive(p, &r);
    if (next == nullptr) {  // stays as text and consumes nothing
      ++p;
      continue;
    }
    p = next;
    Signature tokens;
    if (r.width == -2) tokens += "I|";
    if (r.precision == -2) tokens += "I|";
    std::string length = r.length != 0 ? std::string(1, r.length) : "";
    if (mpm::is_named(r)) {
      tokens += "<" + std::string(r.conversion, static_cast<std::size_t>(r.conversion_length)) + ">" +
                length + "|";
    } else {
      switch (r.conversion[0]) {
        case '%': continue;  // "%5%": a percent sign
        case 'c': tokens += "I|"; break;
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
          tokens += r.length == 'l' || r.length == 'L' ? "L|" : "I|";
          break;
        case 'e': case 'E': case 'f': case 'g': case 'G': tokens += "D|"; break;
        case 's': tokens += "S|"; break;
        default: tokens += "P|"; break;  // 'p', 'n': a pointer, nothing written
      }
    }
    args.push_back({r.arg_number != 0 ? r.arg_number : ++sequential, tokens});
  }
  // Consumed in ascending argument number; equal numbers are evaluated once, by the first.
  std::stable_sort(args.begin(), args.end(),
                   [](const EngineArg &a, const EngineArg &b) { return a.number < b.number; });
  out->clear();
  for (std::size_t i = 0; i < args.size(); ++i)
    if (i == 0 || args[i].number != args[i - 1].number) *out += args[i].tokens;
  return true;
}

bool signature(const char *text, bool engine, bool strict, Signature *out) {
  if (text[0] == ' ' && !engine) return plain_signature(text + 1, strict, out);
  return engine_signature(text[0] != '\0' ? text + 1 : text, out);
}

}  // namespace

bool same_arguments(const char *built_in, const char *replacement) {
  if (std::strcmp(built_in, replacement) == 0) return true;
  if (replacement[0] != ' ' && replacement[0] != '+') return false;
  try {
    for (bool engine : {false, true}) {
      Signature want, have;
      if (!signature(built_in, engine, false, &want)) return false;
      if (!signature(replacement, engine, true, &have)) return false;
      if (want != have) return false;
    }
    return true;
  } catch (...) {  // out of memory: the built-in text is used
    return false;
  }
}

}  // namespace tesmar::msgfile
