// Dispatching and processing: a translation from the geometry schema into a drawing schema
// through a mapping list and a conditional mapping, checked entity by entity; what processing
// refuses; deletion of uncommitted output; generic copies; the dispatch depth bound.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "map/map_internal.h"
#include "map_test.h"

namespace tesmar::test {
namespace {

// Field offsets: geometry point x y z at 24 32 40, line start end at 24 32; drawing dpoint x y z
// at 24 32 40, dline a b pen at 24 32 40, dmark at size at 24 32.
constexpr int kX = 24, kY = 32, kZ = 40, kA = 24, kB = 32, kPen = 40, kAt = 24, kSize = 32;

// Parameters of the test translator, named by the rows of a message table of its own.
constexpr mpm_Status kScale = 0xC80001u, kPenParam = 0xC80002u;
const char *const kTexts[] = {" scale\n", " pen\n"};
const mpm_MsgName kNames[] = {{"SCALE", 1, 0}, {"PEN", 1, 1}};
const mpm_ModuleDesc kTranslator = {200, 2, "TRN", kTexts, kNames};

template <typename T>
T get(db_ptr p, int offset) {
  void *memory = nullptr;
  EXPECT_EQ(mda_LockEntity(0, p, &memory), 0u);
  T value{};
  if (memory != nullptr) std::memcpy(&value, static_cast<char *>(memory) + offset, sizeof value);
  EXPECT_EQ(mda_UnlockEntity(0, p), 0u);
  return value;
}

// A new unlocked entity, its fields filled by `fill` (memory, handle).
db_ptr make(int32_t model, uint32_t tf, const std::function<void(char *, db_ptr)> &fill = {}) {
  void *memory = nullptr;
  db_ptr p = 0;
  EXPECT_EQ(mda_AllocateEntity(0, model, tf, &memory, &p), 0u);
  if (fill) fill(static_cast<char *>(memory), p);
  EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, p), 0u);
  return p;
}

void set_ptr(char *memory, db_ptr parent, int offset, db_ptr child) {
  EXPECT_EQ(mda_AddPtr(parent, child, reinterpret_cast<db_ptr *>(memory + offset)), 0u);
}

void set_xyz(char *memory, double x, double y, double z) {
  std::memcpy(memory + kX, &x, 8), std::memcpy(memory + kY, &y, 8), std::memcpy(memory + kZ, &z, 8);
}

class DispatchTest : public MapTest {
 public:  // the mapping functions reach the fixture through fixture_
  void SetUp() override {
    MapTest::SetUp();
    fixture_ = this;
    mpm_RegisterModule(0, &kTranslator);
    ASSERT_EQ(map__DefineParameter(0, kScale, MAP_PARAM_DOUBLE, &scale_), 0u);
    ASSERT_EQ(map__DefineParameter(0, kPenParam, MAP_PARAM_LONG, &pen_), 0u);
    source_ = model(geo_, "source");
    target_ = model(drawing_, "target");
    map_InitContext(0, &context_);
    context_.env = env_;
  }
  void TearDown() override {
    fixture_ = nullptr;
    MapTest::TearDown();
  }

