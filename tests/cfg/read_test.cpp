// Reading configurations: every error of the reporter with its text, line and caret; what the
// fields take from the parameters; files, line ends and the entities of a model.
#include <functional>

#include "cfg_test.h"

namespace tesmar::test {
namespace {

// The error record: the line of the text and a caret under byte `column` of it (0-based; tabs
// are kept under tabs, a character of several bytes takes one column).
std::string record(int line, const std::string &text, int column, const char *source = "file") {
  std::string caret = " ";
  for (int i = 0; i < column; ++i)
    if (text[i] == '\t') caret += '\t';
    else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) caret += ' ';
  return "Syntax Error: Line #" + std::to_string(line) + " <" + source + ">\n`" + text + "`\n" +
         caret + "^\n";
}
// A reported message (its text ends with a line end of its own).
std::string said(const std::string &text) { return text + "\n"; }

const std::string kParse = said("Error parsing the configuration.\n");

TEST_F(CfgTest, TheReporterLocatesEveryMistake) {
  const struct {
    const char *text;
    mpm_Status status;
    std::string reported;
  } cases[] = {
      {"passes = 3;\n = 4;\ntolerance = 2.0;", 0,
       record(2, " = 4;", 1) + said("Identifier expected.\n")},
      {"passes 3;", 0, record(1, "passes 3;", 7) + said("Colon (:) or Equal (=) operator expected.\n")},
      {"sizes = 1 2;", 0, record(1, "sizes = 1 2;", 10) + said("Comma (,) operator expected.\n")},
      {"pts = {1.0, 2.0} 3;", 0,
       record(1, "pts = {1.0, 2.0} 3;", 17) + said("Open-brace ({) operator expected.\n")},
      {"pts = {1.0, 2.0}, 3.0;", 0,
       record(1, "pts = {1.0, 2.0}, 3.0;", 18) + said("Open-brace ({) operator expected.\n")},
      {"pts = 1.0, {2.0};", 0, record(1, "pts = 1.0, {2.0};", 11) + said("Structure declaration not valid.\n")},
      {"pts = {1.0, {2.0}};", 0, record(1, "pts = {1.0, {2.0}};", 12) + said("Close-brace (}) operator expected.\n")},
      {"pts = {1.0;", 0, record(1, "pts = {1.0;", 10) + said("Close-brace (}) operator expected.\n")},
      {"sizes = 1};", 0, record(1, "sizes = 1};", 9) + said("Corresponding ({) not found.\n")},
      {"\tsizes = \xC3\xA9 \xC3\xA9;", 0, record(1, "\tsizes = \xC3\xA9 \xC3\xA9;", 9) +
                                   said("Parameter value(s) expected.\n")},
      {"sizes = 1 \xC3\xA9;", 0, record(1, "sizes = 1 \xC3\xA9;", 10) + said("Parameter value(s) expected.\n")},
      {"passes = 1e5;", 0, record(1, "passes = 1e5;", 9) + said("Parameter value(s) expected.\n")},
      {"tolerance = 1.0e 5;", 0, record(1, "tolerance = 1.0e 5;", 12) + said("Parameter value(s) expected.\n")},
      {"passes = 2147483648;", 0, record(1, "passes = 2147483648;", 9) + said("Value out of range.\n")},
      {"tolerance = 1.0e309;", 0, record(1, "tolerance = 1.0e309;", 12) + said("Value out of range.\n")},
      {"# a /* b\npasses = 1;", CFG_PARSE_ERROR, record(1, "# a /* b", 4) + said("Illegal nested comment\n") + kParse},
      {"/* a\n # b */", CFG_PARSE_ERROR, record(2, " # b */", 1) + said("Illegal nested comment\n") + kParse},
      {"/* a\n /* b */", CFG_PARSE_ERROR, record(2, " /* b */", 1) + said("Illegal nested comment\n") + kParse},
      {"passes = 1;\n/* open\n\n", CFG_PARSE_ERROR, record(2, "/* open", 0) + said("Line #2:  Unexpected EOF\n") + kParse},
      {"title = \"a\nb\";", CFG_PARSE_ERROR, record(1, "title = \"a", 10) + said("New-line in character string.\n") + kParse},
      {"title = \"abc", CFG_PARSE_ERROR, record(1, "title = \"abc", 8) + said("Line #1:  Unexpected EOF\n") + kParse},
      {"passes = 1,\n2", CFG_PARSE_ERROR, record(2, "2", 1) + said("Line #2:  Unexpected EOF\n") + kParse},
      {"passes = 3 4", CFG_PARSE_ERROR, record(1, "passes = 3 4", 11) + said("Comma (,) operator expected.\n") +
                                            record(1, "passes = 3 4", 12) + said("Line #1:  Unexpected EOF\n") + kParse},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    const Result r = read(single_, c.text);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.reported, c.reported);
    EXPECT_EQ(r.model == 0, c.status != 0);  // a failed parse leaves no model
  }
}

