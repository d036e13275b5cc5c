// Mapping files: statements that enable mappings, define mapping lists, set parameter defaults
// and, when asked, the directory for temporary files (docs/mapping-file.md).
//
// The reader takes the file a statement at a time: characters up to a ';' outside quotes, with
// the comments ("/* */" across lines, "#" to the end of the line) left out and the line feeds
// counted. A statement is then examined by its first character: a double quote starts a mapping
// name (an enable or a list definition), a letter a parameter name. The first malformed
// statement, or the first failure of what a statement asks for, ends the reading with
// MAP_FILE_ERR naming the line (the failing call has issued its own message before).
#include <charconv>
#include <new>
#include <vector>
#include <cmath>
#include <cstdio>
#include <string>

#include "map/map_internal.h"
#include "tesmar/tmx.h"
#include "tesmar/ugn.h"

namespace tesmar::map {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string trimmed(const std::string &s) {
  std::size_t a = 0, b = s.size();
  while (a < b && is_blank(s[a])) ++a;
  while (b > a && is_blank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The reading: the file, the line, and the statement being gathered. Kept out of the frames
// that issue messages.
struct Reading {
  std::FILE *file = nullptr;
  std::string name;
  int32_t line = 1;
  int32_t statement_line = 1;  // the line the current statement ended on
  std::string statement;
  bool ended = false;  // the statement ended with ';'
  Failure inner;       // what failed in a statement, issued after the file is closed
  ~Reading() {
    if (file != nullptr) std::fclose(file);
  }
};

enum class Next { kStatement, kEnd, kReadError };

// Gathers the next statement.
Next gather(Reading &r) {
  r.statement.clear();
  r.ended = false;
  char quote = 0;
  for (;;) {
    int c = std::fgetc(r.file);
    if (c == EOF) return std::ferror(r.file) != 0 ? Next::kReadError : Next::kEnd;
    if (c == '\n') ++r.line;
    if (quote != 0) {
      if (c == quote) quote = 0;
      r.statement += static_cast<char>(c);
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = static_cast<char>(c);
    } else if (c == '#') {
      // To the end of the line; the line feed stays.
      while ((c = std::fgetc(r.file)) != EOF && c != '\n') {
      }
      if (c == EOF) return std::ferror(r.file) != 0 ? Next::kReadError : Next::kEnd;
      ++r.line;
    } else if (c == '/') {
      const int d = std::fgetc(r.file);
      if (d == '*') {
        for (int prev = 0;;) {
          c = std::fgetc(r.file);
          if (c == EOF) return std::ferror(r.file) != 0 ? Next::kReadError : Next::kEnd;
          if (c == '\n') ++r.line;
          if (prev == '*' && c == '/') break;
          prev = c;
        }
        continue;
      }
      if (d != EOF) std::ungetc(d, r.file);
    } else if (c == ';') {
      r.ended = true;
      r.statement_line = r.line;
      return Next::kStatement;
    }
    r.statement += static_cast<char>(c);
  }
}

// A value of a parameter's type from its text (blanks around it removed).
Failure parameter_value(const map_Parameter &p, const std::string &text, int32_t *integer,
                        double *real) {
  const std::string v = trimmed(text);
  auto whole_integer = [&](int32_t *out) {
    int64_t n = 0;
    const char *first = v.c_str() + (v.size() > 1 && v[0] == '+' && v[1] != '-' ? 1 : 0);
    const auto [end, error] = std::from_chars(first, v.c_str() + v.size(), n);
    if (v.empty() || error != std::errc() || end != v.c_str() + v.size() || n < INT32_MIN ||
        n > INT32_MAX)
      return false;
    *out = static_cast<int32_t>(n);
    return true;
  };
  switch (p.type) {
    case MAP_PARAM_LONG:
      if (!whole_integer(integer)) return fail(MAP_PARSE_ERR).detailed(kept("\"" + v + "\" is no 32-bit integer: "));
      return kOk;
    case MAP_PARAM_DOUBLE: {
      const char *first = v.c_str() + (v.size() > 1 && v[0] == '+' ? 1 : 0);
      const auto [end, error] = std::from_chars(first, v.c_str() + v.size(), *real);
      if (v.empty() || error != std::errc() || end != v.c_str() + v.size() || !std::isfinite(*real))
        return fail(MAP_PARSE_ERR).detailed(kept("\"" + v + "\" is no number: "));
      return kOk;
    }
    case MAP_PARAM_STRING: {
      mpm_Status code = 0;
      const std::size_t module = v.find('_');
      if (module < 3 || module > 4 || tmx_GetMessageCode(v.c_str(), &code) != 0)
        return fail(MAP_PARSE_ERR).detailed(kept("\"" + v + "\" is no message name: "));
      *integer = static_cast<int32_t>(code);
      return kOk;
    }
    case MAP_PARAM_BOOLEAN: {
      std::string lower = v;
      for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (lower == "true" || lower == "false") {
        *integer = lower == "true" ? 1 : 0;
        return kOk;
      }
      if (!v.empty() && v[0] >= '0' && v[0] <= '9' && whole_integer(integer)) {
        *integer = *integer != 0 ? 1 : 0;
        return kOk;
      }
      return fail(MAP_PARSE_ERR).detailed(kept("\"" + v + "\" is neither true, false nor a number: "));
    }
    default:
      return internal("map/map_LoadMapFile");
  }
}

// Whether a list is defined with exactly these components (a dump of an environment names the
// lists it uses, which the translator may have defined already).
bool same_list(const map_Env *env, const map_Mapping &list, const std::string &components) {
  // The components as the definition would take them: quoted names, flattened one level.
  std::vector<std::string> names{list.name};
  for (const char *p = components.c_str();;) {
    const char *open = std::strpbrk(p, "\"'");
    if (open == nullptr) break;
    const char *close = std::strpbrk(open + 1, "\"'");
    if (close == nullptr) return false;
    const map_Mapping *m = find_mapping(env, std::string(open + 1, close).c_str());
    if (m == nullptr) return false;
    if (m->count < 2) names.emplace_back(m->name);
    else names.insert(names.end(), m->names, m->names + m->count);
    p = close + 1;
  }
  if (list.count < 2 || static_cast<int32_t>(names.size()) != list.count) return false;
  for (int32_t i = 0; i < list.count; ++i)
    if (names[static_cast<std::size_t>(i)] != list.names[i]) return false;
  return (list.flags & MAP_CONDITIONAL) == 0;
}

// One statement; a failure has been issued (MAP_FILE_ERR is the caller's).
Failure examine(uint32_t options, map_Env *env, const std::string &s) {
  if (s.find('\0') != std::string::npos) return fail(MAP_PARSE_ERR).detailed(kept("a zero byte in the statement: "));
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  if (i == s.size()) return kOk;  // an empty statement
  if (s[i] == '"') {
    const std::size_t close = s.find('"', i + 1);
    if (close == std::string::npos) return fail(MAP_PARSE_ERR).detailed(kept("the mapping name has no closing quote: "));
    const std::string name = s.substr(i + 1, close - i - 1);
    std::size_t k = close + 1;
    while (k < s.size() && is_blank(s[k])) ++k;
    if (k == s.size()) return passed(map_EnableMapping(0, env, name.c_str(), MAP_END));
    const std::string rest = s.substr(k + 1);
    if (s[k] == '=') {
      if (const map_Mapping *m = find_mapping(env, name.c_str()); m != nullptr && same_list(env, *m, rest))
        return kOk;
      return passed(map_DefineMappingList(MAP_TEXT_ARGS, env, name.c_str(), rest.c_str()));
    }
    if (s[k] == ',') return passed(map_EnableMapping(MAP_TEXT_ARGS, env, name.c_str(), rest.c_str()));
    return fail(MAP_PARSE_ERR).detailed(kept("'=' or ',' expected after \"" + name + "\": "));
  }
  if (!is_letter(s[i])) return fail(MAP_PARSE_ERR).detailed(kept("a statement starts with a quoted mapping name or a parameter name: "));
  std::size_t end = i;
  while (end < s.size() && !is_blank(s[end]) && s[end] != '=') ++end;
  const std::string name = s.substr(i, end - i);
  if ((options & MAP_FILE_ENVIRONMENT) == MAP_FILE_ENVIRONMENT && name == "TESMAR_TMP") {
    std::string value;
    for (std::size_t k = end; k < s.size(); ++k)
      if (!is_blank(s[k]) && s[k] != '=') value += s[k];
    // A directory name: no quotes, no control characters.
    for (char c : value)
      if (c == '"' || c == '\'' || static_cast<unsigned char>(c) < 0x20)
        return fail(MAP_PARSE_ERR).detailed(kept("TESMAR_TMP names no directory: "));
    return passed(ugn_PutEnv(0, "TESMAR_TMP", value.c_str()));
  }
  std::size_t eq = end;
  while (eq < s.size() && is_blank(s[eq])) ++eq;
  if (eq == s.size() || s[eq] != '=') return fail(MAP_PARSE_ERR).detailed(kept("'=' expected after " + name + ": "));
  mpm_Status code = 0;
  const std::size_t module = name.find('_');
  if (module < 3 || module > 4 || tmx_GetMessageCode(name.c_str(), &code) != 0)
    return fail(MAP_PARSE_ERR).detailed(kept("\"" + name + "\" is no message name: "));
  const map_Parameter *p = find_parameter(code);
  if (p == nullptr) return fail(MAP_UNDEFINED_PARAM).with(kept(name));
  int32_t integer = 0;
  double real = 0;
  if (Failure f = parameter_value(*p, s.substr(eq + 1), &integer, &real)) return f;
  return passed(map_SetParameterDefault(0, code, p->type == MAP_PARAM_DOUBLE
                                                     ? static_cast<const void *>(&real)
                                                     : static_cast<const void *>(&integer)));
}

Failure file_error(const char *name, int32_t line) { return fail(MAP_FILE_ERR).with(line).with(name); }

Failure load(uint32_t options, const char *name, map_Env *env, Reading &r) {
  if (env == nullptr || name == nullptr) return fail(MAP_INVALID_ARG);
  r.name = name;
  if (tmx_FileExists(0, name) == 0) return fail(MAP_FILE_DOES_NOT_EXIST).with(r.name.c_str());
  r.file = tmx_Fopen(name, "rb");
  if (r.file == nullptr) return fail(MAP_OPEN_ERR).with(r.name.c_str());
  for (;;) {
    const Next next = gather(r);
    if (next == Next::kReadError) return file_error(name, r.line);
    // Text left without its ';' at the end is an unfinished statement, not done: an error
    // (comments and blanks are nothing).
    if (next == Next::kEnd) return trimmed(r.statement).empty() ? kOk : file_error(name, r.line);
    if (Failure f = examine(options, env, r.statement)) {
      r.inner = f;
      return file_error(name, r.statement_line);
    }
  }
}

}  // namespace
}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_LoadMapFile(uint32_t options, const char *file_name, map_Env *env) {
  Reading *reading = new (std::nothrow) Reading;
  if (reading == nullptr) return issue(fail(MAP_MALLOC_ERR));
  Failure f;
  try {
    f = load(options, file_name, env, *reading);
  } catch (const std::bad_alloc &) {
    f = fail(MAP_MALLOC_ERR);
  }
  // The file is closed before anything is issued; the texts the failures name live in the
  // reading, so it is freed only after they are issued.
  if (reading->file != nullptr) std::fclose(reading->file);
  reading->file = nullptr;
  issue(reading->inner);  // what the statement's own call found (an issued one is not issued again)
  const mpm_Status status = issue(f);
  delete reading;
  return status;
}

mpm_Status map_DbgLoadEnv(uint32_t options, const char *file_name, map_Env *env) {
  if (env == nullptr) return 0;
  return map_LoadMapFile(options | MAP_FILE_ENVIRONMENT, file_name, env);
}

}  // extern "C"
