// Shared fixture of the mapping engine tests: a started library, the sample geometry schema as
// the source, a small drawing schema as the target, an environment, and the operation tables of
// DTFs written compactly ("name>next", then "|c" for COMMIT, "|mN" for a model, "|pN" for N
// parameter settings).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/map_internal.h"
#include "mda_test.h"
#include "tesmar/map.h"

namespace tesmar::test {

inline constexpr const char *kDrawingSchema = R"(
  database "drawing" version 1 release 0;
  entity dpoint 1:0 { double x; double y; double z; }
  entity dline 2:0 { ptr(dpoint) a; ptr(dpoint) b; int pen; }
  entity dmark 3:0 { ptr(dpoint) at; double size; }
)";

// The trace stream, captured while the object lives.
class TraceCapture {
 public:
  TraceCapture() : file_(std::tmpfile()), saved_(tesmar::map::g_trace) { tesmar::map::g_trace = file_; }
  ~TraceCapture() {
    tesmar::map::g_trace = saved_;
    std::fclose(file_);
  }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    for (int ch; (ch = std::fgetc(file_)) != EOF;) out += static_cast<char>(ch);
    return out;
  }

 private:
  std::FILE *file_;
  std::FILE *saved_;
};

inline mpm_Status noop(db_ptr, map_Context *) { return 0; }

class MapTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    geo_ = read_geometry();
    drawing_ = read_schema(kDrawingSchema);
    ASSERT_NE(geo_, nullptr);
    ASSERT_NE(drawing_, nullptr);
    ASSERT_EQ(map_CreateEnv(0, &env_), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(map_DeleteEnv(0, env_), 0u);
    LibraryTest::TearDown();
    ddf_FreeSchema(0, geo_);
    ddf_FreeSchema(0, drawing_);
  }

  static uint32_t tf(const ddf_Schema *schema, const char *name) {
    for (int32_t i = 0; i < schema->tf_count; ++i)
      if (std::string(schema->ent_names[i]) == name) return schema->typeforms[i];
    ADD_FAILURE() << "no entity " << name;
    return TF_NONE;
  }
  uint32_t geo(const char *name) const { return tf(geo_, name); }
  uint32_t drawing(const char *name) const { return tf(drawing_, name); }

  // The operations enabled for a DTF, compactly; empty when it has none.
  std::vector<std::string> table(ddf_Schema *schema, uint32_t type_form) const {
    std::vector<std::string> out;
    map_DTFNode key{{schema, type_form, 0}, nullptr};
    auto *node = static_cast<map_DTFNode *>(
        otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env_->enabled, &key));
    if (node == nullptr) return out;
    for (int32_t n = 1; n <= node->operations->count; ++n) {
      const auto *op = static_cast<const map_Operation *>(olm_GetObject(0, node->operations, n));
      std::string s = std::string(op->mapping->name) + ">" + std::to_string(op->next);
      if ((op->options & MAP_OP_COMMIT) != 0) s += "|c";
      if (op->model != 0) s += "|m" + std::to_string(op->model);
      if (op->param_count != 0) s += "|p" + std::to_string(op->param_count);
      out.push_back(s);
    }
    return out;
  }

  // Single mappings between the geometry types: point -> line -> arc -> drawing point, and
  // point -> point, point -> any geometry type, point -> nothing.
  void define_singles() {
    define("p2l", geo("point"), geo_, geo("line"));
    define("l2a", geo("line"), geo_, geo("arc"));
    define("a2x", geo("arc"), drawing_, drawing("dpoint"));
    define("p2p", geo("point"), geo_, geo("point"));
    define("p_any", geo("point"), geo_, TF_ANY);
    ASSERT_EQ(map_DefineMapping(0, env_, "p_none", geo_, geo("point"), nullptr, TF_NONE, noop), 0u);
  }
  void define(const char *name, uint32_t source, ddf_Schema *target, uint32_t target_tf) {
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, name, geo_, source, target, target_tf, noop), 0u);
  }
  std::vector<std::string> points() const { return table(geo_, geo("point")); }

  int32_t model(ddf_Schema *schema, const char *name, bool back_ptrs = true,
                uint32_t options = MDA_MEMORY_ONLY) {
    mda_ModelDef def;
    mda_InitModelDef(0, &def);
    std::snprintf(def.name, sizeof def.name, "%s", name);
    def.schema = schema;
    def.back_ptrs = back_ptrs ? 1 : 0;
    int32_t m = 0;
    EXPECT_EQ(mda_AllocateModel(options, &def, &m), 0u);
    return m;
  }

  ddf_Schema *geo_ = nullptr;
  ddf_Schema *drawing_ = nullptr;
  map_Env *env_ = nullptr;
};

}  // namespace tesmar::test
