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
    mpm_Status status = read_bytes(bytes, &schema, &reason_);
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
  // What the reader found wrong with an image that `damage` changed ("" when it read).
  std::string why(const std::function<void(ddl::Image &)> &damage) {
    mpm_Status status = read_damaged(damage);
    EXPECT_TRUE(status == 0 || status == DDF_READ_ERR) << std::hex << status;
    return reason_;
  }
  std::string why_raw(const std::function<void(ddl::RawFile &)> &damage) {
    mpm_Status status = read_damaged_raw(damage);
    EXPECT_TRUE(status == 0 || status == DDF_READ_ERR) << std::hex << status;
    return reason_;
  }
  std::string why_field(const char *name, const std::function<void(ddf_FieldDesc &)> &damage) {
    return why([&](ddl::Image &i) { damage(desc(i, name)); });
  }
  std::string reason_;
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
  EXPECT_EQ(read(std::vector<uint8_t>{}), DDF_READ_ERR);
  EXPECT_EQ(read(std::vector<uint8_t>(DDF_PAGE_SIZE, 0)), DDF_ID_ERR);
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
  const std::string short_per_type = "a per-type section is missing or shorter than the number of type forms";
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_sizes.pop_back(); }), short_per_type);
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_info.pop_back(); }), short_per_type);
  EXPECT_EQ(why([](ddl::Image &i) { i.fld_indices.pop_back(); }), short_per_type);
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_uattrs.pop_back(); }),
            "ent_uattrs is shorter than the number of type forms");
  // One entity description short: the next entry's place holds text, not an offset.
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_descs.pop_back(); }),
            "a text offset lies outside its section");
  EXPECT_EQ(why_raw([](ddl::RawFile &r) { section(r, "ent_descs")->data.resize(16); }),
            "a text section is shorter than its entries");
  EXPECT_EQ(why([](ddl::Image &i) { std::swap(i.typeforms[0], i.typeforms[1]); }),
            "typeforms are not in ascending order");
  EXPECT_EQ(why([](ddl::Image &i) { i.typeforms[1] = i.typeforms[0]; }),
            "typeforms are not in ascending order");
  EXPECT_EQ(why([](ddl::Image &i) { std::swap(i.fld_names[0], i.fld_names[1]); }),
            "fld_names are not in ascending order");
  EXPECT_EQ(why([](ddl::Image &i) { i.subent_tfis[0] = 3; }), "a subentity names no type form");
  EXPECT_EQ(why([](ddl::Image &i) { i.subent_tfis[0] = -1; }), "a subentity names no type form");
  const std::string outside = "a type form's descriptors lie outside fld_data";
  EXPECT_EQ(why([](ddl::Image &i) { i.fld_indices[2] = -1; }), outside);
  EXPECT_EQ(why([](ddl::Image &i) { i.fld_indices[2] = static_cast<int16_t>(i.fld_data.size()); }),
            outside);
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_fldcnts[2] = 0; }), outside);
  EXPECT_EQ(why([](ddl::Image &i) { ++i.ent_fldcnts[2]; }), outside);
  const std::string small = "an entity size is smaller than its fields";
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_sizes[0] = 23; }), small);
  EXPECT_EQ(why([](ddl::Image &i) { i.ent_sizes[0] -= 8; }), small);
  EXPECT_EQ(why([](ddl::Image &i) { i.ptr_indices[0] = 5; }), "a reference list lies outside ptr_data");
  EXPECT_EQ(why([](ddl::Image &i) { i.ptr_counts[0] = -1; }), "a reference list lies outside ptr_data");
  EXPECT_EQ(why([](ddl::Image &) {}), "");
}

