// `tesmar map dump` and `tesmar map check FILE`: mapping files (docs/mapping-file.md) over the
// sample translator's mappings (tools/translate/): `dump` writes its environment as a mapping
// file, `check` loads a file into it, reports what is wrong with the line, and prints the
// operation tables that result.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "command.h"
#include "tesmar/tesmar.h"
#include "translate.h"

namespace tesmar::cli {
namespace {

const char kUsage[] =
    "usage: tesmar map dump\n"
    "       tesmar map check FILE   (FILE - reads standard input)\n"
    "\n"
    "Mapping files choose the mappings a translator runs, with their options and the defaults\n"
    "of its parameters (docs/mapping-file.md). These commands work on the mappings of the sample\n"
    "translator, `tesmar translate` (IGES into DXF, docs/translator.md):\n"
    "  dump   writes its mappings, as it enables them, as a mapping file\n"
    "  check  loads FILE into it (TESMAR_TMP statements included), reports the first error with\n"
    "         its line, and prints the enabled operations that result (the translator's defaults\n"
    "         for every type the file says nothing about)\n"
    "\n"
    "Exit status: 0 when the file was read, 1 when it was not, 2 for a usage error.\n";

int run(int argc, char **argv) {
  const ugn_Option options[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
  Args args;
  if (const int parsed = parse_args(options, "dump | check FILE", argc, argv, &args); parsed != 0)
    return parsed;
  const auto &ops = args.operands;
  const bool dump = ops.size() == 1 && std::strcmp(ops[0], "dump") == 0;
  const bool check = ops.size() == 2 && std::strcmp(ops[0], "check") == 0;
  if (!dump && !check) return usage_error("expects `dump` or `check FILE`");
  const char *file = check ? input_file(ops[1]) : nullptr;
  if (check && file == nullptr) return 1;
  translate::register_messages();
  translate::Schemas schemas;
  std::string why;
  int status = 1;
  translate::Translator t;
  if (!translate::load_schemas(&schemas, &why)) {
    diag("the translator's schemas: %s", why.c_str());
  } else {
    t.iges = schemas.iges, t.dxf = schemas.dxf;
    if (translate::define_mappings(&t)) {
      if (dump) {
        status = translate::enable_defaults(&t) && map_DbgDumpEnv(0, t.env) == 0 ? 0 : 1;
      } else {
        status = map_LoadMapFile(MAP_FILE_ENVIRONMENT, file, t.env) == 0 ? 0 : 1;
        show_pending();
        if (status == 0 && !translate::enable_defaults(&t)) status = 1;
        map_DbgDumpTable(MAP_DUMP_NO_DEFS, t.env);
      }
    }
  }
  show_pending();
  if (t.env != nullptr) map_DeleteEnv(0, t.env);
  translate::free_schemas(&schemas);
  return status;
}

const Registrar kRegistrar({"map", "writes and checks mapping files (of the sample translator)",
                            kUsage, run});

}  // namespace
}  // namespace tesmar::cli
