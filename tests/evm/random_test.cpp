// Randomised sequences of value and switch changes, merges, copies and deletes, checked against a
// model of every live table after each step. Run in the sanitizer build, a text shared between
// tables, freed twice or leaked fails the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "evm/table_support.h"
#include "support/library.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

using ValidationTableRandomTest = LibraryTest;

struct ModelCheck {
  uint8_t switches[3] = {0, 0, 0};
  int8_t kind = EVM_VALUE_NONE;
  int32_t integer = 0;
  double real = 0;
  std::optional<std::string> text;
  std::optional<double> tolerance;  // none: the table's default
};

struct Model {
  std::map<int32_t, ModelCheck> checks;
  double default_tolerance = 0;
  uint32_t user = 0;
};

struct Live {
  evm_Table *table;
  Model model;
};

constexpr int32_t kCodes = 40;

class Sequence : RandomDriver {
 public:
  explicit Sequence(uint32_t seed) : RandomDriver(seed) {}
  ~Sequence() {
    for (Live &live : tables_) evm_DeleteTable(0, live.table);
  }

  void run(int steps) {
    for (int i = 0; i < 3; ++i) create();
    RandomDriver::run(steps,
                      {{1, [&] { create(); }}, {1, [&] { copy(); }}, {1, [&] { remove(); }},
                       {2, [&] { merge(); }}, {2, [&] { set_value(); }}, {3, [&] { set_switch(); }}},
                      [&] { verify(); });
  }

