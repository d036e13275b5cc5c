// Defining and enabling: the operation tables enabling produces (golden tables, and a randomised
// comparison with an independent model of the rules), definitions refused, and parameters.
#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <tuple>
#include <map>
#include <random>

#include "map/map_internal.h"
#include "map_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

class EnableTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    define_singles();
  }
  int32_t default_long_ = 5;
};

TEST_F(EnableTest, ConditionalsNestAtMost45Deep) {
  const uint32_t point = geo("point");
  std::string inner = "p2l";
  for (int level = 1; level <= 46; ++level) {
    const std::string name = "N" + std::to_string(level);
    ASSERT_EQ(map_DefineConditionalMapping(0, env_, name.c_str(), geo_, point, noop, inner.c_str(),
                                           nullptr), 0u);
    inner = name;
  }
  ASSERT_EQ(map_EnableMapping(0, env_, "N45", MAP_END), 0u);
  std::vector<std::string> expected;
  for (int level = 45; level >= 1; --level) expected.push_back("N" + std::to_string(level) + ">-1");
  expected.push_back("p2l>0");
  EXPECT_EQ(points(), expected);
  ASSERT_EQ(map_ClearDTFMapping(0, env_, geo_, point), 0u);
  EXPECT_EQ(map_EnableMapping(0, env_, "N46", MAP_END), MAP_CNDTL_NEST_TOO_DEEP);
  EXPECT_EQ(take_pending(), (std::vector<std::string>{error_text(
      "MAP_CNDTL_NEST_TOO_DEEP",
      "An attempt was made to nest conditional mappings beyond the limit for DTF, geometry:116:0\n")}));
  EXPECT_TRUE(points().empty());  // nothing appended, no empty list left
  EXPECT_EQ(map_ClearDTFMapping(0, env_, geo_, point), MAP_INTERNAL_ERR);
  mpm_DiscardPending(0);
}

// An independent model of the rules: definitions kept as trees (what each was defined from), the
// operations of an enabling worked out entry by entry from the entry's ancestors.
class EnableModel {
 public:
  struct Dtf {
    const ddf_Schema *schema;
    uint32_t tf;
    bool operator==(const Dtf &) const = default;
    bool operator<(const Dtf &o) const { return std::tie(schema, tf) < std::tie(o.schema, o.tf); }
  };
  struct Def {
    int kind;  // 0 single, 1 list, 2 conditional
    Dtf source, target;
    bool general = false;
    std::vector<std::string> parts;
  };
  struct Op {
    std::string name;
    int32_t next;
    bool commit;
    int32_t model, params;
    bool operator==(const Op &) const = default;
  };
  std::map<std::string, Def> defs;
  std::map<Dtf, std::vector<Op>> enabled;