TEST_F(CfgTest, SectionsAndTheEntitiesTheyFill) {
  const struct {
    bool multi;
    const char *text;
    const char *command_line;
    mpm_Status status;
    std::string reported;
  } cases[] = {
      {false, "passes = 1;", nullptr, 0, ""},
      {false, "options: passes = 1;", "passes = 2;", 0, ""},
      {false, "passes = 1;\noptions:\n", nullptr, CFG_PARSE_ERROR,
       record(2, "options:", 7) +
           said("The first section of this file does not have\na configuration header token.  This "
                "token is\nnecessary in configuration files with more than\none section.\n") + kParse},
      {false, "other: passes = 1;", nullptr, CFG_ENT_WO_SECTION,
       said("No parameter data was found for the 'options' entity.\nNormally, parameter data is "
            "not required for\neach entity, but this is the ONLY configuration\nentity in the "
            "specified DDF.\n")},
      {true, "units = 2;", nullptr, CFG_INVALID_DEFAULT,
       said("No section headers were found.  Unable to determine\nwith which entity to associate "
            "parameters.\n")},
      {true, "input: units = 2;\noutput:\ninput:", nullptr, CFG_PARSE_ERROR,
       record(3, "input:", 5) + said("Line #3: Non-Unique section name: 'input'\n") + kParse},
      {true, "input: units = 2;\nnowhere: x = 1;\n", nullptr, 0,
       said("Line #2: Invalid section name: 'nowhere'\nNo DDF entity by this name.  Parameters ignored.\n")},
      {true, "Input: Units = 2;\nunits = 3; bogus = 1;", nullptr, 0,
       said("Line #2: Parameter redeclared within context of file: 'units'\n") +
           said("Line #2:  Undefined symbol: 'bogus'\n")},
      {true, "input: units = 2;", "input: units = 4; output: scale = 2.0;", 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    ddf_Schema *schema = c.multi ? multi_ : single_;
    const Result r = read(schema, c.text, c.command_line);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.reported, c.reported);
  }
  // What the accepted ones made: the command line overrides the file; names are lower-cased.
  Result r = read(single_, "options: passes = 1;", "passes = 2;");
  EXPECT_EQ(at<int32_t>(entity(r.model, single_, "options"), 24), 2);
  r = read(multi_, "Input: Units = 2;\nunits = 3;");
  EXPECT_EQ(at<int32_t>(entity(r.model, multi_, "input"), 32), 3);
  EXPECT_EQ(entity(r.model, multi_, "output"), nullptr);  // no section: no entity
  r = read(multi_, "input: units = 2;", "input: units = 4; output: scale = 2.0;");
  EXPECT_EQ(at<int32_t>(entity(r.model, multi_, "input"), 32), 4);
  EXPECT_EQ(at<double>(entity(r.model, multi_, "output"), 32), 2.0);
  mpm_DiscardPending(0);
}

