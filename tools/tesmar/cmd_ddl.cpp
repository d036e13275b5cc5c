// `tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf`: the schema compiler (docs/ddl.md).
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "ddl.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

int compile(int argc, char **argv) {
  const char *input = nullptr, *output = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      output = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return usage_error("ddl", (std::string("unknown option ") + argv[i]).c_str());
    } else if (input == nullptr) {
      input = argv[i];
    } else {
      return usage_error("ddl", "compile takes one schema file");
    }
  }
  if (input == nullptr || output == nullptr)
    return usage_error("ddl", "usage: tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf");
  ddl::Image image;
  ddl::Diagnostic error;
  if (!ddl::compile_file(input, &image, &error)) {
    std::fprintf(stderr, "%s\n", error.text().c_str());
    return 1;
  }
  std::string reason;
  if (!ddl::write_file(image, output, &reason)) {
    std::fprintf(stderr, "tesmar ddl: %s\n", reason.c_str());
    return 1;
  }
  return 0;
}

int run(int argc, char **argv) {
  if (argc < 2) return usage_error("ddl", "expects 'compile'");
  if (std::strcmp(argv[1], "compile") == 0) return compile(argc, argv);
  return usage_error("ddl", (std::string("unknown subcommand ") + argv[1]).c_str());
}

const Registrar registrar{
    {"ddl", "compile a schema into a binary schema file",
     "usage: tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf\n\n"
     "compile  reads a schema written in the schema language (docs/ddl.md) and writes the\n"
     "         binary schema file; errors are printed as FILE:LINE:COLUMN: error: TEXT.\n"
     "\n  $ tesmar ddl compile samples/geometry.ddl -o geometry.ddf\n\n"
     "Exit status 1 when the schema does not compile or the file cannot be written.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
