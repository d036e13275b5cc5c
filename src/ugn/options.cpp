// ugn_ParseCommandLine: the table-driven option parser.
//
// Two passes. The first checks the table (names, type strings, groups, required options outside
// groups) and counts its entries. The second walks the arguments from index 1 while they begin with
// '-', marks each option seen, stores its value and marks the arguments it consumed; the first
// plain argument ends the options. Only when everything succeeded is the vector compacted: the
// consumed arguments leave, the others keep their order, and argv[argc] becomes null.
//
// The working flags (options seen, arguments consumed) live in one malloc'ed block that is released
// before any message is issued, since a client handler may leave by longjmp.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "tesmar/mpm.h"
#include "tesmar/ugn.h"

namespace {

bool opens_group(const char *name) { return name[0] == '['; }
bool closes_group(const char *name) { return name[0] == ']'; }
bool is_marker(const char *name) { return opens_group(name) || closes_group(name); }
bool is_required(const ugn_Option &entry) { return entry.type != nullptr && entry.type[0] != '\0' && entry.type[1] == '+'; }

// What went wrong: a code and its arguments, issued once the working block is released.
struct Failure {
  mpm_Status code = 0;
  const char *text1 = nullptr;
  const char *text2 = nullptr;
  int index = 0;
};

Failure fail(mpm_Status code, const char *text1, const char *text2 = nullptr) {
  return Failure{code, text1, text2, 0};
}

Failure fail_at(mpm_Status code, int index) { return Failure{code, nullptr, nullptr, index}; }

// Whole-text integer in [low, high], an optional sign first; the C library's scanf would accept a
// number followed by anything, and would overflow silently.
bool parse_integer(const char *text, int64_t low, int64_t high, int64_t *value) {
  const char *begin = text;
  if (*begin == '+' && begin[1] != '-') ++begin;
  const char *end = begin + std::strlen(begin);
  int64_t v = 0;
  auto [ptr, ec] = std::from_chars(begin, end, v, 10);
  if (ec != std::errc() || ptr != end || begin == end || v < low || v > high) return false;
  *value = v;
  return true;
}

// Whole-text floating-point number in the C locale (a decimal comma never sneaks in).
bool parse_double(const char *text, double *value) {
  const char *begin = text;
  if (*begin == '+' && begin[1] != '-') ++begin;
  const char *end = begin + std::strlen(begin);
  double v = 0;
  auto [ptr, ec] = std::from_chars(begin, end, v, std::chars_format::general);
  if (ec != std::errc() || ptr != end || begin == end) return false;
  *value = v;
  return true;
}

// "TYPE:FORM": each half a number that fits 16 bits, signed or not (-1 is 0xFFFF).
bool parse_type_form(const char *text, uint32_t *value) {
  const char *colon = std::strchr(text, ':');
  if (colon == nullptr || colon == text) return false;
  char type_text[24];
  auto length = static_cast<std::size_t>(colon - text);
  if (length >= sizeof type_text) return false;
  std::memcpy(type_text, text, length);
  type_text[length] = '\0';
  int64_t type = 0, form = 0;
  if (!parse_integer(type_text, -32768, 65535, &type) || !parse_integer(colon + 1, -32768, 65535, &form))
    return false;
  *value = (static_cast<uint32_t>(type) & 0xFFFFu) << 16 | (static_cast<uint32_t>(form) & 0xFFFFu);
  return true;
}

// "MODEL:ENTITY" or "ENTITY" (model 0): model 0..65535, entity 0 .. 2^48 - 1.
bool parse_handle(const char *text, uint64_t *value) {
  const char *colon = std::strchr(text, ':');
  int64_t model = 0, entity = 0;
  const char *entity_text = text;
  if (colon != nullptr) {
    char model_text[24];
    auto length = static_cast<std::size_t>(colon - text);
    if (length == 0 || length >= sizeof model_text) return false;
    std::memcpy(model_text, text, length);
    model_text[length] = '\0';
    if (!parse_integer(model_text, 0, 65535, &model)) return false;
    entity_text = colon + 1;
  }
  if (!parse_integer(entity_text, 0, (int64_t{1} << 48) - 1, &entity)) return false;
  *value = static_cast<uint64_t>(model) << 48 | static_cast<uint64_t>(entity);
  return true;
}

// Pass 1. On success *entries is the number of entries before the terminating one.
Failure check_table(const ugn_Option *table, int32_t *entries) {
  bool in_group = false;
  int32_t i = 0;
  for (; table != nullptr && table[i].name != nullptr; ++i) {
    const ugn_Option &entry = table[i];
    if (entry.name[0] == '\0') return fail_at(UGN_OPTS_INVALID_NAME, i);
    bool marker = is_marker(entry.name);
    if ((entry.type == nullptr && !marker) || (entry.type != nullptr && entry.type[0] == '\0'))
      return fail_at(UGN_OPTS_INVALID_TYPE, i);
    if ((opens_group(entry.name) && in_group) || (closes_group(entry.name) && !in_group))
      return fail_at(UGN_OPTS_INVALID_GROUP, i);
    if (marker) {
      in_group = opens_group(entry.name);
      continue;
    }
    if (in_group && is_required(entry)) return fail(UGN_OPTS_REQUIRED_IN_GROUP, entry.name);
  }
  *entries = i;
  return Failure{};
}

// The entry named by an argument (without its '-') and the index of its group's "[" (-1: none).
int32_t find_option(const ugn_Option *table, int32_t entries, const char *name, int32_t *group) {
  int32_t open = -1;
  for (int32_t i = 0; i < entries; ++i) {
    if (opens_group(table[i].name)) {
      open = i;
    } else if (closes_group(table[i].name)) {
      open = -1;
    } else if (std::strcmp(table[i].name, name) == 0) {
      *group = open;
      return i;
    }
  }
  return -1;
}

// Stores the value of a non-flag option.
Failure store_value(const ugn_Option &entry, const char *argument, const char *value) {
  switch (entry.type[0]) {
    case 'd': {
      double v;
      if (!parse_double(value, &v)) return fail(UGN_OPTS_VALUE_MISSING, argument);
      std::memcpy(entry.value, &v, sizeof v);
      return Failure{};
    }
    case 'i':
    case 'l': {
      int64_t v;
      if (!parse_integer(value, INT32_MIN, INT32_MAX, &v)) return fail(UGN_OPTS_VALUE_MISSING, argument);
      auto narrow = static_cast<int32_t>(v);
      std::memcpy(entry.value, &narrow, sizeof narrow);
      return Failure{};
    }
    case 'm': {
      uint64_t v;
      if (!parse_handle(value, &v)) return fail(UGN_OPTS_INVALID_TF, value, argument);
      std::memcpy(entry.value, &v, sizeof v);
      return Failure{};
    }
    case 's': {
      const char *pointer = value;
      std::memcpy(entry.value, &pointer, sizeof pointer);
      return Failure{};
    }
    case 't': {
      uint32_t v;
      if (!parse_type_form(value, &v)) return fail(UGN_OPTS_INVALID_TF, value, argument);
      std::memcpy(entry.value, &v, sizeof v);
      return Failure{};
    }
    default:
      return fail(UGN_OPTS_ILLEGAL_TYPE, entry.type, entry.name);
  }
}

// Pass 2. `seen` has one flag per table entry, `consumed` one per argument.
Failure parse(const ugn_Option *table, int32_t entries, int32_t argc, char **argv, unsigned char *seen,
              unsigned char *consumed) {
  int32_t i = 1;
  while (i < argc && argv[i] != nullptr && argv[i][0] == '-') {
    const char *argument = argv[i];
    int32_t group = -1;
    int32_t k = find_option(table, entries, argument + 1, &group);
    if (k < 0) return fail(UGN_OPTS_UNKNOWN_OPTION, argument);
    const ugn_Option &entry = table[k];
    bool stored = entry.value != nullptr;
    if (seen[k] && stored) return fail(UGN_OPTS_REPEATED_OPTION, argument);
    if (group >= 0 && stored) {
      for (int32_t j = group + 1; j < entries && !closes_group(table[j].name); ++j)
        if (j != k && seen[j]) return fail(UGN_OPTS_CONFLICT, entry.name, table[j].name);
    }
    seen[k] = 1;
    char letter = entry.type[0];
    if (letter == 'f') {
      if (stored) {
        const int32_t one = 1;
        std::memcpy(entry.value, &one, sizeof one);
        consumed[i] = 1;
      }
      ++i;
      continue;
    }
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool negative_allowed = letter == 'd' || letter == 'i' || letter == 'l';
    if (value == nullptr || (value[0] == '-' && !negative_allowed))
      return fail(UGN_OPTS_VALUE_MISSING, argument);
    if (stored) {
      Failure failure = store_value(entry, argument, value);
      if (failure.code != 0) return failure;
      consumed[i] = consumed[i + 1] = 1;
    }
    i += 2;
  }
  for (int32_t k = 0; k < entries; ++k)
    if (!is_marker(table[k].name) && is_required(table[k]) && !seen[k])
      return fail(UGN_OPTS_REQUIRED_NOT_FOUND, table[k].name);
  return Failure{};
}

void compact(int32_t *argc, char **argv, const unsigned char *consumed) {
  int32_t kept = 1;
  for (int32_t i = 1; i < *argc; ++i)
    if (!consumed[i]) argv[kept++] = argv[i];
  *argc = kept;
  argv[kept] = nullptr;
}

}  // namespace

