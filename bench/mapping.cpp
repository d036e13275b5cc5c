// The mapping engine's overhead: N source entities of a disk-backed model dispatched through a
// mapping list of two operations (the first makes a target entity and fills half of it, the second
// fills the rest and commits it: a copy enters the target model and the made entity is deleted),
// against the same entity operations written by hand in a loop (read the source, create and fill
// the target entity, unlock it, lock it and fill the rest, commit a copy, delete the made one).
// Both write into a disk-backed target model; N = 10^4, 10^5, 10^6. Times are wall-clock.
// TESMAR_BENCH_SMOKE=1 runs N = 10^3 only.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ddl.h"
#include "tesmar/tesmar.h"

namespace {

bool smoke() {
  const char *v = std::getenv("TESMAR_BENCH_SMOKE");
  return v != nullptr && v[0] == '1';
}

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "bench_mapping: %s failed\n", what);
    mpm_FlushPending(MPM_SHOW_ALL);
    std::exit(1);
  }
}

struct Item {  // the source type
  mda_EntityHeader header;
  double v[3];
  int32_t a, b;
};
struct Out {  // the target type
  mda_EntityHeader header;
  double x, y, z;
  int32_t code, pen;
};

ddf_Schema *read_schema(const char *text, const char *name) {
  tesmar::ddl::Image image;
  tesmar::ddl::Diagnostic error;
  check(tesmar::ddl::compile(text, name, &image, &error), "schema compile");
  const char *base = std::getenv("TMPDIR");
  const std::string path = std::string(base != nullptr && *base ? base : "/tmp") +
                           "/tesmar-bench-" + name + "-" + std::to_string(getpid());
  std::string why;
  check(tesmar::ddl::write_file(image, path, &why), "schema write");
  ddf_Schema *schema = nullptr;
  check(ddf_ReadBinaryDDF(0, path.c_str(), &schema) == 0, "schema read");
  std::remove(path.c_str());
  return schema;
}

struct Setup {
  ddf_Schema *source_schema, *target_schema;
  uint32_t item, out;
  int32_t source = 0;
  int64_t n = 0;
};
Setup g;

int32_t new_model(ddf_Schema *schema, const char *name) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "%s", name);
  def.schema = schema;
  def.buffer_count = 256;  // as the translator's models
  int32_t model = 0;
  check(mda_AllocateModel(MDA_KEEP_CURRENT, &def, &model) == 0, "mda_AllocateModel");
  return model;
}

// The source model of n items, made once for each size.
void make_source(int64_t n) {
  if (g.n == n) return;
  if (g.source != 0) check(mda_FreeModel(0, g.source) == 0, "mda_FreeModel");
  g.source = new_model(g.source_schema, "source");
  for (int64_t i = 0; i < n; ++i) {
    void *memory = nullptr;
    db_ptr p = 0;
    check(mda_AllocateEntity(0, g.source, g.item, &memory, &p) == 0, "mda_AllocateEntity");
    auto *item = static_cast<Item *>(memory);
    item->v[0] = static_cast<double>(i), item->v[1] = 0.5, item->v[2] = -1.0;
    item->a = static_cast<int32_t>(i), item->b = 7;
    check(mda_UnlockEntity(0, p) == 0, "mda_UnlockEntity");
  }
  g.n = n;
}

// ---- the work, shared by both sides ----

// Reads the source item and makes the target entity with the first half of its fields.
db_ptr first_half(db_ptr source, int32_t target) {
  void *memory = nullptr;
  check(mda_LockEntity(0, source, &memory) == 0, "lock source");
  const Item item = *static_cast<const Item *>(memory);
  check(mda_UnlockEntity(0, source) == 0, "unlock source");
  db_ptr p = 0;
  check(mda_AllocateEntity(0, target, g.out, &memory, &p) == 0, "create target");
  auto *out = static_cast<Out *>(memory);
  out->x = item.v[0], out->y = item.v[1], out->z = item.v[2];
  check(mda_UnlockEntity(MDA_MODIFIED, p) == 0, "unlock target");
  return p;
}

// Fills the rest of a target entity.
void second_half(db_ptr p) {
  void *memory = nullptr;
  check(mda_LockEntity(0, p, &memory) == 0, "lock target");
  auto *out = static_cast<Out *>(memory);
  out->code = static_cast<int32_t>(out->x), out->pen = 3;
  check(mda_UnlockEntity(MDA_MODIFIED, p) == 0, "unlock target");
}

// ---- through the engine ----

mpm_Status make_out(db_ptr e, map_Context *c) {
  return map_ProcessEntity(0, first_half(e, c->target_model), c);
}
mpm_Status finish_out(db_ptr e, map_Context *c) {
  second_half(e);
  return map_ProcessEntity(0, e, c);
}

