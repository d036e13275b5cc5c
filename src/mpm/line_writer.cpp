// The line writer: cuts a text into lines at '\n', at the last blank before the available width, or
// hard at the width; pads each line for the indent and the justification; hands each line to the
// output function for the screen stream and for the log stream.
//
// Every line makes progress: the available width is at least one column whatever the line width,
// indent, right margin and current column say, so no setting can make the writer loop.
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"

using namespace tesmar::mpm;

namespace {

void output(uint32_t flags, FILE *stream, const char *line) {
  mpm_OutputFunction out = mpm_output_function != nullptr ? mpm_output_function : &std::fputs;
  if (!(flags & MPM_NO_SCREEN) && stream != nullptr) out(line, stream);
  if (!(flags & MPM_NO_LOG) && mpm_log_stream != nullptr) out(line, mpm_log_stream);
}

// Outputs padding + the line (+ '\n'), in pieces of at most 8192 characters; only the last piece
// carries the newline and, when asked, the last-line flag.
void output_line(uint32_t flags, FILE *stream, std::size_t padding, const char *line,
                 std::size_t length, bool newline, bool last) {
  std::size_t total = padding + length;
  std::size_t done = 0;
  do {
    std::size_t piece = total - done;
    bool final_piece = piece <= kPieceSize;
    if (!final_piece) piece = kPieceSize;
    std::size_t w = 0;
    for (; w < piece && done + w < padding; ++w) g_work[w] = ' ';
    if (w < piece) std::memcpy(g_work + w, line + (done + w - padding), piece - w);
    std::size_t end = piece;
    if (final_piece && newline) g_work[end++] = '\n';
    g_work[end] = '\0';
    mpm_last_line = final_piece && last ? 1 : 0;
    output(flags, stream, g_work);
    done += piece;
  } while (done < total);
  mpm_last_line = 0;
}

std::size_t padding_for(int32_t available, std::size_t length) {
  std::size_t indent = mpm_left_indent > 0 ? static_cast<std::size_t>(mpm_left_indent) : 0;
  std::size_t room = static_cast<std::size_t>(available) > length
                         ? static_cast<std::size_t>(available) - length : 0;
  switch (mpm_justification) {
    case 2: return indent + room;
    case 3: return indent + room / 2;
    default: return indent;
  }
}

}  // namespace

extern "C" {

mpm_Status mpm_WriteText(uint32_t flags, FILE *stream, char *text) {
  if (text == nullptr) return 0;
  flags |= mpm_global_flags;
  mpm_last_line = 0;
  if (mpm_line_width == 0) {
    mpm_last_line = 1;
    output(flags, stream, text);
    mpm_last_line = 0;
    std::free(text);
    return 0;
  }
  int64_t avail64 = static_cast<int64_t>(mpm_line_width) - (mpm_left_indent > 0 ? mpm_left_indent : 0) -
                    (mpm_right_margin > 0 ? mpm_right_margin : 0);
  int32_t available = avail64 < 1 ? 1 : (avail64 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(avail64));
  const bool no_newline = (flags & MPM_NO_NEWLINE) != 0;
  const char *s = text;
  for (;;) {
    int64_t room = static_cast<int64_t>(available) - (mpm_current_column > 0 ? mpm_current_column : 0);
    std::size_t limit = room < 1 ? 1 : static_cast<std::size_t>(room);
    std::size_t i = 0;
    while (i < limit && s[i] != '\0' && s[i] != '\n') ++i;
    if (s[i] == '\0') {
      // The rest of the text: a final newline unless MPM_NO_NEWLINE.
      if (i == 0 && no_newline) break;
      output_line(flags, stream, padding_for(available, i), s, i, !no_newline, true);
      if (no_newline) {
        int64_t column = static_cast<int64_t>(mpm_current_column) + static_cast<int64_t>(i);
        mpm_current_column = column > INT32_MAX ? INT32_MAX : static_cast<int32_t>(column);
      } else {
        mpm_current_column = 0;
      }
      break;
    }
    std::size_t length;
    const char *next;
    if (s[i] == '\n') {
      length = i;
      next = s + i + 1;
    } else {
      // The line is full: break at its last blank (one just past the limit counts), else cut hard.
      std::size_t blank = i + 1;
      for (std::size_t k = i + 1; k-- > 0;)
        if (s[k] == ' ') {
          blank = k;
          break;
        }
      if (blank <= i) {
        length = blank;
        next = s + blank + 1;
      } else {
        length = i;
        next = s + i;
      }
    }
    bool last = no_newline && *next == '\0' && next != s + length;
    output_line(flags, stream, padding_for(available, length), s, length, true, last);
    mpm_current_column = 0;
    s = next;
    if (*s == '\0' && no_newline) break;
  }
  std::free(text);
  return 0;
}

}  // extern "C"