extern "C" mpm_Status ugn_ParseCommandLine(uint32_t, const ugn_Option *table, int32_t *argc,
                                           char **argv) {
  int32_t entries = 0;
  Failure failure = check_table(table, &entries);
  if (failure.code == 0) {
    // Without a vector there are no arguments, but required options are still missing.
    int32_t count = argc != nullptr && argv != nullptr && *argc > 0 ? *argc : 0;
    auto slots = static_cast<std::size_t>(entries) + static_cast<std::size_t>(count) + 1;
    auto *flags = static_cast<unsigned char *>(std::calloc(slots, 1));
    if (flags == nullptr) return mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
    failure = parse(table, entries, count, argv, flags, flags + entries);
    if (failure.code == 0 && count > 0) compact(argc, argv, flags + entries);
    std::free(flags);
  }
  switch (failure.code) {
    case 0:
      return 0;
    case UGN_OPTS_INVALID_NAME:
    case UGN_OPTS_INVALID_TYPE:
    case UGN_OPTS_INVALID_GROUP:
      return mpm_IssueMessage(0, failure.code, MPM_ERROR, failure.index);
    case UGN_OPTS_CONFLICT:
    case UGN_OPTS_ILLEGAL_TYPE:
    case UGN_OPTS_INVALID_TF:
      return mpm_IssueMessage(0, failure.code, MPM_ERROR, failure.text1, failure.text2);
    default:
      return mpm_IssueMessage(0, failure.code, MPM_ERROR, failure.text1);
  }
}
