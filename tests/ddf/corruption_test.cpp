// The reader against damaged files: truncations, flipped bytes, counts, offsets and indexes out
// of range, missing, unknown and duplicate sections. Every damage gives its message and a null
// schema; nothing is read outside the file or the blocks (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "ddf/ddf_internal.h"
#include "everything.h"
#include "schema_support.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

class CorruptionTest : public LibraryTest {
 protected:
  // Reads the bytes; the schema read (if any) is freed. The status is returned.
  mpm_Status read(const std::vector<uint8_t> &bytes) {
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    mpm_Status status = read_bytes(bytes, &schema);
    if (status != 0) {
      EXPECT_EQ(schema, nullptr);
    } else {
      ddf_FreeSchema(0, schema);
    }
    return status;
  }
  mpm_Status read(const ddl::RawFile &raw) { return read(ddl::serialize(raw)); }
  // Compiles kEverything, lets `damage` change the image, reads the result.
  mpm_Status read_damaged(const std::function<void(ddl::Image &)> &damage) {
    ddl::Image image = compile_ok(kEverything);
    damage(image);
    return read(ddl::to_raw(image));
  }
  mpm_Status read_damaged_raw(const std::function<void(ddl::RawFile &)> &damage) {
    ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
    damage(raw);
    return read(raw);
  }
  template <typename T>
  static void set_header(ddl::RawFile &raw, std::size_t offset, T value) {
    std::memcpy(raw.header.data() + offset, &value, sizeof value);
  }
  static ddl::Section *section(ddl::RawFile &raw, const std::string &name) {
    for (ddl::Section &s : raw.sections)
      if (s.name == name) return &s;
    return nullptr;
  }
  // The descriptor of `name` in the image (first match).
  static ddf_FieldDesc &desc(ddl::Image &image, const std::string &name) {
    for (ddf_FieldDesc &d : image.fld_data)
      if (d.name >= 0 && image.fld_names[d.name] == name) return d;
    ADD_FAILURE() << name;
    return image.fld_data[0];
  }
};

TEST_F(CorruptionTest, TheUndamagedFileReads) {
  EXPECT_EQ(read(file_bytes(compile_ok(kEverything))), 0u);
}

TEST_F(CorruptionTest, SignatureAndVersion) {
  ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
  raw.signature[25] = 'x';  // after the NUL: not looked at
  EXPECT_EQ(read(raw), 0u);
  raw.version = 101;
  EXPECT_EQ(read(raw), DDF_VERSION_ERR);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DDF_VERSION_ERR) ***\nBinary DDF file memory.ddf has wrong version number.\n");
  raw.signature[3] = 'M';  // the signature is looked at first
  EXPECT_EQ(read(raw), DDF_ID_ERR);
  raw.signature[3] = '/';
  raw.signature[18] = '!';  // the NUL is part of the signature
  raw.version = 100;
  EXPECT_EQ(read(raw), DDF_ID_ERR);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DDF_ID_ERR) ***\nFile memory.ddf is not a binary DDF.\n");
}

TEST_F(CorruptionTest, SectionsMayComeInAnyOrder) {
  ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
  std::reverse(raw.sections.begin(), raw.sections.end());
  ddf_Schema *schema = nullptr;
  ASSERT_EQ(read_bytes(ddl::serialize(raw), &schema), 0u);
  CurrentSchema current(schema);
  EXPECT_EQ(field("other", "u.st.y")->kind, DDF_SHORT);
  EXPECT_STREQ(schema->ent_names[1], "other");
}

TEST_F(CorruptionTest, EveryTruncationIsAReadError) {
  ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
  std::vector<uint8_t> bytes = ddl::serialize(raw, false);
  // The unread zeros after the last section may go; any byte of the data may not.
  EXPECT_EQ(read(bytes), 0u);
  for (std::size_t cut = 0; cut < bytes.size(); cut += cut < 600 ? 1 : 7) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(read(part), DDF_READ_ERR) << cut;
  }
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DDF_READ_ERR) ***\nError reading DDF file memory.ddf.\n");
}

