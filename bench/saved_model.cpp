// Saved-model files against SQLite, N = 10^4, 10^5, 10^6 records of a 64-byte type with one
// pointer (entity header included):
//  - save: mda_SaveModel writes a memory-only model of N entities to a new file, in the text form
//    and in the binary form; SQLite creates a database file and inserts the same records as rows
//    (id INTEGER PRIMARY KEY, the fields as a blob) in one transaction through a prepared
//    statement, and closes it;
//  - restore: mda_RestoreModel reads the file into an empty memory-only model; SQLite opens the
//    file and reads every row in id order into a vector of the same structs.
// Times are wall-clock (writing and reading the files count); items are entities. The counter
// "file_bytes" is the size of the file per entity.
// TESMAR_BENCH_SMOKE=1 runs N = 10^3 only.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record_schema.h"

namespace {

int32_t new_model() {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "bench");
  def.schema = schema();
  int32_t model = 0;
  check(mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &model) == 0,
        "mda_AllocateModel");
  return model;
}

// Values that need every digit in the text form: the save must be exact.
void fill(Record *r, int64_t i, db_ptr link) {
  r->link = link;
  r->v[0] = static_cast<double>(i) / 3.0;
  r->v[1] = 0.1 * static_cast<double>(i);
  r->v[2] = -static_cast<double>(i);
  r->a = static_cast<int32_t>(i);
  r->b = static_cast<int32_t>(i ^ 0x5555);
}

double sum(const Record *r) { return r->v[0] + r->v[1] + r->v[2] + r->a + r->b; }

double expected_total(int64_t n) {
  double total = 0;
  for (int64_t i = 0; i < n; ++i) {
    Record r;
    fill(&r, i, 0);
    total += sum(&r);
  }
  return total;
}

// A memory-only model of N entities numbered 1..N, each pointing at the one before.
int32_t build(int64_t n) {
  int32_t m = new_model();
  const uint32_t tf = schema()->typeforms[0];
  db_ptr previous = 0;
  for (int64_t i = 0; i < n; ++i) {
    void *memory = nullptr;
    db_ptr ptr = 0;
    check(mda_AllocateEntity(0, m, tf, &memory, &ptr) == 0, "mda_AllocateEntity");
    fill(static_cast<Record *>(memory), i, previous);
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
    previous = ptr;
  }
  return m;
}

// Reads every entity of a restored model and checks the values and the pointer chain.
void verify(int32_t m, int64_t n) {
  double total = 0;
  for (int64_t i = 0; i < n; ++i) {
    const db_ptr ptr = MDA_MAKE_PTR(m, i + 1);
    void *memory = nullptr;
    check(mda_LockEntity(0, ptr, &memory) == 0, "mda_LockEntity");
    const Record *r = static_cast<const Record *>(memory);
    check(r->link == (i == 0 ? 0 : MDA_MAKE_PTR(m, i)), "pointer chain");
    total += sum(r);
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
  }
  check(total == expected_total(n), "read back");
}

double file_bytes(const std::string &path) {
  struct stat st {};
  check(stat(path.c_str(), &st) == 0, "stat");
  return static_cast<double>(st.st_size);
}

void ours(benchmark::State &state, uint32_t form, bool restore) {
  const int64_t n = state.range(0);
  const std::string path = scratch_name(form != 0 ? "model.bin" : "model.txt");
  const int32_t source = build(n);
  std::remove(path.c_str());
  check(mda_SaveModel(form, path.c_str(), 0, &source) == 0, "mda_SaveModel");
  for (auto _ : state) {
    if (restore) {
      state.PauseTiming();
      const int32_t m = new_model();
      state.ResumeTiming();
      check(mda_RestoreModel(form, path.c_str(), 0, &m) == 0, "mda_RestoreModel");
      state.PauseTiming();
      verify(m, n);
      check(mda_FreeModel(0, m) == 0, "mda_FreeModel");
      state.ResumeTiming();
    } else {
      check(mda_SaveModel(form | MDA_OVERWRITE, path.c_str(), 0, &source) == 0, "mda_SaveModel");
    }
  }
  state.counters["file_bytes"] = file_bytes(path) / static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * n);
  std::remove(path.c_str());
  check(mda_FreeModel(0, source) == 0, "mda_FreeModel");
}

void sqlite_save(const std::string &path, int64_t n) {
  sqlite3 *db = open_db(path);
  sqlite_insert(db, n, fill);
  check(sqlite3_close(db) == SQLITE_OK, "sqlite3_close");
}

std::vector<Record> sqlite_restore(const std::string &path) {
  sqlite3 *db = nullptr;
  check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK,
        "sqlite3_open");
  sqlite3_stmt *select = nullptr;
  check(sqlite3_prepare_v2(db, "SELECT id, f FROM r ORDER BY id", -1, &select, nullptr) ==
            SQLITE_OK,
        "prepare select");
  std::vector<Record> records;
  while (sqlite3_step(select) == SQLITE_ROW) {
    Record r{};
    check(sqlite3_column_bytes(select, 1) == sizeof r - sizeof r.header, "row size");
    std::memcpy(&r.link, sqlite3_column_blob(select, 1), sizeof r - sizeof r.header);
    records.push_back(r);
  }
  sqlite3_finalize(select);
  check(sqlite3_close(db) == SQLITE_OK, "sqlite3_close");
  return records;
}

void sqlite(benchmark::State &state, bool restore) {
  const int64_t n = state.range(0);
  const std::string path = scratch_name("sqlite.db");
  sqlite_save(path, n);
  for (auto _ : state) {
    if (restore) {
      std::vector<Record> records = sqlite_restore(path);
      state.PauseTiming();
      check(static_cast<int64_t>(records.size()) == n, "row count");
      double total = 0;
      for (const Record &r : records) total += sum(&r);
      check(total == expected_total(n), "read back");
      records = {};
      state.ResumeTiming();
    } else {
      sqlite_save(path, n);
    }
  }
  state.counters["file_bytes"] = file_bytes(path) / static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * n);
  std::remove(path.c_str());
}

void sizes(benchmark::internal::Benchmark *b) {
  if (smoke()) {
    b->Arg(1000);
  } else {
    b->Arg(10000)->Arg(100000)->Arg(1000000);
  }
  b->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char **argv) {
  // Freed memory stays with the process (see bench/entities.cpp).
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, -1);
  // Names are "<form>/<operation>/<record bytes>/<N>", as bench/ratios.py reads them.
  auto add = [](const char *form, const char *operation, auto &&run) {
    std::string name = std::string(form) + "/" + operation + "/64";
    sizes(benchmark::RegisterBenchmark(name.c_str(), run)->UseRealTime());
  };
  add("text", "save", [](benchmark::State &s) { ours(s, 0, false); });
  add("binary", "save", [](benchmark::State &s) { ours(s, MDA_BINARY, false); });
  add("sqlite", "save", [](benchmark::State &s) { sqlite(s, false); });
  add("text", "restore", [](benchmark::State &s) { ours(s, 0, true); });
  add("binary", "restore", [](benchmark::State &s) { ours(s, MDA_BINARY, true); });
  add("sqlite", "restore", [](benchmark::State &s) { sqlite(s, true); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  schema();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
