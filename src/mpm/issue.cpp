// Issuing, reporting, counting and dropping messages, and the handler table.
//
// A message's life: issued, it is counted (unless MPM_NO_COUNT) and kept as a pending message at
// the head of mpm_pending_list; reported, it is counted and written at once. It leaves the pending
// list when a reported message flushes or discards the list, when a client flushes or discards, or
// when the message system stops (discarded). A discard takes a counted message back out of its
// counters (never below 0, never creating a count record); a flush leaves it counted.
//
// Handlers may leave an operation by longjmp or by throwing. The code below calls them only when it
// holds nothing that a destructor would have to release: every text has been handed to the pending
// list or the line writer by then.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"
#include "tesmar/tmx.h"

using namespace tesmar::mpm;

namespace {

struct Options {
  char *text = nullptr;     // option text, owned
  FILE *stream = nullptr;   // MPM_OPT_STREAM
  va_list *args = nullptr;  // MPM_OPT_ARGS
};

// Reads the option list that begins the variable arguments. An unknown tag ends the list: what
// follows is taken as the message's arguments.
void read_options(va_list *ap, Options *opt) {
  for (;;) {
    int tag = va_arg(*ap, int);
    switch (tag) {
      case MPM_OPT_ARGS:
        opt->args = va_arg(*ap, va_list *);
        return;
      case MPM_OPT_TEXT: {
        char *text = va_arg(*ap, char *);
        if (text != nullptr) {
          if (opt->text == nullptr) {
            opt->text = text;
          } else {
            append_text(&opt->text, text);
            std::free(text);
          }
        }
        break;
      }
      case MPM_OPT_SOURCE:
        mpm_source_file = va_arg(*ap, const char *);
        mpm_source_line = va_arg(*ap, int);
        break;
      case MPM_OPT_STREAM:
        opt->stream = va_arg(*ap, FILE *);
        break;
      default:  // MPM_OPT_END and anything unknown
        return;
    }
  }
}

int32_t saturating_increment(int32_t value) { return value < INT32_MAX ? value + 1 : value; }

// Counts one message; true when a limit suppresses it.
bool count_message(mpm_Status code, mpm_Status severity) {
  mpm_CountRecord *record = nullptr;
  if (mpm_count_tree != nullptr) {
    mpm_CountRecord fresh{static_cast<int32_t>(code), mpm_default_limit, 0, 0};
    record = static_cast<mpm_CountRecord *>(otm_AddObject(0, mpm_count_tree, &fresh));
  }
  if (record != nullptr) {
    record->issued = saturating_increment(record->issued);
    record->total = saturating_increment(record->total);
  }
  int index;
  bool is_severity = severity_index(severity, &index);
  if (is_severity) mpm_severity_counts[index] = saturating_increment(mpm_severity_counts[index]);
  if (record != nullptr && record->limit != -1 && record->issued > record->limit) return true;
  if (is_severity && mpm_severity_limits[index] != -1 &&
      mpm_severity_counts[index] > mpm_severity_limits[index])
    return true;
  return false;
}

void uncount_message(mpm_Status code, mpm_Status severity) {
  if (mpm_count_tree != nullptr) {
    mpm_CountRecord key{static_cast<int32_t>(code), 0, 0, 0};
    auto *record = static_cast<mpm_CountRecord *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_count_tree, &key));
    if (record != nullptr) {
      if (record->issued > 0) --record->issued;
      if (record->total > 0) --record->total;
    }
  }
  int index;
  if (severity_index(severity, &index) && mpm_severity_counts[index] > 0)
    --mpm_severity_counts[index];
}

// "*** Error (OTM_NOTFOUND) ***\n": the severity's text formatted with the code's name, then stars.
void append_header(char **text, mpm_Status code, mpm_Status severity) {
  mpm_AppendMessage(0, severity, text, mpm_GetMessageName(code));
  mpm_AppendMessage(0, MPM__STARS, text);
}

// The exception key of a code's row: its kind, or TMX_EXC_NONE when the code names no row.
uint32_t kind_of(mpm_Status code) {
  int32_t module, number;
  if (mpm_DecodeStatus(code, &module, &number) != 0) return TMX_EXC_NONE;
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
  return desc->names != nullptr ? desc->names[number - 1].kind : TMX_EXC_NONE;
}

