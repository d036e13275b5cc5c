// `tesmar messages [MODULE]`: lists the message tables of the started modules.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

const char *kind_name(uint32_t kind) {
  switch (kind) {
    case 2: return "memory";
    case 3: return "file";
    default: return "";
  }
}

void list_module(const mpm_ModuleDesc *desc) {
  std::printf("%s (module %u, %u messages)\n", desc->name, desc->module_id, desc->count);
  for (uint16_t row = 0; row < desc->count; ++row) {
    mpm_Status code = (static_cast<mpm_Status>(desc->module_id) << 16) | (row + 1u);
    std::string text = desc->texts[row] != nullptr && desc->texts[row][0] != '\0'
                           ? desc->texts[row] + 1 : "";
    for (std::size_t i; (i = text.find('\n')) != std::string::npos;) text.replace(i, 1, "\\n");
    std::printf("  0x%05X %-28s %-6s %s\n", code, desc->names[row].name,
                kind_name(desc->names[row].kind), text.c_str());
  }
}

int run(int argc, char **argv) {
  const ugn_Option options[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
  Args args;
  if (const int parsed = parse_args(options, "[MODULE]", argc, argv, &args); parsed != 0) return parsed;
  if (args.operands.size() > 1) return usage_error("expects at most one MODULE");
  const char *module = args.operands.empty() ? nullptr : args.operands[0];
  bool found = false;
  for (int32_t id = 0; id < 256; ++id) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(id);
    if (desc->count == 0) continue;
    if (module != nullptr && strcasecmp(module, desc->name) != 0) continue;
    list_module(desc);
    found = true;
  }
  if (!found) {
    diag("no module named '%s'", module != nullptr ? module : "");
    return 1;
  }
  return 0;
}

const Registrar registrar{{"messages", "list the message tables of the library's modules",
                           "usage: tesmar messages [MODULE]\n\n"
                           "Lists every message of every module (or of MODULE, such as OTM):\n"
                           "its code, symbolic name, kind (memory and file messages raise their\n"
                           "own exception keys) and text as stored (\\n marks a line end).\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
