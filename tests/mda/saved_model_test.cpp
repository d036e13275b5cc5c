// Saved-model files: randomised models of every field kind saved and restored in both forms, the
// forms themselves, numbering, versions, closures, and corrupted files.
#include <functional>
#include <random>

#include "mda_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

constexpr const char *kEvery = R"(
  database "every" version 2 release 3;
  entity item 1:0 {
    short s; int i; long l; char c; float f; double d;
    fstring(6) code; vstring text; ptr(any) link;
    int fixed[3];
    count n; double values[n]; ptr(any) links[n];
    int open[];
    double grid[][3];
    double rows[][2] variable;
    struct pairs[2] { int a; vstring b; }
    struct pts[] { double x; double y; }
    union u { int k; double r; fstring(4) w; }
    vstring later since 2.3;
  }
  entity holder 2:0 { subent item inner; ptr(item) of; }
)";

class SavedModelTest : public MdaTest {
 protected:
  void SetUp() override {
    MdaTest::SetUp();
    every_ = read_schema(kEvery);
    ASSERT_NE(every_, nullptr);
  }
  void TearDown() override {
    MdaTest::TearDown();
    ddf_FreeSchema(0, every_);
  }
  int32_t model(ddf_Schema *schema = nullptr, uint32_t options = MDA_MEMORY_ONLY) {
    mda_ModelDef def;
    mda_InitModelDef(0, &def);
    def.schema = schema != nullptr ? schema : every_;
    int32_t m = 0;
    EXPECT_EQ(mda_AllocateModel(options | MDA_KEEP_CURRENT, &def, &m), 0u);
    return m;
  }
  std::string file(const char *name) const { return dir_.file(name); }

  // Every entity of a model, field by field (doubles exactly), in number order; "reserved" and
  // "deleted" numbers as such.
  static std::string dump(int32_t m) {
    std::string out;
    const mda_ModelRec *rec = mda::model_in_use(m);
    for (uint64_t n = 1; rec != nullptr && n < rec->next_number; ++n) {
      const db_ptr p = MDA_MAKE_PTR(m, n);
      const mda_EntityEntry *e = mda::lookup(p);
      if ((e->status & MDA_ENTRY_RESERVED) != 0) {
        out += "#" + std::to_string(n) + " reserved\n";
        continue;
      }
      if (mda_IsValidPtr(p) == 0) continue;
      void *memory = nullptr;
      EXPECT_EQ(mda_LockEntity(0, p, &memory), 0u);
      out += "#" + std::to_string(n) + " " + std::to_string(static_cast<const mda_EntityHeader *>(memory)->tf) + ":";
      g_out = &out;
      EXPECT_EQ(mda_TraverseEntity(0, memory, describe), 0u);
      EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
      out += "\n";
    }
    return out;
  }
  static std::string *g_out;
  static mpm_Status describe(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
    std::string &o = *g_out;
    char text[64];
    if (type == DDF_STRUCT || type == DDF_UNIONKIND) {
      o += "{";
      if (type == DDF_UNIONKIND && address != nullptr) o += "u" + std::to_string(*static_cast<int16_t *>(address));
      return 0;
    }
    if (type == DDF_ENDSTRUCT || type == DDF_ENDUNION) return o += "}", 0;
    if (d == nullptr || type < DDF_SHORT || type > DDF_COUNT) return 0;
    o += " " + std::to_string(count) + "[";
    for (int32_t i = 0; i < count && address != nullptr; ++i) {
      const char *at = static_cast<const char *>(address);
      switch (type) {
        case DDF_SHORT: o += std::to_string(reinterpret_cast<const int16_t *>(at)[i]); break;
        case DDF_INT: case DDF_LONG: case DDF_COUNT: o += std::to_string(reinterpret_cast<const int32_t *>(at)[i]); break;
        case DDF_CHAR: o += std::to_string(static_cast<int>(at[i])); break;
        case DDF_FLOAT: std::snprintf(text, sizeof text, "%a", reinterpret_cast<const float *>(at)[i]), o += text; break;
        case DDF_DOUBLE: std::snprintf(text, sizeof text, "%a", reinterpret_cast<const double *>(at)[i]), o += text; break;
        case DDF_FSTRING: o += "'" + std::string(at + i * 6, strnlen(at + i * 6, d->dims[d->ndims - 1].a)) + "'"; break;
        case DDF_VSTRING: {
          const char *s = reinterpret_cast<const char *const *>(at)[i];
          o += s != nullptr ? "'" + std::string(s) + "'" : "null";
          break;
        }
        case DDF_PTR: o += std::to_string(MDA_PTR_ENTITY(reinterpret_cast<const db_ptr *>(at)[i])); break;
        default: break;
      }
      o += ",";
    }
    o += "]";
    return 0;
  }

