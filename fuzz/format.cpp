// Fuzz target: the formatting engine and the line writer over arbitrary format texts and settings.
//
// The first bytes choose the line writer's settings; the rest is a format. Every pointer slot the
// format can reach points to a named type form, which %<DTF> reads as one and %s as a text (its
// type-form field begins with a zero byte, so the text ends inside the object); the floating-point
// slots hold doubles. The format is cut after its fifth '%', so no conversion reads past the
// arguments given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

char *format(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char *text = mpm_FormatString(0, fmt, &ap);
  va_end(ap);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::fuzz::start_library();
  if (size < 5) return 0;
  mpm_line_width = static_cast<int8_t>(data[0]);
  mpm_left_indent = static_cast<int8_t>(data[1]);
  mpm_right_margin = static_cast<int8_t>(data[2]);
  mpm_justification = data[3] % 5;
  mpm_current_column = static_cast<int8_t>(data[4]);
  std::string fmt(reinterpret_cast<const char *>(data + 5), size - 5);
  fmt = fmt.c_str();  // up to the first NUL
  int percents = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i)
    if (fmt[i] == '%' && ++percents > 5) {
      fmt.resize(i);
      break;
    }
  static const fmt_NamedTypeForm kSlot = {"fuzz text", 100u << 16, 0};  // bytes 00 00 64 00
  const char *s = reinterpret_cast<const char *>(&kSlot);
  char *text = format(fmt.c_str(), s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, 1.5, 2.5, 3.5,
                      4.5, 5.5, 6.5, 7.5, 8.5, s, s, s, s, s, s, s, s);
  if (text != nullptr) mpm_WriteText(0, stdout, text);
  mpm_DiscardPending(0);
  return 0;
}