TEST_F(CorruptionTest, FlippedBytesNeverCrashAndNeverPassUnchecked) {
  const std::vector<uint8_t> good = ddl::serialize(ddl::to_raw(compile_ok(kEverything)), false);
  std::mt19937 random(11);
  int accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint8_t> bytes = good;
    int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) {
      std::size_t at = random() % bytes.size();
      bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
    ddf_Schema *schema = nullptr;
    mpm_Status status = read_bytes(bytes, &schema);
    if (status == 0) {
      ++accepted;  // a flip in a text or a value: the file is still sound
      ddf_FreeSchema(0, schema);
    } else {
      EXPECT_TRUE(status == DDF_READ_ERR || status == DDF_ID_ERR || status == DDF_VERSION_ERR)
          << std::hex << status;
      EXPECT_EQ(schema, nullptr);
    }
    mpm_DiscardPending(0);
  }
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 6000);
}

TEST_F(CorruptionTest, SectionHeadersAreChecked) {
  auto fails = [&](const std::function<void(ddl::RawFile &)> &damage) {
    return read_damaged_raw(damage) == DDF_READ_ERR;
  };
  EXPECT_TRUE(fails([](ddl::RawFile &r) { r.sections[2].name = "fld_nomes"; }));
  EXPECT_TRUE(fails([](ddl::RawFile &r) { r.sections[2].name = std::string(32, 'a'); }));
  EXPECT_TRUE(fails([](ddl::RawFile &r) { r.sections.push_back(r.sections[3]); }));  // duplicate
  EXPECT_TRUE(fails([](ddl::RawFile &r) { r.section_count = 24; }));
  EXPECT_TRUE(fails([](ddl::RawFile &r) { r.section_count = -1; }));
  EXPECT_TRUE(fails([](ddl::RawFile &r) {
    r.section_count = static_cast<int16_t>(r.sections.size() + 1);  // one more than there are
  }));
  // A stated size beyond the end of the file.
  ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
  std::vector<uint8_t> bytes = ddl::serialize(raw);
  int64_t at = ddl::section_offset(raw, raw.sections.back().name) - 4;
  for (int32_t size : {int32_t{1} << 30, -1, INT32_MAX}) {
    std::vector<uint8_t> copy = bytes;
    std::memcpy(copy.data() + at, &size, 4);
    EXPECT_EQ(read(copy), DDF_READ_ERR) << size;
  }
}

TEST_F(CorruptionTest, RequiredSectionsMustBePresentAndOthersWhenReferenced) {
  for (const char *name : {"typeforms", "fld_data", "fld_indices", "ent_names", "ent_fldcnts",
                           "ent_sizes", "ent_info", "fld_names", "fld_descs", "vdescs", "opcodes",
                           "subent_tfis", "attr_names", "ptr_names", "ptr_counts", "ptr_indices",
                           "ptr_data"}) {
    EXPECT_EQ(read_damaged_raw([&](ddl::RawFile &r) {
                std::erase_if(r.sections, [&](const ddl::Section &s) { return s.name == name; });
              }),
              DDF_READ_ERR)
        << name;
  }
  // Optional sections may be left out.
  for (const char *name : {"ent_descs", "ent_uattrs", "attr_masks"}) {
    ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
    std::erase_if(raw.sections, [&](const ddl::Section &s) { return s.name == name; });
    ddf_Schema *schema = nullptr;
    ASSERT_EQ(read_bytes(ddl::serialize(raw), &schema), 0u) << name;
    EXPECT_EQ(schema->ent_descs == nullptr, std::string(name) == "ent_descs");
    ddf_FreeSchema(0, schema);
  }
}