  TempDir dir_;
  ddf_Schema *every_ = nullptr;
};
std::string *SavedModelTest::g_out = nullptr;

// Fills an entity with random values of every kind (its blocks made as a restore makes them).
struct Filler {
  RandomDriver &random;
  void *memory;
  std::vector<db_ptr> targets;  // handles a pointer may take (null and other models' among them)
  std::string string() {
    static const char *const pieces[] = {"a", "\"", "\\", "\n", " ", "\xC3\xA9", "z9", ",", ")", "#1 = x("};
    std::string s;
    for (int n = random.pick(5); n > 0; --n) s += pieces[random.pick(10)];
    return s;
  }
  static Filler *g;
  static mpm_Status field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
    Filler &f = *g;
    if (d == nullptr) return 0;
    const bool unsized = (d->flags & DDF_UNSIZED) != 0;
    if ((type == DDF_STRUCT || type == DDF_UNIONKIND) && count == 0 && unsized) {
      const int n = f.random.pick(3);
      if (n > 0) {
        EXPECT_EQ(mda_Malloc(0, f.memory, static_cast<uint32_t>(n * d->key), mda_TraverseFieldAddress), 0u);
      }
      return 0;
    }
    if (type == DDF_UNIONKIND && address != nullptr) {
      *static_cast<int16_t *>(address) = static_cast<int16_t>(f.random.pick(3));
      return 0;
    }
    if (type == DDF_COUNT) return *static_cast<int32_t *>(address) = f.random.pick(4), 0;
    if (type < DDF_SHORT || type > DDF_PTR) return 0;
    char *at = static_cast<char *>(address);
    if (unsized && count == 0) {
      const int rows = f.random.pick(3);
      if (rows == 0) return 0;
      const int32_t per = d->ndims > 1 ? d->dims[1].a : 1;
      const uint32_t size = static_cast<uint32_t>(ddf_types[type].size);
      if ((d->flags & DDF_VARIABLE) != 0) {
        EXPECT_EQ(mda_MallocArray(0, f.memory, size, mda_TraverseFieldAddress, 2, rows, per), 0u);
      } else {
        EXPECT_EQ(mda_Malloc(0, f.memory, size * rows * per, mda_TraverseFieldAddress), 0u);
      }
      int32_t n = 0;
      EXPECT_EQ(mda::block_elements(*d, mda_TraverseFieldAddress, ddf_registers, &n, &at), 0u);
      count = n;
    }
    for (int32_t i = 0; i < count; ++i) {
      switch (type) {
        case DDF_SHORT: reinterpret_cast<int16_t *>(at)[i] = static_cast<int16_t>(f.random.pick(65536) - 32768); break;
        case DDF_INT: case DDF_LONG: reinterpret_cast<int32_t *>(at)[i] = static_cast<int32_t>(f.random.rng()()); break;
        case DDF_CHAR: at[i] = static_cast<char>(f.random.pick(256)); break;
        case DDF_FLOAT: reinterpret_cast<float *>(at)[i] = std::ldexp(static_cast<float>(f.random.pick(1 << 20)), f.random.pick(60) - 30); break;
        case DDF_DOUBLE: {
          uint64_t bits = f.random.rng()();
          double v;
          std::memcpy(&v, &bits, 8);
          reinterpret_cast<double *>(at)[i] = std::isfinite(v) ? v : 0.1 * f.random.pick(100);
          break;
        }
        case DDF_FSTRING: {
          const int n = d->dims[d->ndims - 1].a;
          std::string s = f.string().substr(0, static_cast<std::size_t>(n - 1));
          std::memset(at + i * n, 0, static_cast<std::size_t>(n));
          std::memcpy(at + i * n, s.data(), s.size());
          break;
        }
        case DDF_VSTRING: {
          const std::string s = f.string();
          char **slot = reinterpret_cast<char **>(at) + i;
          *slot = nullptr;
          if (!s.empty()) {
            EXPECT_EQ(mda_Malloc(0, f.memory, static_cast<uint32_t>(s.size() + 1), slot), 0u);
            std::memcpy(*slot, s.c_str(), s.size() + 1);
          }
          break;
        }
        case DDF_PTR: reinterpret_cast<db_ptr *>(at)[i] = f.targets[static_cast<std::size_t>(f.random.pick(static_cast<int32_t>(f.targets.size())))]; break;
        default: break;
      }
    }
    return 0;
  }
};
Filler *Filler::g = nullptr;

