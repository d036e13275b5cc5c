// The environment as the library sees it: the override table and tmx_GetEnv, and the process id.
//
// The override table is an ordered tree (created on first use, freed at shut-down) of records
// {name, alias, value} keyed by name. A name can carry an alias (another name, looked up first)
// and a value of its own (an owned copy that overrides the process environment). The table lives
// here, below everything that asks for a name's value (temporary names, the paged file); UGN's
// ugn_PutEnv and ugn_SetEnvAlias check their arguments and fill it.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tesmar/otm.h"
#include "tesmar/ugn.h"
#include "tmx/tmx_internal.h"

namespace tesmar::tmx {
namespace {

struct Record {
  char name[kEnvNameSize];
  char alias[kEnvNameSize];  // empty: none
  char *value;               // owned; null: none set
};

otm_Tree *g_table = nullptr;
char *g_value = nullptr;  // the last value tmx_GetEnv handed out; valid until the next lookup

int compare_records(const void *a, const void *b) {
  return std::strcmp(static_cast<const Record *>(a)->name, static_cast<const Record *>(b)->name);
}

Record key_of(const char *name) {
  Record key{};
  std::strncpy(key.name, name, kEnvNameSize - 1);
  return key;
}

Record *find(const char *name) {
  if (g_table == nullptr || name == nullptr || !env_name_fits(name)) return nullptr;
  Record key = key_of(name);
  return static_cast<Record *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, g_table, &key));
}

// The record of a name, created (without alias or value) when missing; null after a failure, which
// has been issued by the tree.
Record *find_or_add(const char *name) {
  if (g_table == nullptr) {
    g_table = otm_CreateTree(0, sizeof(Record), compare_records, 0);
    if (g_table == nullptr) return nullptr;
  }
  Record key = key_of(name);
  return static_cast<Record *>(otm_AddObject(0, g_table, &key));
}

const char *resolve(const char *name) {
  if (const Record *record = find(name); record != nullptr) {
    if (record->alias[0] != '\0') {
      const Record *alias = find(record->alias);
      const char *value = alias != nullptr && alias->value != nullptr
                              ? alias->value
                              : platform::get_environment(record->alias);
      if (value != nullptr) return value;
    }
    if (record->value != nullptr) return record->value;
  }
  return platform::get_environment(name);
}

}  // namespace

bool env_name_fits(const char *name) { return std::strlen(name) < kEnvNameSize; }

bool set_env_value(const char *name, char *value) {
  Record *record = find_or_add(name);
  if (record == nullptr) return false;
  std::free(record->value);
  record->value = value;
  return true;
}

bool set_env_alias(const char *name, const char *alias) {
  if (alias == nullptr) {
    if (Record *record = find(name); record != nullptr) {
      std::free(record->value);
      Record key = key_of(name);
      otm_RemoveObject(0, g_table, &key);
    }
    return true;
  }
  Record *record = find_or_add(name);
  if (record == nullptr) return false;
  std::memset(record->alias, 0, kEnvNameSize);
  std::memcpy(record->alias, alias, std::strlen(alias));
  return true;
}

void free_env_overrides() {
  if (g_table != nullptr) {
    while (auto *record = static_cast<Record *>(otm_CycleTree(0, g_table))) {
      std::free(record->value);
      record->value = nullptr;
    }
    otm_DeleteTree(0, g_table);
    g_table = nullptr;
  }
}

}  // namespace tesmar::tmx

using namespace tesmar::tmx;

extern "C" {

mpm_Status tmx_GetEnv(uint32_t, const char *name, const char **value) {
  if (value == nullptr) return 0;
  *value = nullptr;
  std::free(g_value);
  g_value = nullptr;
  if (name == nullptr || name[0] == '\0') return 0;
  const char *found = resolve(name);
  if (found == nullptr) return 0;
  std::size_t length = std::strlen(found);
  g_value = static_cast<char *>(std::malloc(length + 1));
  if (g_value == nullptr) return mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
  std::memcpy(g_value, found, length + 1);
  *value = g_value;
  return 0;
}

int32_t tmx_GetPid(void) { return tesmar::platform::process_id(); }

}  // extern "C"
