// `tesmar status CODE|NAME`: decodes a status code either way.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

// Reads "0x30006" or "196614"; false when the text is not a whole 32-bit number.
bool parse_code(const char *text, mpm_Status *code) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char *end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || value > 0xFFFFFFFFull) return false;
  *code = static_cast<mpm_Status>(value);
  return true;
}

// The stored text of a code without its marker and trailing newlines.
std::string plain_text(mpm_Status code) {
  char *text = nullptr;
  mpm_AppendMessage(MPM_RAW_TEXT, code, &text);
  std::string s = text != nullptr ? text : "";
  std::free(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

int describe(mpm_Status code) {
  int32_t module, number;
  if (code != 0 && mpm_DecodeStatus(code, &module, &number) != 0) {
    std::printf("0x%X UNKNOWN: not a message code of any module\n", code);
    return 1;
  }
  std::printf("%s = 0x%X", mpm_GetMessageName(code), code);
  if (code == 0) {
    std::printf(": success\n");
    return 0;
  }
  std::printf(": %s\n", plain_text(code).c_str());
  return 0;
}

int run(int argc, char **argv) {
  const ugn_Option options[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
  Args args;
  if (const int parsed = parse_args(options, "CODE|NAME", argc, argv, &args); parsed != 0) return parsed;
  if (args.operands.size() != 1) return usage_error("expects one CODE or NAME");
  const char *what = args.operands[0];
  mpm_Status code = 0;
  if (parse_code(what, &code)) return describe(code);
  if (std::strcmp(what, "NOERR") == 0) return describe(0);
  mpm_Status status = tmx_GetMessageCode(what, &code);
  if (status != 0) {
    mpm_DiscardPending(0);
    std::printf("%s UNKNOWN: no message of that name\n", escaped(what).c_str());
    return 1;
  }
  return describe(code);
}

const Registrar registrar{{"status", "decode a status code, or find the code of a name",
                           "usage: tesmar status CODE|NAME\n\n"
                           "CODE is a number (0x30006 or 196614); NAME a symbolic name\n"
                           "(OTM_NOTFOUND). Prints the name, the code and the message text:\n\n"
                           "  $ tesmar status 0x30006\n"
                           "  OTM_NOTFOUND = 0x30006: Object not found\n\n"
                           "Exit status 1 when the code or name is unknown.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