void call_handlers(mpm_Status code, mpm_Status severity) {
  mpm_CallHandler(0, kind_of(code), code);
  // Keys 1..4 are the exception keys; a severity never doubles as one of them.
  if (severity > TMX_EXC_MAXERROR) mpm_CallHandler(0, severity, code);
}

// The message's formatted text, or the caller's own text for a user message.
void append_body(uint32_t flags, mpm_Status code, const char *user_text, char **text,
                 va_list *args) {
  if (user_text == nullptr) {
    mpm_AppendMessageV(flags, code, text, args);
    return;
  }
  char *own = copy_text(user_text, std::strlen(user_text));
  if (own == nullptr) return;
  if (flags & MPM_RAW_TEXT) {
    append_text(text, own[0] != '\0' ? own + 1 : own);
  } else {
    mpm_ExpandDirectives(flags, &own, args);
    append_text(text, own);
  }
  std::free(own);
}

// Reads the option list (with MPM_OPTIONS) into `opt`; the message's arguments are then what
// MPM_OPT_ARGS names, or what follows the list.
va_list *arguments(uint32_t flags, va_list *ap, Options *opt) {
  if (!(flags & MPM_OPTIONS)) return ap;
  read_options(ap, opt);
  return opt->args != nullptr ? opt->args : ap;
}

enum class Delivery { kPending, kReport };

// The one path of every issued and reported message: the option list, the counters and limits,
// the text (header, option text, body), then the pending list (issued) or the line writer
// (reported), the handlers, and for a report the pending list's flush or discard.
mpm_Status deliver(Delivery delivery, uint32_t flags, mpm_Status code, mpm_Status severity,
                   const char *user_text, va_list *ap) {
  flags |= mpm_global_flags;
  Options opt;
  va_list *args = arguments(flags, ap, &opt);
  if (!g_started) {
    // The message system is stopped: nothing to count or keep the message in.
    std::free(opt.text);
    return code;
  }
  if (delivery == Delivery::kPending && (flags & MPM_IMMEDIATE)) {
    delivery = Delivery::kReport;
    flags |= MPM_KEEP_PENDING;
  }
  const bool report = delivery == Delivery::kReport;
  mpm_last_status = code;
  mpm_last_severity = severity;
  const bool counted = report || !(flags & MPM_NO_COUNT);
  if (counted && count_message(code, severity)) {
    std::free(opt.text);
    mpm_CallHandler(0, TMX_EXC_MAXERROR, code);
  } else {
    char *text = nullptr;
    if (!(flags & MPM_NO_HEADER)) append_header(&text, code, severity);
    if (opt.text != nullptr) append_text(&text, opt.text);
    std::free(opt.text);
    if (report) {
      if (!(flags & MPM_HEADER_ONLY)) append_body(flags, code, user_text, &text, args);
      if (text != nullptr) mpm_WriteText(flags, opt.stream != nullptr ? opt.stream : stderr, text);
    } else {
      mpm_AppendMessageV(flags, code, &text, args);
      mpm_PendingMessage pending{severity, code, text, counted ? 1u : 0u, 0};
      // An insertion that fails issues the list's own message; the text is then ours to free.
      if (mpm_pending_list == nullptr ||
          olm_AddObject(0, mpm_pending_list, OLM_HEAD, &pending) == nullptr)
        std::free(text);
    }
  }
  call_handlers(code, severity);
  if (report && !(flags & MPM_KEEP_PENDING)) {
    if (flags & MPM_DISCARD_PENDING)
      mpm_DiscardPending(flags);
    else
      mpm_FlushPending(flags);
  }
  return code;
}

// Takes the head (newest) pending message out of the list.
bool take_head(mpm_PendingMessage *out) {
  if (mpm_pending_list == nullptr || mpm_pending_list->count == 0) return false;
  auto *head = static_cast<mpm_PendingMessage *>(olm_GetObject(0, mpm_pending_list, OLM_HEAD));
  if (head == nullptr) return false;
  *out = *head;
  olm_RemoveObject(0, mpm_pending_list, OLM_HEAD);
  return true;
}

}  // namespace