TEST_F(SavedModelTest, RandomModelsComeBackEntityByEntityInBothForms) {
  RandomDriver random(61);
  for (uint32_t form : {0u, MDA_BINARY}) {
    for (int round = 0; round < 6; ++round) {
      SCOPED_TRACE(std::to_string(form) + "/" + std::to_string(round));
      const int32_t other = model();
      db_ptr elsewhere = 0;
      void *memory = nullptr;
      ASSERT_EQ(mda_AllocateEntity(MDA_UNLOCKED, other, every_->typeforms[0], &memory, &elsewhere), 0u);
      const int32_t m = model();
      std::vector<db_ptr> made;
      for (int k = 0, n = 3 + random.pick(12); k < n; ++k) {
        if (random.chance(1, 5)) {  // a gap in the numbering
          db_ptr r = 0;
          ASSERT_EQ(mda_ReserveDbPtr(0, m, &r), 0u);
        }
        db_ptr p = 0;
        const uint32_t tf = every_->typeforms[k == 0 ? 0 : random.pick(2)];  // the first an item
        ASSERT_EQ(mda_AllocateEntity(MDA_UNLOCKED | MDA_SET_DEFAULTS, m, tf, &memory, &p), 0u);
        made.push_back(p);
      }
      Filler filler{random, nullptr, made};
      filler.targets.push_back(0);
      Filler::g = &filler;
      for (db_ptr p : made) {
        ASSERT_EQ(mda_LockEntity(0, p, &filler.memory), 0u);
        ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, filler.memory, Filler::field), 0u);
        ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
      }
      // A pointer into another model is saved as null, with a warning.
      ASSERT_EQ(mda_LockEntity(0, made[0], &memory), 0u);
      std::memcpy(static_cast<char *>(memory) + 72, &elsewhere, 8);  // item.link
      ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, made[0]), 0u);
      const std::string first = file("first.sav"), second = file("second.sav");
      std::remove(first.c_str());
      ASSERT_EQ(mda_SaveModel(form, first.c_str(), 0, &m), 0u) << pending_texts()[0];
      EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MDA_CROSS_MODEL_PTR});
      mpm_DiscardPending(0);
      ASSERT_EQ(mda_LockEntity(0, made[0], &memory), 0u);
      std::memset(static_cast<char *>(memory) + 72, 0, 8);
      ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, made[0]), 0u);
      const std::string before = dump(m);
      ASSERT_EQ(mda_FreeModel(0, m), 0u);
      const int32_t again = model();  // the same number: the text files name it
      ASSERT_EQ(again, m);
      ASSERT_EQ(mda_RestoreModel(form, first.c_str(), 0, &again), 0u) << pending_texts()[0];
      EXPECT_EQ(dump(again), before);
      std::remove(second.c_str());
      ASSERT_EQ(mda_SaveModel(form, second.c_str(), 0, &again), 0u);
      EXPECT_EQ(read_file(second), read_file(first));
      ASSERT_EQ(mda_FreeModel(0, again), 0u);
      ASSERT_EQ(mda_FreeModel(0, other), 0u);
    }
  }
}

