// Mapping files: each statement form, the errors with their lines, and dumps of an environment
// that read back to it (randomised), with the dumps' own forms.
#include <array>
#include <functional>
#include <map>
#include <string_view>

#include "map_test.h"
#include "support/random_driver.h"

namespace tesmar::test {
namespace {

using namespace std::literals;

class MapFileTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    define_singles();
    ASSERT_EQ(map__DefineParameter(0, MAP_LIST_ERR, MAP_PARAM_LONG, &count_), 0u);
    ASSERT_EQ(map__DefineParameter(0, MAP_MALLOC_ERR, MAP_PARAM_BOOLEAN, &flag_), 0u);
    ASSERT_EQ(map__DefineParameter(0, MAP_TREE_ERR, MAP_PARAM_DOUBLE, &scale_), 0u);
    ASSERT_EQ(map__DefineParameter(0, MAP_PARSE_ERR, MAP_PARAM_STRING, &name_), 0u);
  }
  mpm_Status load(const std::string &text, uint32_t options = 0) {
    write_file(dir_.file("m.map"), text);
    return map_LoadMapFile(options, dir_.file("m.map").c_str(), env_);
  }
  int32_t count_ = 5, flag_ = 0, name_ = static_cast<int32_t>(MAP_LIST_ERR);
  double scale_ = 1.0;
  TempDir dir_;
};

TEST_F(MapFileTest, EveryStatementForm) {
  const int32_t target = model(drawing_, "target", false);
  ASSERT_EQ(load("# the translator's choices\r\n"
                 "\"p2l\";   /* with the defaults */\r\n"
                 "\"L\" = 'p2l', \"l2a\";\r\n"
                 "\"p2p\", COMMIT, MODEL, 'target', MAP_PARAM, MAP_LIST_ERR, 7;\r\n"
                 ";;\r\n"
                 "MAP_LIST_ERR = 8 ; MAP_MALLOC_ERR = TRUE; MAP_TREE_ERR = \t2.5 ;\r\n"
                 "MAP_PARSE_ERR = MAP_NO_MODEL;\r\n"
                 "TESMAR_TMP = /tmp/with blanks;\r\n"
                 "/* never closed",
                 MAP_FILE_ENVIRONMENT),
            0u);
  EXPECT_TRUE(pending_texts().empty()) << pending_texts()[0];
  EXPECT_EQ(points(), (std::vector<std::string>{"p2l>0", "p2p>0|c|m" + std::to_string(target) + "|p1"}));
  EXPECT_NE(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env_->mappings, std::array{"L"}.data()),
            nullptr);  // defined, not enabled
  EXPECT_EQ(count_, 8);
  EXPECT_EQ(flag_, 1);
  EXPECT_EQ(scale_, 2.5);
  EXPECT_EQ(static_cast<mpm_Status>(name_), MAP_NO_MODEL);
  const char *tmp = nullptr;
  ASSERT_EQ(tmx_GetEnv(0, "TESMAR_TMP", &tmp), 0u);
  EXPECT_STREQ(tmp, "/tmp/withblanks");
  ugn_PutEnv(0, "TESMAR_TMP", nullptr);
  // The list enabled by a statement of its own; its definition given again unchanged is accepted.
  ASSERT_EQ(load("\"L\" = \"p2l\", \"l2a\";\n\"L\";\n"), 0u);
  EXPECT_EQ(table(geo_, geo("point")).back(), "l2a>0");
}