  int32_t span(const std::string &name) const {
    const Def &d = defs.at(name);
    if (d.kind == 0) return 1;
    int32_t n = 1;
    for (const std::string &p : d.parts) n += span(p);
    return n;
  }
  // The target an output finally has when it feeds on, if there is one.
  std::optional<Dtf> feeds(const std::string &name) const {
    const Def &d = defs.at(name);
    if (d.kind == 0) {
      if (!d.general || d.target.tf == TF_ANY || d.target.tf == TF_NONE || d.target.schema == nullptr)
        return std::nullopt;
      return d.target;
    }
    if (d.kind == 1) return feeds(d.parts.back());
    std::optional<Dtf> common = feeds(d.parts[0]);
    for (const std::string &p : d.parts)
      if (feeds(p) != common) return std::nullopt;
    return common;
  }
  bool chainable(const std::string &name) const { return feeds(name).has_value(); }
  Dtf source(const std::string &name) const {
    const Def &d = defs.at(name);
    return d.kind == 1 ? source(d.parts[0]) : d.source;
  }
  // The status defining a list or conditional gets.
  mpm_Status define(const std::string &name, const Def &d) {
    int32_t names = 1;
    for (const std::string &p : d.parts) names += span(p);
    if (names > MAP_MAX_LIST_NAMES) return MAP_LIST_TOO_LONG;
    for (std::size_t i = 0; i < d.parts.size(); ++i) {
      if (d.kind == 2 && !(source(d.parts[i]) == d.source)) return MAP_CONDITIONAL_NO_MATCH;
      if (d.kind == 1 && i + 1 < d.parts.size() && !chainable(d.parts[i])) return MAP_NOT_LISTABLE;
    }
    defs[name] = d;
    return 0;
  }
  int depth(const std::string &name) const {
    const Def &d = defs.at(name);
    int deepest = 0;
    for (const std::string &p : d.parts) deepest = std::max(deepest, depth(p));
    return deepest + (d.kind == 2 ? 1 : 0);
  }
  mpm_Status enable(const std::string &name, bool commit, int32_t model, int32_t params) {
    if (depth(name) > MAP_MAX_COND_NESTING) return MAP_CNDTL_NEST_TOO_DEEP;
    // The entries, each with its parent.
    struct Entry {
      std::string name;
      int parent;
    };
    std::vector<Entry> entries;
    std::function<void(const std::string &, int)> flatten = [&](const std::string &n, int parent) {
      entries.push_back({n, parent});
      const int self = static_cast<int>(entries.size()) - 1;
      for (const std::string &p : defs.at(n).parts) flatten(p, self);
    };
    flatten(name, -1);
    const Dtf dtf = source(name);
    std::vector<Op> &ops = enabled[dtf];
    const auto existing = static_cast<int32_t>(ops.size());
    for (Op &op : ops) {
      const Dtf t = defs.at(op.name).target;
      if (op.next == 0 && t.schema == dtf.schema && (t.tf == TF_ANY || t.tf == dtf.tf))
        op = Op{op.name, existing + 1, false, 0, op.params};
    }
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const Def &d = defs.at(entries[k].name);
      int32_t next = 0;
      if (d.kind == 1) next = static_cast<int32_t>(k) + 2;
      if (d.kind == 2) next = -1;
      if (d.kind == 0) {
        // Up the ancestors to the entry that takes the output.
        int child = static_cast<int>(k), dest = -1;
        bool leaving = false;
        for (int p = entries[k].parent; p >= 0; child = p, p = entries[p].parent) {
          if (defs.at(entries[p].name).kind == 2) {
            leaving = true;
            continue;
          }
          const int last_start = last_component(entries, p);
          if (child != last_start) {
            dest = child + span(entries[child].name);
            break;
          }
        }
        const bool taken = dest >= 0 && (!leaving || (chainable(entries[k].name) &&
                                                       source(entries[dest].name) == d.target));
        next = taken ? dest + 1 : 0;
      }
      if (next > 0) next += existing;
      ops.push_back(next == 0 ? Op{entries[k].name, next, commit, model, params}
                              : Op{entries[k].name, next, false, 0, params});
    }
    return 0;
  }

 private:
  template <typename Entries>
  static int last_component(const Entries &entries, int parent) {
    int last = -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (entries[i].parent == parent) last = static_cast<int>(i);
    return last;
  }
};