// The single schema's layout: passes 24, tolerance 32, title 40, code 48 (8), small 56, sizes 60
// (3 ints), n 72, values 80 (block), open 88 (block), pts 96 (block of {x, y}).
TEST_F(CfgTest, FieldsTakeTheirValuesOrTheirDefaults) {
  const Result r = read(single_,
                        "passes = 1.5; tolerance = 2; title = \"caf\xC3\xA9 \\\" \"; code = \"abcdefghij\";\n"
                        "small = 70000; sizes = 1, , 3, 4; values = 1.0, 2.0, 3.0; n = 2;\n"
                        "open = 5, 6, 7; pts = {1.0, 2.0}, , {3.0};");
  ASSERT_EQ(r.status, 0u) << r.reported;
  EXPECT_EQ(r.reported, said("Line #1: Invalid Double/Integer combination: 'passes'\nDouble value cast to an integer.\n") +
                            said("Line #1: Invalid Double/Integer combination: 'tolerance'\nInteger value cast to a double.\n") +
                            said("Line #1: Data points discarded: 'code'\nOnly 7 of 10 data points extracted.\n") +
                            said("Value out of range.\n") +
                            said("Line #2: Data points discarded: 'sizes'\nOnly 3 of 4 data points extracted.\n") +
                            said("Line #2: Data points discarded: 'values'\nOnly 2 of 3 data points extracted.\n"));
  const char *e = entity(r.model, single_, "options");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(at<int32_t>(e, 24), 1);
  EXPECT_EQ(at<double>(e, 32), 2.0);
  EXPECT_STREQ(at<const char *>(e, 40), "caf\xC3\xA9 \\\" ");
  EXPECT_STREQ(std::string(e + 48, 7).c_str(), "abcdefg");
  EXPECT_EQ(at<int16_t>(e, 56), 0);
  EXPECT_EQ(at<int32_t>(e, 60), 1);
  EXPECT_EQ(at<int32_t>(e, 64), 0);
  EXPECT_EQ(at<int32_t>(e, 68), 3);
  // The count given: exactly two elements, the third value dropped (never written past them).
  EXPECT_EQ(at<int32_t>(e, 72), 2);
  const auto *values = at<const double *>(e, 80);
  EXPECT_EQ(values[0], 1.0);
  EXPECT_EQ(values[1], 2.0);
  uint32_t bytes = 0;
  EXPECT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, const_cast<double *>(values), &bytes), 0u);
  EXPECT_EQ(bytes, 16u);
  const auto *open = at<const int32_t *>(e, 88);
  EXPECT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, const_cast<int32_t *>(open), &bytes), 0u);
  EXPECT_EQ(bytes, 12u);
  EXPECT_EQ(open[2], 7);
  const auto *pts = at<const double *>(e, 96);
  EXPECT_EQ(mda_GetMemorySize(MDA_SIZE_PLAIN, const_cast<double *>(pts), &bytes), 0u);
  EXPECT_EQ(bytes, 48u);  // three elements: a group, an empty place, a group
  EXPECT_EQ(pts[0], 1.0);
  EXPECT_EQ(pts[1], 2.0);
  EXPECT_EQ(pts[2], 0.0);
  EXPECT_EQ(pts[4], 3.0);
  EXPECT_EQ(pts[5], 0.0);
  // Without a count, the count is the number of values; without values, the defaults.
  const Result d = read(single_, "values = 1.0, 2.0, 3.0; open = ; title = ; code = \"\xFF\";");
  const char *f = entity(d.model, single_, "options");
  EXPECT_EQ(at<int32_t>(f, 72), 3);
  EXPECT_EQ(at<double>(f, 32), 1.0);
  EXPECT_EQ(at<const char *>(f, 40), nullptr);
  EXPECT_EQ(f[48], '\xFF');  // a byte like any other, not the end of the text
  // Doubles: correctly rounded, with D exponents.
  const Result g = read(single_, "values = 2.5D-3, 0.1, 1.e5, -.5, 1.7976931348623157e308;");
  const auto *v = at<const double *>(entity(g.model, single_, "options"), 80);
  EXPECT_EQ(v[0], 2.5e-3);
  EXPECT_EQ(v[1], 0.1);
  EXPECT_EQ(v[2], 1e5);
  EXPECT_EQ(v[3], -0.5);
  EXPECT_EQ(v[4], 1.7976931348623157e308);
  EXPECT_EQ(g.reported, "");
  EXPECT_EQ(at<const int32_t *>(f, 88), nullptr);  // an empty list: no elements
  mpm_DiscardPending(0);
}

