// `tesmar version`: the library's identification.
#include <cstdio>

#include "command.h"

namespace tesmar::cli {
namespace {

int run(int argc, char **) {
  if (argc > 1) return usage_error("version", "takes no arguments");
  std::printf("tesmar %s\n", TESMAR_TOOL_VERSION);
  return 0;
}

const Registrar registrar{{"version", "print the library's version",
                           "usage: tesmar version\n\n"
                           "Prints the version of the Tesmar library.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
