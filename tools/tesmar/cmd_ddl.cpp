// `tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf`: the schema compiler, and `tesmar ddl show
// SCHEMA.ddf [--entity NAME]`: what a binary schema file holds, read with the library's reader
// (docs/ddl.md).
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "ddl.h"
#include "show.h"
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
  if (!check_input("ddl", input) || !check_output("ddl", input, output)) return 1;
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

int show(int argc, char **argv) {
  const char *input = nullptr, *entity = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--entity") == 0 && i + 1 < argc) {
      entity = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return usage_error("ddl", (std::string("unknown option ") + argv[i]).c_str());
    } else if (input == nullptr) {
      input = argv[i];
    } else {
      return usage_error("ddl", "show takes one binary schema file");
    }
  }
  if (input == nullptr)
    return usage_error("ddl", "usage: tesmar ddl show SCHEMA.ddf [--entity NAME]");
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, input, &schema) != 0) {
    mpm_FlushPending(MPM_SHOW_ALL);
    return 1;
  }
  int status = 0;
  if (entity == nullptr) {
    std::fputs(ddl::show_schema(*schema).c_str(), stdout);
  } else {
    ddf_Schema *previous = ddf_current;
    ddf_current = schema;
    ddf_last_tf = TF_NONE;
    uint32_t tf = ddf_GetTFByName(entity);
    if (tf == TF_NONE) {
      std::fprintf(stderr, "tesmar ddl: %s has no entity type '%s'\n", input, entity);
      status = 1;
    } else {
      ddf_DbgDumpEntityFields(0, tf);
    }
    ddf_current = previous;
    ddf_last_tf = TF_NONE;
  }
  ddf_FreeSchema(0, schema);
  std::fflush(stdout);
  return status;
}

int run(int argc, char **argv) {
  if (argc < 2) return usage_error("ddl", "expects 'compile' or 'show'");
  if (std::strcmp(argv[1], "compile") == 0) return compile(argc, argv);
  if (std::strcmp(argv[1], "show") == 0) return show(argc, argv);
  return usage_error("ddl", (std::string("unknown subcommand ") + argv[1]).c_str());
}

const Registrar registrar{
    {"ddl", "compile a schema into a binary schema file, or list one",
     "usage: tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf\n"
     "       tesmar ddl show SCHEMA.ddf [--entity NAME]\n\n"
     "compile  reads a schema written in the schema language (docs/ddl.md) and writes the\n"
     "         binary schema file; errors are printed as FILE:LINE:COLUMN: error: TEXT.\n"
     "show     reads a binary schema file with the library's reader and lists its entity types\n"
     "         and their fields: offsets, kinds, dimensions, flags, defaults, descriptions.\n"
     "         --entity NAME (any case) prints that type's field descriptors instead.\n"
     "\n  $ tesmar ddl compile samples/geometry.ddl -o geometry.ddf\n"
     "  $ tesmar ddl show geometry.ddf --entity line\n\n"
     "Exit status 1 when the schema does not compile, a file cannot be read or written, or the\n"
     "entity type is unknown.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