  // What an entity of the target model holds, its pointer fields followed.
  std::string describe(db_ptr p) const {
    map_DTF dtf{};
    if (!map::entity_dtf(p, &dtf)) return "gone";
    auto coords = [&](db_ptr q) {
      return "(" + num(get<double>(q, kX)) + "," + num(get<double>(q, kY)) + "," +
             num(get<double>(q, kZ)) + ")";
    };
    if (dtf.type_form == drawing("dpoint") || dtf.type_form == geo("point")) return coords(p);
    if (dtf.type_form == drawing("dline"))
      return "line" + coords(get<db_ptr>(p, kA)) + coords(get<db_ptr>(p, kB)) + " pen " +
             std::to_string(get<int32_t>(p, kPen));
    if (dtf.type_form == drawing("dmark"))
      return "mark" + coords(get<db_ptr>(p, kAt)) + " size " + num(get<double>(p, kSize));
    if (dtf.type_form == geo("line"))
      return "line" + coords(get<db_ptr>(p, kA)) + coords(get<db_ptr>(p, kB));
    return "?";
  }
  static std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }
  // Every entity of a model, described, with its parent count; sorted.
  std::vector<std::string> contents(int32_t m) const {
    std::vector<std::string> out;
    const mda_ModelRec *rec = mda::model_in_use(m);
    for (uint64_t n = 1; rec != nullptr && n < rec->next_number; ++n) {
      const db_ptr p = MDA_MAKE_PTR(m, n);
      if (mda_IsValidPtr(p) == 0) continue;
      int32_t parents = 0;
      EXPECT_EQ(mda_GetNumParents(0, p, &parents), 0u);
      out.push_back(describe(p) + (parents != 0 ? " <" + std::to_string(parents) : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  uint64_t live(int32_t m) const { return mda::model_in_use(m)->live_count; }

  // ---- the translator's mapping functions ----
  static DispatchTest *fixture_;
  static double scale(map_Context *c) {
    double s = 0;
    EXPECT_EQ(map_GetParameter(MAP_GET_DEFAULT, c->operation, kScale, &s), 0u);
    return s;
  }
  static db_ptr dpoint(map_Context *c, db_ptr from, double s) {
    const double x = get<double>(from, kX), y = get<double>(from, kY), z = get<double>(from, kZ);
    return make(c->target_model, fixture_->drawing("dpoint"),
                [&](char *m, db_ptr) { set_xyz(m, x * s, y * s, z * s); });
  }
  static mpm_Status point_to_dpoint(db_ptr e, map_Context *c) {
    return map_ProcessEntity(0, dpoint(c, e, scale(c)), c);
  }
  static mpm_Status point_to_mark(db_ptr e, map_Context *c) {
    const double s = scale(c);
    const db_ptr at = dpoint(c, e, s);
    const db_ptr mark = make(c->target_model, fixture_->drawing("dmark"), [&](char *m, db_ptr self) {
      set_ptr(m, self, kAt, at);
      std::memcpy(m + kSize, &s, 8);
    });
    return map_ProcessEntity(0, mark, c);
  }
  static mpm_Status by_z(db_ptr e, map_Context *c) {
    return map_InvokeMapping(get<double>(e, kZ) == 0 ? "point to dpoint" : "point to mark", e, c);
  }
  static mpm_Status line_to_dline(db_ptr e, map_Context *c) {
    const db_ptr a = dpoint(c, get<db_ptr>(e, kA), 1), b = dpoint(c, get<db_ptr>(e, kB), 1);
    const db_ptr line = make(c->target_model, fixture_->drawing("dline"), [&](char *m, db_ptr self) {
      set_ptr(m, self, kA, a), set_ptr(m, self, kB, b);
    });
    return map_ProcessEntity(0, line, c);
  }
  // A new line sharing the first point of its input, with a copy of the second and a pen.
  static mpm_Status dline_pen(db_ptr e, map_Context *c) {
    int32_t pen = 0;
    EXPECT_EQ(map_GetParameter(MAP_GET_DEFAULT, c->operation, kPenParam, &pen), 0u);
    const db_ptr a = get<db_ptr>(e, kA), b = dpoint(c, get<db_ptr>(e, kB), 1);
    const db_ptr line = make(c->target_model, fixture_->drawing("dline"), [&](char *m, db_ptr self) {
      set_ptr(m, self, kA, a), set_ptr(m, self, kB, b);
      std::memcpy(m + kPen, &pen, 4);
    });
    return map_ProcessEntity(0, line, c);
  }

  void define_translator() {
    const uint32_t point = geo("point"), line = geo("line");
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "point to dpoint", geo_, point, drawing_,
                                drawing("dpoint"), point_to_dpoint), 0u);
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL | MAP_TRANSIENT, env_, "point to mark", geo_, point,
                                drawing_, drawing("dmark"), point_to_mark), 0u);
    ASSERT_EQ(map_DefineConditionalMapping(0, env_, "by z", geo_, point, by_z, "point to dpoint",
                                           "point to mark", nullptr), 0u);
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "line to dline", geo_, line, drawing_,
                                drawing("dline"), line_to_dline), 0u);
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "dline pen", drawing_, drawing("dline"), drawing_,
                                drawing("dline"), dline_pen), 0u);
    ASSERT_EQ(map_DefineMappingList(0, env_, "lines", "line to dline", "dline pen", nullptr), 0u);
    ASSERT_EQ(map_EnableMapping(0, env_, "by z", MAP_PARAM, kScale, 2.0, MAP_COMMIT, MAP_END), 0u);
    ASSERT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, "lines", "PARAM TRN_PEN 3 COMMIT"), 0u);
  }

  double scale_ = 1;
  int32_t pen_ = 1;
  int32_t source_ = 0, target_ = 0;
  map_Context context_{};
};
DispatchTest *DispatchTest::fixture_ = nullptr;

