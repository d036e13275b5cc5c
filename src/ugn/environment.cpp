// The environment override table, and environment lookups as the library sees them.
//
// An ordered tree (created on first use, freed by ugn_Terminate) of records {name, alias, value}
// keyed by name. A name can carry an alias (another name, looked up first) and a value of its own
// (an owned copy that overrides the process environment). tmx_GetEnv resolves every name here.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tesmar/otm.h"
#include "ugn/ugn_internal.h"

namespace tesmar::ugn {
namespace {

constexpr std::size_t kNameSize = 64;  // 63 characters and the terminator

struct Record {
  char name[kNameSize];
  char alias[kNameSize];  // empty: none
  char *value;            // owned; null: none set
};

otm_Tree *g_table = nullptr;

int compare_records(const void *a, const void *b) {
  return std::strcmp(static_cast<const Record *>(a)->name, static_cast<const Record *>(b)->name);
}

bool too_long(const char *name) { return std::strlen(name) >= kNameSize; }

Record key_of(const char *name) {
  Record key{};
  std::strncpy(key.name, name, kNameSize - 1);
  return key;
}

Record *find(const char *name) {
  if (g_table == nullptr || name == nullptr || too_long(name)) return nullptr;
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

}  // namespace

const char *resolve_environment(const char *name, EnvironmentFn environment) {
  if (const Record *record = find(name); record != nullptr) {
    if (record->alias[0] != '\0') {
      const Record *alias = find(record->alias);
      const char *value = alias != nullptr && alias->value != nullptr ? alias->value : environment(record->alias);
      if (value != nullptr) return value;
    }
    if (record->value != nullptr) return record->value;
  }
  return environment(name);
}

void free_overrides() {
  if (g_table == nullptr) return;
  while (auto *record = static_cast<Record *>(otm_CycleTree(0, g_table))) {
    std::free(record->value);
    record->value = nullptr;
  }
  otm_DeleteTree(0, g_table);
  g_table = nullptr;
}

}  // namespace tesmar::ugn

using namespace tesmar::ugn;

extern "C" {

mpm_Status ugn_PutEnv(uint32_t, const char *name, const char *value) {
  if (name == nullptr || name[0] == '\0') return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  if (too_long(name)) return mpm_IssueMessage(0, UGN_ENV_VAR_TOO_LONG, MPM_ERROR);
  char *copy = nullptr;
  if (value != nullptr) {
    std::size_t length = std::strlen(value);
    copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr) return mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
    std::memcpy(copy, value, length + 1);
  }
  Record *record = find_or_add(name);
  if (record == nullptr) {
    std::free(copy);
    return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  }
  std::free(record->value);
  record->value = copy;
  return 0;
}

mpm_Status ugn_SetEnvAlias(uint32_t, const char *name, const char *alias) {
  if (name == nullptr || name[0] == '\0') return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  if (too_long(name) || (alias != nullptr && too_long(alias)))
    return mpm_IssueMessage(0, UGN_ENV_VAR_TOO_LONG, MPM_ERROR);
  if (alias == nullptr) {
    if (Record *record = find(name); record != nullptr) {
      std::free(record->value);
      Record key = key_of(name);
      otm_RemoveObject(0, g_table, &key);
    }
    return 0;
  }
  Record *record = find_or_add(name);
  if (record == nullptr) return mpm_IssueMessage(0, UGN_ENVALIAS_ERR, MPM_ERROR);
  std::memset(record->alias, 0, kNameSize);
  std::memcpy(record->alias, alias, std::strlen(alias));
  return 0;
}

}  // extern "C"
