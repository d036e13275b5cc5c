// ddf_ReadBinaryDDF on files: what the compiler wrote is read back array by array; damaged,
// short and unreadable files give the reader's own message with the file's name, leave no schema,
// no open descriptor and no change to the file.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "dof/dof_helpers.h"
#include "everything.h"
#include "platform/file_io.h"
#include "schema_support.h"
#include "support/library.h"

namespace tesmar::test {
namespace {

int open_descriptors() {
  int n = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

std::string as_string(const std::vector<uint8_t> &bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class ReadFileTest : public LibraryTest {
 protected:
  TempDir dir_;
  std::string path_ = dir_.file("schema.ddf");

  // Writes `bytes` as the schema file and reads it; checks what every read must hold whatever
  // the bytes: the file is left as it was, no descriptor stays open, a failure hands nothing over
  // and leaves exactly the reader's message. The schema read (if any) is freed.
  mpm_Status read_file_bytes(const std::string &bytes) {
    write_file(path_, bytes);
    mpm_DiscardPending(0);
    int descriptors = open_descriptors();
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    mpm_Status status = ddf_ReadBinaryDDF(0, path_.c_str(), &schema);
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(read_file(path_), bytes) << "the reader changed the file";
    if (status == 0) {
      EXPECT_NE(schema, nullptr);
      EXPECT_TRUE(pending_codes().empty());
      ddf_FreeSchema(0, schema);
    } else {
      EXPECT_EQ(schema, nullptr);
      EXPECT_EQ(pending_codes(), std::vector<mpm_Status>{status});
      if (!pending_codes().empty()) {
        EXPECT_EQ(pending_texts().front(), message(status));
      }
    }
    mpm_DiscardPending(0);
    return status;
  }

  std::string message(mpm_Status status) const {
    switch (status) {
      case DDF_READ_ERR: return "*** Error (DDF_READ_ERR) ***\nError reading DDF file " + path_ + ".\n";
      case DDF_ID_ERR: return "*** Error (DDF_ID_ERR) ***\nFile " + path_ + " is not a binary DDF.\n";
      case DDF_VERSION_ERR:
        return "*** Error (DDF_VERSION_ERR) ***\nBinary DDF file " + path_ +
               " has wrong version number.\n";
      case DDF_OPEN_ERR:
        return "*** Error (DDF_OPEN_ERR) ***\nError opening DDF file " + path_ + ".\n";
      default: return "(unexpected status)";
    }
  }
};

// Every array of the schema read from the file against the compiler's image.
void expect_same(const ddf_Schema &s, const ddl::Image &image) {
  EXPECT_STREQ(s.db_name, image.db_name.c_str());
  EXPECT_EQ(s.db_version, image.version);
  EXPECT_EQ(s.db_release, image.release);
  auto texts = [](char *const *array, int32_t count) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < count; ++i) out.emplace_back(array[i]);
    return out;
  };
  auto values = [](const auto *array, std::size_t count) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(array)>>;
    return array == nullptr ? std::vector<T>{} : std::vector<T>(array, array + count);
  };
  ASSERT_EQ(s.attr_count, static_cast<int32_t>(image.attr_names.size()));
  EXPECT_EQ(texts(s.attr_names, s.attr_count), image.attr_names);
  EXPECT_EQ(values(s.attr_masks, image.attr_masks.size()), image.attr_masks);
  ASSERT_EQ(s.ptr_count, static_cast<int32_t>(image.ptr_names.size()));
  EXPECT_EQ(texts(s.ptr_names, s.ptr_count), image.ptr_names);
  EXPECT_EQ(values(s.ptr_counts, image.ptr_counts.size()), image.ptr_counts);
  EXPECT_EQ(values(s.ptr_indices, image.ptr_indices.size()), image.ptr_indices);
  EXPECT_EQ(values(s.ptr_data, image.ptr_data.size()), image.ptr_data);
  ASSERT_EQ(s.vdesc_count, static_cast<int32_t>(image.vdescs.size()));
  for (int32_t i = 0; i < s.vdesc_count; ++i) {
    EXPECT_EQ(s.vdescs[i].value, image.vdescs[i].first);
    EXPECT_EQ(std::string(s.vdescs[i].text), image.vdescs[i].second);
  }
  ASSERT_EQ(s.opcode_count, static_cast<int32_t>(image.opcodes.size()));
  EXPECT_EQ(std::memcmp(s.opcodes, image.opcodes.data(), image.opcodes.size() * sizeof(ddf_Opcode)),
            0);
  ASSERT_EQ(s.tf_count, static_cast<int32_t>(image.typeforms.size()));
  EXPECT_EQ(values(s.typeforms, image.typeforms.size()), image.typeforms);
  ASSERT_EQ(s.fld_name_count, static_cast<int32_t>(image.fld_names.size()));
  EXPECT_EQ(texts(s.fld_names, s.fld_name_count), image.fld_names);
  ASSERT_EQ(s.fld_desc_count, static_cast<int32_t>(image.fld_descs.size()));
  EXPECT_EQ(texts(s.fld_descs, s.fld_desc_count), image.fld_descs);
  for (std::size_t i = 0; i < image.fld_data.size(); ++i)
    EXPECT_EQ(std::memcmp(&s.fld_data[i], &image.fld_data[i], sizeof(ddf_FieldDesc)), 0)
        << "descriptor " << i;
  EXPECT_EQ(values(s.fld_indices, image.fld_indices.size()), image.fld_indices);
  EXPECT_EQ(values(s.ent_fldcnts, image.ent_fldcnts.size()), image.ent_fldcnts);
  EXPECT_EQ(texts(s.ent_names, s.tf_count), image.ent_names);
  if (image.ent_descs.empty()) {
    EXPECT_EQ(s.ent_descs, nullptr);
  } else {
    EXPECT_EQ(texts(s.ent_descs, s.tf_count), image.ent_descs);
  }
  EXPECT_EQ(values(s.ent_uattrs, image.ent_uattrs.size()), image.ent_uattrs);
  EXPECT_EQ(values(s.ent_sizes, image.ent_sizes.size()), image.ent_sizes);
  EXPECT_EQ(values(s.ent_info, image.ent_info.size()), image.ent_info);
  ASSERT_EQ(s.subent_count, static_cast<int32_t>(image.subent_tfis.size()));
  EXPECT_EQ(values(s.subent_tfis, image.subent_tfis.size()), image.subent_tfis);
  // Stored text pointers became addresses inside their own section, after its pointer array.
  for (int32_t i = 0; i < s.tf_count; ++i) {
    EXPECT_GE(s.ent_names[i], reinterpret_cast<const char *>(s.ent_names + s.tf_count));
  }
}

TEST_F(ReadFileTest, WhatTheCompilerWroteIsReadBackArrayByArray) {
  std::string sample = read_file(source_dir() + "/samples/geometry.ddl");
  ASSERT_FALSE(sample.empty());
  for (const std::string &text : {std::string(kEverything), sample}) {
    ddl::Image image = compile_ok(text);
    std::string error;
    ASSERT_TRUE(ddl::write_file(image, path_, &error)) << error;
    EXPECT_EQ(read_file(path_).size() % DDF_PAGE_SIZE, 0u);
    ddf_Schema *schema = nullptr;
    ASSERT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), 0u);
    EXPECT_NE(schema, ddf_current) << "a schema read is not made current";
    expect_same(*schema, image);
    // The same bytes read from memory give the same schema (the file path adds nothing).
    ddf_Schema *from_memory = nullptr;
    ASSERT_EQ(read_bytes(file_bytes(image), &from_memory), 0u);
    expect_same(*from_memory, image);
    ddf_FreeSchema(0, from_memory);
    ddf_FreeSchema(0, schema);
  }
  EXPECT_TRUE(pending_codes().empty());
}