 private:
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(RandomDriver::pick(static_cast<int32_t>(n))); }
  int32_t code_of(uint32_t i) { return static_cast<int32_t>(0x30000 + i * 3); }

  std::string word() {
    std::string s;
    for (uint32_t n = pick(6); n > 0; --n) s += static_cast<char>('a' + pick(26));
    return s;
  }

  // A table over a random subset of the codes, with kinds, values and tolerances at random and
  // slots shuffled so that sorting has to carry the indexes along.
  void create() {
    std::vector<int32_t> codes;
    if (!tables_.empty() && pick(2) == 0) {
      // A subset of a live table's codes, so that merging it into that table runs to the end.
      for (const auto &entry : any().model.checks)
        if (pick(4) != 0) codes.push_back(entry.first);
    } else {
      for (uint32_t i = 0; i < kCodes; ++i)
        if (pick(3) != 0) codes.push_back(code_of(i));
    }
    std::shuffle(codes.begin(), codes.end(), rng());
    bool texts = pick(4) != 0;
    int32_t n = static_cast<int32_t>(codes.size());
    evm_Table *t = new_table(n, texts);
    std::vector<int16_t> slots(codes.size());
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = static_cast<int16_t>(i);
    std::shuffle(slots.begin(), slots.end(), rng());
    Model model;
    model.default_tolerance = pick(100) / 8.0;
    model.user = static_cast<uint32_t>(rng()());
    for (int32_t i = 0; i < n; ++i) {
      ModelCheck m;
      m.kind = static_cast<int8_t>(pick(texts ? 4 : 3));
      for (uint8_t &s : m.switches) s = static_cast<uint8_t>(pick(256));
      int16_t slot = slots[static_cast<std::size_t>(i)];
      int16_t tolerance = -1;
      if (m.kind != EVM_VALUE_DOUBLE && pick(2) == 0) {
        tolerance = slot;  // slot 0 included: a real index
        m.tolerance = pick(1000) / 16.0;
        t->doubles[slot] = *m.tolerance;
      }
      t->checks[i] = evm_Check{codes[static_cast<std::size_t>(i)], m.switches[0], m.switches[1],
                               m.switches[2], m.kind, slot, tolerance};
      switch (m.kind) {
        case EVM_VALUE_INTEGER: t->integers[slot] = m.integer = static_cast<int32_t>(rng()()); break;
        case EVM_VALUE_DOUBLE: t->doubles[slot] = m.real = pick(1 << 20) / 64.0; break;
        case EVM_VALUE_TEXT:
          if (pick(5) != 0) {
            m.text = word();
            t->texts[slot] = heap_text(m.text->c_str());
          }
          break;
        default: break;
      }
      model.checks[codes[static_cast<std::size_t>(i)]] = m;
    }
    t->default_tolerance = model.default_tolerance;
    t->user = model.user;
    ASSERT_EQ(evm_SortTable(0, t), 0u);
    tables_.push_back(Live{t, model});
  }

  Live &any() { return tables_[pick(static_cast<uint32_t>(tables_.size()))]; }

  void copy() {
    if (tables_.empty()) return create();
    Live &from = any();
    auto *t = static_cast<evm_Table *>(std::malloc(sizeof(evm_Table)));
    ASSERT_EQ(evm_CopyTable(0, from.table, t), 0u);
    Model model = from.model;
    tables_.push_back(Live{t, model});
  }

  void remove() {
    if (tables_.size() <= 1) return;
    std::size_t i = pick(static_cast<uint32_t>(tables_.size()));
    EXPECT_EQ(evm_DeleteTable(0, tables_[i].table), 0u);
    tables_.erase(tables_.begin() + static_cast<std::ptrdiff_t>(i));
  }

  void merge() {
    if (tables_.empty()) return create();
    Live &target = any();
    Live &source = any();  // may be the target itself
    Model expected = target.model;
    mpm_Status want = 0;
    for (const auto &[code, from] : source.model.checks) {
      auto at = expected.checks.find(code);
      if (at == expected.checks.end()) {
        want = EVM_CHECK_NOT_FOUND;
        break;
      }
      ModelCheck &to = at->second;
      std::copy(std::begin(from.switches), std::end(from.switches), std::begin(to.switches));
      if (from.kind == to.kind && from.kind == EVM_VALUE_TEXT) ++texts_merged;
      if (from.kind == to.kind) {
        to.integer = from.integer;
        to.real = from.real;
        to.text = from.text;
      }
      if (from.tolerance && to.tolerance) to.tolerance = from.tolerance;
    }
    EXPECT_EQ(evm_MergeTable(0, target.table, source.table), want);
    ++(want == 0 ? complete_merges : stopped_merges);
    target.model = expected;
  }

  void set_value() {
    if (tables_.empty()) return create();
    Live &live = any();
    int32_t code = code_of(pick(kCodes + 2));
    auto at = live.model.checks.find(code);
    int32_t integer = static_cast<int32_t>(rng()());
    double real = pick(1000) / 3.0;
    std::string text = word();
    bool null_text = pick(6) == 0;
    const char *text_pointer = null_text ? nullptr : text.c_str();
    int8_t kind = at != live.model.checks.end() ? at->second.kind : EVM_VALUE_INTEGER;
    const void *value = kind == EVM_VALUE_DOUBLE ? static_cast<const void *>(&real)
                        : kind == EVM_VALUE_TEXT ? static_cast<const void *>(&text_pointer)
                                                 : static_cast<const void *>(&integer);
    mpm_Status status = evm_SetValue(live.table, code, value);
    if (at == live.model.checks.end()) {
      EXPECT_EQ(status, EVM_CHECK_NOT_FOUND);
      return;
    }
    EXPECT_EQ(status, 0u);
    ModelCheck &m = at->second;
    if (kind == EVM_VALUE_INTEGER) m.integer = integer;
    if (kind == EVM_VALUE_DOUBLE) m.real = real;
    if (kind == EVM_VALUE_TEXT) m.text = null_text ? std::nullopt : std::optional<std::string>(text);
  }

  void set_switch() {
    if (tables_.empty()) return create();
    Live &live = any();
    int32_t code = code_of(pick(kCodes + 2));
    uint8_t value = static_cast<uint8_t>(pick(256));
    uint32_t which = pick(3);
    mpm_Status (*const setters[])(evm_Table *, int32_t, uint8_t) = {evm_SetSwitch1, evm_SetSwitch2,
                                                                     evm_SetSwitch3};
    mpm_Status status = setters[which](live.table, code, value);
    auto at = live.model.checks.find(code);
    if (at == live.model.checks.end()) {
      EXPECT_EQ(status, EVM_CHECK_NOT_FOUND);
      return;
    }
    EXPECT_EQ(status, 0u);
    at->second.switches[which] = value;
  }

  void verify() {
    std::set<const char *> texts;
    for (Live &live : tables_) {
      const evm_Table *t = live.table;
      ASSERT_EQ(t->count, static_cast<int32_t>(live.model.checks.size()));
      EXPECT_EQ(t->user, live.model.user);
      for (const auto &[code, m] : live.model.checks) {
        evm_CheckRecord r{};
        ASSERT_EQ(evm_GetCheck(live.table, code, &r), 0u);
        EXPECT_EQ(r.switch1, m.switches[0]);
        EXPECT_EQ(r.switch2, m.switches[1]);
        EXPECT_EQ(r.switch3, m.switches[2]);
        EXPECT_EQ(r.tolerance, m.tolerance ? *m.tolerance : live.model.default_tolerance);
        if (m.kind == EVM_VALUE_INTEGER) {
          EXPECT_EQ(r.value.integer, m.integer);
        }
        if (m.kind == EVM_VALUE_DOUBLE) {
          EXPECT_EQ(r.value.real, m.real);
        }
        if (m.kind == EVM_VALUE_TEXT) {
          ASSERT_EQ(r.value.text != nullptr, m.text.has_value()) << code;
          if (m.text) {
            EXPECT_EQ(std::string(r.value.text), *m.text);
          }
        }
      }
      // No text is shared by two tables or two checks.
      if (t->texts != nullptr)
        for (int32_t i = 0; i < t->count; ++i)
          if (t->texts[i] != nullptr) {
            EXPECT_TRUE(texts.insert(t->texts[i]).second);
          }
    }
  }

  std::vector<Live> tables_;

 public:
  int complete_merges = 0, stopped_merges = 0, texts_merged = 0;
};

TEST_F(ValidationTableRandomTest, MergeCopyDeleteSequencesMatchTheModel) {
  OutputCapture out;  // the not-found warnings are reported on the screen stream
  int complete = 0, stopped = 0, texts = 0;
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    Sequence sequence(seed);
    sequence.run(400);
    ASSERT_FALSE(HasFailure()) << "seed " << seed;
    complete += sequence.complete_merges;
    stopped += sequence.stopped_merges;
    texts += sequence.texts_merged;
  }
  // The sequences reach what they are meant to test.
  EXPECT_GT(complete, 100);
  EXPECT_GT(stopped, 100);
  EXPECT_GT(texts, 100);
}

}  // namespace
}  // namespace tesmar::test