TEST_F(EnableTest, RandomDefinitionsAndEnablingsMatchAnIndependentModel) {
  ASSERT_EQ(map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &default_long_), 0u);
  const int32_t target = model(drawing_, "target", false);
  EnableModel model;
  for (const char *single : {"p2l", "l2a", "a2x", "p2p", "p_any", "p_none"}) {
    const map_Mapping *m = static_cast<const map_Mapping *>(
        otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env_->mappings, &single));
    ASSERT_NE(m, nullptr);
    model.defs[single] = {0, {m->source.schema, m->source.type_form},
                          {m->target.schema, m->target.type_form}, (m->flags & MAP_GENERAL) != 0, {}};
  }
  const uint32_t types[] = {geo("point"), geo("line"), geo("arc")};
  RandomDriver driver(20261208);
  int serial = 0;
  std::vector<std::string> conditionals;
  auto any_name = [&] {
    auto it = model.defs.begin();
    std::advance(it, driver.pick(static_cast<int32_t>(model.defs.size())));
    return it->first;
  };
  auto quoted = [](const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &n : names) text += (text.size() % 2 ? " '" : " \"") + n + "\"";
    return text;
  };
  driver.run(
      1000,
      {{2, [&] {  // a single mapping
          const std::string name = "s" + std::to_string(++serial);
          const uint32_t from = types[driver.pick(3)];
          const int to = driver.pick(5);
          const EnableModel::Dtf t = to < 3 ? EnableModel::Dtf{geo_, types[to]}
                                   : to == 3 ? EnableModel::Dtf{geo_, TF_ANY}
                                             : EnableModel::Dtf{drawing_, drawing("dpoint")};
          const bool general = driver.chance(4, 5);
          ASSERT_EQ(map_DefineMapping(general ? MAP_GENERAL : 0, env_, name.c_str(), geo_, from,
                                      const_cast<ddf_Schema *>(t.schema), t.tf, noop), 0u);
          model.defs[name] = {0, {geo_, from}, t, general, {}};
        }},
       {3, [&] {  // a list or a conditional of existing definitions
          const std::string name = "d" + std::to_string(++serial);
          EnableModel::Def d{driver.chance(1, 2) ? 1 : 2, {geo_, types[driver.pick(3)]}, {}, false, {}};
          for (int n = 1 + driver.pick(3); n > 0; --n) {
            // Conditionals mostly get alternatives they accept, with one output type; lists mostly
            // get components that take what the one before gives.
            auto fits = [&](const std::string &part) {
              if (d.kind == 2)
                return model.source(part) == d.source &&
                       (d.parts.empty() || model.feeds(part) == model.feeds(d.parts[0]));
              return d.parts.empty() || model.feeds(d.parts.back()) == model.source(part);
            };
            std::string part = any_name();
            for (int tries = 0; tries < 20 && !fits(part) && driver.chance(9, 10); ++tries)
              part = any_name();
            if (d.kind == 1 && !conditionals.empty() && driver.chance(1, 2))
              part = conditionals[driver.pick(static_cast<int32_t>(conditionals.size()))];
            d.parts.push_back(part);
          }
          const mpm_Status expected = model.define(name, d);
          const std::string text = quoted(d.parts);
          const mpm_Status got =
              d.kind == 1 ? map_DefineMappingList(MAP_TEXT_ARGS, env_, name.c_str(), text.c_str())
                          : map_DefineConditionalMapping(MAP_TEXT_ARGS, env_, name.c_str(), geo_,
                                                         d.source.tf, noop, text.c_str());
          ASSERT_EQ(got, expected) << name << " of" << text;
          EXPECT_EQ(pending_codes().size(), expected == 0 ? 0u : 1u);
          mpm_DiscardPending(0);
          if (expected != 0) return;
          if (d.kind == 2) conditionals.push_back(name);
          const map_Mapping *m = static_cast<const map_Mapping *>(otm_GetObject(
              OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env_->mappings, std::array{name.c_str()}.data()));
          ASSERT_NE(m, nullptr);
          EXPECT_EQ(m->count, model.span(name));
          EXPECT_EQ((m->flags & MAP_CHAINABLE) != 0, model.chainable(name)) << name << " of" << text;
        }},
       {4, [&] {  // an enabling
          const std::string name = any_name();
          const bool commit = driver.chance(1, 2), with_model = driver.chance(1, 3);
          const int32_t params = driver.pick(3);
          std::string args;
          for (int32_t i = 0; i < params; ++i) args += "PARAM MAP_LIST_ERR " + std::to_string(i) + ",";
          if (with_model) args += " MAP_MODEL 'target'";
          if (commit) args += "\tCOMMIT";
          const mpm_Status expected = model.enable(name, commit, with_model ? target : 0, params);
          ASSERT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, name.c_str(), args.c_str()), expected) << name;
          mpm_DiscardPending(0);
        }}},
      [&] {
        for (const auto &[dtf, ops] : model.enabled) {
          std::vector<std::string> expected;
          for (const EnableModel::Op &op : ops) {
            std::string s = op.name + ">" + std::to_string(op.next);
            if (op.commit) s += "|c";
            if (op.model != 0) s += "|m" + std::to_string(op.model);
            if (op.params != 0) s += "|p" + std::to_string(op.params);
            expected.push_back(s);
          }
          ASSERT_EQ(table(const_cast<ddf_Schema *>(dtf.schema), dtf.tf), expected) << driver.where();
        }
      });
}

