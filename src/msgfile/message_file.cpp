// The message-text file, through which a user replaces the built-in texts (with translations, say).
//
// Layout (a paged file of 2048-byte pages, without block headers, all integers little-endian):
//   offset 0: the module table, 256 unsigned 32-bit offsets indexed by module id, 0xFFFFFFFF for a
//             module without texts;
//   at a module's offset: one 8-byte entry per text index, {unsigned 32-bit offset of the text,
//             signed 32-bit length}; a length of 0 or less keeps the built-in text;
//   at a text's offset: its bytes, marker included, without a terminator.
//
// The file comes from outside. The table is checked when the file is opened (every offset lies
// past the table and inside the file); an entry and its text must lie inside the file, or the
// built-in text is used. A replacement must take the arguments of the built-in text (see
// signatures.cpp), or the built-in text is used.
//
// The message system below knows nothing of this file: while one is open, it is installed as the
// message system's text source (mpm::g_text_source), and the message system's shut-down closes it
// through that source.
//
// Reading a text may fail and issue a DOF message, whose own text is looked up while the read is
// under way: lookups made meanwhile use the built-in texts, so the file is never re-entered. After
// a failed read the file is no longer consulted until it is opened again.
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"
#include "msgfile/msgfile_internal.h"
#include "platform/platform.h"
#include "tesmar/dof.h"

extern "C" {
DofFile *mpm_message_file = nullptr;
uint32_t mpm_message_modules[256];
}

namespace tesmar::msgfile {
namespace {

using mpm::memory_failure;

constexpr int32_t kBuffers = 32;
constexpr int32_t kPageSize = 2048;
constexpr uint32_t kTableSize = 1024;
constexpr uint32_t kNoTexts = 0xFFFFFFFFu;
constexpr int32_t kMaxText = 1 << 20;  // longer replacement texts are not used

bool g_update = false;   // opened with MPM_UPDATE_FILE: the table goes back at close
bool g_reading = false;  // a read from the file is under way
bool g_broken = false;   // a read failed: the file is not consulted any more

uint32_t get_u32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_u32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

mpm_Status read_table(DofFile *file, uint32_t *table) {
  if (file->end < kTableSize) return mpm_IssueMessage(0, DOF_BAD_OFFSET, MPM_ERROR, file->name);
  uint8_t bytes[kTableSize];
  mpm_Status status = dof_ReadWrite(DOF_READ, file, kTableSize, 0, bytes);
  if (status != 0) return status;
  for (int i = 0; i < 256; ++i) {
    table[i] = get_u32(bytes + 4 * i);
    if (table[i] != kNoTexts && (table[i] < kTableSize || table[i] >= file->end))
      return mpm_IssueMessage(0, DOF_BAD_OFFSET, MPM_ERROR, file->name);
  }
  return 0;
}

mpm_Status write_table(DofFile *file, const uint32_t *table) {
  uint8_t bytes[kTableSize];
  for (int i = 0; i < 256; ++i) put_u32(bytes + 4 * i, table[i]);
  return dof_ReadWrite(DOF_WRITE, file, kTableSize, 0, bytes);
}

// Reads bytes of the open file with lookups of message texts kept away from it meanwhile.
bool read_guarded(int64_t offset, uint32_t count, void *buffer) {
  g_reading = true;
  mpm_Status status = dof_ReadWrite(DOF_READ, mpm_message_file, count, offset, buffer);
  g_reading = false;
  if (status != 0) g_broken = true;
  return status == 0;
}

bool text_from_message_file(int32_t module_id, int32_t text_index, char **out) {
  DofFile *file = mpm_message_file;
  if (file == nullptr || g_reading || g_broken || module_id < 0 || module_id > 255 ||
      text_index < 0)
    return false;
  const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module_id);
  if (desc == nullptr || desc->texts == nullptr || text_index >= desc->count ||
      desc->texts[text_index] == nullptr)
    return false;
  uint32_t base = mpm_message_modules[module_id];
  if (base == kNoTexts) return false;
  int64_t entry_offset = int64_t{base} + 8 * int64_t{text_index};
  if (entry_offset > file->end - 8) return false;
  uint8_t entry[8];
  if (!read_guarded(entry_offset, 8, entry)) return false;
  int64_t offset = get_u32(entry);
  auto length = static_cast<int32_t>(get_u32(entry + 4));
  if (length < 1 || length > kMaxText || offset > file->end - length) return false;
  char *text = static_cast<char *>(std::malloc(static_cast<std::size_t>(length) + 1));
  if (text == nullptr) {
    memory_failure();
    return false;
  }
  if (!read_guarded(offset, static_cast<uint32_t>(length), text)) {
    std::free(text);
    return false;
  }
  text[length] = '\0';
  if (!same_arguments(desc->texts[text_index], text)) {
    std::free(text);
    return false;
  }
  *out = text;
  return true;
}

void close_message_file() { mpm_CloseMessageFile(0); }

}  // namespace
}  // namespace tesmar::msgfile

using namespace tesmar::msgfile;
using tesmar::mpm::g_text_source;

extern "C" {

mpm_Status mpm_OpenMessageFile(uint32_t flags, const char *file_name) {
  if (mpm_message_file != nullptr) mpm_CloseMessageFile(0);
  uint32_t table[256];
  DofFile *file = nullptr;
  bool update = (flags & MPM_UPDATE_FILE) != 0;
  mpm_Status status;
  if (!update || tesmar::platform::file_exists(file_name)) {
    status = dof_OpenFile(update ? DOF_OPEN_EXISTING : DOF_READ_ONLY, file_name, kBuffers,
                          kPageSize, &file);
    if (status == 0) status = read_table(file, table);
  } else {
    // A new file, without block headers so that the table's block lands at offset 0.
    for (uint32_t &offset : table) offset = kNoTexts;
    status = dof_OpenFile(0, file_name, kBuffers, kPageSize, &file);
    int64_t address = -1;
    if (status == 0) status = dof_AllocateBlock(file, kTableSize, &address);
    if (status == 0) status = write_table(file, table);
  }
  if (status != 0) {
    if (file != nullptr && dof_CloseFile(0, file) == DOF_CLOSE_ERR) dof_CloseFile(0, file);
    return mpm_IssueMessage(0, MPM_DOFERROR, MPM_ERROR, static_cast<int>(status));
  }
  std::memcpy(mpm_message_modules, table, sizeof table);
  mpm_message_file = file;
  g_text_source = {text_from_message_file, close_message_file};
  g_update = update;
  g_reading = false;
  g_broken = false;
  return 0;
}

mpm_Status mpm_CloseMessageFile(uint32_t) {
  DofFile *file = mpm_message_file;
  if (file == nullptr) return 0;
  // Detached first: messages issued while closing take the built-in texts.
  mpm_message_file = nullptr;
  g_text_source = {};
  mpm_Status status = 0;
  if (g_update) status = write_table(file, mpm_message_modules);
  mpm_Status closed = dof_CloseFile(0, file);
  if (closed == DOF_CLOSE_ERR) dof_CloseFile(0, file);  // releases the handle
  if (status == 0) status = closed;
  g_update = false;
  g_broken = false;
  for (uint32_t &offset : mpm_message_modules) offset = kNoTexts;
  if (status != 0) return mpm_IssueMessage(0, MPM_DOFERROR, MPM_ERROR, static_cast<int>(status));
  return 0;
}

}  // extern "C"