TEST_F(DispatchTest, TranslatesThroughAListAndAConditional) {
  define_translator();
  const db_ptr p1 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 1, 2, 0); });
  const db_ptr p2 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 3, 4, 5); });
  const db_ptr p3 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 6, 7, 0); });
  make(source_, geo("line"), [&](char *m, db_ptr self) { set_ptr(m, self, kA, p1), set_ptr(m, self, kB, p2); });
  make(source_, geo("line"), [&](char *m, db_ptr self) { set_ptr(m, self, kA, p2), set_ptr(m, self, kB, p3); });
  make(source_, geo("layer"));  // no mapping: passes with MAP_IGNORE_UNMAPPED
  const std::vector<std::string> source_before = contents(source_);
  olm_List *committed = olm_CreateList(0, sizeof(db_ptr), 8, 0);
  context_.commit_list = committed;
  context_.options = MAP_IGNORE_UNMAPPED;
  mda_TypeLists *lists = mda::model_in_use(source_)->type_lists;
  for (uint32_t tfi = 0; tfi < lists->tf_count; ++tfi)
    ASSERT_EQ(map_DispatchEntityList(0, lists, static_cast<int32_t>(tfi), &context_), 0u);
  EXPECT_TRUE(pending_texts().empty()) << pending_texts()[0];
  // Each point: scaled by 2, a copy committed (z = 0), or a mark committed where it was made; each
  // line: the list's second mapping's output committed as a copy, sharing the first point made by
  // the first mapping and holding its own second point. Made and not committed: nothing is left.
  EXPECT_EQ(contents(target_),
            (std::vector<std::string>{"(1,2,0) <1", "(12,14,0)", "(2,4,0)", "(3,4,5) <1",
                                      "(3,4,5) <1", "(6,7,0) <1", "(6,8,10) <1",
                                      "line(1,2,0)(3,4,5) pen 3", "line(3,4,5)(6,7,0) pen 3",
                                      "mark(6,8,10) size 2"}));
  EXPECT_EQ(contents(source_), source_before);
  // Committed: the two lines and the three points' results, in dispatch order (the schema's type
  // order: line before point).
  std::vector<std::string> order;
  while (auto *h = static_cast<db_ptr *>(olm_CycleList(0, committed))) order.push_back(describe(*h));
  EXPECT_EQ(order, (std::vector<std::string>{"line(1,2,0)(3,4,5) pen 3", "line(3,4,5)(6,7,0) pen 3",
                                             "(2,4,0)", "mark(6,8,10) size 2", "(12,14,0)"}));
  olm_DeleteList(0, committed);
}

