// What the entity-store and saved-model benchmarks share: the 64-byte record type, its schema
// compiled and read back, scratch file names, the check that ends a run on a failure, and the
// SQLite peer's database and inserts.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sqlite3.h>

#include "ddl.h"
#include "tesmar/tesmar.h"

namespace {

inline bool smoke() {
  const char *v = std::getenv("TESMAR_BENCH_SMOKE");
  return v != nullptr && v[0] == '1';
}

// The record: the entity header, one pointer and 32 bytes of values.
struct Record {
  mda_EntityHeader header;
  db_ptr link;
  double v[3];
  int32_t a;
  int32_t b;
};
static_assert(sizeof(Record) == 64);
constexpr const char *kSchema =
    "database \"bench\" version 1 release 0;\n"
    "entity record 500:0 \"A record\" {\n"
    "  ptr(any) link \"The previous record\";\n"
    "  double v[3] \"Values\";\n"
    "  int a \"First\";\n"
    "  int b \"Second\";\n"
    "}\n";

std::string scratch_name(const char *what) {
  const char *base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-bench-" + what + "-" +
         std::to_string(getpid());
}

void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "%s: %s failed\n", program_invocation_short_name, what);
    std::exit(1);
  }
}

ddf_Schema *schema() {
  static ddf_Schema *s = [] {
    check(tmx_Initialize(0) == 0, "tmx_Initialize");
    std::atexit([] { tmx_Terminate(0); });  // removes the paged files' temporary directory
    tesmar::ddl::Image image;
    tesmar::ddl::Diagnostic error;
    check(tesmar::ddl::compile(kSchema, "bench.ddl", &image, &error), "schema compile");
    std::string path = scratch_name("schema.ddf"), why;
    check(tesmar::ddl::write_file(image, path, &why), "schema write");
    ddf_Schema *read = nullptr;
    check(ddf_ReadBinaryDDF(0, path.c_str(), &read) == 0, "schema read");
    std::remove(path.c_str());
    check(read->tf_count == 1 && read->ent_sizes[0] == sizeof(Record), "record layout");
    return read;
  }();
  return s;
}

// A fresh file database with the records' table. No syncing: the library's files are not synced
// either.
inline sqlite3 *open_db(const std::string &path) {
  std::remove(path.c_str());
  sqlite3 *db = nullptr;
  check(sqlite3_open(path.c_str(), &db) == SQLITE_OK, "sqlite3_open");
  check(sqlite3_exec(db, "PRAGMA synchronous=OFF; CREATE TABLE r(id INTEGER PRIMARY KEY, f BLOB)",
                     nullptr, nullptr, nullptr) == SQLITE_OK,
        "create table");
  return db;
}

// N records as rows (the fields as a blob) in one transaction through a prepared statement.
template <class Fill>
void sqlite_insert(sqlite3 *db, int64_t n, Fill fill) {
  sqlite3_stmt *insert = nullptr;
  check(sqlite3_prepare_v2(db, "INSERT INTO r(id, f) VALUES(?, ?)", -1, &insert, nullptr) ==
            SQLITE_OK,
        "prepare insert");
  check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK, "begin");
  for (int64_t i = 0; i < n; ++i) {
    Record r{};
    fill(&r, i, static_cast<db_ptr>(i));  // the previous row's id
    sqlite3_bind_int64(insert, 1, i + 1);
    sqlite3_bind_blob(insert, 2, &r.link, sizeof r - sizeof r.header, SQLITE_STATIC);
    check(sqlite3_step(insert) == SQLITE_DONE, "insert");
    sqlite3_reset(insert);
  }
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "commit");
  sqlite3_finalize(insert);
}

}  // namespace
