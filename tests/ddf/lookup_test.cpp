// Round trip of a schema that uses every feature: compiled, written, read back by the library's
// reader, and every lookup checked against what the source declares.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

#include "ddf/ddf_internal.h"
#include "everything.h"
#include "schema_support.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

using LookupTest = LibraryTest;

constexpr uint32_t kBase = 0x50001, kOther = 0x50002, kLast = 0xFFFFFFFF;

TEST_F(LookupTest, TypeFormsAreFoundByValueTypeAndName) {
  CurrentSchema s(kEverything);
  EXPECT_EQ(ddf_FindTFI(s->typeforms, s->tf_count, kOther), 1);
  EXPECT_EQ(ddf_FindTFI(s->typeforms, s->tf_count, kLast), 2);
  EXPECT_EQ(ddf_FindTFI(s->typeforms, s->tf_count, 0x50003), -1);
  EXPECT_EQ(ddf_FindTFI(s->typeforms, 0, kBase), -1);
  EXPECT_EQ(ddf_FindTFI(nullptr, 3, kBase), -1);

  int32_t n = -1;
  uint32_t *tfs = nullptr;
  ASSERT_EQ(ddf_FindFormsOfType(5, &n, &tfs), 0u);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(tfs[0], kBase);
  EXPECT_EQ(tfs[1], kOther);
  std::free(tfs);
  ASSERT_EQ(ddf_FindFormsOfType(-1, &n, &tfs), 0u);  // type 65535 read as a signed number
  ASSERT_EQ(n, 1);
  EXPECT_EQ(tfs[0], kLast);
  std::free(tfs);
  ASSERT_EQ(ddf_FindFormsOfType(7, &n, &tfs), 0u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(tfs, nullptr);

  EXPECT_EQ(ddf_GetTFByName("base"), kBase);
  EXPECT_EQ(ddf_GetTFByName("OTHER"), kOther);
  EXPECT_EQ(ddf_GetTFByName("LaSt"), kLast);
  EXPECT_EQ(ddf_GetTFByName("bas"), TF_NONE);
  EXPECT_EQ(ddf_GetTFByName("basement"), TF_NONE);
  EXPECT_EQ(ddf_GetTFByName(nullptr), TF_NONE);
  std::string long_name(5000, 'B');  // no fixed-size copy of the argument
  EXPECT_EQ(ddf_GetTFByName(long_name.c_str()), TF_NONE);
  EXPECT_EQ(ddf_GetTFByName("B\xC3\x84SE"), TF_NONE);  // lower-casing is ASCII only
}

TEST_F(LookupTest, FieldsAreFoundByNameInTheirTypeForm) {
  CurrentSchema s(kEverything);
  ddl::Image image = compile_ok(kEverything);
  ASSERT_EQ(s->fld_name_count, static_cast<int32_t>(image.fld_names.size()));
  for (std::size_t i = 0; i < image.fld_names.size(); ++i) {
    int32_t index = -1;
    EXPECT_EQ(ddf_SearchFieldName(image.fld_names[i].c_str(), &index), 0u);
    EXPECT_EQ(index, static_cast<int32_t>(i));
  }
  int32_t index = 7;
  EXPECT_EQ(ddf_SearchFieldName("zz", &index), DDF_NOT_FOUND);
  EXPECT_EQ(index, -1);

  ddf_FieldDesc *d = nullptr;
  ASSERT_EQ(ddf_GetFieldDesc("u.st.x", kOther, &d), 0u);
  EXPECT_EQ(d->kind, DDF_SHORT);
  EXPECT_STREQ(s->fld_names[d->name], "u.st.x");
  EXPECT_EQ(ddf_GetFieldDesc("x", kOther, &d), DDF_NOT_FOUND);  // names are whole paths
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(ddf_GetFieldDesc("s", 0x12345678, &d), DDF_NOT_FOUND);

  ASSERT_EQ(ddf_FindFieldInTFI(1, "pts", &d), 0u);
  EXPECT_EQ(d->kind, DDF_DOUBLE);
  EXPECT_EQ(ddf_FindFieldInTFI(0, "pts", &d), DDF_NOT_FOUND);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(ddf_FindFieldInTFI(-1, "pts", &d), DDF_NOT_FOUND);
  EXPECT_EQ(ddf_FindFieldInTFI(3, "pts", &d), DDF_NOT_FOUND);
  EXPECT_EQ(ddf_FindFieldInTFI(1, "no such", &d), DDF_NOT_FOUND);
  EXPECT_TRUE(pending_texts().empty());  // finding nothing issues nothing
}

TEST_F(LookupTest, CountFieldsAreFoundThroughTheirRegister) {
  CurrentSchema s(kEverything);
  ddf_FieldDesc *count = nullptr;
  ASSERT_EQ(ddf_GetCountField(kOther, field("other", "pts"), &count, 0), 0u);
  EXPECT_STREQ(s->fld_names[count->name], "n");
  EXPECT_EQ(count->key, 4);  // pts, grid, more, seg
  ASSERT_EQ(ddf_GetCountField(kOther, field("other", "labels"), &count, 0), 0u);
  EXPECT_STREQ(s->fld_names[count->name], "m");
  ASSERT_EQ(ddf_GetCountField(kOther, field("other", "seg.w"), &count, 0), 0u);
  EXPECT_STREQ(s->fld_names[count->name], "seg.k");
  // letters is sized by a let field, not a count.
  EXPECT_EQ(ddf_GetCountField(kOther, field("other", "letters"), &count, 0), DDF_FIELD_NOT_FOUND);
  EXPECT_EQ(count, nullptr);
  EXPECT_EQ(pending_texts().size(), 1u);
}

TEST_F(LookupTest, UnionMembersAreFoundByNameAndKind) {
  CurrentSchema s(kEverything);
  const ddf_FieldDesc *u = field("other", "u");
  int32_t index = 9;
  EXPECT_EQ(ddf_GetUnionMemberByName(u, "a", &index, 0), 0u);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(ddf_GetUnionMemberByName(u, "other.u.b", &index, 0), 0u);  // last component counts
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ddf_GetUnionMemberByName(u, "st", &index, 0), 0u);  // a structure member
  EXPECT_EQ(index, 2);
  EXPECT_EQ(ddf_GetUnionMemberByName(u, "y", &index, 0), 0u);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(ddf_GetUnionMemberByName(u, "tail", &index, 0), DDF_NOT_FOUND);  // after the union
  EXPECT_EQ(index, -1);
  EXPECT_EQ(ddf_GetUnionMemberByType(u, DDF_DOUBLE, &index, 0), 0u);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ddf_GetUnionMemberByType(u, DDF_STRUCT, &index, 0), 0u);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(ddf_GetUnionMemberByType(u, DDF_SHORT, &index, 0), 0u);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(ddf_GetUnionMemberByType(u, DDF_PTR, &index, 0), DDF_NOT_FOUND);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(ddf_GetUnionMemberByName(field("other", "seg"), "k", &index, 0), DDF_NOT_UNION_TYPE);
  EXPECT_EQ(ddf_GetUnionMemberByType(field("other", "pts"), DDF_INT, &index, 0),
            DDF_NOT_UNION_TYPE);
  EXPECT_EQ(pending_texts().size(), 2u);
}

