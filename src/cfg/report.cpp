// The reader's reporter: the error record (the line, and a caret under the bad token) and the
// message, reported at once.
#include "cfg/cfg_internal.h"

namespace tesmar::cfg {

mpm_Status report(uint32_t options, mpm_Status code, va_list *args) {
  // Reported at once, without a header; other pending messages stay pending.
  const uint32_t flags = MPM_NO_HEADER | MPM_KEEP_PENDING;
  Read *r = g_read;
  if ((options & CFG_WITH_RECORD) != 0 && r != nullptr) {
    const std::string &t = r->text;
    const std::size_t start = std::min(r->line_start, t.size());
    std::size_t end = start;
    while (end < t.size() && t[end] != r->line_end && t[end] != '\n') ++end;
    if (end > start && t[end - 1] == '\r') --end;
    // The line as it reads (a byte that would end or break the text shows as '?'), and under it
    // as many columns as lie before the token: tabs kept, a character of several bytes one column.
    r->record_line.assign(t, start, end - start);
    for (char &c : r->record_line)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
    r->record_blanks.clear();
    const std::size_t token = std::min(std::max(r->token, start), t.size());
    for (std::size_t i = start; i < token; ++i) {
      const auto c = static_cast<unsigned char>(t[i]);
      if (c == '\t') r->record_blanks += '\t';
      else if ((c & 0xC0) != 0x80) r->record_blanks += ' ';
    }
    mpm_ReportMessage(flags, CFG__ERROR_RECORD, MPM_ERROR, static_cast<long>(r->line),
                      r->source == kFile ? "file" : "cmd-line", r->record_line.c_str());
    mpm_ReportMessage(flags, CFG__ERROR_PTR, MPM_ERROR, r->record_blanks.c_str());
    if (code == 0) return CFG_RECORD_ONLY;
  }
  if (code == 0) return CFG_RECORD_ONLY;
  return mpm_ReportMessage(flags | MPM_OPTIONS, code, MPM_ERROR, MPM_OPT_ARGS, args);
}

mpm_Status report_error(uint32_t options, mpm_Status code, ...) {
  va_list args;
  va_start(args, code);
  const mpm_Status status = report(options, code, &args);
  va_end(args);
  return status;
}

}  // namespace tesmar::cfg

extern "C" mpm_Status cfg_ReportError(uint32_t options, mpm_Status code, ...) {
  va_list args;
  va_start(args, code);
  const mpm_Status status = tesmar::cfg::report(options, code, &args);
  va_end(args);
  return status;
}
