// MPM's message table (module 1), its start-up and its shut-down. Rows 0 to 4 of the table are the
// severities; their texts are the headers.
#include <cstdio>

#include "mpm/message_table.h"
#include "mpm/mpm_internal.h"
#include "tesmar/tmx.h"

namespace tesmar::mpm {
namespace {
constexpr MessageRow kRows[] = {
    {"INFO", kOrdinary, " *** Information (%s) "},
    {"STATUS", kOrdinary, " *** Status (%s) "},
    {"WARNING", kOrdinary, " *** Warning (%s) "},
    {"ERROR", kOrdinary, " *** Error (%s) "},
    {"FATAL", kOrdinary, " *** Fatal (%s) "},
    {"_STARS", kOrdinary, " ***\n"},
    {"_DEBUG", kOrdinary, " @%s(%d) "},
    {"_INVALIDMESSAGE", kOrdinary, " ..... INVALID MESSAGE .....\n"},
    {"_UNKNOWN", kOrdinary, " UNKNOWN"},
    {"OPENERROR", kOrdinary, " Error opening file %s for write.\n"},
    {"CLOSEERROR", kOrdinary, " Error closing file.\n"},
    {"DOFERROR", kOrdinary, " DOF error %d\n"},
    {"_NOERR", kOrdinary, " NOERR"},
    {"USER_DEFINED", kOrdinary, " "},
};
}  // namespace
constinit const MessageTable kTable(1, "MPM", kRows);
}  // namespace tesmar::mpm

namespace tesmar::mpm {
const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::mpm

using namespace tesmar::mpm;

extern "C" {

mpm_Status mpm_Initialize(uint32_t) {
  if (mpm_output_function == nullptr) mpm_output_function = &std::fputs;
  mpm_RegisterModule(0, &module_desc());
  g_started = true;
  mpm_ResetCounts(0);
  std::fflush(stderr);
  std::fflush(stdout);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  mpm_handler_tree = recreate_tree(mpm_handler_tree, sizeof(mpm_HandlerRecord), mpm_CompareCodes);
  mpm_directive_table = recreate_tree(mpm_directive_table, sizeof(mpm_Directive), mpm_CompareNames);
  g_name_cache = recreate_tree(g_name_cache, sizeof(mpm_NameRecord), mpm_CompareCodes);
  for (int32_t &limit : mpm_severity_limits) limit = -1;
  return 0;
}

mpm_Status mpm_Terminate(uint32_t) {
  if (g_text_source.close != nullptr) g_text_source.close();  // first: closing may still issue messages
  if (mpm_pending_list != nullptr) {
    mpm_DiscardPending(0);
    olm_DeleteList(0, mpm_pending_list);
    mpm_pending_list = nullptr;
  }
  otm_Tree **trees[] = {&mpm_count_tree, &mpm_handler_tree, &mpm_directive_table, &g_name_cache};
  for (otm_Tree **tree : trees) {
    if (*tree != nullptr) otm_DeleteTree(0, *tree);
    *tree = nullptr;
  }
  mpm_CloseLogFile(0);
  mpm_last_status = 0;
  mpm_last_severity = 0;
  g_started = false;
  return 0;
}

}  // extern "C"
