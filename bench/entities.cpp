// The entity store against its peers, N = 10^4, 10^5, 10^6 and 3*10^6 records of a 64-byte type
// with one pointer (entity header included):
//  - a disk-backed model (32-entry cache, nearly every entity goes to the paged file): create,
//    fill and unlock N entities; then lock, read and unlock them all in a random order;
//  - SQLite: the same records as rows (id INTEGER PRIMARY KEY, the fields as a blob) inserted in
//    one transaction through a prepared statement, then read back by id in the same random order,
//    inside one transaction ("sqlite") and each read in its own ("sqlite-autocommit");
//  - a memory-only model against a std::vector of the same structs.
//
// `bench_entities --job STORE OPERATION N [BUFFERS]` does one job in this process and prints one line of
// JSON: wall-clock and processor time of the timed phase, and the process's peak resident memory
// (VmHWM) before and after. bench/entities.py runs every job in a fresh process, the sides taking
// turns, and writes the tables of docs/performance.md. Fresh processes count first touches of new
// memory on both sides.
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "record_schema.h"

namespace {

// Page buffers of the disk-backed model: 256, as docs/performance.md recommends for large models
// (the library's default is 16); the job's BUFFERS argument overrides it.
uint32_t g_buffers = 256;

int32_t new_model(uint32_t options) {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.buffer_count = g_buffers;
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

// Creates N entities in a fresh model, numbered 1 to N (checked), so that no table of handles is
// kept: the SQLite side keeps none either.
void create(int32_t model, int64_t n) {
  uint32_t tf = schema()->typeforms[0];
  db_ptr previous = 0;
  for (int64_t i = 0; i < n; ++i) {
    void *memory = nullptr;
    db_ptr ptr = 0;
    check(mda_AllocateEntity(0, model, tf, &memory, &ptr) == 0, "mda_AllocateEntity");
    check(ptr == MDA_MAKE_PTR(model, i + 1), "entity numbering");
    fill(static_cast<Record *>(memory), i, previous);
    check(mda_UnlockEntity(0, ptr) == 0, "mda_UnlockEntity");
    previous = ptr;
  }
}

double read_all(int32_t model, const std::vector<int64_t> &order) {
  double total = 0;
  for (int64_t i : order) {
    db_ptr ptr = MDA_MAKE_PTR(model, i + 1);
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

double sqlite_read(sqlite3 *db, const std::vector<int64_t> &order, bool one_transaction) {
  sqlite3_stmt *select = nullptr;
  check(sqlite3_prepare_v2(db, "SELECT f FROM r WHERE id = ?", -1, &select, nullptr) == SQLITE_OK,
        "prepare select");
  if (one_transaction)
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK, "begin");
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
  if (one_transaction)
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "commit");
  sqlite3_finalize(select);
  return total;
}

// Peak resident memory of this process in kB (VmHWM), or -1.
long peak_rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int64_t cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Times `timed` (wall-clock and processor time) after `setup`, and prints the job's line.
void run_job(const std::string &store, const std::string &op, int64_t n,
             const std::function<void()> &setup, const std::function<double()> &timed) {
  const long before = peak_rss_kb();
  setup();
  const int64_t cpu0 = cpu_ns();
  const auto wall0 = std::chrono::steady_clock::now();
  const double total = timed();
  const auto wall = std::chrono::steady_clock::now() - wall0;
  const int64_t cpu = cpu_ns() - cpu0;
  if (op == "read") check(total == expected_total(n), "read back");
  std::printf("{\"store\": \"%s\", \"op\": \"%s\", \"n\": %lld, \"wall_ns\": %lld, "
              "\"cpu_ns\": %lld, \"rss_before_kb\": %ld, \"peak_rss_kb\": %ld}\n",
              store.c_str(), op.c_str(), static_cast<long long>(n),
              static_cast<long long>(std::chrono::nanoseconds(wall).count()),
              static_cast<long long>(cpu), before, peak_rss_kb());
}

int job(const std::string &store, const std::string &op, int64_t n) {
  check(n > 0 && (op == "create" || op == "read"), "job arguments");
  schema();
  const std::vector<int64_t> order = op == "read" ? shuffled(n) : std::vector<int64_t>{};
  if (store == "ours" || store == "memory") {
    const int32_t m = new_model(store == "memory" ? MDA_MEMORY_ONLY : 0);
    if (op == "create")
      run_job(store, op, n, [] {}, [&] { create(m, n); return 0.0; });
    else
      run_job(store, op, n, [&] { create(m, n); }, [&] { return read_all(m, order); });
    check(mda_FreeModel(0, m) == 0, "mda_FreeModel");
  } else if (store == "sqlite" || store == "sqlite-autocommit") {
    const std::string path = scratch_name("sqlite.db");
    sqlite3 *db = open_db(path);
    if (op == "create")
      run_job(store, op, n, [] {}, [&] { sqlite_insert(db, n, fill); return 0.0; });
    else
      run_job(store, op, n, [&] { sqlite_insert(db, n, fill); },
              [&] { return sqlite_read(db, order, store == "sqlite"); });
    sqlite3_close(db);
    std::remove(path.c_str());
  } else if (store == "vector") {
    std::vector<Record> records;
    auto make = [&] {
      for (int64_t i = 0; i < n; ++i) {
        Record r{};
        fill(&r, i, static_cast<db_ptr>(i));
        records.push_back(r);
      }
    };
    if (op == "create") {
      run_job(store, op, n, [] {}, [&] { make(); return static_cast<double>(records.size()); });
    } else {
      run_job(store, op, n, make, [&] {
        double total = 0;
        for (int64_t i : order) total += sum(&records[static_cast<size_t>(i)]);
        return total;
      });
    }
  } else {
    check(false, "store name");
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--job") == 0) {
    if (argc == 6) g_buffers = static_cast<uint32_t>(std::atol(argv[5]));
    return job(argv[2], argv[3], std::atoll(argv[4]));
  }
  std::fprintf(stderr, "usage: %s --job STORE OPERATION N [BUFFERS]   (see bench/entities.py)\n",
               argv[0]);
  return 2;
}
