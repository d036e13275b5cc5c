// ugn_PrintUsage: the synopsis and option list of an option table, on standard error.
//
// The synopsis is a sequence of pieces, one per option: "-name VALUE" with "[...]" around optional
// options outside a group, and "[-a | -b | -c]" spread over the pieces of a group. A piece that would
// reach column 80 starts a new line indented under the first option. Nothing is allocated.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "tesmar/ugn.h"

namespace {

constexpr std::size_t kLineWidth = 80;

bool opens_group(const char *name) { return name[0] == '['; }
bool closes_group(const char *name) { return name[0] == ']'; }

// One piece of the synopsis, as up to six texts printed in order.
struct Piece {
  const char *parts[6] = {};
  int count = 0;
  std::size_t length = 0;
  void add(const char *text) {
    parts[count++] = text;
    length += std::strlen(text);
  }
};

int clamp_width(std::size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

// Places a piece on the current line, or first on a new line indented under the first option.
void place(const Piece &piece, std::size_t indent, std::size_t *column) {
  if (*column + piece.length >= kLineWidth && *column > indent) {
    std::fprintf(stderr, "\n%*s", clamp_width(indent), " ");
    *column = indent;
  }
  for (int i = 0; i < piece.count; ++i) std::fputs(piece.parts[i], stderr);
  *column += piece.length;
}

}  // namespace

extern "C" mpm_Status ugn_PrintUsage(uint32_t, const ugn_Option *table, const char *program,
                                     const char *trailing, const char *const *lines) {
  const char *name = program != nullptr ? program : "";
  if (const char *slash = std::strrchr(name, '/'); slash != nullptr) name = slash + 1;
  std::fprintf(stderr, "Usage:\n\n%s ", name);
  const std::size_t indent = std::strlen(name) + 1;
  std::size_t column = indent;

  bool in_group = false, group_pending = false;
  std::size_t longest = 0;
  for (int32_t i = 0; table != nullptr && table[i].name != nullptr; ++i) {
    const ugn_Option &entry = table[i];
    if (opens_group(entry.name)) {
      in_group = group_pending = true;
      continue;
    }
    if (closes_group(entry.name)) {
      in_group = group_pending = false;
      continue;
    }
    longest = std::max(longest, std::strlen(entry.name));
    bool required = entry.type != nullptr && entry.type[0] != '\0' && entry.type[1] == '+';
    bool flag = entry.type == nullptr || entry.type[0] == 'f';
    Piece piece;
    if (group_pending) piece.add("[");
    group_pending = false;
    if (!in_group && !required) piece.add("[");
    piece.add("-");
    piece.add(entry.name);
    if (!flag && entry.value_name != nullptr) {
      piece.add(" ");
      piece.add(entry.value_name);
    }
    if (in_group) {
      const char *next = table[i + 1].name;
      if (next != nullptr && closes_group(next)) {
        piece.add("] ");
        in_group = false;
        ++i;  // the group's end is passed over
      } else {
        piece.add(" | ");
      }
    } else {
      piece.add(required ? " " : "] ");
    }
    place(piece, indent, &column);
  }
  if (trailing != nullptr) {
    Piece piece;
    piece.add(trailing);
    place(piece, indent, &column);
  }

  std::fputs("\n\n", stderr);
  for (int32_t i = 0; table != nullptr && table[i].name != nullptr; ++i) {
    const ugn_Option &entry = table[i];
    if (opens_group(entry.name) || closes_group(entry.name)) continue;
    std::fprintf(stderr, "   -%-*s   %s\n", clamp_width(longest), entry.name,
                 entry.description != nullptr ? entry.description : " ");
  }
  std::fputs("\n", stderr);
  for (int32_t i = 0; lines != nullptr && lines[i] != nullptr; ++i) std::fprintf(stderr, "%s\n", lines[i]);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  return 0;
}
