// Random schemas: whatever the compiler accepts, the reader accepts, and its layout keeps every
// field aligned, apart from the others, inside the entity, with no room wasted at the end.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ddf/ddf_internal.h"
#include "schema_support.h"
#include "show.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using RandomLayoutTest = LibraryTest;

struct Generator {
  std::mt19937 random;
  int names = 0;
  int counts = 0;

  int pick(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }
  std::string name() { return "f" + std::to_string(names++); }

  std::string dims() {
    std::string out;
    int n = pick(3);
    for (int i = 0; i < n; ++i) {
      if (counts > 0 && pick(3) == 0)
        out += "[c" + std::to_string(pick(counts)) + (pick(2) == 0 ? "+1]" : "]");
      else
        out += "[" + std::to_string(1 + pick(4)) + "]";
    }
    return out;
  }

  std::string fields(int depth) {
    static const char *kTypes[] = {"short", "int", "long", "float", "double", "char",
                                   "vstring", "ptr", "fstring(3)", "fstring(9)"};
    std::string out;
    int n = 1 + pick(6);
    for (int i = 0; i < n; ++i) {
      int what = pick(10);
      if (what == 0 && depth < 3) {
        out += std::string(pick(2) == 0 ? "union " : "struct ") + name() + dims() + " {" +
               fields(depth + 1) + "}\n";
      } else if (what == 1 && depth == 0) {  // counts at the top, where every field sees them
        out += "count c" + std::to_string(counts++) + ";\n";
      } else {
        out += std::string(kTypes[pick(10)]) + " " + name() + dims() + ";\n";
      }
    }
    return out;
  }
};

TEST_F(RandomLayoutTest, CompiledLayoutsAreSound) {
  Generator gen{std::mt19937(3)};
  int compiled = 0;
  for (int round = 0; round < 300; ++round) {
    gen.names = 0;
    gen.counts = 0;
    std::string text = "database \"r\" version 1 release 0;\nentity e 1:0 {\n" +
                       gen.fields(0) + "}\n";
    ddl::Image image;
    ddl::Diagnostic error;
    if (!ddl::compile(text, "random.ddl", &image, &error)) {
      // Only limits of the format may refuse a random schema.
      EXPECT_NE(error.message.find("more than"), std::string::npos) << error.text() << "\n" << text;
      continue;
    }
    ++compiled;
    ddf_Schema *schema = nullptr;
    std::string reason;
    ASSERT_EQ(read_bytes(file_bytes(image), &schema, &reason), 0u) << reason << "\n" << text;
    CurrentSchema current(schema);
    // Walk the top level: each field starts aligned and after the previous one.
    auto fields = fields_of(schema, 0);
    int64_t at = 24, end = 24;
    for (std::size_t k = 0; k + 1 < fields.size();) {
      const ddf_FieldDesc &d = *fields[k];
      int64_t slot = tesmar::ddf::slot_size(d);
      int64_t align = 1;
      if ((d.flags & (DDF_PTRFIXED | DDF_VARIABLE)) != 0 || d.kind == DDF_VSTRING ||
          d.kind == DDF_PTR || d.kind == DDF_DOUBLE)
        align = 8;
      else if (d.kind == DDF_INT || d.kind == DDF_LONG || d.kind == DDF_FLOAT || d.kind == DDF_COUNT)
        align = 4;
      else if (d.kind == DDF_SHORT || (d.flags & DDF_UNION) != 0)
        align = 2;
      EXPECT_EQ(at % align, 0) << "field " << k << "\n" << text;
      if (d.kind == DDF_STRUCT) {
        EXPECT_EQ(d.key % align, 0) << text;
      }
      end = at + slot;
      at += slot + d.filler;
      k += d.kind == DDF_STRUCT ? static_cast<std::size_t>(d.aux) + 1 : 1;
    }
    EXPECT_GE(schema->ent_sizes[0], end);
    EXPECT_LT(schema->ent_sizes[0] - end, 8) << text;
    EXPECT_EQ(schema->ent_sizes[0] % 8, 0);
    EXPECT_FALSE(ddl::show_schema(*schema).empty());
  }
  EXPECT_GT(compiled, 250);
}

}  // namespace
}  // namespace tesmar::test
