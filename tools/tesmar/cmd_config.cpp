// `tesmar config check FILE --schema SCHEMA.ddf [-- ARGS...]`: reads a configuration file against
// its schema, with the arguments after `--` as command-line overrides (`-KEY VALUE`, KEY a
// field's description), prints the errors with their lines and carets on standard error, and the
// configuration that results on standard output (docs/config.md).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

const char kUsage[] =
    "usage: tesmar config check FILE --schema SCHEMA.ddf [-- ARGS...]\n"
    "\n"
    "Reads the configuration FILE against SCHEMA.ddf (a compiled configuration schema, see\n"
    "`tesmar ddl compile`). The arguments after `--` override the file: `-KEY VALUE`, KEY the\n"
    "description of a field of the schema (or its name when it has none). Errors are printed on\n"
    "standard error with their line and a caret under the mistake, and the configuration that\n"
    "results on standard output, in the configuration language.\n"
    "\n"
    "FILE - reads standard input.\n"
    "Exit status: 0 when the file was read, 1 when it could not be, 2 for a usage error.\n";

int run(int argc, char **argv) {
  const char *schema_file = nullptr;
  const ugn_Option options[] = {
      {"-schema", "s+", "SCHEMA.ddf", &schema_file, "the compiled configuration schema"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  if (argc < 2 || std::strcmp(argv[1], "check") != 0) return usage_error("the only subcommand is `check`");
  Args args;
  if (const int parsed = parse_args(options, "FILE [-- ARGS...]", argc - 1, argv + 1, &args); parsed != 0)
    return parsed;
  if (args.before_dashdash != 1) return usage_error("expects one configuration FILE (and ARGS after --)");
  const char *file = input_file(args.operands[0]);
  if (file == nullptr) return 1;
  schema_file = input_file(schema_file);
  if (schema_file == nullptr) return 1;
  // The overrides, behind a stand-in for a program name.
  std::vector<char *> overrides{argv[0]};
  overrides.insert(overrides.end(), args.operands.begin() + 1, args.operands.end());
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, schema_file, &schema) != 0) {
    show_pending();
    return 1;
  }
  char *text = nullptr, *rest = nullptr;
  if (overrides.size() > 1 &&
      cfg_SplitCmdLine(0, static_cast<int32_t>(overrides.size()), overrides.data(), schema, &text, &rest) != 0) {
    show_pending();
    ddf_FreeSchema(0, schema);
    return 1;
  }
  if (rest != nullptr) diag("not configuration options: %s", rest);
  int32_t model = 0;
  const mpm_Status status = cfg_ParseFile(0, schema, file, text, &model);
  show_pending();
  int exit_status = status == 0 ? 0 : 1;
  if (model != 0) {
    // The configuration as the writer gives it, on standard output.
    Output out;
    if (!out.prepare("-", {}, false) || cfg_FormatFile(0, model, out.path()) != 0 || !out.commit()) {
      show_pending();
      exit_status = 1;
    }
    cfg_FreeModel(0, model);
  }
  std::free(text);
  std::free(rest);
  ddf_FreeSchema(0, schema);
  return exit_status;
}

const Registrar kRegistrar({"config", "reads a configuration file and prints it as it was understood",
                            kUsage, run});

}  // namespace
}  // namespace tesmar::cli
