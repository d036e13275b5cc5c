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
  for (auto [fault, code] : {std::pair{&Faults::fail_close_at, DDF_READ_ERR},
                             std::pair{&Faults::fail_size_at, DDF_OPEN_ERR}}) {
    Faults faults;
    faults.*fault = 1;
    FaultyIo io(faults);
    ddf_Schema *schema = reinterpret_cast<ddf_Schema *>(1);
    EXPECT_EQ(ddf_ReadBinaryDDF(0, path_.c_str(), &schema), code);
    EXPECT_EQ(schema, nullptr);
    EXPECT_EQ(pending_codes().front(), code);
    mpm_DiscardPending(0);
  }
  EXPECT_EQ(read_file_bytes(bytes), 0u);
}

}  // namespace
}  // namespace tesmar::test
