// The formatting engine: printf conversions, positional arguments ("%2$s") and named directives
// ("%<NAME>") whose handlers live in mpm_directive_table.
//
// A text is parsed once into literal runs and directives. Directives are then evaluated in
// ascending argument number (those written without "N$" are numbered 1, 2, ... in text order), so
// the argument cursor is consumed with plain sequential va_arg; directives that share a number share
// one evaluation (the first parsed). Finally the output is assembled in text order.
//
// No width, precision or argument can overflow anything: each conversion is measured with
// snprintf and given exactly the room it needs. What cannot be formatted (an unknown conversion
// character, an unterminated "%<", a number that does not fit in an int, a width or precision above
// kMaxWidth, a directive name without a handler) stays in the output as its own source text and
// consumes no argument.
//
// Directive handlers may leave by longjmp: the frames that call them hold only plain malloc'ed
// scratch (lost in that case, never corrupted) and no objects with destructors.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"

using namespace tesmar::mpm;

namespace {

constexpr int32_t kMaxWidth = 1 << 20;  // larger widths and precisions are not formatted

struct Piece {
  const char *start;  // source text of the piece
  std::size_t length;
  bool directive;     // false: literal text (copied as it is)
  int32_t owner;      // index of the piece whose record this directive shares
  mpm_DirectiveRecord record;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number; false when it does not fit in an int.
bool read_number(const char *&p, int32_t *value) {
  int64_t v = 0;
  while (is_digit(*p)) {
    v = v * 10 + (*p - '0');
    if (v > INT32_MAX) return false;
    ++p;
  }
  *value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

namespace tesmar::mpm {

const char *parse_directive(const char *p, mpm_DirectiveRecord *record) {
  const char *q = p + 1;
  mpm_DirectiveRecord &r = *record;
  std::memset(&r, 0, sizeof r);
  // Argument number "N$"; digits not followed by '$' are a width, read again below.
  if (is_digit(*q)) {
    const char *digits = q;
    int32_t n;
    bool fits = read_number(q, &n);
    if (*q == '$') {
      if (!fits || n < 1) return nullptr;
      r.arg_number = n;
      ++q;
    } else {
      q = digits;
    }
  }
  r.flag_chars = q;
  while (*q == '+' || *q == '-' || *q == '#' || *q == ' ' || *q == '0') ++q;
  r.flag_count = static_cast<int32_t>(q - r.flag_chars);
  r.width = -1;
  if (*q == '*') {
    r.width = -2;
    ++q;
  } else if (is_digit(*q)) {
    if (!read_number(q, &r.width) || r.width > kMaxWidth) return nullptr;
  }
  r.precision = -1;
  if (*q == '.') {
    ++q;
    if (*q == '*') {
      r.precision = -2;
      ++q;
    } else {
      r.precision = 0;
      if (!read_number(q, &r.precision) || r.precision > kMaxWidth) return nullptr;
    }
  }
  if (*q == 'l' || *q == 'L' || *q == 'h') r.length = *q++;
  if (*q == '<') {
    const char *name = q + 1;
    const char *end = std::strchr(name, '>');
    if (end == nullptr) return nullptr;
    r.conversion = name;
    r.conversion_length = static_cast<int32_t>(end - name);
    return end + 1;
  }
  if (*q != '\0' && std::strchr("cfnudgoxeGpXEis%", *q) != nullptr) {
    r.conversion = q;
    r.conversion_length = 1;
    return q + 1;
  }
  return nullptr;
}

}  // namespace tesmar::mpm

namespace {

// Appends a piece to a growing malloc'ed array; false when memory fails.
bool push_piece(Piece **pieces, int32_t *count, int32_t *capacity, const Piece &piece) {
  if (*count == *capacity) {
    int32_t grown = *capacity == 0 ? 16 : *capacity * 2;
    auto *bigger = static_cast<Piece *>(std::realloc(*pieces, sizeof(Piece) * grown));
    if (bigger == nullptr) return false;
    *pieces = bigger;
    *capacity = grown;
  }
  (*pieces)[(*count)++] = piece;
  return true;
}

// snprintf into the work buffer, or into a fresh buffer of the measured size when it does not fit.
// Returns a malloc'ed result, or null when the C library refuses the conversion.
template <typename T>
char *format_one(const char *conversion, T value) {
  int n = std::snprintf(g_work, kWorkSize, conversion, value);
  if (n < 0) return nullptr;
  if (static_cast<std::size_t>(n) < kWorkSize) return copy_text(g_work, static_cast<std::size_t>(n));
  char *big = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
  if (big == nullptr) {
    memory_failure();
    return nullptr;
  }
  std::snprintf(big, static_cast<std::size_t>(n) + 1, conversion, value);
  return big;
}

// Formats one printf conversion of a record, taking its argument from the cursor.
char *format_conversion(const mpm_DirectiveRecord &r, int32_t width, int32_t precision,
                        va_list *args) {
  char conv = r.conversion[0];
  if (conv == '%') return copy_text("%", 1);
  // Build "%<flags><width><.precision><length><conversion>" with the numbers written out.
  char spec[64];
  std::size_t n = 0;
  spec[n++] = '%';
  for (int32_t i = 0; i < r.flag_count && n < 16; ++i) spec[n++] = r.flag_chars[i];
  if (width < 0 && width != -1) {  // a negative '*' width means left-justified
    spec[n++] = '-';
    width = width == INT32_MIN ? -1 : -width;
    if (width > kMaxWidth) width = -1;
  }
  if (width >= 0) n += static_cast<std::size_t>(std::snprintf(spec + n, 16, "%d", width));
  if (precision >= 0) n += static_cast<std::size_t>(std::snprintf(spec + n, 16, ".%d", precision));
  switch (conv) {
    case 'c': case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
      if (r.length == 'l' && conv != 'c') {
        spec[n++] = 'l';
        spec[n++] = conv;
        spec[n] = '\0';
        return format_one(spec, va_arg(*args, long));
      }
      if (r.length == 'L' && conv != 'c') {
        spec[n++] = 'l';
        spec[n++] = 'l';
        spec[n++] = conv;
        spec[n] = '\0';
        return format_one(spec, va_arg(*args, long long));
      }
      if (r.length == 'h' && conv != 'c') spec[n++] = 'h';
      spec[n++] = conv;
      spec[n] = '\0';
      return format_one(spec, va_arg(*args, int));
    case 'e': case 'E': case 'f': case 'g': case 'G':
      spec[n++] = conv;
      spec[n] = '\0';
      return format_one(spec, va_arg(*args, double));
    case 's': {
      spec[n++] = 's';
      spec[n] = '\0';
      const char *s = va_arg(*args, const char *);
      return format_one(spec, s != nullptr ? s : "(null)");
    }
    case 'p': {
      // A pointer prints as bare hexadecimal digits, so that texts written "0x%p" read right.
      spec[n++] = 'l';
      spec[n++] = 'x';
      spec[n] = '\0';
      return format_one(spec, static_cast<unsigned long>(
                                  reinterpret_cast<uintptr_t>(va_arg(*args, void *))));
    }
    case 'n':
      // Writes nothing and prints nothing; only its pointer argument is consumed.
      (void)va_arg(*args, void *);
      return copy_text("", 0);
    default:
      return nullptr;
  }
}

mpm_DirectiveHandler find_handler(const mpm_DirectiveRecord &r) {
  if (mpm_directive_table == nullptr || r.conversion_length <= 0 || r.conversion_length > 31)
    return nullptr;
  mpm_Directive key{};
  std::memcpy(key.name, r.conversion, static_cast<std::size_t>(r.conversion_length));
  auto *found = static_cast<mpm_Directive *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_directive_table, &key));
  return found != nullptr ? found->handler : nullptr;
}

// Evaluates one record: '*' width and precision first, then the handler or the conversion.
void evaluate(Piece *piece, va_list *args) {
  mpm_DirectiveRecord &r = piece->record;
  int32_t width = r.width, precision = r.precision;
  if (width == -2) {
    width = va_arg(*args, int);
    if (width > kMaxWidth || width < -kMaxWidth) width = -1;  // too wide to format: ignored
  }
  if (precision == -2) {
    precision = va_arg(*args, int);
    if (precision < 0) precision = -1;
    if (precision > kMaxWidth) precision = -1;
  }
  mpm_DirectiveHandler handler = find_handler(r);
  if (handler != nullptr) {
    r.width = width;
    r.precision = precision;
    handler(0, &r, args);
    return;
  }
  if (is_named(r)) return;  // unregistered name: its source text stays
  r.result = format_conversion(r, width == -2 ? -1 : width, precision, args);
}

int compare_pieces_by_arg(const void *a, const void *b) {
  const Piece *x = *static_cast<Piece *const *>(a);
  const Piece *y = *static_cast<Piece *const *>(b);
  if (x->record.arg_number != y->record.arg_number)
    return x->record.arg_number < y->record.arg_number ? -1 : 1;
  return x < y ? -1 : (x > y ? 1 : 0);  // text order among equal numbers
}

// The engine proper over a text without marker. Returns a malloc'ed result or null (memory).
char *expand(const char *text, va_list *args) {
  Piece *pieces = nullptr;
  int32_t count = 0, capacity = 0, sequential = 0;
  const char *literal = text;  // start of the literal run not yet pushed
  const char *p = text;
  bool ok = true;
  // Pushes the literal run before p, then `piece` (when given), and starts a new run at `resume`.
  auto push = [&](const Piece *piece, const char *resume) {
    if (p > literal) ok = push_piece(&pieces, &count, &capacity, Piece{literal, static_cast<std::size_t>(p - literal), false, 0, {}});
    if (ok && piece != nullptr) ok = push_piece(&pieces, &count, &capacity, *piece);
    p = literal = resume;
  };
  const Piece percent{"%", 1, false, 0, {}};
  while (ok && *p != '\0') {
    if (*p != '%') {
      ++p;
      continue;
    }
    if (p[1] == '%') {  // "%%" is a literal percent sign; it takes no number and no argument
      push(&percent, p + 2);
      continue;
    }
    Piece piece{};
    const char *next = parse_directive(p, &piece.record);
    if (next == nullptr) {  // not a directive: the '%' stays as literal text
      ++p;
      continue;
    }
    if (piece.record.conversion_length == 1 && piece.record.conversion[0] == '%') {
      push(&percent, next);  // "%5%": prints one percent sign
      continue;
    }
    piece.start = p;
    piece.length = static_cast<std::size_t>(next - p);
    piece.directive = true;
    // The handler sees the directive's argument number: the written one, else the next in order.
    if (piece.record.arg_number == 0) piece.record.arg_number = ++sequential;
    push(&piece, next);
  }
  if (ok) push(nullptr, p);
  if (!ok) {
    std::free(pieces);
    memory_failure();
    return nullptr;
  }

  // Evaluate in ascending argument number; equal numbers share the first parsed record.
  int32_t directives = 0;
  for (int32_t i = 0; i < count; ++i) directives += pieces[i].directive ? 1 : 0;
  Piece **order = nullptr;
  if (directives > 0) {
    order = static_cast<Piece **>(std::malloc(sizeof(Piece *) * static_cast<std::size_t>(directives)));
    if (order == nullptr) {
      std::free(pieces);
      memory_failure();
      return nullptr;
    }
    int32_t k = 0;
    for (int32_t i = 0; i < count; ++i)
      if (pieces[i].directive) order[k++] = &pieces[i];
    std::qsort(order, static_cast<std::size_t>(directives), sizeof(Piece *), compare_pieces_by_arg);
    for (int32_t k2 = 0; k2 < directives; ++k2) {
      Piece *piece = order[k2];
      if (k2 > 0 && order[k2 - 1]->record.arg_number == piece->record.arg_number) {
        piece->owner = order[k2 - 1]->owner;
        continue;
      }
      piece->owner = static_cast<int32_t>(piece - pieces);
      evaluate(piece, args);
    }
    std::free(order);
  }

  // Assemble in text order.
  std::size_t total = 0;
  for (int32_t i = 0; i < count; ++i) {
    const Piece &piece = pieces[i];
    const char *result = piece.directive ? pieces[piece.owner].record.result : nullptr;
    total += result != nullptr ? std::strlen(result) : piece.length;
  }
  char *out = static_cast<char *>(std::malloc(total + 1));
  if (out != nullptr) {
    char *w = out;
    for (int32_t i = 0; i < count; ++i) {
      const Piece &piece = pieces[i];
      const char *result = piece.directive ? pieces[piece.owner].record.result : nullptr;
      const char *src = result != nullptr ? result : piece.start;
      std::size_t n = result != nullptr ? std::strlen(result) : piece.length;
      std::memcpy(w, src, n);
      w += n;
    }
    *w = '\0';
  } else {
    memory_failure();
  }
  for (int32_t i = 0; i < count; ++i)
    if (pieces[i].directive && pieces[i].owner == i) std::free(pieces[i].record.result);
  std::free(pieces);
  return out;
}

// Rewrites the %p conversions of a C library format so that pointers print as bare hexadecimal
// digits (as the engine prints them). Returns null when the format has none.
char *rewrite_pointer_conversions(const char *format) {
  const char *p = format;
  bool any = false;
  while ((p = std::strchr(p, '%')) != nullptr) {
    ++p;
    if (*p == '%') {
      ++p;
      continue;
    }
    while (*p != '\0' && std::strchr("0123456789$+-# .*'hlLqjzt", *p) != nullptr) ++p;
    if (*p == 'p') any = true;
    if (*p != '\0') ++p;
  }
  if (!any) return nullptr;
  std::size_t length = std::strlen(format);
  char *out = static_cast<char *>(std::malloc(2 * length + 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  p = format;
  while (*p != '\0') {
    if (*p != '%') {
      *w++ = *p++;
      continue;
    }
    *w++ = *p++;
    if (*p == '%') {
      *w++ = *p++;
      continue;
    }
    while (*p != '\0' && std::strchr("0123456789$+-# .*'hlLqjzt", *p) != nullptr) *w++ = *p++;
    if (*p == 'p') {
      *w++ = 'l';
      *w++ = 'x';
      ++p;
    } else if (*p != '\0') {
      *w++ = *p++;
    }
  }
  *w = '\0';
  return out;
}

}  // namespace

namespace tesmar::mpm {

char *format_plain(const char *format, va_list *args) {
  // The cursor is read through copies: a plain text consumes its arguments as the C library sees
  // fit, and nothing after it shares the cursor.
  char *rewritten = rewrite_pointer_conversions(format);
  const char *fmt = rewritten != nullptr ? rewritten : format;
  va_list measure;
  va_copy(measure, *args);
  int n = std::vsnprintf(g_work, kWorkSize, fmt, measure);
  va_end(measure);
  char *result = nullptr;
  if (n < 0) {
    result = copy_text(format, std::strlen(format));  // the C library refused: keep the text
  } else if (static_cast<std::size_t>(n) < kWorkSize) {
    result = copy_text(g_work, static_cast<std::size_t>(n));
  } else {
    result = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (result == nullptr) {
      memory_failure();
    } else {
      va_list again;
      va_copy(again, *args);
      std::vsnprintf(result, static_cast<std::size_t>(n) + 1, fmt, again);
      va_end(again);
    }
  }
  std::free(rewritten);
  return result;
}

}  // namespace tesmar::mpm

extern "C" {

mpm_Status mpm_ExpandDirectives(uint32_t flags, char **text, va_list *args) {
  if (text == nullptr || *text == nullptr) return 0;
  char *source = *text;
  const char *body = source[0] != '\0' ? source + 1 : source;
  char *result;
  if (args == nullptr)  // no cursor: nothing can be consumed, so the text stays unformatted
    result = copy_text(body, std::strlen(body));
  else if (source[0] == ' ' && !((flags | mpm_global_flags) & MPM_DIRECTIVES))
    result = format_plain(body, args);
  else
    result = expand(body, args);
  if (result == nullptr) return 0;  // memory failure already reported; the text stays
  std::free(source);
  *text = result;
  return 0;
}

char *mpm_FormatString(uint32_t, const char *format, va_list *args) {
  if (format == nullptr) return copy_text("", 0);
  if (args == nullptr) return copy_text(format, std::strlen(format));
  return expand(format, args);
}

mpm_Status mpm_Fprintf(FILE *stream, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char *text = mpm_FormatString(0, format, &ap);
  va_end(ap);
  if (text != nullptr && stream != nullptr) std::fputs(text, stream);
  std::free(text);
  return 0;
}

mpm_Status mpm_Printf(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char *text = mpm_FormatString(0, format, &ap);
  va_end(ap);
  if (text != nullptr) std::fputs(text, stdout);
  std::free(text);
  return 0;
}

mpm_Status mpm_Sprintf(char *buffer, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char *text = mpm_FormatString(0, format, &ap);
  va_end(ap);
  if (buffer != nullptr) {
    if (text != nullptr)
      std::memcpy(buffer, text, std::strlen(text) + 1);
    else
      buffer[0] = '\0';
  }
  std::free(text);
  return 0;
}

}  // extern "C"