extern "C" {

mpm_Status mpm_IssueMessage(uint32_t flags, mpm_Status code, mpm_Status severity, ...) {
  va_list ap;
  va_start(ap, severity);
  mpm_Status result = deliver(Delivery::kPending, flags, code, severity, nullptr, &ap);
  va_end(ap);
  return result;
}

mpm_Status mpm_ReportMessage(uint32_t flags, mpm_Status code, mpm_Status severity, ...) {
  va_list ap;
  va_start(ap, severity);
  mpm_Status result = deliver(Delivery::kReport, flags, code, severity, nullptr, &ap);
  va_end(ap);
  return result;
}

mpm_Status mpm_IssueUserMessage(uint32_t flags, const char *text, mpm_Status severity, ...) {
  va_list ap;
  va_start(ap, severity);
  deliver(Delivery::kReport, flags, MPM_USER_DEFINED, severity, text != nullptr ? text : " ", &ap);
  va_end(ap);
  return MPM_USER_DEFINED;
}

mpm_Status mpm_PrintMessage(uint32_t flags, mpm_Status code, ...) {
  va_list ap;
  va_start(ap, code);
  flags |= mpm_global_flags;
  Options opt;
  va_list *args = arguments(flags, &ap, &opt);
  char *text = opt.text;
  mpm_AppendMessageV(flags, code, &text, args);
  va_end(ap);
  if (text != nullptr) mpm_WriteText(flags, opt.stream != nullptr ? opt.stream : stdout, text);
  return 0;
}

mpm_Status mpm_DiscardPending(uint32_t) {
  mpm_PendingMessage message;
  while (take_head(&message)) {
    if (message.counted) uncount_message(message.code, message.severity);
    std::free(message.text);
  }
  mpm_last_status = 0;
  mpm_last_severity = 0;
  return 0;
}

mpm_Status mpm_FlushPending(uint32_t flags) {
  flags |= mpm_global_flags;
  int32_t total = mpm_pending_list != nullptr ? mpm_pending_list->count : 0;
  int32_t left = total;
  mpm_PendingMessage message;
  while (left > 0 && take_head(&message)) {
    bool write = (flags & MPM_SHOW_ALL) || ((flags & MPM_SHOW_OLDEST) && left == 1) ||
                 ((flags & MPM_SHOW_NEWEST) && left == total);
    --left;
    if (write && message.text != nullptr)
      mpm_WriteText(0, stderr, message.text);
    else
      std::free(message.text);
  }
  mpm_last_status = 0;
  mpm_last_severity = 0;
  return 0;
}

int32_t mpm_CheckLimits(mpm_Status code, mpm_Status severity) {
  if (mpm_count_tree != nullptr) {
    mpm_CountRecord key{static_cast<int32_t>(code), 0, 0, 0};
    auto *record = static_cast<mpm_CountRecord *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_count_tree, &key));
    if (record != nullptr && record->limit != -1 && record->issued > record->limit) return 0;
  }
  int index;
  if (severity_index(severity, &index) && mpm_severity_limits[index] != -1 &&
      mpm_severity_counts[index] > mpm_severity_limits[index])
    return 0;
  return 1;
}

mpm_HandlerRecord *mpm_SetHandler(uint32_t key, mpm_Handler handler) {
  if (mpm_handler_tree == nullptr) return nullptr;
  mpm_HandlerRecord record{key, 0, handler};
  if (handler == nullptr) {
    if (otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_handler_tree, &record) != nullptr)
      otm_RemoveObject(0, mpm_handler_tree, &record);
    return nullptr;
  }
  auto *stored = static_cast<mpm_HandlerRecord *>(otm_AddObject(0, mpm_handler_tree, &record));
  if (stored != nullptr) stored->handler = handler;
  return stored;
}

mpm_Status mpm_CallHandler(uint32_t, uint32_t key, mpm_Status code) {
  if (mpm_handler_tree == nullptr) return 0;
  mpm_HandlerRecord probe{key, 0, nullptr};
  auto *record = static_cast<mpm_HandlerRecord *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, mpm_handler_tree, &probe));
  if (record != nullptr && record->handler != nullptr) record->handler(key, code);
  return 0;
}

}  // extern "C"