TEST_F(DispatchTest, TraceAtLevelTwo) {
  define_translator();
  const db_ptr p1 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 1, 2, 0); });
  const db_ptr line = make(source_, geo("line"), [&](char *m, db_ptr self) {
    set_ptr(m, self, kA, p1), set_ptr(m, self, kB, p1);
  });
  const db_ptr layer = make(source_, geo("layer"));
  TraceCapture trace;
  map_DbgSetLevel(2);
  map_DbgSetLevel(-1);  // leaves the level
  context_.options = MAP_IGNORE_UNMAPPED;
  for (db_ptr p : {p1, line, layer}) EXPECT_EQ(map_DispatchEntity(p, &context_), 0u);
  map_DbgSetLevel(0);
  EXPECT_EQ(trace.text(), R"(

*** Mapping #1:1 (0x1000000000001), dtf: geometry:116:0
  @1 "by z"   <CONDITIONAL HEADER>
          db_ptr: #1:1 (0x1000000000001), orig_db_ptr: 0x1000000000001
          dtf: geometry:116:0, dst mdl: 0
  @2 "point to dpoint"
          db_ptr: #1:1 (0x1000000000001), orig_db_ptr: 0x1000000000001
          dtf: geometry:116:0, dst mdl: 2
  ## Copying #2:1 (0x2000000000001) to #2:2 (0x2000000000002)
  ## Committing #2:2 (0x2000000000002)
  ## Deleting #2:1 (0x2000000000001)


*** Mapping #1:2 (0x1000000000002), dtf: geometry:110:0
  @1 "lines"   <LIST HEADER>
  @1 "line to dline"
          db_ptr: #1:2 (0x1000000000002), orig_db_ptr: 0x1000000000002
          dtf: geometry:110:0, dst mdl: 2
          ** Invoking map_DispatchEntity with #2:4 (0x2000000000004)
  @2 "dline pen"
          db_ptr: #2:4 (0x2000000000004), orig_db_ptr: 0x2000000000004
          dtf: drawing:2:0, dst mdl: 2
  ## Copying #2:6 (0x2000000000006) to #2:7 (0x2000000000007)
  ## Committing #2:7 (0x2000000000007)
  ## Deleting #2:6 (0x2000000000006)
  ## Deleting #2:4 (0x2000000000004)


*** Mapping #1:3 (0x1000000000003), dtf: geometry:406:3
  @1 Ignoring db_ptr: #1:3 (0x1000000000003) with non-mapped dtf: geometry:406:3
)");
}

// What processing and dispatching refuse, each case a mapping of its own for a point.
TEST_F(DispatchTest, RefusedOutputAndRefusedInvocations) {
  const uint32_t point = geo("point");
  const db_ptr p = make(source_, geo("point"));
  static const map_MappingFn make_dpoint = [](db_ptr e, map_Context *c) {
    if (c->target_model == 0) c->target_model = fixture_->target_;  // a mapping without a target
    return map_ProcessEntity(0, dpoint(c, e, 1), c);
  };
  struct Case {
    const char *what;
    std::function<void()> define;  // defines and enables "m" (and what it needs) for points
    mpm_Status code;
    const char *text;
  };
  auto single = [&](uint32_t flags, ddf_Schema *to, uint32_t to_tf, map_MappingFn f) {
    ASSERT_EQ(map_DefineMapping(flags | MAP_ENABLE, env_, "m", geo_, point, to, to_tf, f), 0u);
  };
  auto conditional = [&](map_MappingFn condition) {
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "a", geo_, point, drawing_, drawing("dpoint"), make_dpoint), 0u);
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "l2x", geo_, geo("line"), drawing_, TF_ANY, make_dpoint), 0u);
    ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "other", geo_, point, drawing_, TF_ANY, make_dpoint), 0u);
    ASSERT_EQ(map_DefineConditionalMapping(MAP_ENABLE, env_, "m", geo_, point, condition, "a", nullptr), 0u);
  };
  const Case cases[] = {
      {"output of another type than declared", [&] { single(MAP_GENERAL, drawing_, drawing("dline"), make_dpoint); },
       MAP_UNEXPECTED_DTF, "Expected DTF drawing:2:0 but found drawing:1:0 for #2:1 (0x2000000000001) in "
       "map_ProcessEntity while processing output of mapping \"m\"."},
      {"output of a mapping without a target", [&] { single(MAP_GENERAL, nullptr, TF_NONE, make_dpoint); },
       MAP_NO_TARGET_DDF, "from mapping \"m\" which was defined with a target DDF of NULL."},
      {"output of a mapping that is not general", [&] { single(0, drawing_, TF_ANY, make_dpoint); },
       MAP_NON_GENERAL_MAP, "from mapping \"m\" which was not defined with MAP_GENERAL."},
      {"output of a condition function", [&] { conditional(make_dpoint); }, MAP_NO_PROCESS_CONDITIONAL,
       "map_ProcessEntity called for #2:1 (0x2000000000001) from mapping \"m\" which was defined as a "
       "conditional mapping."},
      {"an invocation from a mapping that is not conditional",
       [&] { single(MAP_GENERAL, drawing_, TF_ANY, [](db_ptr e, map_Context *c) { return map_InvokeMapping("m", e, c); }); },
       MAP_INVOKE_NONCONDITIONAL, "map_InvokeMapping called for #1:1 (0x1000000000001) from mapping \"m\" which was not"},
      {"an invocation of a mapping that is no alternative",
       [&] { conditional([](db_ptr e, map_Context *c) { return map_InvokeMapping("other", e, c); }); },
       MAP_LIST_ERR, "Error using OLM tree."},
      {"an invocation of an undefined mapping",
       [&] { conditional([](db_ptr e, map_Context *c) { return map_InvokeMapping("zz", e, c); }); },
       MAP_UNDEFINED, "Mapping \"zz\" is not defined."},
      {"an invocation of a mapping for another type",
       [&] { conditional([](db_ptr e, map_Context *c) { return map_InvokeMapping("l2x", e, c); }); },
       MAP_INCORRECT_TYPE, "for #1:1 (0x1000000000001). The type expected was geometry:110:0, the type found "
       "was geometry:116:0."},
      {"a chain whose next mapping does not take the output",
       [&] {
         ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "a", geo_, point, drawing_, drawing("dpoint"), make_dpoint), 0u);
         ASSERT_EQ(map_DefineMapping(MAP_GENERAL, env_, "b", drawing_, drawing("dline"), drawing_, TF_ANY, make_dpoint), 0u);
         ASSERT_EQ(map_DefineMappingList(0, env_, "m", "a", "b", nullptr), 0u);
         ASSERT_EQ(map_EnableMapping(0, env_, "m", MAP_END), 0u);
       },
       MAP_INCORRECT_TYPE, "The type expected was drawing:2:0, the type found was drawing:1:0."},
      {"a type without mappings", [] {}, MAP_NO_MAPPING, "No mapping enabled for entity #1:1 (0x1000000000001)."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    map_Env *fresh = nullptr;
    ASSERT_EQ(map_CreateEnv(0, &fresh), 0u);
    std::swap(fresh, env_);
    context_.env = env_;
    c.define();
    EXPECT_EQ(map_DispatchEntity(p, &context_), c.code);
    const std::vector<std::string> pending = take_pending();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_NE(pending[0].find(c.text), std::string::npos) << pending[0];
    EXPECT_NE(pending[0].find(mpm_GetMessageName(c.code)), std::string::npos) << pending[0];
    std::swap(fresh, env_);
    ASSERT_EQ(map_DeleteEnv(0, fresh), 0u);
    ASSERT_EQ(mda_ClearModel(0, target_), 0u);
  }
}

