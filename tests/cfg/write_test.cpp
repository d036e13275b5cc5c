// Writing configurations back (randomised round trips against the text the values call for),
// and the command-line preprocessors.
#include <random>

#include "cfg_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%#.16g", v);
  return text;
}

// A configuration made of random values: the text that sets them, and the text the writer must
// give for the entity they fill (defaults where nothing was set).
struct Random {
  std::mt19937_64 &rng;
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  double real() {  // a value with at most 15 significant digits: it survives 16-digit text exactly
    const double mantissa = static_cast<double>(pick(2000000000) - 1000000000) / 1000.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.6fe%d", mantissa, pick(41) - 20);
    return std::strtod(text, nullptr);
  }
  // Printable characters and some UTF-8; a quote always after a backslash, never a final one.
  std::string string(int max) {
    static const char *const pieces[] = {"a", "Z", " ", "#", "/*", ";", ":", "{", "'", "\\\"", "\xC3\xA9", "\xE2\x82\xAC", "~", "0"};
    std::string s;
    for (int n = pick(max + 1); n > 0; --n) {
      const std::string p = pieces[pick(14)];
      if (static_cast<int>(s.size() + p.size()) <= max) s += p;
    }
    if (!s.empty() && s.back() == '\\') s += 'x';
    return s;
  }
  // A list of n values made by `make`, some places left empty when allowed.
  template <typename F>
  void list(int n, bool empties, std::string *in, std::string *out, F make, const std::string &zero) {
    for (int i = 0; i < n; ++i) {
      if (i > 0) *in += ", ", *out += ',';
      if (empties && pick(4) == 0) {
        *out += zero;
      } else {
        const auto [written, formatted] = make();
        *in += written;
        *out += formatted;
      }
    }
  }
};

std::pair<std::string, std::string> random_single(Random &r) {
  std::string in, out = "options:\n";
  auto field = [&](const std::string &name, const std::string &written, const std::string &formatted,
                   bool give) {
    if (give) in += name + " = " + written + ";\n";
    out += "   " + name + "=" + formatted + ";\n";
  };
  const int passes = r.pick(2000) - 1000;
  const bool passed = r.pick(2);
  field("passes", std::to_string(passes), passed ? std::to_string(passes) : "0", passed);
  const double tolerance = r.real();
  const bool tol = r.pick(2);
  field("tolerance", number(tolerance), tol ? number(tolerance) : number(1), tol);
  const std::string title = r.string(12);
  const bool titled = r.pick(2);
  field("title", "\"" + title + "\"", titled ? "\"" + title + "\"" : "", titled);
  const std::string code = r.string(7);
  field("code", "\"" + code + "\"", "\"" + code + "\"", true);
  const int small = r.pick(60000) - 30000;
  field("small", std::to_string(small), std::to_string(small), true);
  auto integer = [&] {
    const std::string v = std::to_string(r.pick(100000) - 50000);
    return std::pair{v, v};
  };
  auto real = [&] {
    const std::string v = number(r.real());
    return std::pair{v, v};
  };
  std::string sizes_in, sizes_out;
  r.list(3, true, &sizes_in, &sizes_out, integer, "0");
  field("sizes", sizes_in, sizes_out, true);
  const int n = r.pick(5);
  std::string values_in, values_out;
  r.list(n, false, &values_in, &values_out, real, "");
  field("n", std::to_string(n), std::to_string(n), r.pick(2));
  field("values", values_in, values_out, true);
  // (A lone empty place, "open = ;", is no element at all: lists of one have a value.)
  std::string open_in, open_out;
  const int opened = r.pick(5);
  r.list(opened, opened > 1, &open_in, &open_out, integer, "0");
  field("open", open_in, open_out, true);
  std::string pts_in, pts_out;
  const int points = r.pick(4);
  r.list(points, points > 1, &pts_in, &pts_out, [&] {
    std::string a, b;
    r.list(2, true, &a, &b, real, number(0));
    return std::pair{"{" + a + "}", "{" + b + "}"};
  }, "{" + number(0) + "," + number(0) + "}");
  field("pts", pts_in, pts_out, true);
  return {in, out + "\n"};  // the last assignment's ";\n", then an empty line
}

