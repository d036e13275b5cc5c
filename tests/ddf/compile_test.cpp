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

// Offsets of every descriptor of a type form as the entity walk reaches them: the field area
// starts after the 24-byte header and each field moves the address by its slot and filler.
std::vector<int64_t> walk_offsets(const ddf_Schema *s, int32_t tfi) {
  std::vector<int64_t> offsets;
  int64_t at = 24;
  auto fields = fields_of(s, tfi);
  for (std::size_t k = 0; k + 1 < fields.size();) {
    const ddf_FieldDesc &d = *fields[k];
    offsets.push_back(at);
    if (d.kind != DDF_DERIVED && d.kind != DDF_METHOD) at += tesmar::ddf::slot_size(d) + d.filler;
    k += d.kind == DDF_STRUCT ? static_cast<std::size_t>(d.aux) + 1 : 1;
  }
  offsets.push_back(at);  // the end of the field area
  return offsets;
}

TEST_F(CompileTest, FieldsAreAlignedToTheirSizeAndFillersLeadToTheNext) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity e 1:0 { char a; double b; short c; int d; char e[3]; float f; fstring(5) g; ptr h; }
  )");
  EXPECT_EQ(walk_offsets(schema.get(), 0),
            (std::vector<int64_t>{24, 32, 40, 44, 48, 52, 56, 64, 72}));
  EXPECT_EQ(schema->ent_sizes[0], 72);
  auto fields = fields_of(schema.get(), 0);
  EXPECT_EQ(fields[0]->filler, 7);  // char a, then double b at 32
  EXPECT_EQ(fields[2]->filler, 2);  // short c, then int d at 44
  EXPECT_EQ(fields[6]->filler, 3);  // fstring(5) at 56, then ptr at 64
  EXPECT_EQ(schema->ent_info[0], DDF_INFO_POINTERS);
}

TEST_F(CompileTest, StructureSizeIsAMultipleOfItsAlignmentAndItsPaddingIsTheLastFiller) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity e 1:0 { struct s[2] { double x; char c; } short after; }
  )");
  auto f = fields_of(schema.get(), 0);
  ASSERT_EQ(f[0]->kind, DDF_STRUCT);
  EXPECT_EQ(f[0]->key, 16);  // structure size
  EXPECT_EQ(f[0]->aux, 3);   // s, s.x, s.c, endstruct
  EXPECT_EQ(f[3]->kind, DDF_ENDSTRUCT);
  EXPECT_EQ(f[2]->filler, 7);  // s.c pads the element to 16
  EXPECT_EQ(f[0]->flags, DDF_ARRAY | DDF_FIXED);
  EXPECT_EQ(walk_offsets(schema.get(), 0), (std::vector<int64_t>{24, 56, 58}));
  EXPECT_EQ(schema->ent_sizes[0], 64);
}

TEST_F(CompileTest, UnionMembersFollowTheSelectorAtTheirAlignment) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity e 1:0 {
      union u { short a; double b; fstring(20) c; }
      union v { char x; short y; }
    }
  )");
  auto f = fields_of(schema.get(), 0);
  EXPECT_EQ(f[0]->flags, DDF_UNION);
  EXPECT_EQ(f[0]->member_offset, 6);  // members at 8
  EXPECT_EQ(f[0]->key, 32);           // 8 + 20, rounded to 8
  EXPECT_EQ(f[5]->member_offset, 0);  // v: members right after the selector
  EXPECT_EQ(f[5]->key, 4);
  int32_t index = -1;
  EXPECT_EQ(ddf_GetUnionMemberByName(f[0], "u.c", &index, 0), 0u);
  EXPECT_EQ(index, 2);
}

TEST_F(CompileTest, ArraysTakeTheirStorageFromTheirDimensions) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity e 1:0 {
      count n;
      int a[4];  int b[n];  int c[n] variable;  int d[];  int e[2][3] ptrfixed;  int f[n][2][n+3];
    }
  )");
  auto f = fields_of(schema.get(), 0);
  EXPECT_EQ(f[1]->flags, DDF_ARRAY | DDF_FIXED);
  EXPECT_EQ(f[2]->flags, DDF_ARRAY | DDF_PTRFIXED);
  EXPECT_EQ(f[3]->flags, DDF_ARRAY | DDF_VARIABLE);
  EXPECT_EQ(f[4]->flags, DDF_ARRAY | DDF_PTRFIXED | DDF_UNSIZED);
  EXPECT_EQ(f[5]->flags, DDF_ARRAY | DDF_PTRFIXED);
  EXPECT_EQ(f[6]->ndims, 3);
  EXPECT_EQ(f[6]->dims[2].a, -1);  // the register comes first in n+3
  EXPECT_EQ(f[6]->dims[2].b, 3);
  EXPECT_EQ(f[6]->dims[2].op, 'f');
  EXPECT_EQ(f[0]->dims[0].a, -1);  // count n fills register 1
  EXPECT_EQ(f[0]->key, 3);         // b, c, f
  EXPECT_EQ(walk_offsets(schema.get(), 0), (std::vector<int64_t>{24, 28, 48, 56, 64, 72, 80, 88}));
}