// Operations given what no dispatch would give them: the module's status and message, no crash.
TEST_F(DispatchTest, CallsOutsideADispatchAndBadHandles) {
  define_translator();
  const db_ptr p = make(source_, geo("point"));
  const db_ptr deleted = make(source_, geo("point"));
  ASSERT_EQ(mda_DeleteEntity(0, deleted), 0u);
  const int32_t freed = model(geo_, "freed");
  const db_ptr orphan = make(freed, geo("point"));
  ASSERT_EQ(mda_FreeModel(0, freed), 0u);
  map_Context no_env{};
  map_InitContext(0, &no_env);
  mda_TypeLists *lists = mda::model_in_use(source_)->type_lists;
  db_ptr out = 0;
  const struct {
    const char *what;
    std::function<mpm_Status()> call;
    mpm_Status code;
  } cases[] = {
      {"no context", [&] { return map_DispatchEntity(p, nullptr); }, MAP_INVALID_ARG},
      {"no environment", [&] { return map_DispatchEntity(p, &no_env); }, MAP_INVALID_ARG},
      {"the null handle", [&] { return map_DispatchEntity(0, &context_); }, MAP_INVALID_PTR},
      {"a deleted entity", [&] { return map_DispatchEntity(deleted, &context_); }, MAP_INVALID_PTR},
      {"an entity of a model not in use", [&] { return map_DispatchEntity(orphan, &context_); }, MAP_INVALID_PTR},
      {"processing outside a dispatch", [&] { return map_ProcessEntity(0, p, &context_); }, MAP_INVALID_ARG},
      {"invoking outside a dispatch", [&] { return map_InvokeMapping("by z", p, &context_); }, MAP_INVALID_ARG},
      {"committing outside a dispatch", [&] { return map_CommitEntity(0, p, &context_, &out); }, MAP_INVALID_ARG},
      {"copying outside a dispatch", [&] { return map__GenericCopy(p, &context_); }, MAP_INVALID_ARG},
      {"no context to initialise", [] { return map_InitContext(0, nullptr); }, MAP_INVALID_ARG},
      {"no entity lists", [&] { return map_DispatchEntityList(0, nullptr, 0, &context_); }, MAP_INVALID_ARG},
      {"a chain number out of range",
       [&] { return map_DispatchEntityList(0, lists, static_cast<int32_t>(lists->tf_count), &context_); },
       MAP_INVALID_ARG},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.code);
    EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{c.code});
    mpm_DiscardPending(0);
  }
  EXPECT_EQ(live(target_), 0u);
}

