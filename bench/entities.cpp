// The entity store against its peers, N = 10^4, 10^5, 10^6 records of a 64-byte type with one
// pointer (entity header included):
//  - a disk-backed model (32-entry cache, nearly every entity goes to the paged file): create,
//    fill and unlock N entities; then lock, read and unlock them all in a random order;
//  - SQLite: the same records as rows (id INTEGER PRIMARY KEY, the fields as a blob) inserted in
//    one transaction through a prepared statement, then read back by id in the same random order;
//  - a memory-only model against a std::vector of the same structs.
// Times are wall-clock (the paged file's reads and writes count); items are entities.
//
// `bench_entities --rss N` builds the disk-backed model of N entities in a fresh process, locks
// and reads every one again, and prints the process's peak resident memory.
// TESMAR_BENCH_SMOKE=1 runs N = 10^3 only.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "record_schema.h"

namespace {

int32_t new_model(uint32_t options) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "bench");
  def.schema = schema();
  int32_t model = 0;
  check(mda_AllocateModel(options | MDA_KEEP_CURRENT, &def, &model) == 0, "mda_AllocateModel");
  return model;
}

void fill(Record *r, int64_t i, db_ptr link) {
  r->link = link;
  r->v[0] = static_cast<double>(i);
  r->v[1] = 0.5 * static_cast<double>(i);
  r->v[2] = -static_cast<double>(i);
  r->a = static_cast<int32_t>(i);
  r->b = static_cast<int32_t>(i ^ 0x5555);
}

double sum(const Record *r) { return r->v[0] + r->v[1] + r->v[2] + r->a + r->b; }

std::vector<int64_t> shuffled(int64_t n) {
  std::vector<int64_t> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  return order;
}

// Creates N entities in a model; their handles in creation order.
std::vector<db_ptr> create(int32_t model, int64_t n) {
  std::vector<db_ptr> ptrs(static_cast<size_t>(n));
  uint32_t tf = schema()->typeforms[0];
  db_ptr previous = 0;
  for (int64_t i = 0; i < n; ++i) {
    void *memory = nullptr;
    db_ptr ptr = 0;
    check(mda_AllocateEntity(0, model, tf, &memory, &ptr) == 0, "mda_AllocateEntity");
    fill(static_cast<Record *>(memory), i, previous);
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
    ptrs[static_cast<size_t>(i)] = previous = ptr;
  }
  return ptrs;
}

double read_all(const std::vector<db_ptr> &ptrs, const std::vector<int64_t> &order) {
  double total = 0;
  for (int64_t i : order) {
    db_ptr ptr = ptrs[static_cast<size_t>(i)];
    void *memory = nullptr;
    check(mda_LockEntity(0, ptr, &memory) == 0, "mda_LockEntity");
    total += sum(static_cast<const Record *>(memory));
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
  }
  return total;
}

double expected_total(int64_t n) {
  double total = 0;
  for (int64_t i = 0; i < n; ++i) {
    Record r;
    fill(&r, i, 0);
    total += sum(&r);
  }
  return total;
}

