// Private declarations of the message system, shared by its files and by the modules that need
// more than the public interface (the kernel's start-up, the message-text file).
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

// Appends n bytes to a malloc'ed text (null allowed). Returns false, leaving *text untouched, when
// memory fails.
bool append_text(char **text, const char *bytes, std::size_t n);
bool append_text(char **text, const char *cstr);

// A malloc'ed copy of n bytes plus a terminator, or null.
char *copy_text(const char *bytes, std::size_t n);

// Formats with the C library into a fresh text of exactly the needed size (no bound applies).
// `args` is advanced past what the format consumed. Returns null when formatting or memory fails.
char *format_plain(const char *format, va_list *args);

// Stored text of a module's text index from an open message-text file: true and a malloc'ed text
// when the file replaces it; false when no file is open, the module has no texts there, or the
// entry keeps the built-in text.
bool text_from_message_file(int32_t module_id, int32_t text_index, char **out);

// Closes the message-text file when one is open (at shut-down).
void close_message_file();

// Does a replacement text (marker included) take exactly the arguments of the built-in text, in
// the same order, however it is formatted? Replacements that use "%n", unknown conversions or huge
// widths never do.
bool same_arguments(const char *built_in, const char *replacement);

// Is `code` one of the five severities; its counter index (0..4) when it is.
inline bool severity_index(mpm_Status severity, int *index) {
  if (severity >= MPM_INFO && severity <= MPM_FATAL) {
    *index = static_cast<int>(severity - MPM_INFO);
    return true;
  }
  return false;
}

}  // namespace tesmar::mpm