// Uncommitted output goes with the children only it points to, however long the chain, and
// leaves the children that others point to; cycles end.
TEST_F(DispatchTest, DeletingUncommittedOutputTakesItsExclusiveChildren) {
  static int32_t chain_length = 0;
  static db_ptr shared = 0;
  static uint32_t group = 0;
  static bool held = false;
  group = geo("group");
  // A chain of groups, each pointing to the next and the last back to the first; the first also
  // points to `shared`, which a committed entity points to as well.
  static const map_MappingFn make_chain = [](db_ptr, map_Context *c) {
    std::vector<db_ptr> chain;
    for (int32_t i = 0; i < chain_length; ++i) chain.push_back(make(c->target_model, group));
    for (int32_t i = 0; i < chain_length; ++i) {
      void *memory = nullptr;
      EXPECT_EQ(mda_LockEntity(0, chain[i], &memory), 0u);
      char *m = static_cast<char *>(memory);
      const int32_t members = i == 0 ? 2 : 1;
      std::memcpy(m + 56, &members, 4);
      EXPECT_EQ(mda_Malloc(0, m, 16, m + 64), 0u);
      db_ptr *slots = *reinterpret_cast<db_ptr **>(m + 64);
      EXPECT_EQ(mda_AddPtr(chain[i], chain[(i + 1) % chain_length], &slots[0]), 0u);
      if (i == 0) {
        EXPECT_EQ(mda_AddPtr(chain[i], shared, &slots[1]), 0u);
      }
      EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, chain[i]), 0u);
    }
    if (held) {  // one more group, not output, points to the first
      const db_ptr holder = make(c->target_model, group);
      void *memory = nullptr;
      EXPECT_EQ(mda_LockEntity(0, holder, &memory), 0u);
      char *m = static_cast<char *>(memory);
      const int32_t members = 1;
      std::memcpy(m + 56, &members, 4);
      EXPECT_EQ(mda_Malloc(0, m, 8, m + 64), 0u);
      EXPECT_EQ(mda_AddPtr(holder, chain[0], *reinterpret_cast<db_ptr **>(m + 64)), 0u);
      EXPECT_EQ(mda_UnlockEntity(MDA_MODIFIED, holder), 0u);
    }
    return map_ProcessEntity(0, chain[0], c);
  };
  const int32_t scratch = model(geo_, "scratch");
  db_ptr keeper = 0;
  auto fill_scratch = [&] {
    shared = make(scratch, geo("point"));
    keeper = make(scratch, geo("line"), [](char *m, db_ptr self) { set_ptr(m, self, kA, shared); });
  };
  fill_scratch();
  ASSERT_EQ(map_DefineMapping(MAP_GENERAL | MAP_ENABLE, env_, "chain", geo_, geo("point"), geo_,
                              geo("group"), make_chain), 0u);
  ASSERT_EQ(map_EnableMapping(MAP_REPLACE, env_, "chain", MAP_MODEL, scratch, MAP_END), 0u);
  const db_ptr p = make(source_, geo("point"));
  static int handed = 0;
  context_.dispatcher = [](db_ptr, map_Context *) { return ++handed, mpm_Status{0}; };
  for (int32_t length : {1, 3, 100000}) {
    chain_length = length;
    EXPECT_EQ(map_DispatchEntity(p, &context_), 0u);
    EXPECT_TRUE(pending_texts().empty());
    EXPECT_EQ(live(scratch), 2u) << length;  // the shared point and its other parent
    EXPECT_NE(mda_IsValidPtr(shared), 0);
    EXPECT_NE(mda_IsValidPtr(keeper), 0);
    int32_t parents = 0;
    EXPECT_EQ(mda_GetNumParents(0, shared, &parents), 0u);
    EXPECT_EQ(parents, 1);
  }
  EXPECT_EQ(handed, 3);
  // Output that another entity points to stays, with everything it points to.
  held = true;
  chain_length = 5;
  EXPECT_EQ(map_DispatchEntity(p, &context_), 0u);
  EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MAP_HAS_PARENTS});
  mpm_DiscardPending(0);
  EXPECT_EQ(live(scratch), 2u + 5u + 1u);
  held = false;
  // Memory that fails while the set is gathered (the work stack grows past 256) deletes nothing.
  ASSERT_EQ(mda_ClearModel(0, scratch), 0u);
  fill_scratch();
  chain_length = 300;
  fail_each_allocation(
      &map::g_fail_allocation, error_text("MAP_MALLOC_ERR", "Error allocating memory.\n"),
      [&] { return map_DispatchEntity(p, &context_) == 0; },
      [&] {
        if (live(scratch) == 2) return;
        EXPECT_EQ(live(scratch), 302u);  // the whole output stays, its pointers as they were
        int32_t parents = 0;
        EXPECT_EQ(mda_GetNumParents(0, shared, &parents), 0u);
        EXPECT_EQ(parents, 2);
        ASSERT_EQ(mda_ClearModel(0, scratch), 0u);
        fill_scratch();
      });
}

