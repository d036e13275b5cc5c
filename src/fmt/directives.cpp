// The named directives: dates and times, elapsed times, the error summary, type forms, entity
// handles and 64-bit integers. Each handler takes its arguments from the engine's cursor and
// appends FMT's message texts to the record's result, so the wording is replaceable.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fmt/fmt_internal.h"
#include "tesmar/otm.h"
#include "tmx/tmx_internal.h"

namespace tesmar::fmt {
namespace {

void append(uint32_t code, mpm_DirectiveRecord *record, auto... args) {
  mpm_AppendMessage(0, code, &record->result, args...);
}

// The platform's ctime text of now: "Www Mmm dd hh:mm:ss yyyy\n". A clock the C library cannot
// render (far outside its years) gives blanks of the same shape.
void current_ctime(char (&text)[32]) {
  std::time_t now = std::time(nullptr);
  if (ctime_r(&now, text) == nullptr || std::strlen(text) < 24)
    std::snprintf(text, sizeof text, "%24s", "");
}

mpm_Status cur_date(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  char text[32];
  current_ctime(text);
  append(FMT_CURDATE, record, text, text + 4, text + 8, text + 20);
  return 0;
}

mpm_Status cur_time(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  char text[32];
  current_ctime(text);
  append(FMT_CURTIME, record, text + 11);
  return 0;
}

// hh:mm:ss of a number of seconds, the fraction dropped; at least two digits each.
void append_elapsed(mpm_DirectiveRecord *record, double seconds) {
  if (!(seconds > 0)) seconds = 0;  // a clock that went back, or NaN
  if (seconds > 2147483647.0 * 3600) seconds = 2147483647.0 * 3600;
  auto whole = static_cast<int64_t>(seconds);
  auto hours = static_cast<int>(whole / 3600);
  auto minutes = static_cast<int>(whole % 3600 / 60);
  auto rest = static_cast<int>(whole % 60);
  append(FMT_ELAPSEDTIME, record, hours, minutes, rest);
}

mpm_Status elapsed_cpu(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  append_elapsed(record, tmx::processor_seconds_since_start());
  return 0;
}

mpm_Status elapsed_clock(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  append_elapsed(record, tmx::elapsed_seconds_since_start());
  return 0;
}

// One half of a type form: "*" for the wildcard, else a signed 16-bit decimal.
void half_text(uint32_t half, char (&text)[8]) {
  if (half == FMT_TF_WILDCARD)
    std::snprintf(text, sizeof text, "*");
  else
    std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<int16_t>(half)));
}

mpm_Status type_form(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  uint32_t tf = va_arg(*args, uint32_t);
  char type[8], form[8];
  half_text(tf >> 16, type);
  half_text(tf & 0xFFFFu, form);
  append(FMT_TF, record, type, form);
  return 0;
}

mpm_Status named_type_form(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  const auto *dtf = va_arg(*args, const fmt_NamedTypeForm *);
  const char *name = "NULL";
  uint32_t tf = 0;
  if (dtf != nullptr) {
    if (dtf->name != nullptr) name = dtf->name;
    tf = dtf->type_form;
  }
  char type[8], form[8];
  half_text(tf >> 16, type);
  half_text(tf & 0xFFFFu, form);
  append(FMT_DTF, record, name, type, form);
  return 0;
}

// "#model:entity"; the entity number is printed by %<lld> from the same argument list.
mpm_Status handle(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  uint64_t ptr = va_arg(*args, uint64_t);
  append(FMT_PTR, record, static_cast<long>(ptr >> 48),
         static_cast<long long>(ptr & 0xFFFFFFFFFFFFull));
  return 0;
}

mpm_Status handle_hex(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  append(FMT_PTR2, record, va_arg(*args, unsigned long long));
  return 0;
}

mpm_Status decimal64(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  append(FMT_LLD, record, va_arg(*args, long long));
  return 0;
}

mpm_Status hex64(uint32_t, mpm_DirectiveRecord *record, va_list *args) {
  append(FMT_LLX, record, va_arg(*args, unsigned long long));
  return 0;
}

// Every counted message with a total above 0, in code order: how often it was issued (and after
// how many it was suppressed), then its stored text as written; then the five severity counters.
mpm_Status error_summary(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  bool none = true;
  for (int32_t count : mpm_severity_counts) none = none && count == 0;
  if (none) {
    append(FMT_NOERROR, record);
    return 0;
  }
  // A copy of the records, so that nothing the appends do can disturb a walk of the tree.
  int32_t count = 0;
  auto *records = mpm_count_tree != nullptr
                      ? static_cast<mpm_CountRecord *>(otm_GetArray(0, mpm_count_tree, &count))
                      : nullptr;
  for (int32_t i = 0; i < count; ++i) {
    const mpm_CountRecord &r = records[i];
    if (r.total <= 0) continue;
    append(FMT_ERRORTOTAL, record, static_cast<int>(r.total));
    if (r.total > r.issued) append(FMT_ERRORISSUE, record, static_cast<int>(r.issued));
    append(FMT_ERRORTERM, record);
    mpm_AppendMessage(MPM_RAW_TEXT, static_cast<mpm_Status>(r.code), &record->result);
    append(FMT_ERRORTERM, record);
  }
  otm_FreeArray(0, records);
  append(FMT_ERRORSUMMARY, record, mpm_severity_counts[0], mpm_severity_counts[1],
         mpm_severity_counts[2], mpm_severity_counts[3], mpm_severity_counts[4]);
  return 0;
}

struct Entry {
  const char *name;
  mpm_DirectiveHandler handler;
};
constexpr Entry kDirectives[] = {
    {"CurDate", cur_date},
    {"CurTime", cur_time},
    {"ErrorSummary", error_summary},
    {"ElapsedCPU", elapsed_cpu},
    {"ElapsedClock", elapsed_clock},
    {"TF", type_form},
    {"DTF", named_type_form},
    {"PTR", handle},
    {"PTR2", handle_hex},
    {"ModelList", model_list},
    {"lld", decimal64},
    {"llx", hex64},
};

}  // namespace

void register_directives() {
  if (mpm_directive_table == nullptr) return;
  for (const Entry &e : kDirectives) {
    mpm_Directive d{};
    std::snprintf(d.name, sizeof d.name, "%s", e.name);
    // A handler of the same name registered earlier is replaced.
    auto *stored = static_cast<mpm_Directive *>(otm_AddObject(0, mpm_directive_table, &d));
    if (stored != nullptr) stored->handler = e.handler;
  }
}

}  // namespace tesmar::fmt
