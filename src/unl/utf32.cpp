// unl_StrUTF32ToUTF8: code points to UTF-8.
#include <cstdlib>

#include "unl/unl_internal.h"

namespace {

bool encodable(uint32_t code) { return code < 0x110000 && (code < 0xD800 || code > 0xDFFF); }

std::size_t encoded_length(uint32_t code) {
  return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

char *put(char *o, uint32_t code) {
  if (code < 0x80) {
    *o++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *o++ = static_cast<char>(0xC0 | (code >> 6));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (code >> 12));
    *o++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (code >> 18));
    *o++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return o;
}

}  // namespace

extern "C" mpm_Status unl_StrUTF32ToUTF8(const uint32_t *in, char **out) {
  if (in == nullptr || out == nullptr) return UNL_CONVERSION_ERR;
  char *o = *out;
  char *allocated = nullptr;
  if (o == nullptr) {
    std::size_t length = 0;
    for (const uint32_t *p = in; *p != 0; ++p) {
      if (!encodable(*p)) return UNL_CONVERSION_ERR;
      length += encoded_length(*p);
    }
    allocated = static_cast<char *>(std::malloc(length + 1));
    if (allocated == nullptr) return UNL_MALLOC_ERR;
    o = allocated;
  }
  for (const uint32_t *p = in; *p != 0; ++p) {
    if (!encodable(*p)) {
      *o = '\0';  // the caller's buffer stays a string
      return UNL_CONVERSION_ERR;
    }
    o = put(o, *p);
  }
  *o = '\0';
  if (allocated != nullptr) *out = allocated;
  return 0;
}