// The generic copy copies an entity with what it points to into the target model, once per
// source entity through the translation table; without COMMIT its output would come back to it
// without end, and the dispatch depth bound stops that.
TEST_F(DispatchTest, GenericCopiesAndTheDepthBound) {
  ASSERT_EQ(map_DefineGenericMappings(MAP_GENERIC_COPY | MAP_GENERIC_IGNORE, env_, geo_), 0u);
  const int32_t copy = model(geo_, "copy");
  const std::string model_arg = "MODEL 'copy' COMMIT";
  for (const char *name : {"point copy", "line copy"})
    ASSERT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, name, model_arg.c_str()), 0u);
  ASSERT_EQ(map_EnableMapping(0, env_, "layer ignore", MAP_END), 0u);
  const db_ptr p1 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 1, 2, 3); });
  const db_ptr p2 = make(source_, geo("point"), [](char *m, db_ptr) { set_xyz(m, 4, 5, 6); });
  const db_ptr line = make(source_, geo("line"), [&](char *m, db_ptr self) {
    set_ptr(m, self, kA, p1), set_ptr(m, self, kB, p2);
  });
  const db_ptr layer = make(source_, geo("layer"));
  ASSERT_EQ(mda_CreatePtrTable(0, sizeof(db_ptr), source_, &context_.translation), 0u);
  for (db_ptr e : {line, p1, p2, layer}) EXPECT_EQ(map_DispatchEntity(e, &context_), 0u);
  EXPECT_TRUE(pending_texts().empty()) << pending_texts()[0];
  EXPECT_EQ(contents(copy), (std::vector<std::string>{"(1,2,3) <1", "(4,5,6) <1", "line(1,2,3)(4,5,6)"}));
  EXPECT_EQ(contents(source_).size(), 4u);
  ASSERT_EQ(mda_FreePtrTable(context_.translation), 0u);
  context_.translation = nullptr;

  // Without COMMIT: the copy, of a type the copy mapping takes, is dispatched to it again.
  ASSERT_EQ(map_EnableMapping(MAP_TEXT_ARGS | MAP_REPLACE, env_, "point copy", "MODEL 'copy'"), 0u);
  ASSERT_EQ(mda_ClearModel(0, copy), 0u);
  EXPECT_EQ(map_DispatchEntity(p1, &context_), MAP_INTERNAL_ERR);
  EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{MAP_INTERNAL_ERR});
  EXPECT_NE(pending_texts()[0].find("map/map_DispatchEntity"), std::string::npos);
  mpm_DiscardPending(0);
  EXPECT_EQ(live(copy), 0u);  // every copy made on the way was deleted on the way back
}

}  // namespace
}  // namespace tesmar::test
