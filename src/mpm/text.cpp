// Stored message texts, symbolic names of codes, and the formatted text of a message.
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"

using namespace tesmar::mpm;

namespace {

// The built-in text of a code, or null when the code names no message.
const char *built_in_text(int32_t module, int32_t text_index) {
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
  if (desc == nullptr || desc->texts == nullptr || text_index < 0 || text_index >= desc->count)
    return nullptr;
  return desc->texts[text_index];
}

// Formats a stored text (marker included) and appends it, or appends it raw.
void append_stored(uint32_t flags, char *stored, char **text, va_list *args) {
  if (stored == nullptr) return;
  if (flags & MPM_RAW_TEXT) {
    append_text(text, stored[0] != '\0' ? stored + 1 : stored);
    std::free(stored);
    return;
  }
  mpm_ExpandDirectives(flags, &stored, args);
  append_text(text, stored);
  std::free(stored);
}

// Formats a code's text without arguments into a static buffer ("NOERR", "UNKNOWN").
const char *fixed_name(mpm_Status code, char (&buffer)[68], const char *fallback) {
  char *text = nullptr;
  // Raw: the fixed rows take no arguments, so a replacement text's conversions are never expanded.
  mpm_AppendMessageV(MPM_RAW_TEXT, code, &text, nullptr);
  const char *source = text != nullptr && text[0] != '\0' ? text : fallback;
  std::snprintf(buffer, sizeof buffer, "%s", source);
  std::free(text);
  return buffer;
}

}  // namespace

extern "C" {

char *mpm_GetMessageText(uint32_t flags, int32_t module_id, int32_t msg_number) {
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module_id);
  if (desc == nullptr || desc->names == nullptr || msg_number < 1 || msg_number > desc->count)
    return nullptr;
  int64_t index = desc->names[msg_number - 1].text_index;
  if (index < 0) index = (flags & MPM_ALT_INDEX) ? -(index + 1) : -index;
  char *from_file = nullptr;
  if (g_text_source.text != nullptr &&
      g_text_source.text(module_id, static_cast<int32_t>(index), &from_file))
    return from_file;
  const char *text = built_in_text(module_id, static_cast<int32_t>(index));
  if (text == nullptr) return nullptr;
  return copy_text(text, std::strlen(text));
}

mpm_Status mpm_AppendMessageV(uint32_t flags, mpm_Status code, char **text, va_list *args) {
  if (text == nullptr) return 0;
  int32_t module, number;
  if (mpm_DecodeStatus(code, &module, &number) != 0) {
    int32_t mpm_module, invalid;
    mpm_DecodeStatus(MPM__INVALIDMESSAGE, &mpm_module, &invalid);
    // Raw: the caller's arguments belong to another text.
    append_stored(MPM_RAW_TEXT, mpm_GetMessageText(0, mpm_module, invalid), text, args);
    if (*text == nullptr) append_text(text, "", 0);
    return 0;
  }
  append_stored(flags, mpm_GetMessageText(flags, module, number), text, args);
  if (*text == nullptr) append_text(text, "", 0);
  return 0;
}

mpm_Status mpm_AppendMessage(uint32_t flags, mpm_Status code, char **text, ...) {
  va_list args;
  va_start(args, text);
  mpm_AppendMessageV(flags, code, text, &args);
  va_end(args);
  return 0;
}

const char *mpm_GetMessageName(mpm_Status code) {
  static char noerr[68];
  static char unknown[68];
  if (code == 0) return fixed_name(MPM__NOERR, noerr, "NOERR");
  int32_t module, number;
  if (mpm_DecodeStatus(code, &module, &number) != 0) {
    // Not cached: the code becomes valid once its module starts.
    return fixed_name(MPM__UNKNOWN, unknown, "UNKNOWN");
  }
  mpm_NameRecord key{};
  key.code = static_cast<int32_t>(code);
  if (g_name_cache != nullptr) {
    auto *hit = static_cast<mpm_NameRecord *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, g_name_cache, &key));
    if (hit != nullptr) return hit->name;
  }
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
  const char *row = desc->names[number - 1].name;
  std::snprintf(key.name, sizeof key.name, "%s_%s", desc->name != nullptr ? desc->name : "",
                row != nullptr ? row : "");
  if (g_name_cache != nullptr) {
    auto *stored = static_cast<mpm_NameRecord *>(otm_AddObject(0, g_name_cache, &key));
    if (stored != nullptr) return stored->name;
  }
  // Without a cache (stopped, or out of memory) the name lives in a buffer of its own until the
  // next such call.
  static char uncached[68];
  std::memcpy(uncached, key.name, sizeof uncached);
  return uncached;
}

mpm_Status mpm_SetLastStatus(uint32_t, mpm_Status code, mpm_Status severity) {
  mpm_last_status = code;
  mpm_last_severity = severity;
  return 0;
}

}  // extern "C"