TEST_F(CorruptionTest, DescriptorsAreChecked) {
  const std::pair<const char *, std::function<void(ddf_FieldDesc &)>> kind_cases[] = {
      {"i", [](ddf_FieldDesc &d) { d.kind = 20; }},
      {"i", [](ddf_FieldDesc &d) { d.kind = -1; }},
      {"i", [](ddf_FieldDesc &d) { d.kind = 0; }},
      {"i", [](ddf_FieldDesc &d) { d.kind = DDF_UNIONKIND; }},
      {"i", [](ddf_FieldDesc &d) { d.kind = DDF_ENDUNION; }},
  };
  for (const auto &[name, damage] : kind_cases)
    EXPECT_EQ(why_field(name, damage), "a field kind is out of range");
  struct Case {
    const char *field;
    std::function<void(ddf_FieldDesc &)> damage;
    const char *reason;
  };
  const Case cases[] = {
      {"i", [](ddf_FieldDesc &d) { d.kind = DDF_ENDENT; }, "an endent descriptor before the end of its type form"},
      {"i", [](ddf_FieldDesc &d) { d.kind = DDF_ENDSTRUCT; }, "an endstruct closes no structure"},
      {"i", [](ddf_FieldDesc &d) { d.name = 1000; }, "a field name index is out of range"},
      {"i", [](ddf_FieldDesc &d) { d.name = -2; }, "a field name index is out of range"},
      {"i", [](ddf_FieldDesc &d) { d.desc = 1000; }, "a description index is out of range"},
      {"i", [](ddf_FieldDesc &d) { d.number = 5; }, "a field number differs from the descriptor's position"},
      {"i", [](ddf_FieldDesc &d) { d.filler = -1; }, "a filler or value-description count is negative"},
      {"s", [](ddf_FieldDesc &d) { d.nvdescs = 100; }, "value descriptions lie outside vdescs"},
      {"s", [](ddf_FieldDesc &d) { d.aux = 3000; }, "value descriptions lie outside vdescs"},
      {"seg", [](ddf_FieldDesc &d) { d.nvdescs = 1; }, "value descriptions lie outside vdescs"},
      {"pts", [](ddf_FieldDesc &d) { d.ndims = 6; }, "a field has more than 5 dimensions"},
      {"pts", [](ddf_FieldDesc &d) { d.dims[0].a = -64; }, "a dimension names a register out of range"},
      {"pts", [](ddf_FieldDesc &d) { d.dims[0].op = 'q'; }, "a dimension has an unknown operator"},
      {"pts", [](ddf_FieldDesc &d) { d.dims[1] = {4, 0, 'i', 0}; }, "a dimension divides by zero"},
      {"pts", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY; }, "an array has no single storage flag"},
      {"pts", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY | DDF_FIXED | DDF_PTRFIXED; }, "an array has no single storage flag"},
      {"pts", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY | DDF_FIXED; }, "an embedded array has register dimensions"},
      {"pts", [](ddf_FieldDesc &d) { d.ndims = 0; }, "an array has no dimensions"},
      {"fixed", [](ddf_FieldDesc &d) { d.flags |= DDF_UNSIZED; }, "an unsized field is not held in a memory block"},
      {"fixed", [](ddf_FieldDesc &d) { d.dims[0].a = 20000; }, "an entity size is smaller than its fields"},
      {"name", [](ddf_FieldDesc &d) { d.dims[0].a = 0; }, "an fstring's length is not a literal"},
      {"name", [](ddf_FieldDesc &d) { d.ndims = 0; }, "an fstring has no length"},
      {"n", [](ddf_FieldDesc &d) { d.dims[0].a = 3; }, "a count names no register"},
      {"total", [](ddf_FieldDesc &d) { d.instr = 500; }, "a let program is malformed or runs off opcodes"},
      {"total", [](ddf_FieldDesc &d) { d.instr = -1; }, "a let program is malformed or runs off opcodes"},
      {"typed", [](ddf_FieldDesc &d) { d.instr = 4; }, "a reference list index is out of range"},
      {"seg", [](ddf_FieldDesc &d) { d.aux = 3; }, "a structure's count does not land on its endstruct"},
      {"seg", [](ddf_FieldDesc &d) { d.aux = 100; }, "a structure's end lies outside its type form"},
      {"seg", [](ddf_FieldDesc &d) { d.aux = 0; }, "a structure's end lies outside its type form"},
      {"seg", [](ddf_FieldDesc &d) { d.key = 8; }, "a structure is smaller than its members"},
      {"seg", [](ddf_FieldDesc &d) { d.key = 0; }, "a structure has no size"},
      {"u", [](ddf_FieldDesc &d) { d.key = 10; }, "a structure is smaller than its members"},
      {"u", [](ddf_FieldDesc &d) { d.member_offset = 200; }, "a structure is smaller than its members"},
      {"u", [](ddf_FieldDesc &d) { d.aux = 6; }, "structures overlap"},
      {"inner", [](ddf_FieldDesc &d) { d.key = 1; }, "a subentity number is out of range"},
      {"inner", [](ddf_FieldDesc &d) { d.aux = 50; }, "a subentity is smaller than its fields"},
      {"inner", [](ddf_FieldDesc &d) { d.aux = -1; }, "a subentity's size is negative"},
      {"inner", [](ddf_FieldDesc &d) { d.flags = DDF_ARRAY | DDF_FIXED; d.ndims = 1; d.dims[0] = {2, 0, 'e', 0}; }, "a field of this kind cannot be an array"},
  };
  for (const Case &c : cases) EXPECT_EQ(why_field(c.field, c.damage), c.reason) << c.field;
  const std::string program = "a let program is malformed or runs off opcodes";
  EXPECT_EQ(why([](ddl::Image &i) { i.opcodes.back().op = 'f'; }), program);  // never ends
  EXPECT_EQ(why([](ddl::Image &i) { i.opcodes[0].dest = -70; }), program);
  EXPECT_EQ(why([](ddl::Image &i) { i.opcodes[0].a = -64; }), program);
  EXPECT_EQ(why([](ddl::Image &i) { i.opcodes[0].op = 'd'; }), program);  // a leading 'd'
  EXPECT_EQ(why([](ddl::Image &i) { i.opcodes[0].op = 'i'; i.opcodes[0].b = 0; }), program);
  EXPECT_EQ(why([](ddl::Image &i) {
              i.fld_data[i.fld_indices[2] + i.ent_fldcnts[2] - 1].kind = DDF_CHAR;
            }),
            "a type form does not end with endent");
  // The closing descriptor's indexes are checked like every other's.
  EXPECT_EQ(why([](ddl::Image &i) { i.fld_data[i.fld_indices[2] + i.ent_fldcnts[2] - 1].name = 99; }),
            "a field name index is out of range");
  EXPECT_EQ(why([](ddl::Image &i) { i.fld_data[i.fld_indices[1] + i.ent_fldcnts[1] - 1].desc = 99; }),
            "a description index is out of range");
}

TEST_F(CorruptionTest, SubentitiesMustNotContainEachOther) {
  // Make base embed other, which embeds base.
  EXPECT_EQ(why([](ddl::Image &i) {
              ddf_FieldDesc &s = i.fld_data[i.fld_indices[0]];
              s.kind = DDF_SUBENT;
              s.key = static_cast<int16_t>(i.subent_tfis.size());
              s.aux = 2;
              s.nvdescs = 0;
              s.modifiers = 0;
              i.subent_tfis.push_back(1);
            }),
            "subentities contain each other");
  // A subentity of itself.
  EXPECT_EQ(why([](ddl::Image &i) { i.subent_tfis[0] = 1; }), "subentities contain each other");
}

}  // namespace
}  // namespace tesmar::test