class SavedFormsTest : public SavedModelTest {
 protected:
  void SetUp() override {
    SavedModelTest::SetUp();
    point_ = read_schema(R"(
      database "saved" version 1 release 2;
      entity point 1:0 { double v; vstring s; }
      entity pair 2:0 { ptr(point) a; ptr(point) b; }
    )");
    ASSERT_NE(point_, nullptr);
  }
  void TearDown() override {
    SavedModelTest::TearDown();
    ddf_FreeSchema(0, point_);
  }
  db_ptr point(int32_t m, double v, const char *s) {
    void *memory = nullptr;
    db_ptr p = 0;
    EXPECT_EQ(mda_AllocateEntity(0, m, point_->typeforms[0], &memory, &p), 0u);
    std::memcpy(static_cast<char *>(memory) + 24, &v, 8);
    if (s != nullptr) {
      EXPECT_EQ(mda_Malloc(0, memory, static_cast<uint32_t>(std::strlen(s) + 1), static_cast<char *>(memory) + 32), 0u);
      std::strcpy(*reinterpret_cast<char **>(static_cast<char *>(memory) + 32), s);
    }
    EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
    return p;
  }
  mpm_Status restore(const std::string &bytes, int32_t m, uint32_t options = 0) {
    write_file(file("in.sav"), bytes);
    return mda_RestoreModel(options, file("in.sav").c_str(), 0, &m);
  }
  ddf_Schema *point_ = nullptr;
};

TEST_F(SavedFormsTest, TheTextFormAndItsNumbering) {
  const int32_t m = model(point_);
  db_ptr r = 0;
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &r), 0u);
  ASSERT_EQ(mda_ReserveDbPtr(0, m, &r), 0u);
  point(m, 1, "a\"b");
  const std::string saved = file("point.sav");
  ASSERT_EQ(mda_SaveModel(0, saved.c_str(), 0, &m), 0u);
  EXPECT_EQ(read_file(saved), "BEGIN_MODEL " + std::to_string(m) +
                                  " saved 1 2\n#3 = point(1.0,\n   \"a\\\"b\");\nEND_MODEL " +
                                  std::to_string(m) + "\n");
  EXPECT_EQ(mda_SaveModel(0, saved.c_str(), 0, &m), MDA_FILE_EXISTS);
  EXPECT_EQ(mda_SaveModel(MDA_OVERWRITE, saved.c_str(), 0, &m), 0u);
  EXPECT_EQ(mda_SaveModel(0, (saved + "/no").c_str(), 0, &m), MDA_OPEN_ERR);
  mpm_DiscardPending(0);
  // A record over several lines, CR LF line ends, records out of order.
  const int32_t into = model(point_);
  ASSERT_EQ(restore("BEGIN_MODEL 9 saved 1 2\r\n#5 = point(\r\n  2.5 ,\r\n  \"x\\\"y\r\n    z\"\r\n);\r\n"
                    "a line of other text\r\n#2 = point(1.0, \"\");\r\nEND_MODEL 9\r\n", into),
            0u) << pending_texts()[0];
  EXPECT_EQ(dump(into), "#1 reserved\n#2 65536: 1[0x1p+0,] 1[null,]\n#3 reserved\n#4 reserved\n"
                        "#5 65536: 1[0x1.4p+1,] 1['x\"yz',]\n");
  ASSERT_EQ(mda_SaveModel(MDA_OVERWRITE, saved.c_str(), 0, &into), 0u);
  EXPECT_EQ(read_file(saved), "BEGIN_MODEL " + std::to_string(into) + " saved 1 2\n#2 = point(1.0,\n   \"\");\n"
                              "#5 = point(2.5,\n   \"x\\\"yz\");\nEND_MODEL " + std::to_string(into) + "\n");
  // Not into a model that holds entities.
  EXPECT_EQ(restore("BEGIN_MODEL 9 saved 1 2\n", into), MDA_MODEL_NOT_EMPTY);
  mpm_DiscardPending(0);
}

