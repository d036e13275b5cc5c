// Growable byte strings.
//
// Invariants: length <= capacity; data holds capacity bytes (null only when capacity is 0, which
// happens only after dst_Free or a failed initialisation); a capacity set by this module is a power
// of two. reserve() is the only step that allocates, and it either completes or leaves the header
// as it was, so every failure leaves the string unchanged.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tesmar/dst.h"

namespace tesmar::dst {
namespace {

constexpr uint64_t kMaxCapacity = uint64_t{1} << 62;

// Makes room for `needed` bytes with a capacity of the smallest power of two that holds them.
// Bytes inside the buffer that the caller still needs are found again through *inside.
bool reserve(DstString *string, uint64_t needed, const char **inside = nullptr) {
  if (needed <= string->capacity) return true;
  if (needed > kMaxCapacity) return false;
  uint64_t capacity = std::bit_ceil(needed);
  std::size_t offset = 0;
  bool moved = false;
  if (inside != nullptr && *inside != nullptr && string->data != nullptr) {
    auto begin = reinterpret_cast<std::uintptr_t>(string->data);
    auto at = reinterpret_cast<std::uintptr_t>(*inside);
    if (at >= begin && at - begin < string->capacity) {
      offset = at - begin;
      moved = true;
    }
  }
  auto *data = static_cast<char *>(std::realloc(string->data, capacity));
  if (data == nullptr) return false;
  string->data = data;
  string->capacity = capacity;
  if (moved) *inside = data + offset;
  return true;
}

mpm_Status append(DstString *string, const char *bytes, uint64_t n) {
  if (n > kMaxCapacity - string->length) return DST_NOMEMORY;
  if (!reserve(string, string->length + n, &bytes)) return DST_NOMEMORY;
  std::memmove(string->data + string->length, bytes, n);
  string->length += n;
  return 0;
}

}  // namespace
}  // namespace tesmar::dst

using namespace tesmar::dst;

extern "C" {

mpm_Status dst_InitializeString(DstString *string, uint64_t initial_capacity) {
  if (string == nullptr) return DST_NOMEMORY;
  *string = DstString{0, nullptr, 0};
  if (initial_capacity > kMaxCapacity) return DST_NOMEMORY;
  uint64_t capacity = initial_capacity == 0 ? 1 : std::bit_ceil(initial_capacity);
  string->data = static_cast<char *>(std::malloc(capacity));
  if (string->data == nullptr) return DST_NOMEMORY;
  string->capacity = capacity;
  return 0;
}

mpm_Status dst_AppendChar(DstString *string, char byte) {
  if (string == nullptr) return DST_NOMEMORY;
  if (string->length == string->capacity && !reserve(string, string->capacity == 0 ? 1 : string->capacity * 2))
    return DST_NOMEMORY;
  string->data[string->length++] = byte;
  return 0;
}

mpm_Status dst_AppendString(DstString *string, const char *text) {
  if (string == nullptr) return DST_NOMEMORY;
  if (text == nullptr || *text == '\0') return 0;
  return append(string, text, std::strlen(text));
}

mpm_Status dst_AppendSubstring(DstString *string, const char *bytes, int64_t n) {
  if (string == nullptr) return DST_NOMEMORY;
  if (bytes == nullptr || n < 1) return 0;
  return append(string, bytes, static_cast<uint64_t>(n));
}

mpm_Status dst_PrependChar(DstString *string, char byte) {
  if (string == nullptr) return DST_NOMEMORY;
  if (string->length == string->capacity) {
    // A new buffer receives the byte and then the old contents: one copy instead of two.
    uint64_t capacity = string->capacity == 0 ? 1 : string->capacity * 2;
    if (capacity > kMaxCapacity) return DST_NOMEMORY;
    auto *data = static_cast<char *>(std::malloc(capacity));
    if (data == nullptr) return DST_NOMEMORY;
    data[0] = byte;
    if (string->length != 0) std::memcpy(data + 1, string->data, string->length);
    std::free(string->data);
    string->data = data;
    string->capacity = capacity;
  } else {
    std::memmove(string->data + 1, string->data, string->length);
    string->data[0] = byte;
  }
  ++string->length;
  return 0;
}

mpm_Status dst_CopyString(DstString *string, char **text) {
  if (text != nullptr) *text = nullptr;
  if (string == nullptr || text == nullptr || string->length >= SIZE_MAX) return DST_NOMEMORY;
  auto *copy = static_cast<char *>(std::malloc(string->length + 1));
  if (copy == nullptr) return DST_NOMEMORY;
  if (string->length != 0) std::memcpy(copy, string->data, string->length);
  copy[string->length] = '\0';
  *text = copy;
  return 0;
}

mpm_Status dst_Erase(DstString *string, uint64_t n) {
  if (string == nullptr) return 0;
  if (n >= string->length) {
    string->length = 0;
  } else {
    std::memmove(string->data, string->data + n, string->length - n);
    string->length -= n;
  }
  return 0;
}

mpm_Status dst_Empty(DstString *string) {
  if (string != nullptr) string->length = 0;
  return 0;
}

void dst_Free(DstString *string) {
  if (string == nullptr) return;
  std::free(string->data);
  *string = DstString{0, nullptr, 0};
}

mpm_Status dst_GetBuffer(DstString *string, char **buffer) {
  if (buffer != nullptr) *buffer = string != nullptr ? string->data : nullptr;
  return 0;
}

uint64_t dst_GetCapacity(const DstString *string) { return string != nullptr ? string->capacity : 0; }
uint64_t dst_GetLength(const DstString *string) { return string != nullptr ? string->length : 0; }

}  // extern "C"
