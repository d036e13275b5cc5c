// `tesmar map dump` and `tesmar map check FILE`: mapping files (docs/mapping-file.md) over a
// small demonstration translator's mappings: `dump` writes its environment as a mapping file,
// `check` loads a file into it, reports what is wrong with the line, and prints the operation
// tables that result.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "command.h"
#include "ddl.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

const char kUsage[] =
    "usage: tesmar map dump\n"
    "       tesmar map check FILE\n"
    "\n"
    "Mapping files choose the mappings a translator runs, with their options and the defaults\n"
    "of its parameters (docs/mapping-file.md). These commands work on the mappings of a small\n"
    "demonstration translator (IGES-like lines, arcs and points into DXF-like entities):\n"
    "  dump   writes its mappings, as it enables them, as a mapping file\n"
    "  check  loads FILE into it (TESMAR_TMP statements included), reports the first error with\n"
    "         its line, and prints the enabled operations that result\n"
    "\n"
    "Exit status: 0 when the file was read, 1 when it was not, 2 for a usage error.\n";

constexpr const char *kSource =
    "database \"demo_iges\" version 1 release 0;\n"
    "entity arc 100:0 { double center[3]; double radius; double start; double end; }\n"
    "entity line 110:0 { double start[3]; double end[3]; }\n"
    "entity point 116:0 { double at[3]; }\n";
constexpr const char *kTarget =
    "database \"demo_dxf\" version 1 release 0;\n"
    "entity line 1:0 { double start[3]; double end[3]; int pen; }\n"
    "entity arc 2:0 { double center[3]; double radius; double start; double end; }\n"
    "entity circle 3:0 { double center[3]; double radius; }\n"
    "entity point 4:0 { double at[3]; }\n";

// The demonstration's parameters, named by a message table of its own.
const char *const kTexts[] = {" Pen of lines\n", " Scale of the drawing\n", " Layers by name\n"};
const mpm_MsgName kNames[] = {{"PEN", 1, 0}, {"SCALE", 1, 1}, {"LAYERS", 1, 2}};
const mpm_ModuleDesc kDemo = {250, 3, "DMO", kTexts, kNames};
int32_t g_pen = 7, g_layers = 1;
double g_scale = 1.0;

mpm_Status nothing(db_ptr, map_Context *) { return 0; }

ddf_Schema *schema(const char *text) {
  tesmar::ddl::Image image;
  tesmar::ddl::Diagnostic error;
  if (!tesmar::ddl::compile(text, "demo.ddl", &image, &error)) return nullptr;
  const char *base = std::getenv("TMPDIR");
  const std::string path = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-map-" +
                           std::to_string(getpid()) + ".ddf";
  std::string why;
  ddf_Schema *s = nullptr;
  if (tesmar::ddl::write_file(image, path, &why)) ddf_ReadBinaryDDF(0, path.c_str(), &s);
  std::remove(path.c_str());
  return s;
}

uint32_t tf(const ddf_Schema *s, const char *name) {
  for (int32_t i = 0; i < s->tf_count; ++i)
    if (std::strcmp(s->ent_names[i], name) == 0) return s->typeforms[i];
  return TF_NONE;
}

// The demonstration translator's definitions; `enable` also enables them as it does by default.
bool define(map_Env *env, ddf_Schema *in, ddf_Schema *out, bool enable) {
  mpm_RegisterModule(0, &kDemo);
  auto single = [&](const char *name, const char *from, const char *to) {
    return map_DefineMapping(MAP_GENERAL, env, name, in, tf(in, from), out, tf(out, to), nothing) == 0;
  };
  bool ok = map__DefineParameter(0, 0xFA0001u, MAP_PARAM_LONG, &g_pen) == 0 &&
            map__DefineParameter(0, 0xFA0002u, MAP_PARAM_DOUBLE, &g_scale) == 0 &&
            map__DefineParameter(0, 0xFA0003u, MAP_PARAM_BOOLEAN, &g_layers) == 0 &&
            single("line to LINE", "line", "line") && single("arc to ARC", "arc", "arc") &&
            single("arc to CIRCLE", "arc", "circle") && single("point to POINT", "point", "point") &&
            map_DefineMapping(MAP_GENERAL, env, "LINE pen", out, tf(out, "line"), out, tf(out, "line"),
                              nothing) == 0 &&
            map_DefineConditionalMapping(0, env, "arc by sweep", in, tf(in, "arc"), nothing,
                                         "arc to ARC", "arc to CIRCLE", nullptr) == 0 &&
            map_DefineMappingList(0, env, "lines", "line to LINE", "LINE pen", nullptr) == 0;
  if (ok && enable)
    ok = map_EnableMapping(MAP_TEXT_ARGS, env, "lines", "COMMIT PARAM DMO_PEN 3") == 0 &&
         map_EnableMapping(0, env, "arc by sweep", MAP_COMMIT, MAP_END) == 0 &&
         map_EnableMapping(0, env, "point to POINT", MAP_COMMIT, MAP_END) == 0;
  return ok;
}

int run(int argc, char **argv) {
  const bool dump = argc == 2 && std::strcmp(argv[1], "dump") == 0;
  const bool check = argc == 3 && std::strcmp(argv[1], "check") == 0;
  if (!dump && !check) return usage_error("map", "`dump` or `check FILE`");
  if (check && !check_input("map", argv[2])) return 1;
  ddf_Schema *in = schema(kSource), *out = schema(kTarget);
  map_Env *env = nullptr;
  int status = 1;
  if (in != nullptr && out != nullptr && map_CreateEnv(0, &env) == 0 && define(env, in, out, dump)) {
    if (dump) {
      status = map_DbgDumpEnv(0, env) == 0 ? 0 : 1;
    } else {
      status = map_LoadMapFile(MAP_FILE_ENVIRONMENT, argv[2], env) == 0 ? 0 : 1;
      show_pending();
      map_DbgDumpTable(MAP_DUMP_NO_DEFS, env);
    }
  }
  show_pending();
  map_DeleteEnv(0, env);
  ddf_FreeSchema(0, in);
  ddf_FreeSchema(0, out);
  return status;
}

const Registrar kRegistrar({"map", "writes and checks mapping files (of a demonstration translator)",
                            kUsage, run});

}  // namespace
}  // namespace tesmar::cli