TEST_F(SavedFormsTest, VersionsSignaturesAndClosures) {
  const int32_t m = model(point_);
  EXPECT_EQ(restore("BEGIN_MODEL 1 saved 2 0\n#1 = point(1.0, \"\");\n", m), MDA_NEWER_DBVERSION);
  EXPECT_EQ(restore("BEGIN_MODEL 1 other 1 2\n", m), MDA_INCORRECT_DBNAME);
  mpm_DiscardPending(0);
  EXPECT_EQ(restore("BEGIN_MODEL 1 saved 0 7\n#1 = point(1.0, \"\");\n", m), 0u);
  EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MDA_OLDER_DBVERSION});
  mpm_DiscardPending(0);
  ASSERT_EQ(mda_ClearModel(0, m), 0u);
  // A file of an older release leaves the fields added since with their defaults.
  const int32_t e = model();
  void *memory = nullptr;
  db_ptr p = 0;
  ASSERT_EQ(mda_AllocateEntity(MDA_SET_DEFAULTS, e, every_->typeforms[0], &memory, &p), 0u);
  ASSERT_EQ(mda_Malloc(0, memory, 6, static_cast<char *>(memory) + 192), 0u);  // item.later
  std::strcpy(*reinterpret_cast<char **>(static_cast<char *>(memory) + 192), "later");
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  mda::model_in_use(e)->save_version = 202;
  ASSERT_EQ(mda_SaveModel(MDA_BINARY, file("old.sav").c_str(), 0, &e), 0u);
  const int32_t back = model();
  ASSERT_EQ(mda_RestoreModel(MDA_BINARY, file("old.sav").c_str(), 0, &back), 0u);
  EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MDA_OLDER_DBRELEASE});
  mpm_DiscardPending(0);
  EXPECT_NE(dump(e).find("'later'"), std::string::npos);
  EXPECT_EQ(dump(back).find("'later'"), std::string::npos);
  EXPECT_NE(dump(back).find("1[null,]\n"), std::string::npos);
  // A foreign signature is refused before any entity is made.
  std::string binary = read_file(file("old.sav"));
  binary[0] = binary[0] == '1' ? '0' : '1';
  const int32_t foreign = model();
  write_file(file("foreign.sav"), binary);
  EXPECT_EQ(mda_RestoreModel(MDA_BINARY, file("foreign.sav").c_str(), 0, &foreign), MDA_INCORRECT_SIGNATURE);
  EXPECT_EQ(mda::model_in_use(foreign)->live_count, 0u);
  mpm_DiscardPending(0);
  // A binary file made by hand, as a 64-bit little-endian writer lays it out.
  std::string hand = "112448";
  hand += std::string("saved") + std::string(187, '\0') + " 1 2";
  auto u64 = [&](uint64_t v) { hand.append(reinterpret_cast<const char *>(&v), 8); };
  auto u32 = [&](uint32_t v) { hand.append(reinterpret_cast<const char *>(&v), 4); };
  u64(2);
  u64(1), u32(point_->typeforms[0]);
  const double v = 2.5;
  hand.append(reinterpret_cast<const char *>(&v), 8);
  u32(2), hand += "hi";
  u64(2), u32(point_->typeforms[1]), u64(1), u64(0);
  const int32_t made = model(point_);
  ASSERT_EQ(restore(hand, made, MDA_BINARY), 0u) << pending_texts()[0];
  EXPECT_EQ(dump(made), "#1 65536: 1[0x1.4p+1,] 1['hi',]\n#2 131072: 1[1,] 1[0,]\n");
  // A closure: a pair and the two points it names, nothing else.
  const int32_t c = model(point_);
  point(c, 9, nullptr);
  const db_ptr a = point(c, 1, nullptr), b = point(c, 2, nullptr);
  ASSERT_EQ(mda_AllocateEntity(0, c, point_->typeforms[1], &memory, &p), 0u);
  std::memcpy(static_cast<char *>(memory) + 24, &a, 8);
  std::memcpy(static_cast<char *>(memory) + 32, &b, 8);
  ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  ASSERT_EQ(mda_SaveEntities(0, file("closure.sav").c_str(), 1, &p), 0u);
  const std::string closure = read_file(file("closure.sav"));
  EXPECT_EQ(closure.find("#1 ="), std::string::npos);
  for (const char *record : {"#2 = point(1.0", "#3 = point(2.0", "#4 = pair("})
    EXPECT_NE(closure.find(record), std::string::npos) << closure;
}