// Every refused definition or enabling: its status, its one message (naming what was wrong), and
// the operation tables as they were.
TEST_F(EnableTest, BadDefinitionsAndArgumentStreamsAreRefusedWithTheirMessage) {
  const uint32_t point = geo("point");
  ASSERT_EQ(map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &default_long_), 0u);
  const int32_t target = model(drawing_, "target", false);
  ASSERT_NE(target, 0);
  ASSERT_EQ(map_EnableMapping(0, env_, "p2l", MAP_COMMIT, MAP_END), 0u);
  const std::vector<std::string> before = points();
  std::string names128, params129, tokens10000;
  for (int i = 0; i < 127; ++i) names128 += " 'p2p'";
  for (int i = 0; i < 129; ++i) params129 += " PARAM MAP_LIST_ERR 1";
  for (int i = 0; i < 9999; ++i) tokens10000 += "COMMIT ";
  tokens10000 += "COMMITT";
  ASSERT_EQ(map_DefineMapping(0, env_, "no forms", geo_, (999u << 16) | DDF_ALL_FORMS, nullptr,
                              TF_NONE, noop), 0u);
  struct Case {
    const char *what;
    std::function<mpm_Status()> call;
    mpm_Status code;
    const char *names;  // a text the message must hold
  };
  const auto text = [&](const char *args) {
    return [this, args] { return map_EnableMapping(MAP_TEXT_ARGS, env_, "p2l", args); };
  };
  const Case cases[] = {
      {"no out argument", [] { return map_CreateEnv(0, nullptr); }, MAP_NULL_MEMPTR, "NULL memory"},
      {"no environment", [&] { return map_DefineMapping(0, nullptr, "x", geo_, point, geo_, point, noop); },
       MAP_INVALID_ARG, "Invalid argument"},
      {"a name defined twice", [&] { return map_DefineMapping(0, env_, "p2l", geo_, point, nullptr, 0, noop); },
       MAP_ALREADY_DEFINED, "\"p2l\" is already defined"},
      {"an undefined component", [&] { return map_DefineMappingList(0, env_, "L", "p2l", "zz", nullptr); },
       MAP_NOT_DEFINED, "\"zz\" is not defined"},
      {"no components", [&] { return map_DefineMappingList(0, env_, "L", nullptr); }, MAP_EMPTY_LIST, "\"L\""},
      {"no quoted components", [&] { return map_DefineMappingList(MAP_TEXT_ARGS, env_, "L", "p2l"); },
       MAP_EMPTY_LIST, "\"L\""},
      {"an unclosed quote", [&] { return map_DefineMappingList(MAP_TEXT_ARGS, env_, "L", "'p2l' \"l2a"); },
       MAP_PARSE_ERR, "parsing argument list"},
      {"a component that cannot feed the next",
       [&] { return map_DefineMappingList(0, env_, "L", "p_any", "p2l", "l2a", nullptr); },
       MAP_NOT_LISTABLE, "\"p_any\" can not"},
      {"a non-chainable component before the last",
       [&] { return map_DefineMappingList(0, env_, "L", "p_none", "p2l", nullptr); },
       MAP_NOT_LISTABLE, "\"p_none\" can not"},
      {"128 names", [&] { return map_DefineMappingList(MAP_TEXT_ARGS, env_, "L", (names128 + " 'p2p'").c_str()); },
       MAP_LIST_TOO_LONG, "\"L\" contains more than 128 mappings"},
      {"an alternative of another source",
       [&] { return map_DefineConditionalMapping(0, env_, "C", geo_, point, noop, "p2l", "l2a", nullptr); },
       MAP_CONDITIONAL_NO_MATCH, "\"l2a\" can not be made a component of the conditional mapping, \"C\""},
      {"a conditional without a schema",
       [&] { return map_DefineConditionalMapping(0, env_, "C", nullptr, point, noop, "p2l", nullptr); },
       MAP_INVALID_ARG, "Invalid argument"},
      {"enabling an undefined name", [&] { return map_EnableMapping(0, env_, "zz", MAP_END); },
       MAP_UNDEFINED, "\"zz\" is not defined"},
      {"enabling a type without forms", [&] { return map_EnableMapping(0, env_, "no forms", MAP_END); },
       MAP_NO_FORMS, "\"no forms\""},
      {"an unknown token", [&] { return map_EnableMapping(0, env_, "p2l", 7, MAP_END); },
       MAP_UNKNOWN_TOKEN, "Unknown token 7"},
      {"an unregistered parameter", [&] { return map_EnableMapping(0, env_, "p2l", MAP_PARAM, MAP_TREE_ERR, 1, MAP_END); },
       MAP_UNDEFINED_PARAM, "\"MAP_TREE_ERR\" is not defined"},
      {"a 129th parameter", text(params129.c_str()), MAP_TOO_MANY_PARAMS, "\"p2l\".  Maximum number of parameters is 128"},
      {"an unknown word", text("PARAM MAP_LIST_ERR 1 COMIT"), MAP_PARSE_ERR, "unknown word \"COMIT\""},
      {"a missing value", text("PARAM MAP_LIST_ERR"), MAP_PARSE_ERR, "ends where a value is needed"},
      {"a name that names no message", text("PARAM NO_SUCH_NAME 1"), MAP_PARSE_ERR, "\"NO_SUCH_NAME\" is no message name"},
      {"a number beyond 32 bits", text("PARAM MAP_LIST_ERR 4294967297"), MAP_PARSE_ERR, "\"4294967297\" is no 32-bit integer"},
      {"a number with trailing text", text("PARAM MAP_LIST_ERR 12abc"), MAP_PARSE_ERR, "\"12abc\""},
      {"an unknown model", text("MODEL 'nosuch'"), MAP_NO_MODEL, "model name 'nosuch'"},
      {"a model not in quotes", text("MODEL target"), MAP_PARSE_ERR, "not in single quotes"},
      {"10,000 tokens, the last one wrong", text(tokens10000.c_str()), MAP_PARSE_ERR, "\"COMMITT\""},
      {"replacing what is not there",
       [&] { return map_EnableMapping(MAP_REPLACE, env_, "l2a", MAP_END); }, MAP_INTERNAL_ERR,
       "map/map_ClearDTFMapping"},
      {"clearing without a schema", [&] { return map_ClearDTFMapping(0, env_, nullptr, point); },
       MAP_INVALID_ARG, "Invalid argument"},
      {"a parameter registered twice", [&] { return map__DefineParameter(0, MAP_LIST_ERR, 0, &default_long_); },
       MAP_PARAM_ALREADY_DEFINED, "\"MAP_LIST_ERR\" is already defined"},
      {"a default of an unknown parameter", [&] { return map_SetParameterDefault(0, MAP_TREE_ERR, &default_long_); },
       MAP_UNDEFINED_PARAM, "\"MAP_TREE_ERR\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.code);
    const std::vector<std::string> pending = take_pending();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_NE(pending[0].find(c.names), std::string::npos) << pending[0];
    EXPECT_NE(pending[0].find(mpm_GetMessageName(c.code)), std::string::npos) << pending[0];
    EXPECT_EQ(points(), before);
  }
  EXPECT_EQ(static_cast<const map_Mapping *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT,
                                                           env_->mappings, std::array{"p2l"}.data()))
                ->target.type_form, geo("line"));  // the first definition stands
  // The accepted neighbours of the refused cases.
  EXPECT_EQ(map_DefineMappingList(MAP_TEXT_ARGS, env_, "L127", names128.c_str()), 0u);
  EXPECT_EQ(map_DefineMappingList(0, env_, "L", "p2l", "p_any", nullptr), 0u);  // non-chainable last
  EXPECT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, "p2l", " +12, MODEL\n'target'"), MAP_PARSE_ERR);
  mpm_DiscardPending(0);
  EXPECT_EQ(map_EnableMapping(MAP_TEXT_ARGS | MAP_REPLACE, env_, "p2l",
                              "PARAM MAP_LIST_ERR +12, MODEL\n'target'\tEND COMMIT"), 0u);
  EXPECT_EQ(points(), (std::vector<std::string>{"p2l>0|m" + std::to_string(target) + "|p1"}));
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(EnableTest, ParametersReadTheirSettingOrTheDefault) {
  int32_t flag = 0, pen = 4, name = static_cast<int32_t>(MAP_LIST_ERR);
  double scale = 1.5;
  ASSERT_EQ(map__DefineParameter(0, MAP_MALLOC_ERR, MAP_PARAM_BOOLEAN, &flag), 0u);
  ASSERT_EQ(map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &pen), 0u);
  ASSERT_EQ(map__DefineParameter(0, MAP_TREE_ERR, MAP_PARAM_DOUBLE, &scale), 0u);
  ASSERT_EQ(map__DefineParameter(0, MAP_PARSE_ERR, MAP_PARAM_STRING, &name), 0u);
  EXPECT_EQ(map__DefineParameter(0, MAP_NO_MODEL, 9, &pen), MAP_INVALID_ARG);
  mpm_DiscardPending(0);
  ASSERT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, "p2l",
                              "PARAM MAP_MALLOC_ERR TRUE PARAM MAP_LIST_ERR 8 PARAM MAP_LIST_ERR -9 "
                              "PARAM MAP_TREE_ERR 2.5e1 PARAM MAP_PARSE_ERR MAP_NO_FORMS"), 0u);
  ASSERT_EQ(map_EnableMapping(0, env_, "p2p", MAP_PARAM, MAP_MALLOC_ERR, 17, MAP_PARAM, MAP_TREE_ERR,
                              0.25, MAP_END), 0u);
  auto op = [&](int n) {
    map_DTFNode key{{geo_, geo("point"), 0}, nullptr};
    auto *node = static_cast<map_DTFNode *>(otm_GetObject(OTM_NO_MESSAGE, env_->enabled, &key));
    return static_cast<const map_Operation *>(olm_GetObject(0, node->operations, n));
  };
  int32_t i = -1;
  double d = -1;
  EXPECT_EQ(map_GetParameter(0, op(1), MAP_MALLOC_ERR, &i), 0u);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(map_GetParameter(0, op(1), MAP_LIST_ERR, &i), 0u);
  EXPECT_EQ(i, -9);  // the later setting wins
  EXPECT_EQ(map_GetParameter(0, op(1), MAP_TREE_ERR, &d), 0u);
  EXPECT_EQ(d, 25.0);
  EXPECT_EQ(map_GetParameter(0, op(1), MAP_PARSE_ERR, &i), 0u);
  EXPECT_EQ(static_cast<mpm_Status>(i), MAP_NO_FORMS);
  EXPECT_EQ(map_GetParameter(0, op(2), MAP_MALLOC_ERR, &i), 0u);
  EXPECT_EQ(i, 1);  // booleans are stored as 0 or 1
  EXPECT_EQ(map_GetParameter(0, op(2), MAP_TREE_ERR, &d), 0u);
  EXPECT_EQ(d, 0.25);
  i = 123;
  EXPECT_EQ(map_GetParameter(0, op(2), MAP_LIST_ERR, &i), MAP_NOT_FOUND);
  EXPECT_EQ(i, 123);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(map_GetParameter(MAP_GET_DEFAULT, op(2), MAP_LIST_ERR, &i), 0u);
  EXPECT_EQ(i, 4);
  const double doubled = 3.0;
  EXPECT_EQ(map_SetParameterDefault(0, MAP_TREE_ERR, &doubled), 0u);
  EXPECT_EQ(map_GetParameterDefault(0, MAP_TREE_ERR, &d), 0u);
  EXPECT_EQ(scale, 3.0);
  EXPECT_EQ(d, 3.0);
  for (const char *bad : {"PARAM MAP_MALLOC_ERR yes", "PARAM MAP_TREE_ERR nan", "PARAM MAP_TREE_ERR 1e999",
                          "PARAM MAP_PARSE_ERR", "PARAM  MAP_LIST_ERR +-1"}) {
    EXPECT_EQ(map_EnableMapping(MAP_TEXT_ARGS, env_, "l2a", bad), MAP_PARSE_ERR) << bad;
    EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{MAP_PARSE_ERR})) << bad;
    mpm_DiscardPending(0);
  }
  EXPECT_TRUE(table(geo_, geo("line")).empty());
}