TEST_F(LookupTest, NestedUnionsAreMatchedAsKindUnion) {
  CurrentSchema s(R"(
    database "t" version 1 release 0;
    entity e 1:0 { union outer { int a; union inner { short x; int y; } } }
  )");
  int32_t index = -1;
  EXPECT_EQ(ddf_GetUnionMemberByType(field("e", "outer"), DDF_UNIONKIND, &index, 0), 0u);
  EXPECT_EQ(index, 1);
}

TEST_F(LookupTest, DefaultsFollowTheKeyOfEachKind) {
  CurrentSchema s(kEverything);
  unsigned char buffer[16];
  auto value = [&](const char *entity, const char *name) {
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(ddf_GetFieldDefault(field(entity, name), buffer), 0u);
  };
  auto as = [&](auto v) {
    std::memcpy(&v, buffer, sizeof v);
    return v;
  };
  value("base", "s");
  EXPECT_EQ(as(int16_t{}), -5);
  EXPECT_EQ(buffer[2], 0xAB);  // two bytes only
  value("base", "i");
  EXPECT_EQ(as(int32_t{}), 1234);
  value("base", "l");
  EXPECT_EQ(as(int32_t{}), -2);
  value("base", "f");
  EXPECT_EQ(as(float{}), static_cast<float>(std::numbers::pi));
  EXPECT_EQ(buffer[4], 0xAB);
  value("base", "d");
  EXPECT_EQ(as(double{}), std::numbers::pi / 4);
  value("base", "one");
  EXPECT_EQ(as(double{}), 1.0);
  value("base", "half");
  EXPECT_EQ(as(double{}), std::numbers::pi / 2);
  value("base", "zero");
  EXPECT_EQ(as(double{}), 0.0);
  value("other", "tail");
  EXPECT_EQ(as(double{}), 0.0);
  value("base", "c");
  EXPECT_EQ(buffer[0], 'A');
  EXPECT_EQ(buffer[1], 0xAB);
  value("base", "name");
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0xAB);
  value("base", "text");
  EXPECT_EQ(as(uint64_t{}), 0u);
  value("base", "p");
  EXPECT_EQ(as(uint64_t{}), 0u);
  value("other", "n");
  EXPECT_EQ(as(uint32_t{}), 0u);
  EXPECT_EQ(buffer[4], 0xAB);
  value("other", "seg");  // structures store nothing
  EXPECT_EQ(buffer[0], 0xAB);
  // A float key outside 0 and 50..54 gives 0.0 instead of reading beyond the table.
  ddf_FieldDesc odd = *field("base", "d");
  for (int16_t key : {int16_t{49}, int16_t{55}, int16_t{-1}, int16_t{32767}, int16_t{-32768}}) {
    odd.key = key;
    double out = 7;
    EXPECT_EQ(ddf_GetFieldDefault(&odd, &out), 0u);
    EXPECT_EQ(out, 0.0) << key;
  }
}

