// Shared fixture of the configuration tests: a started library, two schemas (one entity type,
// several), reading a text with the reported output captured, and the fields of an entity.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mda_test.h"
#include "tesmar/cfg.h"

namespace tesmar::test {

// One entity type: the unnamed section fills it.
inline constexpr const char *kSingleSchema = R"(
  database "single" version 1 release 0;
  entity options 1:0 {
    int passes "passes";
    double tolerance "tolerance" default 1;
    vstring title "title";
    fstring(8) code "code";
    short small "small";
    int sizes[3] "sizes";
    count n "n";
    double values[n] "values";
    int open[] "open";
    struct pts[] { double x; double y; }
  }
)";

// Several entity types: sections name them.
inline constexpr const char *kMultiSchema = R"(
  database "multi" version 1 release 0;
  entity input 1:0 { vstring file "file"; int units "units" default 1; }
  entity output 2:0 { vstring file "out"; double scale "scale" default 1; int flags[] "flags"; }
  entity limits 3:0 { struct box[2] { double low; double high; } count m; int levels[m] "levels"; }
)";

class CfgTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    single_ = read_schema(kSingleSchema);
    multi_ = read_schema(kMultiSchema);
    ASSERT_NE(single_, nullptr);
    ASSERT_NE(multi_, nullptr);
  }
  void TearDown() override {
    LibraryTest::TearDown();  // frees the configuration models
    ddf_FreeSchema(0, single_);
    ddf_FreeSchema(0, multi_);
  }

  // Reads a text (and a command-line text); the status, the model, and what was reported.
  struct Result {
    mpm_Status status;
    int32_t model;
    std::string reported;
  };
  Result read(ddf_Schema *schema, const std::string &text, const char *command_line = nullptr) {
    OutputCapture capture;
    Result r{0, 0, {}};
    r.status = cfg_ParseFile(CFG_TEXT, schema, text.c_str(), command_line, &r.model);
    for (const auto &line : capture.lines()) r.reported += line.text;
    return r;
  }

  // The memory of a configuration entity (locked while the model lives).
  static char *entity(int32_t model, ddf_Schema *schema, const char *name) {
    db_ptr p = 0;
    for (int32_t i = 0; i < schema->tf_count; ++i)
      if (std::string(schema->ent_names[i]) == name &&
          cfg_GetEntity(model, schema->typeforms[i], &p) == 0) {
        void *memory = nullptr;
        EXPECT_EQ(mda_LockEntity(0, p, &memory), 0u);
        EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
        return static_cast<char *>(memory);
      }
    return nullptr;
  }
  template <typename T>
  static T at(const char *memory, int offset) {
    T v{};
    std::memcpy(&v, memory + offset, sizeof v);
    return v;
  }

  ddf_Schema *single_ = nullptr;
  ddf_Schema *multi_ = nullptr;
};

}  // namespace tesmar::test
