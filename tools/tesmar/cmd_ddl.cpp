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
  const char *output = nullptr;
  int32_t force = 0;
  const ugn_Option options[] = {
      {"o", "s+", "SCHEMA.ddf", &output, "the binary schema file to write (- for standard output)"},
      {"f", "f", nullptr, &force, "replace SCHEMA.ddf if it exists"},
      {"-force", "f", nullptr, &force, "the same as -f"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "SCHEMA.ddl", argc - 1, argv + 1, &args); parsed != 0)
    return parsed;
  if (args.operands.size() != 1) return usage_error("compile takes one schema file");
  const char *input = input_file(args.operands[0]);
  if (input == nullptr) return 1;
  Output out;
  if (!out.prepare(output, {input}, force != 0)) return 1;
  ddl::Image image;
  ddl::Diagnostic error;
  if (!ddl::compile_file(input, &image, &error)) {
    std::string text = error.text();
    if (input != args.operands[0] && text.rfind(input, 0) == 0) text = "-" + text.substr(std::strlen(input));
    std::fprintf(stderr, "%s\n", escaped(text).c_str());
    return 1;
  }
  std::string reason;
  if (!ddl::write_file(image, out.path(), &reason)) {
    diag("%s", out.named(reason).c_str());
    return 1;
  }
  return out.commit() ? 0 : 1;
}

int show(int argc, char **argv) {
  const char *entity = nullptr;
  const ugn_Option options[] = {
      {"-entity", "s", "NAME", &entity, "print the field descriptors of one entity type"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "SCHEMA.ddf", argc - 1, argv + 1, &args); parsed != 0)
    return parsed;
  if (args.operands.size() != 1) return usage_error("show takes one binary schema file");
  const char *input = input_file(args.operands[0]);
  if (input == nullptr) return 1;
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, input, &schema) != 0) {
    show_pending();
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
      diag("%s has no entity type '%s'", args.operands[0], entity);
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
  if (argc < 2) return usage_error("expects 'compile' or 'show'");
  if (std::strcmp(argv[1], "compile") == 0) return compile(argc, argv);
  if (std::strcmp(argv[1], "show") == 0) return show(argc, argv);
  return usage_error((std::string("unknown subcommand ") + argv[1]).c_str());
}

const Registrar registrar{
    {"ddl", "compile a schema into a binary schema file, or list one",
     "usage: tesmar ddl compile SCHEMA.ddl -o SCHEMA.ddf [-f]\n"
     "       tesmar ddl show SCHEMA.ddf [--entity NAME]\n\n"
     "compile  reads a schema written in the schema language (docs/ddl.md) and writes the\n"
     "         binary schema file; errors are printed as FILE:LINE:COLUMN: error: TEXT. An\n"
     "         existing SCHEMA.ddf is replaced only with -f (--force).\n"
     "show     reads a binary schema file with the library's reader and lists its entity types\n"
     "         and their fields: offsets, kinds, dimensions, flags, defaults, descriptions.\n"
     "         --entity NAME (any case) prints that type's field descriptors instead.\n"
     "Either file may be - for standard input (or output).\n"
     "\n  $ tesmar ddl compile samples/geometry.ddl -o geometry.ddf\n"
     "  $ tesmar ddl show geometry.ddf --entity line\n\n"
     "Exit status 1 when the schema does not compile, a file cannot be read or written, or the\n"
     "entity type is unknown.\n",
     run}};

}  // namespace
}  // namespace tesmar::cli
