// The scanner and the parser of the configuration language.
//
// The scanner works on the text with its length (a zero byte is a character like any other, and
// an invalid token), counts lines at the probed line-end character, and skips blanks and the two
// kinds of comments before every token. The parser reads statements: section headers
// ("name:") and assignments ("name = values;"). A mistake inside a statement is reported with
// the error record and the parse goes on after the next ';' or ':'; mistakes it cannot step over
// (the end of the text inside a statement, comment and string errors, section errors) end it.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cfg/cfg_internal.h"

namespace tesmar::cfg {

Read *g_read = nullptr;

bool begin_read() {
  end_read();
  g_read = new (std::nothrow) Read;
  return g_read != nullptr;
}

void end_read() {
  delete g_read;
  g_read = nullptr;
}

void probe_line_end(const std::string &text, char *line_end, int32_t *length) {
  *line_end = '\n';
  *length = 1;
  const std::size_t probe = std::min<std::size_t>(text.size(), 160);
  for (std::size_t i = 0; i < probe; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 || c == '\t') continue;
    // The line end: this control character and the control characters after it, up to its next
    // occurrence ("\r\n" is a sequence of two, "\n" of one).
    *line_end = static_cast<char>(c);
    int32_t n = 1;
    while (i + n < text.size()) {
      const auto d = static_cast<unsigned char>(text[i + n]);
      if (d >= 0x20 || d == '\t' || d == c) break;
      ++n;
    }
    *length = n;
    return;
  }
}