TEST_F(LookupTest, ValueDescriptionsNameTheirValues) {
  CurrentSchema s(kEverything);
  EXPECT_STREQ(ddf_GetFieldValueDesc(field("base", "s"), static_cast<uint32_t>(-1)), "minus one");
  EXPECT_STREQ(ddf_GetFieldValueDesc(field("base", "s"), 2), "two");
  EXPECT_EQ(ddf_GetFieldValueDesc(field("base", "s"), 3), nullptr);
  EXPECT_STREQ(ddf_GetFieldValueDesc(field("other", "seg.flag"), 1), "on");
  EXPECT_EQ(ddf_GetFieldValueDesc(field("base", "i"), 0), nullptr);
}

TEST_F(LookupTest, AttributeMasksNameTheirAttributes) {
  CurrentSchema s(kEverything);
  auto text = [](uint32_t mask) {
    char *names = nullptr;
    EXPECT_EQ(ddf_GetFieldAttrDesc(mask, &names), 0u);
    std::string out = names != nullptr ? names : "(null)";
    std::free(names);
    return out;
  };
  EXPECT_EQ(text(0), "");
  EXPECT_EQ(text(5), "red,blue");
  EXPECT_EQ(text(field("base", "c")->attributes), "green,blue");
  EXPECT_EQ(text(s->ent_uattrs[0]), "red,blue");
  EXPECT_EQ(text(0xFFFFFFF8u), "");  // bits without attributes
  // Only the 32 bits of a mask are looked at, however many names the schema claims.
  int32_t saved = s->attr_count;
  s->attr_count = 33;
  EXPECT_EQ(text(0x7), "red,green,blue");
  s->attr_count = saved;
}

TEST_F(LookupTest, DumpOfAFieldFollowsTheDebuggingFormat) {
  CurrentSchema s(kEverything);
  const ddf_FieldDesc *d = field("base", "s");
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void *>(d));
  testing::internal::CaptureStdout();
  ddf_DbgDumpField(0, d);
  ddf_DbgDumpField(0, field("other", "seg"));
  ddf_DbgDumpField(0, field("other", "n"));
  ddf_DbgDumpField(0, nullptr);
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  std::string seg_address;
  EXPECT_EQ(out.substr(0, out.find("short s")), "");
  EXPECT_NE(out.find(std::string("short s (\"a short\")\n   Address: ") + address +
                     "\n   Modifiers:  DEFAULT\n   Flags:\n"
                     "   Field #: 0  NDims: 0   Offset: 2  Default value key:  -5\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("struct seg (\"segments\")\n"), std::string::npos) << out;
  EXPECT_NE(out.find("   Flags:  ARRAY  PTRFIXED\n   Field #: 10  NDims: 1   Offset: 0  Structure "
                     "size:  24\n   # of fields to endstruct:  4\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("count n (\"vertices\")"), std::string::npos);
  EXPECT_NE(out.find("  # of referencing fields:  4\n"), std::string::npos);

  testing::internal::CaptureStdout();
  ddf_DbgDumpEntityFields(0, kLast);
  ddf_DbgDumpEntityFields(0, TF_NONE);
  std::fflush(stdout);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("char  tag (\"\")"), std::string::npos) << out;  // the keyword is "char "
  EXPECT_NE(out.find(" **Field not named** (\"\")"), std::string::npos);
  EXPECT_NE(out.find("fld_methods index:  0\n"), std::string::npos);
}

}  // namespace
}  // namespace tesmar::test
