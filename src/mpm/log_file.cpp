// The message log file: every line the line writer outputs also goes to the log stream.
#include "mpm/mpm_internal.h"
#include "platform/platform.h"

namespace {
FILE *g_opened = nullptr;  // the log stream this module opened (a client may set its own)
}

extern "C" {

mpm_Status mpm_OpenLogFile(uint32_t, const char *file_name) {
  FILE *stream = file_name != nullptr && file_name[0] != '\0' ? tesmar::platform::open_stream(file_name, "wt") : nullptr;
  if (stream == nullptr)
    return mpm_IssueMessage(0, MPM_OPENERROR, MPM_ERROR, file_name != nullptr ? file_name : "");
  std::setvbuf(stream, nullptr, _IONBF, 0);
  if (g_opened != nullptr) {
    if (mpm_log_stream == g_opened) mpm_log_stream = nullptr;
    std::fclose(g_opened);
  }
  g_opened = stream;
  mpm_log_stream = stream;
  return 0;
}

mpm_Status mpm_CloseLogFile(uint32_t) {
  if (g_opened == nullptr) {
    return 0;
  }
  FILE *stream = g_opened;
  g_opened = nullptr;
  if (mpm_log_stream == stream) mpm_log_stream = nullptr;
  if (std::fclose(stream) != 0) return mpm_IssueMessage(0, MPM_CLOSEERROR, MPM_ERROR);
  return 0;
}

}  // extern "C"