// One run is the whole job for N entities; phases are timed by hand.
void model(benchmark::State &state, uint32_t options, bool read) {
  int64_t n = state.range(0);
  std::vector<int64_t> order = shuffled(n);
  for (auto _ : state) {
    state.PauseTiming();
    int32_t m = new_model(options);
    if (!read) state.ResumeTiming();
    std::vector<db_ptr> ptrs = create(m, n);
    if (read) {
      state.ResumeTiming();
      double total = read_all(ptrs, order);
      state.PauseTiming();
      check(total == expected_total(n), "read back");
    } else {
      state.PauseTiming();
    }
    check(mda_FreeModel(0, m) == 0, "mda_FreeModel");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

double sqlite_read(sqlite3 *db, const std::vector<int64_t> &order) {
  sqlite3_stmt *select = nullptr;
  check(sqlite3_prepare_v2(db, "SELECT f FROM r WHERE id = ?", -1, &select, nullptr) == SQLITE_OK,
        "prepare select");
  double total = 0;
  for (int64_t i : order) {
    sqlite3_bind_int64(select, 1, i + 1);
    check(sqlite3_step(select) == SQLITE_ROW, "select");
    Record r{};
    check(sqlite3_column_bytes(select, 0) == sizeof r - sizeof r.header, "row size");
    std::memcpy(&r.link, sqlite3_column_blob(select, 0), sizeof r - sizeof r.header);
    total += sum(&r);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  return total;
}

void sqlite(benchmark::State &state, bool read) {
  int64_t n = state.range(0);
  std::vector<int64_t> order = shuffled(n);
  std::string path = scratch_name("sqlite.db");
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3 *db = open_db(path);
    if (!read) state.ResumeTiming();
    sqlite_insert(db, n, fill);
    if (read) {
      state.ResumeTiming();
      double total = sqlite_read(db, order);
      state.PauseTiming();
      check(total == expected_total(n), "read back");
    } else {
      state.PauseTiming();
    }
    sqlite3_close(db);
    std::remove(path.c_str());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void vector(benchmark::State &state, bool read) {
  int64_t n = state.range(0);
  std::vector<int64_t> order = shuffled(n);
  for (auto _ : state) {
    if (read) state.PauseTiming();
    std::vector<Record> records;
    for (int64_t i = 0; i < n; ++i) {
      Record r{};
      fill(&r, i, static_cast<db_ptr>(i));
      records.push_back(r);
    }
    benchmark::DoNotOptimize(records.data());
    if (read) {
      state.ResumeTiming();
      double total = 0;
      for (int64_t i : order) total += sum(&records[static_cast<size_t>(i)]);
      benchmark::DoNotOptimize(total);
      state.PauseTiming();
      check(total == expected_total(n), "read back");
      records = {};
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void sizes(benchmark::internal::Benchmark *b) {
  if (smoke()) {
    b->Arg(1000);
  } else {
    b->Arg(10000)->Arg(100000)->Arg(1000000);
  }
  b->Iterations(1)->Unit(benchmark::kMillisecond);
}

// Peak resident memory of this process in kB (VmHWM), or -1.
long peak_rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int rss_mode(int64_t n) {
  long before = peak_rss_kb();
  int32_t m = new_model(0);
  // Entity numbers run from 1 in a fresh model, so no handle table is kept here; the reading
  // order is a permutation generated on the fly (an odd multiplier modulo a power of two).
  uint32_t tf = schema()->typeforms[0];
  db_ptr previous = 0;
  for (int64_t i = 0; i < n; ++i) {
    void *memory = nullptr;
    db_ptr ptr = 0;
    check(mda_AllocateEntity(0, m, tf, &memory, &ptr) == 0, "mda_AllocateEntity");
    check(ptr == MDA_MAKE_PTR(m, i + 1), "entity numbering");
    fill(static_cast<Record *>(memory), i, previous);
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
    previous = ptr;
  }
  uint64_t span = 1;
  while (span < static_cast<uint64_t>(n)) span <<= 1;
  double total = 0;
  for (uint64_t k = 0; k < span; ++k) {
    uint64_t i = (k * 2654435761u + 12345) & (span - 1);
    if (i >= static_cast<uint64_t>(n)) continue;
    db_ptr ptr = MDA_MAKE_PTR(m, i + 1);
    void *memory = nullptr;
    check(mda_LockEntity(0, ptr, &memory) == 0, "mda_LockEntity");
    total += sum(static_cast<const Record *>(memory));
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
  }
  check(total == expected_total(n), "read back");
  long after = peak_rss_kb();
  std::printf("entities %lld: peak resident memory %.1f MB, %.1f MB of it before the model\n",
              static_cast<long long>(n), after / 1024.0, before / 1024.0);
  check(mda_FreeModel(0, m) == 0, "mda_FreeModel");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--rss") == 0) {
    schema();
    return rss_mode(std::atoll(argv[2]));
  }
  // Freed memory stays with the process, so that a repetition finds a warm heap: first touches of
  // fresh pages (expensive on virtual machines) would otherwise weigh on whichever side allocates
  // more. Run with --benchmark_repetitions=3; bench/ratios.py takes the fastest repetition.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, -1);
  // Names are "<store>/<operation>/<record bytes>/<N>", as bench/ratios.py reads them.
  auto add = [](const char *store, const char *operation, auto &&run) {
    std::string name = std::string(store) + "/" + operation + "/64";
    sizes(benchmark::RegisterBenchmark(name.c_str(), run)->UseRealTime());
  };
  add("ours", "create", [](benchmark::State &s) { model(s, 0, false); });
  add("sqlite", "create", [](benchmark::State &s) { sqlite(s, false); });
  add("ours", "read", [](benchmark::State &s) { model(s, 0, true); });
  add("sqlite", "read", [](benchmark::State &s) { sqlite(s, true); });
  add("memory", "create", [](benchmark::State &s) { model(s, MDA_MEMORY_ONLY, false); });
  add("vector", "create", [](benchmark::State &s) { vector(s, false); });
  add("memory", "read", [](benchmark::State &s) { model(s, MDA_MEMORY_ONLY, true); });
  add("vector", "read", [](benchmark::State &s) { vector(s, true); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  schema();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