TEST_F(EnableTest, DumpsPrintTheDefinition) {
  ASSERT_EQ(map_DefineMappingList(0, env_, "pl", "p2l", "l2a", nullptr), 0u);
  ASSERT_EQ(map_DefineConditionalMapping(0, env_, "C", geo_, geo("point"), noop, "pl", "p2p", nullptr), 0u);
  std::FILE *trace = std::tmpfile();
  std::FILE *const saved = tesmar::map::g_trace;
  tesmar::map::g_trace = trace;
  EXPECT_EQ(map_DbgDumpMapping(0, env_, "C"), 0u);
  EXPECT_EQ(map_DbgDumpMapping(0, env_, "p2l"), 0u);
  EXPECT_EQ(map_DbgDumpMapping(0, env_, "nothing"), 0u);
  tesmar::map::g_trace = saved;
  std::rewind(trace);
  std::string out;
  for (int ch; (ch = std::fgetc(trace)) != EOF;) out += static_cast<char>(ch);
  std::fclose(trace);
  char function[64];
  std::snprintf(function, sizeof function, "%p", reinterpret_cast<void *>(noop));
  EXPECT_EQ(out, std::string("\n\"C\"\n  DTF: geometry:116:0\n  Flags:  CONDITIONAL  \n"
                             "  Mapping Lists/Conditionals:\n       \"C\"\n       \"pl\"\n"
                             "       \"p2l\"\n       \"l2a\"\n       \"p2p\"\n"
                             "\n\"p2l\"\n  DTF: geometry:116:0\n  Flags:  CHAINABLE  GENERAL  \n"
                             "  Function: 0x") + (function + (function[1] == 'x' ? 2 : 0)) +
                     "\nCould not locate mapping nothing");
}