class WriteTest : public CfgTest {
 protected:
  // The writer's text of a model.
  std::string format(int32_t model) {
    const std::string file = dir_.file("out.cfg");
    EXPECT_EQ(cfg_FormatFile(0, model, file.c_str()), 0u);
    return read_file(file);
  }
  TempDir dir_;
};

TEST_F(WriteTest, RandomConfigurationsReadBackToTheSameModel) {
  RandomDriver driver(20261209);
  driver.run(300, {{1, [&] {
    Random r{driver.rng()};
    const auto [text, expected] = random_single(r);
    const Result first = read(single_, text);
    ASSERT_EQ(first.status, 0u) << text;
    ASSERT_EQ(first.reported, "") << text;
    const std::string written = format(first.model);
    ASSERT_EQ(written, expected) << text;
    const Result again = read(single_, written);
    ASSERT_EQ(again.reported, "") << written;
    ASSERT_EQ(format(again.model), written);
    cfg_FreeModel(0, first.model);
    cfg_FreeModel(0, again.model);
  }}}, [] {});
  // Several sections, structures of fixed length, a count, in the writer's own text.
  const Result multi = read(multi_, "limits: box = {1.5, 2.5}, {3.0}; levels = 4, 5;\noutput: flags = 7;");
  ASSERT_EQ(multi.status, 0u) << multi.reported;
  const std::string written = format(multi.model);
  EXPECT_EQ(written, "output:\n   file=;\n   scale=" + number(1) + ";\n   flags=7;\n\nlimits:\n   box={" +
                         number(1.5) + "," + number(2.5) + "},{" + number(3) + "," + number(0) +
                         "};\n   m=2;\n   levels=4,5;\n\n");
  EXPECT_EQ(format(read(multi_, written).model), written);
}

TEST_F(WriteTest, TheWriterRefusesWhatItCannotWrite) {
  const Result r = read(single_, "passes = 1;");
  const std::string target = dir_.file("kept.cfg");
  write_file(target, "old");
  EXPECT_EQ(cfg_FormatFile(0, r.model, dir_.path().c_str()), CFG_OPEN_ERROR);
  EXPECT_EQ(cfg_FormatFile(0, r.model, (dir_.path() + "/no/such/dir.cfg").c_str()), CFG_OPEN_ERROR);
  EXPECT_EQ(cfg_FormatFile(0, r.model, ""), CFG_INVALID_NAME);
  EXPECT_EQ(cfg_FormatFile(0, r.model + 1, target.c_str()), CFG_INVALID_MODEL);
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{CFG_INVALID_MODEL, CFG_INVALID_NAME,
                                                      CFG_OPEN_ERROR, CFG_OPEN_ERROR}));
  mpm_DiscardPending(0);
  EXPECT_EQ(cfg_FormatFile(0, r.model, target.c_str()), 0u);
  EXPECT_EQ(read_file(target).substr(0, 22), "options:\n   passes=1;\n");
}