TEST_F(ReadFileTest, TheFileIsOpenedForReadingOnlyAndMayEndAfterItsLastSection) {
  static int access_seen = -1;
  struct Recording {
    static int open(const char *name, int access, int mode) {
      access_seen = access;
      return platform::system_file_io().open(name, access, mode);
    }
  };
  const platform::FileIo &system = platform::system_file_io();
  platform::FileIo table = system;
  table.open = Recording::open;
  ddl::Image image = compile_ok(kEverything);
  std::vector<uint8_t> whole = file_bytes(image);
  std::vector<uint8_t> cut = ddl::serialize(ddl::to_raw(image), false);
  ASSERT_LT(cut.size(), whole.size());
  platform::set_file_io(&table);
  EXPECT_EQ(read_file_bytes(as_string(cut)), 0u);  // not grown to a whole page
  EXPECT_EQ(access_seen, platform::kOpenRead);
  platform::set_file_io(nullptr);
  EXPECT_EQ(read_file_bytes(as_string(whole)), 0u);
}

TEST_F(ReadFileTest, FilesThatCannotBeOpenedGiveTheOpenError) {
  ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
  std::string missing = dir_.file("missing.ddf");
  EXPECT_EQ(ddf_ReadBinaryDDF(0, missing.c_str(), &schema), DDF_OPEN_ERR);
  EXPECT_EQ(schema, nullptr);
  EXPECT_EQ(pending_codes().front(), DDF_OPEN_ERR);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (DDF_OPEN_ERR) ***\nError opening DDF file " + missing + ".\n");
  schema = reinterpret_cast<ddf_Schema *>(1);
  EXPECT_EQ(ddf_ReadBinaryDDF(0, dir_.path().c_str(), &schema), DDF_OPEN_ERR);  // a directory
  EXPECT_EQ(schema, nullptr);
  EXPECT_EQ(ddf_ReadBinaryDDF(0, "", &schema), DDF_OPEN_ERR);
  EXPECT_EQ(ddf_ReadBinaryDDF(0, nullptr, &schema), DDF_NULL_MEMPTR);
  EXPECT_EQ(schema, nullptr);
  EXPECT_EQ(ddf_ReadBinaryDDF(0, missing.c_str(), nullptr), DDF_NULL_MEMPTR);
}