TEST_F(EnableTest, MemoryFailuresLeaveWhatWasThere) {
  const std::string no_memory = error_text("MAP_MALLOC_ERR", "Error allocating memory.\n");
  int32_t* const counter = &map::g_fail_allocation;
  map_Env *made = nullptr;
  bool ok = false;
  fail_each_allocation(counter, no_memory, [&] { return ok = map_CreateEnv(0, &made) == 0; },
                       [&] { EXPECT_EQ(made != nullptr, ok); });
  EXPECT_EQ(map_DeleteEnv(0, made), 0u);
  auto defined = [&](const char *name) {
    return otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env_->mappings, std::array{name}.data()) != nullptr;
  };
  fail_each_allocation(counter, no_memory,
                       [&] { return ok = map_DefineMappingList(0, env_, "L", "p2l", "l2a", "a2x", nullptr) == 0; },
                       [&] { EXPECT_EQ(defined("L"), ok); });
  ASSERT_EQ(map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &default_long_), 0u);
  const std::vector<std::string> full = {"L>2|p1", "p2l>3|p1", "l2a>4|p1", "a2x>0|c|p1"};
  fail_each_allocation(
      counter, no_memory,
      [&] { return map_EnableMapping(0, env_, "L", MAP_PARAM, MAP_LIST_ERR, 1, MAP_COMMIT, MAP_END) == 0; },
      [&] {
        // The operations appended before the failure stay, each whole.
        const std::vector<std::string> now = points();
        ASSERT_LE(now.size(), full.size());
        EXPECT_TRUE(std::equal(now.begin(), now.end(), full.begin()));
        if (now.size() < full.size() && !now.empty()) map_ClearDTFMapping(0, env_, geo_, geo("point"));
      });
  EXPECT_EQ(points(), full);
}

}  // namespace
}  // namespace tesmar::test
