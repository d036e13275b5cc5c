// The heap debugger's public state, its start-up, options, breakpoint and report stream.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "hdb/hdb_internal.h"

extern "C" {
hdb_Block *hdb_head = nullptr;
hdb_Block *hdb_tail = nullptr;
uint32_t hdb_request = 0;
uint32_t hdb_breakpoint = 0;
uint64_t hdb_mallocs = 0;
uint64_t hdb_callocs = 0;
uint64_t hdb_reallocs = 0;
uint64_t hdb_frees = 0;
uint64_t hdb_strdups = 0;
uint64_t hdb_total_bytes = 0;
uint64_t hdb_total_blocks = 0;
uint64_t hdb_max_bytes = 0;
uint64_t hdb_max_blocks = 0;
uint64_t hdb_max_block_count = 0;
uint32_t hdb_options = 0;
const char *hdb_valid_file = nullptr;
int32_t hdb_valid_line = 0;
uint32_t hdb_valid_request = 0;
FILE *hdb_report_stream = nullptr;
FILE *hdb_second_stream = nullptr;
const char *hdb_default_owner = "Unknown";
}

namespace tesmar::hdb {

void report(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char *text = mpm_FormatString(0, format, &ap);
  va_end(ap);
  if (text != nullptr) std::fputs(text, hdb_report_stream != nullptr ? hdb_report_stream : stderr);
  std::free(text);
}

}  // namespace tesmar::hdb

extern "C" {

void hdb_SetOptions(uint32_t bits) { hdb_options |= bits; }

void hdb_ClearOptions(uint32_t bits) { hdb_options &= ~bits; }

void hdb_SetBreakpoint(uint32_t request) {
  if (request != 0) hdb_breakpoint = request;
}

void hdb_Breakpoint(const char *file, int32_t line, const char *label) {
  using namespace tesmar::hdb;
  report("%s at %s(%d) Rqst %ld: Heap breakpoint hit\n", owner_name(label), owner_name(file), line,
         request_arg());
}

// Kept out of line and not empty to the optimiser, so that a debugger can always stop here.
__attribute__((noinline)) void hdb_Stop(void) { __asm__ volatile(""); }

}  // extern "C"
