// The schema compiler: layout, names, registers and programs, and its diagnostics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "ddf/ddf_internal.h"
#include "everything.h"
#include "schema_support.h"
#include "show.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using CompileTest = LibraryTest;

TEST_F(CompileTest, DiagnosticsNameFileLineAndColumn) {
  const std::pair<const char *, const char *> cases[] = {
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int a; int a; }",
       "test.ddl:2:27: error: field 'a' is declared twice"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 {\n  double x[n];\n}",
       "test.ddl:3:12: error: 'n' is no count or let field declared before this point"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x default 1.5; }",
       "test.ddl:2:22: error: 'x': an integer default is a whole number"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { float x default 2; }",
       "test.ddl:2:24: error: 'x': a float or double default is 0, 1, pi, pi/2 or pi/4"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { float x default key 49; }",
       "test.ddl:2:24: error: 'x': float and double keys are 0 and 50 to 54"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { subent e self; }",
       "test.ddl:2:23: error: entity 'e' would contain itself"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x; }\nentity f 1:0 { int y; }",
       "test.ddl:3:10: error: type form 1:0 is declared twice"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x since 1.1; }",
       "test.ddl:2:22: error: field 'x' is newer than the schema's version and release"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x[1][2][3][4][5][6]; }",
       "test.ddl:2:36: error: 'x' has more than 5 dimensions"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { count n; int x[n] fixed; }",
       "test.ddl:2:34: error: 'x': an embedded (fixed) array needs literal dimensions"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x \"unterminated; }",
       "test.ddl:2:22: error: unterminated string"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int x attributes(bold); }",
       "test.ddl:2:33: error: unknown attribute 'bold'"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { union u { count n; } }",
       "test.ddl:2:26: error: a union's members hold values, structures, unions or subentities"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { let x = 4 / 0; }",
       "test.ddl:2:26: error: division by zero"},
      {"entity e 1:0 { int x; }",
       "test.ddl:1:1: error: the schema needs a 'database \"NAME\" version V release R;' statement"},
      {"database \"t\" version 1 release 0;\nentity e 1:0 { int; }",
       "test.ddl:2:19: error: expected the field's name, found ';'"},
      {"database \"t\" version 1 release 0;\nentity e 16000:16000 { int x; }",
       "test.ddl:2:10: error: 16000:16000 and 16001:16001 are reserved"},
      {"database \"t\" version 1 release 0;\r\nentity e 1:0 { ptr(nowhere) x; }",
       "test.ddl:2:20: error: unknown entity 'nowhere'"},
  };
  for (const auto &[text, expected] : cases) EXPECT_EQ(compile_error(text), expected) << text;
}

// Nesting that the reader (or the walks) would refuse is refused by the compiler, with a located
// error, at the same depth; what the compiler accepts at each limit the reader reads back. Far
// deeper nesting (20,000 levels) ends in the error, not in an exhausted stack.
TEST_F(CompileTest, NestingIsBoundedWhereTheReaderBoundsIt) {
  const std::string head = "database \"t\" version 1 release 0;\n";
  auto structures = [&](int depth, const char *kind) {
    std::string text = head + "entity e 1:0 {";
    for (int i = 0; i < depth; ++i) text += std::string(" ") + kind + " s" + std::to_string(i) + " {";
    text += " int x;";
    for (int i = 0; i < depth; ++i) text += " }";
    return text + " }";
  };
  auto subentities = [&](int levels) {  // e0 holds e1, which holds e2, ...
    std::string text = head;
    for (int i = 0; i <= levels; ++i) {
      text += "entity e" + std::to_string(i) + " " + std::to_string(i + 1) + ":0 { int x" +
              std::to_string(i) + ";";
      if (i < levels) text += " subent e" + std::to_string(i + 1) + " in;";
      text += " }\n";
    }
    return text;
  };
  auto parentheses = [&](int depth) {
    return head + "entity e 1:0 { let x = " + std::string(depth, '(') + "1" + std::string(depth, ')') + "; }";
  };
  auto operators = [&](int count) {
    std::string sum = "1";
    for (int i = 0; i < count; ++i) sum += "+1";
    return head + "entity e 1:0 { let x = " + sum + "; }";
  };
  auto reads_back = [](const std::string &text) {
    ddf_Schema *schema = nullptr;
    const mpm_Status status = read_bytes(file_bytes(compile_ok(text)), &schema);
    if (schema != nullptr) ddf_FreeSchema(0, schema);
    return status == 0;
  };
  EXPECT_TRUE(reads_back(structures(32, "struct")));
  EXPECT_TRUE(reads_back(structures(32, "union")));
  EXPECT_TRUE(reads_back(subentities(63)));
  EXPECT_TRUE(reads_back(parentheses(32)));
  EXPECT_TRUE(reads_back(operators(40)));  // long left chains run out of registers before 256
  const std::pair<std::string, std::string> refused[] = {
      {structures(33, "struct"), "structures and unions nest more than 32 deep"},
      {structures(20000, "struct"), "structures and unions nest more than 32 deep"},
      {structures(20000, "union"), "structures and unions nest more than 32 deep"},
      {subentities(64), "subentities nest more than 63 levels deep"},
      {subentities(20000), "subentities nest more than 63 levels deep"},
      {parentheses(33), "parentheses nest more than 32 deep"},
      {parentheses(20000), "parentheses nest more than 32 deep"},
      {operators(20000), "an expression has more than 256 operators"},
  };
  for (const auto &[text, message] : refused) {
    const std::string error = compile_error(text);
    EXPECT_NE(error.find("error: " + message), std::string::npos) << error;
    EXPECT_EQ(error.rfind("test.ddl:", 0), 0u) << error;  // located
  }
}

TEST_F(CompileTest, RegistersRunOutWithAMessageNotACorruptSchema) {
  std::string text = "database \"t\" version 1 release 0;\nentity e 1:0 {";
  for (int i = 0; i < 64; ++i) text += " count c" + std::to_string(i) + ";";
  text += " }";
  EXPECT_NE(compile_error(text).find("registers"), std::string::npos);
  std::string many = "database \"t\" version 1 release 0;\nentity e 1:0 {";
  for (int i = 0; i < 128; ++i) many += " int f" + std::to_string(i) + ";";
  many += " }";
  EXPECT_NE(compile_error(many).find("more than 128 descriptors"), std::string::npos);
}

}  // namespace
}  // namespace tesmar::test