namespace {

Read &r() { return *g_read; }

bool at_end() { return r().pos >= r().text.size(); }
char at(std::size_t i) { return i < r().text.size() ? r().text[i] : '\0'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_word(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

// At the line-end character: the next line starts after the sequence (its further characters
// only where they are there).
void new_line() {
  Read &s = r();
  ++s.line;
  ++s.pos;
  for (int32_t k = 1; k < s.line_end_length && !at_end(); ++k) {
    const auto c = static_cast<unsigned char>(s.text[s.pos]);
    if (c >= 0x20 || c == '\t' || s.text[s.pos] == s.line_end) break;
    ++s.pos;
  }
  s.line_start = s.pos;
}

// Reports a failure of the scanner at `where` (the caret goes there) and gives kFailed.
int32_t scan_failure(std::size_t where, mpm_Status code, bool with_line) {
  r().token = where;
  if (with_line) report_error(CFG_WITH_RECORD, code, static_cast<long>(r().line));
  else report_error(CFG_WITH_RECORD, code);
  return kFailed;
}

// Skips blanks and comments; kFailed (reported) on a comment error.
int32_t skip() {
  Read &s = r();
  for (;;) {
    if (at_end()) return 0;
    const char c = s.text[s.pos];
    if (c == s.line_end) {
      new_line();
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
      ++s.pos;
    } else if (c == '#') {
      // To the end of the line (or of the text).
      for (++s.pos; !at_end() && s.text[s.pos] != s.line_end; ++s.pos)
        if (s.text[s.pos] == '/' && at(s.pos + 1) == '*')
          return scan_failure(s.pos, CFG_NESTED_COMMENT, false);
    } else if (c == '/' && at(s.pos + 1) == '*') {
      const std::size_t opened = s.pos, opened_line_start = s.line_start;
      const int32_t opened_line = s.line;
      for (s.pos += 2;;) {
        if (at_end()) {
          // Reported where the comment opened.
          s.line = opened_line;
          s.line_start = opened_line_start;
          return scan_failure(opened, CFG_UNEXPECTED_EOF, true);
        }
        const char d = s.text[s.pos];
        if (d == '*' && at(s.pos + 1) == '/') {
          s.pos += 2;
          break;
        }
        if ((d == '/' && at(s.pos + 1) == '*') || d == '#')
          return scan_failure(s.pos, CFG_NESTED_COMMENT, false);
        if (d == s.line_end) new_line();
        else ++s.pos;
      }
    } else {
      return 0;
    }
  }
}

// A number's value once it is known to be well formed.
int32_t convert_number(std::size_t start, bool point, std::size_t digits_end) {
  Read &s = r();
  std::string &text = s.number_text;  // working texts live in the read, not the frame
  text.assign(s.text, start, s.pos - start);
  if (!point) {
    // Accumulated in 64 bits; beyond the 32-bit range it is out of range.
    bool negative = text[0] == '-';
    int64_t v = 0;
    for (char c : text) {
      if (!is_digit(c)) continue;
      v = v * 10 + (c - '0');
      if (v > int64_t{INT32_MAX} + 1) break;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) {
      s.token = start;
      report_error(CFG_WITH_RECORD, CFG_RANGE_ERROR);
      return kBadValue;
    }
    s.integer = static_cast<int32_t>(v);
    return kInteger;
  }
  // Correctly rounded, in any locale: D exponents read as E.
  std::string &normal = text;
  for (char &c : normal)
    if (c == 'D' || c == 'd') c = 'e';
  const char *first = normal.c_str() + (normal[0] == '+' ? 1 : 0);
  double v = 0;
  const auto [end, error] = std::from_chars(first, normal.c_str() + normal.size(), v);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    // Too large is out of range; too small is zero. The decimal magnitude tells which.
    int64_t exponent = 0;
    const std::size_t e = normal.find('e');
    if (e != std::string::npos) {
      std::from_chars(normal.c_str() + e + 1 + (normal[e + 1] == '+' ? 1 : 0),
                      normal.c_str() + normal.size(), exponent);
    }
    int64_t before = 0;  // significant digits before the point
    bool seen = false;
    for (std::size_t i = 0; i < digits_end - start && normal[i] != '.'; ++i) {
      if (normal[i] >= '1' && normal[i] <= '9') seen = true;
      if (seen && is_digit(normal[i])) ++before;
    }
    if (before > 0 ? exponent + before - 1 >= 0 : exponent > 0) {
      s.token = start;
      report_error(CFG_WITH_RECORD, CFG_RANGE_ERROR);
      return kBadValue;
    }
    v = 0.0;
  } else if (error != std::errc() || !std::isfinite(v)) {
    s.token = start;
    report_error(CFG_WITH_RECORD, CFG_RANGE_ERROR);
    return kBadValue;
  }
  s.real = v;
  return kDouble;
}

// A number: an optional sign, digits, at most one point, and after a point an exponent.
int32_t number() {
  Read &s = r();
  const std::size_t start = s.pos;
  auto invalid = [&] {
    while (!at_end() && (is_word(s.text[s.pos]) || s.text[s.pos] == '.')) ++s.pos;
    return int32_t{kInvalid};
  };
  if (s.text[s.pos] == '+' || s.text[s.pos] == '-') {
    ++s.pos;
    if (!is_digit(at(s.pos)) && at(s.pos) != '.') return kInvalid;
  }
  std::size_t digits = 0;
  while (is_digit(at(s.pos))) ++s.pos, ++digits;
  bool point = false;
  if (at(s.pos) == '.') {
    point = true;
    ++s.pos;
    while (is_digit(at(s.pos))) ++s.pos, ++digits;
  }
  if (digits == 0) return invalid();
  const std::size_t digits_end = s.pos;
  const char e = at(s.pos);
  if (e == 'e' || e == 'E' || e == 'd' || e == 'D') {
    if (!point) return invalid();  // 1e5: an exponent only after a point
    ++s.pos;
    if (at(s.pos) == '+' || at(s.pos) == '-') ++s.pos;
    if (!is_digit(at(s.pos))) return invalid();
    while (is_digit(at(s.pos))) ++s.pos;
  }
  if (!at_end() && (is_word(s.text[s.pos]) || s.text[s.pos] == '.')) return invalid();
  return convert_number(start, point, digits_end);
}

// A string: to the next double quote that does not follow a backslash.
int32_t string() {
  Read &s = r();
  const std::size_t start = ++s.pos;
  for (;;) {
    if (at_end()) return scan_failure(start - 1, CFG_UNEXPECTED_EOF, true);
    const char c = s.text[s.pos];
    if (c == s.line_end || c == '\n') return scan_failure(s.pos, CFG_NEWLINE_STRING, false);
    if (c == '"' && s.text[s.pos - 1] != '\\') break;
    ++s.pos;
  }
  s.word.assign(s.text, start, s.pos - start);
  ++s.pos;
  return kString;
}

int32_t next_token() {
  if (skip() == kFailed) return kFailed;
  Read &s = r();
  s.token = s.pos;
  if (at_end()) return kEnd;
  const char c = s.text[s.pos];
  switch (c) {
    case '=': ++s.pos; return kEqual;
    case ';': ++s.pos; return kEndOfStatement;
    case ':': ++s.pos; return kColon;
    case '{': ++s.pos; return kOpenBrace;
    case '}': ++s.pos; return kCloseBrace;
    case ',': ++s.pos; return kComma;
    case '"': return string();
    default: break;
  }
  if (is_letter(c)) {
    while (!at_end() && is_word(s.text[s.pos])) ++s.pos;
    s.word.assign(s.text, s.token, s.pos - s.token);
    for (char &ch : s.word)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return kIdentifier;
  }
  if (is_digit(c) || c == '.' || c == '+' || c == '-') return number();
  // Anything else: one character (all the bytes of a UTF-8 one).
  ++s.pos;
  while (!at_end() && (static_cast<unsigned char>(s.text[s.pos]) & 0xC0) == 0x80) ++s.pos;
  return kInvalid;
}

enum Outcome { kDone, kSkip, kFail };

// Reports a mistake in a statement at the current token; the statement is then skipped.
Outcome mistake(mpm_Status code) {
  report_error(CFG_WITH_RECORD, code);
  return kSkip;
}

// Skips from the start of the bad token to just after the next ';' or ':'.
bool recover() {
  Read &s = r();
  s.pos = s.token;
  for (;;) {
    if (at_end()) {
      s.token = s.pos;
      report_error(CFG_WITH_RECORD, CFG_UNEXPECTED_EOF, static_cast<long>(s.line));
      return false;
    }
    const char c = s.text[s.pos];
    if (c == ';' || c == ':') {
      ++s.pos;
      return true;
    }
    if (c == s.line_end) new_line();
    else ++s.pos;
  }
}

Outcome header(const std::string &name, int32_t line) {
  Read &s = r();
  if (s.source == kFile && s.unnamed_open) {
    s.unnamed_open = false;
    Section &unnamed = s.sections[""];
    if (!unnamed.params.empty()) {
      report_error(CFG_WITH_RECORD, CFG_SECTION_MISSING);
      return kFail;
    }
    s.sections.erase("");
  } else if (const auto it = s.sections.find(name); it != s.sections.end()) {
    if (s.source == kFile) {
      report_error(CFG_WITH_RECORD, CFG_NOT_UNIQUE, static_cast<long>(line), name.c_str());
      return kFail;
    }
    s.current = &it->second;
    return kDone;
  }
  Section &made = s.sections[name];
  made.name = name;
  made.line = line;
  s.current = &made;
  return kDone;
}

Outcome assignment(const std::string &name, int32_t line) {
  Read &s = r();
  std::vector<Value> &values = s.statement_values;
  values.clear();
  bool in_braces = false, want_value = true, had_plain = false, had_group = false;
  auto place = [&](Value v) { values.push_back(std::move(v)); };
  for (;;) {
    const int32_t t = next_token();
    switch (t) {
      case kFailed:
        return kFail;
      case kBadValue:
        return kSkip;
      case kInteger:
      case kDouble:
      case kString: {
        if (!want_value) return mistake(had_group && !in_braces ? CFG_OB_EXP : CFG_COP_EXP);
        if (had_group && !in_braces) return mistake(CFG_OB_EXP);
        Value v;
        v.kind = t == kInteger ? CFG_KIND_INT : t == kDouble ? CFG_KIND_DOUBLE : CFG_KIND_STRING;
        v.integer = s.integer;
        v.real = s.real;
        if (t == kString) v.text = s.word;
        place(std::move(v));
        if (!in_braces) had_plain = true;
        want_value = false;
        break;
      }
      case kComma:
        if (want_value) place(Value{});  // an empty place
        want_value = true;
        break;
      case kOpenBrace:
        if (in_braces) return mistake(CFG_CB_EXP);
        if (!want_value) return mistake(CFG_COP_EXP);
        if (had_plain) return mistake(CFG_OB_INVAL);
        place(Value{CFG_KIND_OPEN, 0, 0, {}});
        in_braces = true;
        want_value = true;
        break;
      case kCloseBrace:
        if (!in_braces) return mistake(CFG_CB_INVAL);
        if (want_value) place(Value{});
        place(Value{CFG_KIND_CLOSE, 0, 0, {}});
        in_braces = false;
        want_value = false;
        had_group = true;
        break;
      case kEndOfStatement: {
        if (in_braces) return mistake(CFG_CB_EXP);
        if (want_value) place(Value{});
        Section &section = *s.current;
        auto it = section.params.find(name);
        if (it != section.params.end()) {
          // Assigned again: the new values replace the old (a warning in the file).
          if (s.source == kFile)
            report_error(0, CFG_PARAM_REDEC, static_cast<long>(line), name.c_str());
        } else {
          it = section.params.emplace(name, Param{}).first;
          it->second.name = name;
        }
        it->second.values = std::move(values);
        it->second.line = line;
        return kDone;
      }
      case kEnd:
        report_error(CFG_WITH_RECORD, CFG_UNEXPECTED_EOF, static_cast<long>(s.line));
        return kFail;
      default:  // an identifier, an invalid token, '=' or ':'
        return mistake(CFG_PVAL_EXP);
    }
  }
}

}  // namespace

bool parse(Source source) {
  Read &s = r();
  s.source = source;
  s.pos = s.token = s.line_start = 0;
  s.line = 1;
  if (source == kFile) {
    Section &unnamed = s.sections[""];
    unnamed.line = 1;
    s.current = &unnamed;
    s.unnamed_open = true;
  } else if (s.current == nullptr) {
    Section &unnamed = s.sections[""];
    s.current = &unnamed;
  }
  for (;;) {
    int32_t t = next_token();
    Outcome outcome = kDone;
    if (t == kFailed) return false;
    if (t == kEnd) return true;
    if (t == kEndOfStatement) continue;
    if (t == kBadValue) {
      outcome = kSkip;
    } else if (t != kIdentifier) {
      outcome = mistake(CFG_IDEN_EXP);
    } else {
      s.statement_name = s.word;
      const std::string &name = s.statement_name;
      const int32_t line = s.line;
      if (s.unnamed_open && s.current != nullptr && s.current->name.empty() &&
          s.current->params.empty())
        s.current->line = line;  // the unnamed section starts at its first statement
      t = next_token();
      if (t == kFailed) return false;
      if (t == kColon) outcome = header(name, line);
      else if (t == kEqual) outcome = assignment(name, line);
      else if (t == kBadValue) outcome = kSkip;
      else outcome = mistake(CFG_CEQ_EXP);
    }
    if (outcome == kFail) return false;
    if (outcome == kSkip && !recover()) return false;
  }
}

bool value_fits(const char *value, bool quoted) {
  const std::size_t n = std::strlen(value);
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c < 0x20) return false;
    if (quoted) {
      if (c == '"') return false;
    } else if (c == ';' || c == ':' || c == '#' || c == '"' || (c == '/' && value[i + 1] == '*')) {
      return false;
    }
  }
  return !(quoted && n > 0 && value[n - 1] == '\\');
}

bool append(char **text, std::size_t *length, std::size_t *capacity, const char *more,
            std::size_t n) {
  if (*length + n + 1 > *capacity) {
    std::size_t grown = *capacity == 0 ? 4096 : *capacity;
    while (*length + n + 1 > grown) grown += 4096;
    auto *bigger = static_cast<char *>(std::realloc(*text, grown));
    if (bigger == nullptr) return false;
    *text = bigger;
    *capacity = grown;
  }
  std::memcpy(*text + *length, more, n);
  *length += n;
  (*text)[*length] = '\0';
  return true;
}

}  // namespace tesmar::cfg
