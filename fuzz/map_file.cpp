// Fuzz target: arbitrary text read as a mapping file into an environment of a few mappings and
// parameters. Every input gives a status, never a crash; a file that was read is dumped, the dump
// read into a fresh environment, and dumped again: both dumps must be the same text.
//
// Input: byte 0 bit 0 honours TESMAR_TMP statements; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "map/map_internal.h"
#include "tesmar/tesmar.h"

namespace {

ddf_Schema g_schema{};  // a schema pointer of its own: mappings only compare it
uint32_t g_typeforms[] = {0x10000u, 0x20000u, 0x30000u};
int32_t g_long = 1, g_flag = 0, g_name = 0;
double g_real = 0.5;

mpm_Status nothing(db_ptr, map_Context *) { return 0; }

map_Env *environment() {
  map_Env *env = nullptr;
  if (map_CreateEnv(0, &env) != 0) std::abort();
  const uint32_t a = g_typeforms[0], b = g_typeforms[1], c = g_typeforms[2];
  ddf_Schema *s = &g_schema;
  map_DefineMapping(MAP_GENERAL, env, "a2b", s, a, s, b, nothing);
  map_DefineMapping(MAP_GENERAL, env, "b2c", s, b, s, c, nothing);
  map_DefineMapping(MAP_GENERAL, env, "a2a", s, a, s, a, nothing);
  map_DefineMapping(MAP_GENERAL, env, "c2any", s, c, s, TF_ANY, nothing);
  map_DefineConditionalMapping(0, env, "C", s, a, nothing, "a2b", "a2a", nullptr);
  return env;
}

std::string dump(map_Env *env) {
  static const tesmar::fuzz::Scratch out("map-dump");
  std::FILE *file = std::fopen(out.path(), "w+b");
  if (file == nullptr) std::abort();
  std::FILE *saved = tesmar::map::g_trace;
  tesmar::map::g_trace = file;
  map_DbgDumpEnv(0, env);
  tesmar::map::g_trace = saved;
  std::string text;
  std::rewind(file);
  for (int ch; (ch = std::fgetc(file)) != EOF;) text += static_cast<char>(ch);
  std::fclose(file);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  tesmar::fuzz::start_library();
  static const bool registered = [] {
    std::snprintf(g_schema.db_name, sizeof g_schema.db_name, "fuzz");
    map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &g_long);
    map__DefineParameter(0, MAP_MALLOC_ERR, MAP_PARAM_BOOLEAN, &g_flag);
    map__DefineParameter(0, MAP_TREE_ERR, MAP_PARAM_DOUBLE, &g_real);
    map__DefineParameter(0, MAP_PARSE_ERR, MAP_PARAM_STRING, &g_name);
    return true;
  }();
  (void)registered;
  if (size < 1) return 0;
  static const tesmar::fuzz::Scratch file("map-file"), again("map-again");
  if (!file.write(data + 1, size - 1)) return 0;
  map_Env *env = environment();
  const uint32_t options = (data[0] & 1) != 0 ? MAP_FILE_ENVIRONMENT : 0;
  if (map_LoadMapFile(options, file.path(), env) == 0) {
    const std::string first = dump(env);
    if (!again.write(reinterpret_cast<const uint8_t *>(first.data()), first.size())) std::abort();
    map_Env *fresh = environment();
    if (map_LoadMapFile(MAP_FILE_ENVIRONMENT, again.path(), fresh) != 0) std::abort();
    if (dump(fresh) != first) std::abort();
    map_DeleteEnv(0, fresh);
  }
  map_DeleteEnv(0, env);
  ugn_PutEnv(0, "TESMAR_TMP", nullptr);
  mpm_DiscardPending(0);
  return 0;
}
