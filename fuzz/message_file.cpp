// Fuzz target: a message-text file of arbitrary bytes. The file is opened read-only and messages of
// several modules are formatted with the arguments their built-in texts take: a replacement that
// reads other arguments than the built-in text would read wild memory here.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

void append(mpm_Status code, ...) {
  char *text = nullptr;
  va_list ap;
  va_start(ap, code);
  mpm_AppendMessageV(0, code, &text, &ap);
  va_end(ap);
  std::free(text);
  text = nullptr;
  va_start(ap, code);
  mpm_AppendMessageV(MPM_DIRECTIVES, code, &text, &ap);
  va_end(ap);
  std::free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::fuzz::start_library();
  static const tesmar::fuzz::Scratch scratch("message-file");
  if (!scratch.write(data, size)) return 0;
  if (mpm_OpenMessageFile(0, scratch.path()) == 0) {
    for (int32_t module = 0; module < 256; ++module) {
      const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
      for (int32_t n = 1; n <= desc->count; ++n) std::free(mpm_GetMessageText(0, module, n));
    }
    append(OTM_NOTFOUND);
    append(OTM_INVALIDSIZE, 5);
    append(OTM_SIZENOTEQ, 1, 2);
    append(DOF_READ_ERR, "file");
    append(TMX_CLEANUP_ERR, 7L, "src/x", 3);
    append(MPM_ERROR, "NAME");
    mpm_IssueMessage(0, OLM_INVALIDPOSITION, MPM_WARNING, 4);
    mpm_CloseMessageFile(0);
  }
  mpm_DiscardPending(0);
  return 0;
}
