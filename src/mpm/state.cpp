// Settings and state of the message system, and the small text helpers every part of it shares.
#include <cstdlib>
#include <cstring>

#include "mpm/mpm_internal.h"
#include "tesmar/tmx.h"

extern "C" {
uint32_t mpm_global_flags = 0;
int32_t mpm_default_limit = -1;
int32_t mpm_severity_limits[5] = {-1, -1, -1, -1, -1};
int32_t mpm_severity_counts[5] = {0, 0, 0, 0, 0};
mpm_Status mpm_last_status = 0;
mpm_Status mpm_last_severity = 0;
const char *mpm_source_file = nullptr;
int32_t mpm_source_line = 0;
FILE *mpm_log_stream = nullptr;
olm_List *mpm_pending_list = nullptr;
otm_Tree *mpm_count_tree = nullptr;
otm_Tree *mpm_handler_tree = nullptr;
otm_Tree *mpm_directive_table = nullptr;

mpm_OutputFunction mpm_output_function = nullptr;
int32_t mpm_line_width = 80;
int32_t mpm_left_indent = 0;
int32_t mpm_right_margin = 0;
int32_t mpm_justification = 1;
int32_t mpm_current_column = 0;
int32_t mpm_last_line = 0;
}

namespace tesmar::mpm {

char g_work[kWorkSize];
otm_Tree *g_name_cache = nullptr;
bool g_started = false;
TextSource g_text_source{};

void memory_failure() { mpm_CallHandler(0, TMX_EXC_MEMORY, 0); }

bool append_text(char **text, const char *bytes, std::size_t n) {
  std::size_t old = *text != nullptr ? std::strlen(*text) : 0;
  if (n > SIZE_MAX - old - 1) {
    memory_failure();
    return false;
  }
  char *grown = static_cast<char *>(std::realloc(*text, old + n + 1));
  if (grown == nullptr) {
    memory_failure();
    return false;
  }
  if (n != 0) std::memcpy(grown + old, bytes, n);
  grown[old + n] = '\0';
  *text = grown;
  return true;
}

bool append_text(char **text, const char *cstr) {
  return append_text(text, cstr, cstr != nullptr ? std::strlen(cstr) : 0);
}

char *copy_text(const char *bytes, std::size_t n) {
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy == nullptr) {
    memory_failure();
    return nullptr;
  }
  if (n != 0) std::memcpy(copy, bytes, n);
  copy[n] = '\0';
  return copy;
}

otm_Tree *recreate_tree(otm_Tree *tree, int32_t size, otm_CompareFn compare) {
  if (tree != nullptr) otm_DeleteTree(0, tree);
  tree = otm_CreateTree(0, size, compare, 0);
  if (tree == nullptr) memory_failure();
  return tree;
}

}  // namespace tesmar::mpm

using namespace tesmar::mpm;

extern "C" {

mpm_Status mpm_ResetCounts(uint32_t) {
  if (mpm_pending_list == nullptr) {
    mpm_pending_list = olm_CreateList(0, sizeof(mpm_PendingMessage), 10, 0);
    if (mpm_pending_list == nullptr) memory_failure();
  } else {
    mpm_DiscardPending(0);
    olm_PurgeList(0, mpm_pending_list);
  }
  mpm_count_tree = recreate_tree(mpm_count_tree, sizeof(mpm_CountRecord), mpm_CompareCodes);
  for (int32_t &count : mpm_severity_counts) count = 0;
  return 0;
}

int mpm_CompareCodes(const void *a, const void *b) {
  int32_t x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int mpm_CompareInts(const void *a, const void *b) { return mpm_CompareCodes(a, b); }

int mpm_CompareNames(const void *a, const void *b) {
  return std::strncmp(static_cast<const char *>(a), static_cast<const char *>(b), 32);
}

}  // extern "C"