TEST_F(ReadFileTest, TruncatedFilesAreReadErrorsWhereverTheyAreCut) {
  std::vector<uint8_t> bytes = ddl::serialize(ddl::to_raw(compile_ok(kEverything)), false);
  std::string whole = as_string(bytes);
  // Every cut inside the preamble, the header and the first section headers, then a stride
  // through the sections, and each of the last bytes.
  std::vector<std::size_t> cuts;
  for (std::size_t n = 0; n < 600; ++n) cuts.push_back(n);
  for (std::size_t n = 600; n + 64 < whole.size(); n += 37) cuts.push_back(n);
  for (std::size_t n = whole.size() - 64; n < whole.size(); ++n) cuts.push_back(n);
  for (std::size_t n : cuts) {
    EXPECT_EQ(read_file_bytes(whole.substr(0, n)), DDF_READ_ERR) << "cut at " << n;
    if (HasFailure()) break;
  }
  EXPECT_EQ(read_file_bytes(whole), 0u);
}

TEST_F(ReadFileTest, FailedReadsAndClosesAreReadErrorsAndReleaseEverything) {
  // A schema of several pages, so that reads fail in the middle of sections as well.
  std::string text = "database \"big\" version 1 release 0;\n";
  for (int e = 0; e < 400; ++e) {
    text += "entity e" + std::to_string(e) + " " + std::to_string(e + 1) +
            ":0 \"an entity type with a description long enough to fill pages\" {\n";
    for (int f = 0; f < 4; ++f)
      text += "  double f" + std::to_string(f) + " \"field " + std::to_string(f) + "\";\n";
    text += "}\n";
  }
  std::string bytes = as_string(file_bytes(compile_ok(text)));
  ASSERT_GE(bytes.size(), 5u * DDF_PAGE_SIZE);
  write_file(path_, bytes);
  int reads = 0;
  {
    FaultyIo io(Faults{});
    ddf_Schema *schema = nullptr;
    ASSERT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), 0u);
    ddf_FreeSchema(0, schema);
    reads = FaultyIo::faults().reads;
  }
  ASSERT_GE(reads, 5);
  for (int nth = 1; nth <= reads; ++nth) {
    Faults faults;
    faults.fail_read_at = nth;
    FaultyIo io(faults);
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    EXPECT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), DDF_READ_ERR) << "read " << nth;
    EXPECT_EQ(schema, nullptr);
    EXPECT_EQ(pending_texts().front(), message(DDF_READ_ERR));
    EXPECT_EQ(FaultyIo::faults().closes, 1);
    mpm_DiscardPending(0);
  }
  {
    Faults faults;
    faults.fail_close_at = 1;
    FaultyIo io(faults);
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    EXPECT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), DDF_READ_ERR);
    EXPECT_EQ(schema, nullptr);
    EXPECT_EQ(pending_codes().front(), DDF_READ_ERR);
    mpm_DiscardPending(0);
  }
  {
    Faults faults;
    faults.fail_size_at = 1;
    FaultyIo io(faults);
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    EXPECT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), DDF_OPEN_ERR);
    EXPECT_EQ(schema, nullptr);
  }
  EXPECT_EQ(read_file_bytes(bytes), 0u);
}

}  // namespace
}  // namespace tesmar::test