void engine(benchmark::State &state) {
  make_source(state.range(0));
  map_Env *env = nullptr;
  check(map_CreateEnv(0, &env) == 0, "map_CreateEnv");
  check(map_DefineMapping(MAP_GENERAL, env, "make", g.source_schema, g.item, g.target_schema,
                          g.out, make_out) == 0, "define make");
  check(map_DefineMapping(MAP_GENERAL, env, "finish", g.target_schema, g.out, g.target_schema,
                          g.out, finish_out) == 0, "define finish");
  check(map_DefineMappingList(0, env, "chain", "make", "finish", nullptr) == 0, "define chain");
  check(map_EnableMapping(0, env, "chain", MAP_COMMIT, MAP_END) == 0, "enable chain");
  mda_TypeLists *lists = nullptr;
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t target = new_model(g.target_schema, "target");
    map_Context context;
    map_InitContext(0, &context);
    context.env = env;
    mda_ModelDef info;
    check(mda_GetModelInfo(g.source, &info) == 0, "mda_GetModelInfo");
    lists = info.type_lists;
    state.ResumeTiming();
    check(map_DispatchEntityList(0, lists, 0, &context) == 0, "dispatch");
    state.PauseTiming();
    check(mda_GetModelInfo(target, &info) == 0 && info.entity_count == static_cast<uint64_t>(g.n),
          "every entity committed");
    check(mpm_pending_list == nullptr || mpm_pending_list->count == 0, "no messages");
    check(mda_FreeModel(0, target) == 0, "mda_FreeModel");
    state.ResumeTiming();
  }
  check(map_DeleteEnv(0, env) == 0, "map_DeleteEnv");
  state.SetItemsProcessed(state.iterations() * g.n);
}

// ---- by hand ----

void by_hand(benchmark::State &state) {
  make_source(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const int32_t target = new_model(g.target_schema, "target");
    mda_ModelDef info;
    check(mda_GetModelInfo(g.source, &info) == 0, "mda_GetModelInfo");
    mda_TypeLists *lists = info.type_lists;
    state.ResumeTiming();
    lists->cursor[0] = lists->oldest[0];
    for (db_ptr e = 0; mda_NextOfType(lists, 0, &e) == 0;) {
      const db_ptr made = first_half(e, target);
      second_half(made);
      // The commit: a copy of the made entity enters the model, the made one goes.
      void *memory = nullptr, *copy = nullptr;
      db_ptr committed = 0;
      check(mda_LockEntity(0, made, &memory) == 0, "lock made");
      check(mda_DuplicateMemory(0, target, memory, &copy) == 0, "duplicate");
      check(mda_CreateEntity(0, copy, &committed) == 0, "create copy");
      check(mda_UnlockEntity(0, made) == 0, "unlock made");
      check(mda_DeleteEntity(MDA_ALLOW_PARENTS, made) == 0, "delete made");
    }
    state.PauseTiming();
    check(mda_GetModelInfo(target, &info) == 0 && info.entity_count == static_cast<uint64_t>(g.n),
          "every entity committed");
    check(mda_FreeModel(0, target) == 0, "mda_FreeModel");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * g.n);
}

void sizes(benchmark::internal::Benchmark *b) {
  if (smoke()) b->Arg(1000);
  else b->Arg(10000)->Arg(100000)->Arg(1000000);
  b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

int main(int argc, char **argv) {
  check(tmx_Initialize(0) == 0, "tmx_Initialize");
  g.source_schema = read_schema(
      "database \"items\" version 1 release 0;\n"
      "entity item 500:0 { double v[3]; int a; int b; }\n", "items.ddl");
  g.target_schema = read_schema(
      "database \"outs\" version 1 release 0;\n"
      "entity out 600:0 { double x; double y; double z; int code; int pen; }\n", "outs.ddl");
  g.item = g.source_schema->typeforms[0];
  g.out = g.target_schema->typeforms[0];
  check(g.source_schema->ent_sizes[0] == sizeof(Item) && g.target_schema->ent_sizes[0] == sizeof(Out),
        "layouts");
  // Names are "<side>/<operation>/<record bytes>/<N>", as bench/ratios.py reads them.
  benchmark::RegisterBenchmark("engine/dispatch/56", engine)->Apply(sizes);
  benchmark::RegisterBenchmark("hand/dispatch/56", by_hand)->Apply(sizes);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g.source != 0) mda_FreeModel(0, g.source);
  ddf_FreeSchema(0, g.source_schema);
  ddf_FreeSchema(0, g.target_schema);
  tmx_Terminate(0);
  return 0;
}