TEST_F(CompileTest, FieldNamesAreSortedDottedPathsAndTypeFormsAreSorted) {
  ddl::Image image = compile_ok(kEverything);
  EXPECT_TRUE(std::is_sorted(image.fld_names.begin(), image.fld_names.end()));
  EXPECT_TRUE(std::adjacent_find(image.fld_names.begin(), image.fld_names.end()) ==
              image.fld_names.end());
  EXPECT_TRUE(std::is_sorted(image.typeforms.begin(), image.typeforms.end()));
  EXPECT_NE(std::find(image.fld_names.begin(), image.fld_names.end(), "u.st.x"),
            image.fld_names.end());
  EXPECT_EQ(image.ent_names, (std::vector<std::string>{"base", "other", "last"}));
  for (std::size_t t = 0; t < image.typeforms.size(); ++t) {
    const ddf_FieldDesc &end = image.fld_data[image.fld_indices[t] + image.ent_fldcnts[t] - 1];
    EXPECT_EQ(end.kind, DDF_ENDENT);
  }
}

TEST_F(CompileTest, LetProgramsEvaluateLikeTheExpressionTheyCameFrom) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity e 1:0 {
      count a; count b;
      let x = (a + 3) * (b - 1) / 2 - a;
      let y = x * x + 7;
      let z = a;
    }
  )");
  int32_t registers[DDF_REGISTER_COUNT] = {};
  int32_t *saved = ddf_registers;
  ddf_registers = registers;
  for (int32_t a = -20; a <= 20; a += 3)
    for (int32_t b = -9; b <= 9; b += 2) {
      registers[1] = a;
      registers[2] = b;
      int32_t x = 0, y = 0, z = 0;
      ASSERT_EQ(ddf_EvaluateOpcodes(schema->opcodes + field("e", "x")->instr, &x), 0u);
      ASSERT_EQ(ddf_EvaluateOpcodes(schema->opcodes + field("e", "y")->instr, &y), 0u);
      ASSERT_EQ(ddf_EvaluateOpcodes(schema->opcodes + field("e", "z")->instr, &z), 0u);
      EXPECT_EQ(x, (a + 3) * (b - 1) / 2 - a);
      EXPECT_EQ(y, x * x + 7);  // reads x's register
      EXPECT_EQ(z, a);
    }
  ddf_registers = saved;
}

TEST_F(CompileTest, SubentitiesEmbedTheFieldAreaOfTheirType) {
  CurrentSchema schema(R"(
    database "t" version 1 release 0;
    entity outer 2:0 { char c; subent inner in; subent inner again; }
    entity inner 1:0 { double x; ptr p; }
  )");
  const ddf_FieldDesc *in = field("outer", "in");
  EXPECT_EQ(in->aux, 16);
  EXPECT_EQ(in->key, 0);
  EXPECT_EQ(field("outer", "again")->key, 0);  // one subentity number per embedded type
  ASSERT_EQ(schema->subent_count, 1);
  EXPECT_EQ(schema->subent_tfis[0], 0);        // inner sorts first
  EXPECT_EQ(schema->ent_info[1], DDF_INFO_POINTERS);  // a pointer inside a subentity counts
  EXPECT_EQ(schema->ent_sizes[1], 24 + 8 + 16 + 16);
}

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

TEST_F(CompileTest, WrittenFilesAreWholePagesWithTheSignature) {
  std::vector<uint8_t> bytes = file_bytes(compile_ok(kEverything));
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.size() % DDF_PAGE_SIZE, 0u);
  EXPECT_EQ(std::memcmp(bytes.data(), "Tes/mar Binary DDF", 19), 0);
  EXPECT_EQ(bytes[32] | bytes[33] << 8, 100);
  // The database name sits at the start of the header, after the 36-byte preamble.
  EXPECT_STREQ(reinterpret_cast<const char *>(bytes.data() + 36), "everything");
}

}  // namespace
}  // namespace tesmar::test