TEST_F(MapFileTest, ErrorsNameTheirLine) {
  const struct {
    std::string_view text;
    uint32_t options;
    std::vector<std::string> pending;  // newest first; the last is the file error
  } cases[] = {
      {"\"p2l\";\n\n\"zz\";", 0, {"MAP_FILE_ERR 3", "MAP_UNDEFINED"}},
      {"MAP_LIST_ERR = 1;\nMAP_NO_MODEL = 2;", 0, {"MAP_FILE_ERR 2", "MAP_UNDEFINED_PARAM"}},
      {"\n\nMAP_LIST_ERR = 12abc;", 0, {"MAP_FILE_ERR 3", "MAP_PARSE_ERR"}},
      {"MAP_MALLOC_ERR = yes;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"MAP_LIST_ERR 1;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"NOT_A_NAME = 1;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"TESMAR_TMP = /tmp;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},  // without the option
      {"TESMAR_TMP = /tmp/\"x\";", MAP_FILE_ENVIRONMENT, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"\"p2l\", COMMIT\0;"sv, 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"\"p2l\n;", 0, {"MAP_FILE_ERR 2"}},  // the quote never closes
      {"\"p2l\" COMMIT;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"\"p2l\", BOGUS;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"\"L\" = \"p2l\", \"nothing\";", 0, {"MAP_FILE_ERR 1", "MAP_NOT_DEFINED"}},
      {"\"p2l\" = \"l2a\";", 0, {"MAP_FILE_ERR 1", "MAP_ALREADY_DEFINED"}},
      {"42;", 0, {"MAP_FILE_ERR 1", "MAP_PARSE_ERR"}},
      {"\"p2l\";\n\"p2p\"", 0, {"MAP_FILE_ERR 2"}},  // an unfinished last statement
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(load(std::string(c.text), c.options), MAP_FILE_ERR);
    std::vector<std::string> got;
    for (const std::string &t : take_pending()) {
      const std::string name = t.substr(t.find('(') + 1, t.find(')') - t.find('(') - 1);
      got.push_back(name == "MAP_FILE_ERR" ? name + " " + t.substr(t.find("line ") + 5, t.find(" of") - t.find("line ") - 5)
                                           : name);
    }
    EXPECT_EQ(got, c.pending);
    map_ClearDTFMapping(0, env_, geo_, geo("point"));
    mpm_DiscardPending(0);
  }
  EXPECT_EQ(map_LoadMapFile(0, dir_.file("missing.map").c_str(), env_), MAP_FILE_DOES_NOT_EXIST);
  EXPECT_EQ(map_LoadMapFile(0, dir_.path().c_str(), env_), MAP_FILE_ERR);  // a directory reads nothing
  EXPECT_EQ(map_LoadMapFile(0, nullptr, env_), MAP_INVALID_ARG);
  EXPECT_EQ(map_DbgLoadEnv(0, "anything", nullptr), 0u);
  mpm_DiscardPending(0);
}

TEST_F(MapFileTest, TheDumpsForms) {
  const int32_t target = model(drawing_, "target", false);
  ASSERT_EQ(map_DefineMappingList(0, env_, "L", "p2l", "l2a", nullptr), 0u);
  ASSERT_EQ(map_EnableMapping(0, env_, "L", MAP_COMMIT, MAP_MODEL, target, MAP_PARAM, MAP_TREE_ERR, 0.5, MAP_END), 0u);
  TraceCapture trace;
  ASSERT_EQ(map_DbgDumpTable(MAP_DUMP_NO_DEFS, env_), 0u);
  ASSERT_EQ(map_DbgDumpParameters(0), 0u);
  const std::string op = "      Next operation: ";
  auto at = [](const void *p) {  // "0x" and the address's digits, as the dump writes it
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return std::string("0x") + (text + (text[1] == 'x' ? 2 : 0));
  };
  EXPECT_EQ(trace.text(),
            "\n**** Enabled mappings:\n\nDTF: geometry:116:0\n"
            "  \"L\" <MAPPING LIST HEADER>\n" + op + "2\n      Target model:  Use default\n      Options:  \n"
            "      Parameters:\n          MAP_TREE_ERR = 0.500000\n"
            "  \"p2l\"\n" + op + "3\n      Target model:  Use default\n      Options:  \n"
            "      Parameters:\n          MAP_TREE_ERR = 0.500000\n"
            "  \"l2a\" <FINAL MAPPING OPERATION>\n" + op + "0\n      Target model:  " + std::to_string(target) +
            "\n      Options:  COMMIT  \n      Parameters:\n          MAP_TREE_ERR = 0.500000\n"
            "\n**** Defined parameters:\n\n"
            "MAP_MALLOC_ERR = false   (default_addr = " + at(&flag_) + ")\n"
            "MAP_TREE_ERR = 1   (default_addr = " + at(&scale_) + ")\n"
            "MAP_LIST_ERR = 5   (default_addr = " + at(&count_) + ")\n"
            "MAP_PARSE_ERR = MAP_LIST_ERR   (default_addr = " + at(&name_) + ")\n");
  TraceCapture file;
  ASSERT_EQ(map_DbgDumpTable(MAP_DUMP_FILE_ONLY, env_), 0u);
  EXPECT_EQ(file.text(), "\n/* Ascii Mapping File*/\n \"L\" = \"p2l\", \"l2a\";\n"
                         " \"L\", COMMIT, MODEL, 'target', MAP_PARAM, MAP_TREE_ERR, 0.5;\n");
  // An environment without operations: no statements at all (a lone ';' would not read back).
  ASSERT_EQ(map_ClearDTFMapping(0, env_, geo_, geo("point")), 0u);
  TraceCapture empty;
  ASSERT_EQ(map_DbgDumpEnv(0, env_), 0u);
  EXPECT_EQ(empty.text(), "\n/* Ascii Mapping File*/\n\n/* Defined parameters */\n\n"
                          "MAP_MALLOC_ERR = false;\nMAP_TREE_ERR = 1;\nMAP_LIST_ERR = 5;\n"
                          "MAP_PARSE_ERR = MAP_LIST_ERR;\n");
}

}  // namespace
}  // namespace tesmar::test
