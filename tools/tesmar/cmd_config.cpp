// `tesmar config check FILE --schema SCHEMA.ddf [-- ARGS...]`: reads a configuration file against
// its schema, with the arguments after `--` as command-line overrides (`-KEY VALUE`, KEY a
// field's description), prints the errors with their lines and carets on standard error, and the
// configuration that results on standard output (docs/config.md).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

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
    "Exit status: 0 when the file was read, 1 when it could not be, 2 for a usage error.\n";

int run(int argc, char **argv) {
  if (argc < 2 || std::strcmp(argv[1], "check") != 0)
    return usage_error("config", "the only subcommand is `check`");
  const char *file = nullptr, *schema_file = nullptr;
  int overrides = argc;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      overrides = i;
      break;
    }
    if (std::strcmp(argv[i], "--schema") == 0 && i + 1 < argc) schema_file = argv[++i];
    else if (argv[i][0] == '-') return usage_error("config", (std::string("unknown option ") + argv[i]).c_str());
    else if (file == nullptr) file = argv[i];
    else return usage_error("config", "one configuration file only");
  }
  if (file == nullptr || schema_file == nullptr)
    return usage_error("config", "a configuration FILE and --schema SCHEMA.ddf are needed");
  if (!check_input("config", file) || !check_input("config", schema_file)) return 1;
  ddf_Schema *schema = nullptr;
  if (ddf_ReadBinaryDDF(0, schema_file, &schema) != 0) {
    show_pending();
    return 1;
  }
  // The overrides: argv[overrides] ("--") stands where a program name would.
  char *text = nullptr, *rest = nullptr;
  if (overrides < argc &&
      cfg_SplitCmdLine(0, argc - overrides, argv + overrides, schema, &text, &rest) != 0) {
    show_pending();
    ddf_FreeSchema(0, schema);
    return 1;
  }
  if (rest != nullptr) std::fprintf(stderr, "tesmar config: not configuration options: %s\n", rest);
  int32_t model = 0;
  const mpm_Status status = cfg_ParseFile(0, schema, file, text, &model);
  show_pending();
  int exit_status = status == 0 ? 0 : 1;
  if (model != 0) {
    // The configuration as the writer gives it, through a file of our own.
    const char *tmp = std::getenv("TMPDIR");
    const std::string out = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/tesmar-config-" +
                            std::to_string(getpid()) + ".cfg";
    if (cfg_FormatFile(0, model, out.c_str()) == 0) {
      if (std::FILE *f = std::fopen(out.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
          std::fwrite(buffer, 1, n, stdout);
        std::fclose(f);
      }
    } else {
      show_pending();
      exit_status = 1;
    }
    std::remove(out.c_str());
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