// Damaged files: every failure says so, leaves the model empty and nothing behind.
TEST_F(SavedFormsTest, DamagedFilesAreRefusedCleanly) {
  RandomDriver random(4);
  const int32_t m = model();
  std::vector<db_ptr> made;
  void *memory = nullptr;
  for (int k = 0; k < 4; ++k) {
    db_ptr p = 0;
    ASSERT_EQ(mda_AllocateEntity(MDA_UNLOCKED | MDA_SET_DEFAULTS, m, every_->typeforms[k % 2], &memory, &p), 0u);
    made.push_back(p);
  }
  Filler filler{random, nullptr, made};
  Filler::g = &filler;
  for (db_ptr p : made) {
    ASSERT_EQ(mda_LockEntity(0, p, &filler.memory), 0u);
    ASSERT_EQ(mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, filler.memory, Filler::field), 0u);
    ASSERT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  }
  const int32_t target = model();
  for (uint32_t form : {0u, MDA_BINARY}) {
    const std::string name = file(form != 0 ? "good.bin" : "good.sav");
    ASSERT_EQ(mda_SaveModel(form, name.c_str(), 0, &m), 0u);
    const std::string good = read_file(name);
    std::vector<std::string> damaged;
    for (std::size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 400) damaged.push_back(good.substr(0, cut));
    for (int k = 0; k < 300; ++k) {
      std::string d = good;
      d[static_cast<std::size_t>(random.pick(static_cast<int32_t>(d.size())))] = static_cast<char>(random.pick(256));
      damaged.push_back(d);
    }
    for (const std::string &d : damaged) {
      const mpm_Status s = restore(d, target, form);
      if (s != 0) {
        EXPECT_EQ(mda::model_in_use(target)->live_count, 0u) << s;
      }
      EXPECT_EQ(mda_ClearModel(0, target), 0u);
      mpm_DiscardPending(0);
    }
  }
  // Numbers and counts beyond what the file can hold are refused before anything is made.
  for (const char *text : {"BEGIN_MODEL 1 every 2 3\n#281474976710656 = item(",
                           "BEGIN_MODEL 1 every 2 3\n#99999999 = item(1",
                           "BEGIN_MODEL 1 every 2 3\n#1 = item(1,2,3,4,1.0,1.0,\"\",\"\",NULL,1,2,3,2000000000,",
                           "BEGIN_MODEL 1 every 2 3\n#1 = nothing(",
                           "BEGIN_MODEL 1 every 2 3\n#1 = item(1,2,3,4,1.0,1.0,\"\",\"\",1:281474976710656"}) {
    EXPECT_NE(restore(text, target), 0u) << text;
    EXPECT_EQ(mda::model_in_use(target)->live_count, 0u);
    mpm_DiscardPending(0);
  }
}

}  // namespace
}  // namespace tesmar::test