TEST_F(CorruptionTest, CountsAndTextOffsetsOutOfRange) {
  auto header = [&](std::size_t offset, int32_t value) {
    return read_damaged_raw([&](ddl::RawFile &r) { set_header(r, offset, value); });
  };
  for (std::size_t offset : {offsetof(ddf_Schema, tf_count), offsetof(ddf_Schema, fld_name_count),
                             offsetof(ddf_Schema, fld_desc_count), offsetof(ddf_Schema, attr_count),
                             offsetof(ddf_Schema, vdesc_count), offsetof(ddf_Schema, ptr_count)}) {
    EXPECT_EQ(header(offset, 1000), DDF_READ_ERR) << offset;
    EXPECT_EQ(header(offset, -1), DDF_READ_ERR) << offset;
    EXPECT_EQ(header(offset, INT32_MAX), DDF_READ_ERR) << offset;
  }
  // A stored text offset outside its section, and a text without its terminator.
  EXPECT_EQ(read_damaged_raw([](ddl::RawFile &r) {
              uint64_t beyond = section(r, "ent_names")->data.size();
              std::memcpy(section(r, "ent_names")->data.data() + 8, &beyond, 8);
            }),
            DDF_READ_ERR);
  EXPECT_EQ(read_damaged_raw([](ddl::RawFile &r) {
              uint64_t huge = ~uint64_t{0} - 3;
              std::memcpy(section(r, "vdescs")->data.data() + 8, &huge, 8);
            }),
            DDF_READ_ERR);
  EXPECT_EQ(read_damaged_raw([](ddl::RawFile &r) { section(r, "fld_names")->data.back() = 'x'; }),
            DDF_READ_ERR);
  EXPECT_EQ(read_damaged_raw([](ddl::RawFile &r) { section(r, "fld_data")->data.pop_back(); }),
            DDF_READ_ERR);
  // The database name is cut at 191 bytes whatever the file holds.
  ddl::RawFile raw = ddl::to_raw(compile_ok(kEverything));
  std::memset(raw.header.data(), 'n', 192);
  ddf_Schema *schema = nullptr;
  ASSERT_EQ(read_bytes(ddl::serialize(raw), &schema), 0u);
  EXPECT_EQ(std::strlen(schema->db_name), 191u);
  ddf_FreeSchema(0, schema);
}

TEST_F(CorruptionTest, PerTypeArraysAndOrder) {
  auto fails = [&](const std::function<void(ddl::Image &)> &damage) {
    return read_damaged(damage) == DDF_READ_ERR;
  };
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_sizes.pop_back(); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_info.pop_back(); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_uattrs.pop_back(); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.fld_indices.pop_back(); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { std::swap(i.typeforms[0], i.typeforms[1]); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.typeforms[1] = i.typeforms[0]; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { std::swap(i.fld_names[0], i.fld_names[1]); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.subent_tfis[0] = 3; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.subent_tfis[0] = -1; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.fld_indices[2] = -1; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.fld_indices[2] = static_cast<int16_t>(i.fld_data.size()); }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_fldcnts[2] = 0; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { ++i.ent_fldcnts[2]; }));  // beyond fld_data
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_sizes[0] = 23; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ent_sizes[0] -= 8; }));  // smaller than its fields
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ptr_indices[0] = 5; }));
  EXPECT_TRUE(fails([](ddl::Image &i) { i.ptr_counts[0] = -1; }));
}

