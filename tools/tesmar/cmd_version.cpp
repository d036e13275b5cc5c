// `tesmar version`: the library's identification.
#include <cstdio>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

int run(int argc, char **argv) {
  const ugn_Option options[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
  Args args;
  if (const int parsed = parse_args(options, nullptr, argc, argv, &args); parsed != 0) return parsed;
  if (!args.operands.empty()) return usage_error("takes no arguments");
  std::printf("%s\n", tmx_VersionText);
  const uint32_t number = tmx_GetVersionNumber();
  std::printf("version number: %u (%u.%u.%u)\n", number, number / 1000000, number / 1000 % 1000,
              number % 1000);
  std::printf("operating system: %s (%s)\n", tmx_OperatingSystemText, tmx_BuildPlatformText);
  std::printf("compiler: %s\n", tmx_CompilerText);
  std::printf("compile options: %s\n", tmx_CompileOptionsText);
  std::printf("tool: tesmar %s\n", TESMAR_TOOL_VERSION);
  return 0;
}

const Registrar registrar{{"version", "print the library's identification",
                           "usage: tesmar version\n\n"
                           "Prints the library's version text, the operating system, the compiler\n"
                           "and the options the library was compiled with.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
