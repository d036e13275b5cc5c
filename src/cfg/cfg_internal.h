// Private declarations of the configuration reader and writer.
//
// Design. A read keeps all its working state (the text, the scanner's position, the sections
// with their parameters) in one process-wide Read object, reset when a read starts and when it
// ends. The reader reports a person's mistakes as it meets them, in order, and a client handler
// may leave the reporting call by longjmp or by throwing: the frames of the parser hold nothing
// that only they would release, so a jump leaves the state to the next read (or shut-down) to
// clear. Working copies live in standard containers; running out of memory there is caught at
// the exported operation and becomes CFG_MALLOC_ERROR.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tesmar/cfg.h"
#include "tesmar/ddf.h"
#include "tesmar/mpm.h"

namespace tesmar::cfg {

// ---- Parsed text ----

struct Value {
  int32_t kind = CFG_KIND_EMPTY;
  int32_t integer = 0;
  double real = 0;
  std::string text;
};

struct Param {
  std::string name;
  std::vector<Value> values;
  bool consumed = false;
  int32_t line = 0;
};

struct Section {
  std::string name;  // empty for the unnamed first section
  std::map<std::string, Param> params;
  bool used = false;
  int32_t line = 0;
};

// Tokens of the scanner.
enum Token : int32_t {
  kIdentifier = 1,
  kEqual = 2,
  kInteger = 4,
  kDouble = 8,
  kString = 16,
  kEndOfStatement = 32,
  kColon = 64,
  kEnd = 128,
  kComma = 256,
  kOpenBrace = 512,
  kInvalid = 2048,
  kCloseBrace = 16384,
  kFailed = -1,  // the scanner met an error that ends the parse (already reported)
  kBadValue = -2,  // a number out of range (reported); the statement is skipped
};

enum Source : int32_t { kFile = 1, kCommandLine = 2 };

// Everything one read works on.
struct Read {
  // The text being scanned and the scanner's place in it.
  std::string text;
  std::size_t pos = 0;
  std::size_t token = 0;       // start of the current token
  std::size_t line_start = 0;
  int32_t line = 1;
  char line_end = '\n';        // the line-end character ...
  int32_t line_end_length = 1; // ... and the length of the line-end sequence
  Source source = kFile;
  // The current token's value.
  std::string word;
  int32_t integer = 0;
  double real = 0;
  // Sections by name; the unnamed first section has the empty name.
  std::map<std::string, Section> sections;
  Section *current = nullptr;
  bool unnamed_open = false;
  // The statement being read: its parameter name and values.
  std::string statement_name;
  std::vector<Value> statement_values;
  std::string number_text;
  // The reporter's working texts (kept here, not in its frame: a handler may jump out of it).
  std::string record_line, record_blanks;
};

extern Read *g_read;

// Starts a read: a fresh state (false when memory fails).
bool begin_read();
void end_read();

// The reporter (cfg_ReportError) with a va_list.
mpm_Status report(uint32_t options, mpm_Status code, va_list *args);
// The same, variadic.
mpm_Status report_error(uint32_t options, mpm_Status code, ...);

// Parses g_read->text from its start as the given source; false when the parse failed (the
// failure has been reported).
bool parse(Source source);

// The line-end probe of a file's first bytes.
void probe_line_end(const std::string &text, char *line_end, int32_t *length);

// ---- Models (read.cpp) ----

// Whether a model number is one of the configuration models.
bool is_config_model(int32_t model);
// Frees every configuration model (shut-down).
void free_every_model();

// ---- Making and filling the entities (fill.cpp) ----

// A record of a model's entity reference tree: a type form and its entity.
struct Reference {
  uint64_t tf;
  db_ptr entity;
};
int compare_references(const void *a, const void *b);

// Makes one entity per configured type form in the model and fills every one; a failure has
// been reported and is returned.
mpm_Status make_and_fill(ddf_Schema *schema, int32_t model, void *references);

// ---- Values of options ----

// Whether a command-line value can stand in a statement as it is (bare, or for strings in
// double quotes): no quote or final backslash in a string; no ';', ':', '#', quote or comment
// opener in a bare value; no control character in either.
bool value_fits(const char *value, bool quoted);

// Field kinds that take string values.
inline bool is_string_kind(uint32_t kind) { return kind == DDF_FSTRING || kind == DDF_VSTRING; }

// A growable text on the heap for the texts handed to callers (malloc'ed); false when memory
// fails.
bool append(char **text, std::size_t *length, std::size_t *capacity, const char *more,
            std::size_t n);

}  // namespace tesmar::cfg
