// Shared by the entity-walk tests: a schema with every kind of field, entities of it, and
// callbacks that record every call as "KIND COUNT NAME WHERE".
#pragma once

#include <string>
#include <vector>

#include "ddf/ddf_internal.h"
#include "mda_test.h"

namespace tesmar::test {

// Every field kind, block-held and embedded arrays, structures, unions, subentities and lets. The
// offsets the tests expect are those `tesmar ddl show` prints for it.
inline constexpr const char *kWalkSchema = R"(
  database "walk" version 1 release 0;
  entity plain 1:0 {
    short s; int i; long l; float f; double d; char c; fstring(5) fs; vstring v; ptr p;
    derived dv; method mt;
  }
  entity counted 2:0 {
    count n;                   # 24
    int a[n];                  # 32, block
    double v[n][2] variable;   # 40, array block
    short g[2][3];             # 48, embedded
    fstring(4) names[2];       # 60, embedded
    let m = n + 1;             # 68
    short open[];              # 72, block sized by itself
    let q = 12 / n;            # 80
    int byq[q];                # 88, block
  }
  entity shapes 3:0 {
    int head;                              # 24
    struct pair { int a; short b; }        # 28
    struct pts[2] { double x; double y; }  # 40, elements of 16
    count k;                               # 72
    struct segs[k] { int w; }              # 80, block
    union u { int ui; short us; double ud; }  # 88, members at 96
    int tail;                              # 104
  }
  entity inner 5:0 {
    count n;       # 0 in the subentity (24 as an entity)
    int vals[n];   # 8
    let t = n * 2; # 16
  }
  entity nested 4:0 {
    count n;        # 24
    subent inner in;  # 32
    int after[n];   # 56
    let m = n + 1;  # 64
  }
  entity variant 6:0 {
    union w { int k; struct q { short h; short j; } double r; }  # 24, members at 32
  }
  entity defaults 7:0 {
    int w[3] ptrfixed default 7;   # 24
    float f default pi;            # 32
    short s default -3;            # 36
    union sel { int a; short b; }  # 40
    struct items[] { int v default 5; }  # 48
  }
  entity leaf 9:0 { int y; }
  entity loop 8:0 { subent leaf l; int x; }
)";

// What the recording callbacks saw and how they answer.
struct Recorder {
  static inline std::vector<std::string> calls;
  static inline std::vector<std::vector<int32_t>> registers;  // second engine: registers 1..3
  static inline int stop_at = -1;                               // answer STOP to this call
  static inline bool skip_subentities = false;
  static void reset() {
    calls.clear();
    registers.clear();
    stop_at = -1;
    skip_subentities = false;
  }
};

// "KIND COUNT NAME WHERE": WHERE is "@offset" inside the entity's block, "blk" elsewhere, "-" for
// none; NAME is "-" without descriptor, "<kind>" for an unnamed one.
inline std::string describe(void *entity, int32_t count, int32_t type, const void *address,
                            const ddf_FieldDesc *desc) {
  std::string name = "-";
  if (desc != nullptr) {
    const char *n = ddf::field_name(ddf_current, *desc);
    name = n != nullptr ? n : "<" + std::to_string(desc->kind) + ">";
  }
  std::string where = "-";
  if (address != nullptr) {
    const char *e = static_cast<const char *>(entity);
    const char *a = static_cast<const char *>(address);
    const MBlock *b = mda::header_of(entity);
    where = a >= e && a < e + (b->size - MDA_MBLOCK_HEADER_SIZE) ? "@" + std::to_string(a - e)
                                                                 : "blk";
  }
  return std::to_string(type) + " " + std::to_string(count) + " " + name + " " + where;
}

inline mpm_Status answer(int32_t type) {
  if (static_cast<int>(Recorder::calls.size()) - 1 == Recorder::stop_at) return MDA_TRAVERSE_STOP;
  if (type == DDF_SUBENT && Recorder::skip_subentities) return MDA_TRAVERSE_SKIP;
  return 0;
}

inline mpm_Status record(void *entity, int32_t count, int32_t type, void *address,
                         const ddf_FieldDesc *desc) {
  Recorder::calls.push_back(describe(entity, count, type, address, desc));
  return answer(type);
}

inline mpm_Status record2(void *entity, int32_t count, int32_t type, void *address,
                          const ddf_FieldDesc *desc, mpm_Status *, int32_t *registers, void *) {
  Recorder::calls.push_back(describe(entity, count, type, address, desc));
  Recorder::registers.push_back({registers[1], registers[2], registers[3]});
  const mpm_Status a = answer(type);
  return a == MDA_TRAVERSE_SKIP ? 0 : a;  // the second engine ends at any nonzero answer
}

// A started library with a memory-only model of the walk schema.
class WalkTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Recorder::reset();
    schema_ = read_schema(kWalkSchema);
    ASSERT_NE(schema_, nullptr);
    model_ = allocate(schema_);
  }
  void TearDown() override {
    LibraryTest::TearDown();
    ddf_FreeSchema(0, schema_);
  }

  static int32_t allocate(ddf_Schema *schema) {
    mda_ModelDef def;
    mda_InitModelDef(0, &def);
    def.schema = schema;
    int32_t model = 0;
    EXPECT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &model), 0u);
    return model;
  }

  uint32_t tf_of(const char *name) const {
    for (int32_t i = 0; i < schema_->tf_count; ++i)
      if (std::string(schema_->ent_names[i]) == name) return schema_->typeforms[i];
    ADD_FAILURE() << "no entity " << name;
    return TF_NONE;
  }

  // A live entity of the model with zero-filled memory.
  char *entity(const char *name, int32_t model = 0) {
    const db_ptr ptr = make_entity(model != 0 ? model : model_, tf_of(name), true);
    const mda_EntityEntry *e = mda::lookup(ptr);
    return e != nullptr ? static_cast<char *>(e->mloc) : nullptr;
  }

  static std::vector<std::string> walk(void *entity, uint32_t options = 0,
                                       mpm_Status expected = 0) {
    Recorder::calls.clear();
    EXPECT_EQ(mda_TraverseEntity(options, entity, record), expected);
    return Recorder::calls;
  }
  static std::vector<std::string> walk2(void *entity, mpm_Status expected = 0) {
    Recorder::calls.clear();
    Recorder::registers.clear();
    EXPECT_EQ(mda_TraverseEntity2(0, entity, record2, nullptr), expected);
    return Recorder::calls;
  }

  ddf_Schema *schema_ = nullptr;
  int32_t model_ = 0;
};

template <typename T>
T get(const char *entity, int offset) {
  T v;
  std::memcpy(&v, entity + offset, sizeof v);
  return v;
}
template <typename T>
void put(char *entity, int offset, T v) {
  std::memcpy(entity + offset, &v, sizeof v);
}
template <typename T = char>
T *block_at_slot(const char *entity, int offset) {
  return get<T *>(entity, offset);
}

}  // namespace tesmar::test