TEST_F(CfgTest, FilesAndModels) {
  TempDir dir;
  // Line ends as the file's first bytes show them, bytes above 0x7F as text.
  write_file(dir.file("crlf.cfg"), "options:\r\n  passes = 1;\r\n  passes 2;\r\n");
  write_file(dir.file("cr.cfg"), "options:\r  title = \"\xE2\x82\xAC\";\r  passes = ;;\r x\r");
  write_file(dir.file("nul.cfg"), std::string("options:\n passes = x\0y;\n", 24));
  OutputCapture capture;
  int32_t model = 0;
  EXPECT_EQ(cfg_ParseFile(0, single_, dir.file("crlf.cfg").c_str(), nullptr, &model), 0u);
  EXPECT_EQ(cfg_ParseFile(0, single_, dir.file("cr.cfg").c_str(), nullptr, &model), CFG_PARSE_ERROR);
  EXPECT_EQ(cfg_ParseFile(0, single_, dir.file("nul.cfg").c_str(), nullptr, &model), 0u);
  std::string reported;
  for (const auto &line : capture.lines()) reported += line.text;
  const std::string colon = said("Colon (:) or Equal (=) operator expected.\n");
  EXPECT_EQ(reported, record(3, "  passes 2;", 9) + colon + record(5, "", 0) + colon +
                          record(5, "", 0) + said("Line #5:  Unexpected EOF\n") + kParse +
                          record(2, " passes = x?y;", 10) + said("Parameter value(s) expected.\n"));
  // Files that cannot be read, and a null model argument.
  const std::string missing = dir.file("missing.cfg");
  EXPECT_EQ(cfg_ParseFile(0, single_, missing.c_str(), nullptr, &model), CFG_OPEN_ERROR);
  EXPECT_EQ(model, 0);
  EXPECT_EQ(cfg_ParseFile(0, single_, dir.path().c_str(), nullptr, &model), CFG_READ_ERROR);
  EXPECT_EQ(cfg_ParseFile(0, single_, "", nullptr, &model), CFG_INVALID_NAME);
  EXPECT_EQ(cfg_ParseFile(0, nullptr, "x", nullptr, &model), CFG_INVALID_DDF);
  EXPECT_EQ(cfg_ParseFile(CFG_TEXT, single_, "", nullptr, nullptr), CFG_INVALID_MODEL);
  // Entities by type form, and models that are not configuration models.
  ASSERT_EQ(cfg_ParseFile(CFG_TEXT, multi_, "input: units = 2;", nullptr, &model), 0u);
  db_ptr p = 0;
  EXPECT_EQ(cfg_GetEntity(model, multi_->typeforms[0], &p), 0u);
  EXPECT_NE(p, 0u);
  EXPECT_EQ(cfg_GetEntity(model, multi_->typeforms[1], &p), CFG_ENT_NOT_FOUND);
  EXPECT_EQ(cfg_GetEntity(0, multi_->typeforms[0], &p), CFG_INVALID_MODEL);
  EXPECT_EQ(cfg_GetEntity(65536, multi_->typeforms[0], &p), CFG_INVALID_MODEL);
  EXPECT_EQ(cfg_GetEntity(model + 1, multi_->typeforms[0], &p), CFG_INVALID_MODEL);
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = multi_;
  def.user_data = &def;  // an application's own data: never taken for a reference tree
  int32_t other = 0;
  ASSERT_EQ(mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &other), 0u);
  EXPECT_EQ(cfg_GetEntity(other, multi_->typeforms[0], &p), CFG__MOD_UDATA_ERROR);
  EXPECT_EQ(cfg_FreeModel(0, other), 0u);  // not a configuration model: left alone
  EXPECT_NE(tesmar::mda::model_in_use(other), nullptr);
  EXPECT_EQ(cfg_FreeModel(0, model), 0u);
  EXPECT_EQ(tesmar::mda::model_in_use(model), nullptr);
  EXPECT_EQ(take_pending(),
            (std::vector<std::string>{
                error_text("CFG__MOD_UDATA_ERROR", "Model 4 is not a configuration model.\n"),
                error_text("CFG_INVALID_MODEL", "Invalid configuration model number 4.\n"),
                error_text("CFG_INVALID_MODEL", "Invalid configuration model number 65536.\n"),
                error_text("CFG_INVALID_MODEL", "Invalid configuration model number 0.\n"),
                error_text("CFG_ENT_NOT_FOUND", "Configuration entity output (2:0) not found.\n")}));
}

}  // namespace
}  // namespace tesmar::test