TEST_F(WriteTest, OptionsFromTheSchemaDescriptions) {
  auto preprocess = [&](std::vector<const char *> args, ddf_Schema *schema, std::string *text) {
    args.push_back(nullptr);
    char *out = nullptr;
    const mpm_Status s = cfg_PreProcessCmdLineArg(0, static_cast<int32_t>(args.size() - 1),
                                                  const_cast<char **>(args.data()), schema, &out);
    *text = out != nullptr ? out : "<null>";
    std::free(out);
    return s;
  };
  std::string text;
  EXPECT_EQ(preprocess({"prog", "-passes", "3", "-title", "two words", "-sizes", "1,,3", "input.igs"},
                       single_, &text), 0u);
  EXPECT_EQ(text, "passes=3;title=\"two words\";sizes=1,,3;");
  const Result r = read(single_, "passes = 1; title = \"file\";", text.c_str());
  EXPECT_EQ(r.reported, "");
  EXPECT_STREQ(at<const char *>(entity(r.model, single_, "options"), 40), "two words");
  EXPECT_EQ(at<int32_t>(entity(r.model, single_, "options"), 64), 0);
  EXPECT_EQ(preprocess({"prog"}, single_, &text), 0u);
  EXPECT_EQ(text, "<null>");
  EXPECT_EQ(preprocess({"prog", "-h"}, single_, &text), CFG_PRINT_USAGE);
  EXPECT_TRUE(pending_texts().empty());
  const struct {
    std::vector<const char *> args;
    bool multi;
    mpm_Status status;
    const char *names;  // a text the newest message holds
  } refused[] = {
      {{"prog", "-passes", "1", "-bogus", "2"}, false, CFG_UNKNOWN_OPTION,
       "-bogus is an unknown command line argument"},
      {{"prog", "-tolerance"}, false, UGN_OPTS_VALUE_MISSING, "tolerance"},
      {{"prog", "-title", "a\"b"}, false, CFG_PVAL_EXP, "option title: \"a\"b\""},
      {{"prog", "-title", "a\\"}, false, CFG_PVAL_EXP, "option title"},
      {{"prog", "-passes", "1;tolerance=2"}, false, CFG_PVAL_EXP, "option passes"},
      {{"prog", "-passes", "1: x = 2"}, false, CFG_PVAL_EXP, "option passes"},
      {{"prog", "-file", "x"}, true, CFG_NOT_SUPPORTED, "not supported"},
  };
  for (const auto &c : refused) {
    SCOPED_TRACE(c.names);
    OutputCapture capture;  // the unknown option is reported at once
    EXPECT_EQ(preprocess(c.args, c.multi ? multi_ : single_, &text), c.status);
    EXPECT_EQ(text, "<null>");
    std::string said = capture.text(stderr);
    for (const std::string &t : take_pending()) said += t;
    EXPECT_NE(said.find(c.names), std::string::npos) << said;
  }
}

TEST_F(WriteTest, SplittingACommandLineBetweenSections) {
  auto split = [&](std::vector<const char *> args, std::string *text, std::string *rest) {
    args.push_back(nullptr);
    char *t = nullptr, *r = nullptr;
    const mpm_Status s = cfg_SplitCmdLine(0, static_cast<int32_t>(args.size() - 1),
                                          const_cast<char **>(args.data()), multi_, &t, &r);
    *text = t != nullptr ? t : "<null>";
    *rest = r != nullptr ? r : "<null>";
    std::free(t);
    std::free(r);
    return s;
  };
  std::string text, rest;
  EXPECT_EQ(split({"prog", "in.igs", "-file", "a.igs", "-out", "b dxf", "-scale", "2.0", "-bogus",
                   "x", "-levels", "1,2", "-units", "3"},
                  &text, &rest),
            0u);
  EXPECT_EQ(text, "input:file=\"a.igs\";units=3;limits:levels=1,2;output:file=\"b dxf\";scale=2.0;");
  EXPECT_EQ(rest, "in.igs x");
  const Result r = read(multi_, "input: units = 1;", text.c_str());
  EXPECT_EQ(r.reported, "");
  EXPECT_EQ(at<int32_t>(entity(r.model, multi_, "input"), 32), 3);
  EXPECT_STREQ(at<const char *>(entity(r.model, multi_, "output"), 24), "b dxf");
  EXPECT_EQ(split({"prog", "plain"}, &text, &rest), 0u);
  EXPECT_EQ(text + " " + rest, "<null> plain");
  EXPECT_EQ(split({"prog", "-scale"}, &text, &rest), UGN_OPTS_VALUE_MISSING);
  EXPECT_EQ(split({"prog", "-scale", "1;units=9"}, &text, &rest), CFG_PVAL_EXP);
  EXPECT_EQ(text + " " + rest, "<null> <null>");
  EXPECT_EQ(pending_codes(), (std::vector<mpm_Status>{CFG_PVAL_EXP, UGN_OPTS_VALUE_MISSING}));
  mpm_DiscardPending(0);
  // The lookup trees: one key per settable field, the first of a key kept.
  otm_Tree *keys = nullptr, *entities = nullptr;
  ASSERT_EQ(cfg__BuildArgTrees(0, multi_, &keys, &entities), 0u);
  EXPECT_EQ(keys->count, 8);  // file, units, out, scale, flags, and box, m (no description: the
                              // name is the key), levels
  EXPECT_EQ(entities->count, 3);
  entities->cycle_index = 0;
  while (auto *e = static_cast<cfg_EntityNode *>(otm_CycleTree(0, entities))) olm_DeleteList(0, e->values);
  otm_DeleteTree(0, entities);
  otm_DeleteTree(0, keys);
}

}  // namespace
}  // namespace tesmar::test