TEST_F(CorruptionTest, DescriptorsAreChecked) {
  auto fails = [&](const char *field, const std::function<void(ddf_FieldDesc &)> &damage) {
    return read_damaged([&](ddl::Image &i) { damage(desc(i, field)); }) == DDF_READ_ERR;
  };
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.kind = 20; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.kind = -1; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.kind = DDF_UNIONKIND; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.kind = DDF_ENDENT; }));  // endent too early
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.kind = DDF_ENDSTRUCT; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.name = 1000; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.name = -2; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.desc = 1000; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.number = 5; }));
  EXPECT_TRUE(fails("i", [](ddf_FieldDesc &d) { d.filler = -1; }));
  EXPECT_TRUE(fails("s", [](ddf_FieldDesc &d) { d.nvdescs = 100; }));
  EXPECT_TRUE(fails("s", [](ddf_FieldDesc &d) { d.aux = 3000; }));
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.ndims = 6; }));
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.dims[0].a = -64; }));
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.dims[0].op = 'q'; }));
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.dims[1] = {4, 0, 'i', 0}; }));
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY; }));  // no storage
  EXPECT_TRUE(fails("pts", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY | DDF_FIXED; }));  // registers
  EXPECT_TRUE(fails("fixed", [](ddf_FieldDesc &d) { d.flags |= DDF_UNSIZED; }));
  EXPECT_TRUE(fails("fixed", [](ddf_FieldDesc &d) { d.dims[0].a = 20000; }));  // bigger than the entity
  EXPECT_TRUE(fails("name", [](ddf_FieldDesc &d) { d.dims[0].a = 0; }));  // fstring of no length
  EXPECT_TRUE(fails("n", [](ddf_FieldDesc &d) { d.dims[0].a = 3; }));     // count without register
  EXPECT_TRUE(fails("total", [](ddf_FieldDesc &d) { d.instr = 500; }));
  EXPECT_TRUE(fails("total", [](ddf_FieldDesc &d) { d.instr = -1; }));
  EXPECT_TRUE(fails("typed", [](ddf_FieldDesc &d) { d.instr = 4; }));
  EXPECT_TRUE(fails("seg", [](ddf_FieldDesc &d) { d.aux = 3; }));    // lands on no endstruct
  EXPECT_TRUE(fails("seg", [](ddf_FieldDesc &d) { d.aux = 100; }));  // beyond the type form
  EXPECT_TRUE(fails("seg", [](ddf_FieldDesc &d) { d.key = 8; }));    // smaller than its members
  EXPECT_TRUE(fails("u", [](ddf_FieldDesc &d) { d.key = 10; }));     // selector + offset + member
  EXPECT_TRUE(fails("u", [](ddf_FieldDesc &d) { d.member_offset = 200; }));
  EXPECT_TRUE(fails("u", [](ddf_FieldDesc &d) { d.aux = 6; }));      // the nested struct's end
  EXPECT_TRUE(fails("inner", [](ddf_FieldDesc &d) { d.key = 1; }));
  EXPECT_TRUE(fails("inner", [](ddf_FieldDesc &d) { d.aux = 50; }));  // smaller than base
  EXPECT_TRUE(fails("inner", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY | DDF_FIXED; }));
  // A let program that never ends, or that names a register beyond the array.
  EXPECT_TRUE(read_damaged([](ddl::Image &i) { i.opcodes.back().op = 'f'; }) == DDF_READ_ERR);
  EXPECT_TRUE(read_damaged([](ddl::Image &i) { i.opcodes[0].dest = -70; }) == DDF_READ_ERR);
  EXPECT_TRUE(read_damaged([](ddl::Image &i) { i.opcodes[0].op = 'd'; }) == DDF_READ_ERR);
  // The last descriptor of a type form must be its endent.
  EXPECT_TRUE(read_damaged([](ddl::Image &i) {
                i.fld_data[i.fld_indices[2] + i.ent_fldcnts[2] - 1].kind = DDF_CHAR;
              }) == DDF_READ_ERR);
}

TEST_F(CorruptionTest, SubentitiesMustNotContainEachOther) {
  // Make base embed other, which embeds base.
  EXPECT_EQ(read_damaged([](ddl::Image &i) {
              ddf_FieldDesc &s = i.fld_data[i.fld_indices[0]];
              s.kind = DDF_SUBENT;
              s.key = static_cast<int16_t>(i.subent_tfis.size());
              s.aux = 2;
              s.nvdescs = 0;
              s.modifiers = 0;
              i.subent_tfis.push_back(1);
            }),
            DDF_READ_ERR);
  // A subentity of itself.
  EXPECT_EQ(read_damaged([](ddl::Image &i) { i.subent_tfis[0] = 1; }), DDF_READ_ERR);
}

}  // namespace
}  // namespace tesmar::test
