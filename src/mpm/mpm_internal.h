// Private declarations of the message system, shared by its files and by the modules that need
// more than the public interface (the message-text file, the formatting directives).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "tesmar/mpm.h"

namespace tesmar::mpm {

// Size of the shared work buffer: 8192 characters of text plus room for a newline and terminator.
inline constexpr std::size_t kWorkSize = 8194;
inline constexpr std::size_t kPieceSize = 8192;

// MPM's own message table.
const mpm_ModuleDesc &module_desc();

extern char g_work[kWorkSize];
extern otm_Tree *g_name_cache;
extern bool g_started;

// Calls the memory handler (key TMX_EXC_MEMORY, code 0); used for every allocation failure inside
// the message system, which then goes on.
void memory_failure();

// A fresh empty tree in place of `tree` (deleted when there is one); null after a memory failure,
// reported through memory_failure().
otm_Tree *recreate_tree(otm_Tree *tree, int32_t size, otm_CompareFn compare);

// Appends n bytes to a malloc'ed text (null allowed). Returns false, leaving *text untouched, when
// memory fails.
bool append_text(char **text, const char *bytes, std::size_t n);
bool append_text(char **text, const char *cstr);

// A malloc'ed copy of n bytes plus a terminator, or null.
char *copy_text(const char *bytes, std::size_t n);

// Formats with the C library into a fresh text of exactly the needed size (no bound applies).
// `args` is advanced past what the format consumed. Returns null when formatting or memory fails.
char *format_plain(const char *format, va_list *args);

// Where replacement texts come from. The message system itself knows only its built-in tables; the
// message-text file (src/msgfile), which lives above the paged file it is read through, installs
// itself here while it is open. Both members are null, or both are set.
struct TextSource {
  // A module's text index: true and a malloc'ed text when the source replaces it.
  bool (*text)(int32_t module_id, int32_t text_index, char **out);
  // Closes the source (at the message system's shut-down, before anything else stops).
  void (*close)();
};
extern TextSource g_text_source;

// The engine's reading of one directive at the '%' at p (not "%%"): fills the record (its
// arg_number is the written "N$" number, 0 when none is written) and returns the character after
// the directive; null when the text at p is not a directive (it then stays as text and consumes
// nothing). A conversion of '%' ("%5%") is a directive that prints one percent sign.
const char *parse_directive(const char *p, mpm_DirectiveRecord *record);

// Is the record a named directive ("%<NAME>", whose name may be one character long) rather than a
// conversion character? The name of a parsed record follows its '<' in the text.
inline bool is_named(const mpm_DirectiveRecord &record) { return record.conversion[-1] == '<'; }

// Is `code` one of the five severities; its counter index (0..4) when it is.
inline bool severity_index(mpm_Status severity, int *index) {
  if (severity >= MPM_INFO && severity <= MPM_FATAL) {
    *index = static_cast<int>(severity - MPM_INFO);
    return true;
  }
  return false;
}

}  // namespace tesmar::mpm
