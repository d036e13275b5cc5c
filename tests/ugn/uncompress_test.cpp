// ugn_Uncompress on archives made by the real gzip and zip tools, intact and damaged.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/library.h"

namespace tesmar::test {
namespace {

class UncompressTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
    // Compressible but not trivial: text lines with random numbers.
    std::mt19937 rng(5);
    for (int i = 0; i < 40000; ++i) data_ += "line " + std::to_string(rng() % 100000) + " of the sample\n";
    write_file(path("data.txt"), data_);
  }

  std::string path(const std::string &name) const { return dir_.file(name); }

  // Runs a shell command inside the test directory.
  void sh(const std::string &command) {
    std::string full = "cd '" + dir_.path() + "' && ( " + command + " ) >/dev/null 2>&1";
    ASSERT_EQ(std::system(full.c_str()), 0) << command;
  }

  // Overwrites bytes of a file at an offset (negative: from the end).
  void patch(const std::string &name, long offset, const std::string &bytes) {
    std::string content = read_file(path(name));
    std::size_t at = offset >= 0 ? static_cast<std::size_t>(offset) : content.size() - static_cast<std::size_t>(-offset);
    content.replace(at, bytes.size(), bytes);
    write_file(path(name), content);
  }

  // Decompresses into `out`; the reported output is kept in `report_`.
  mpm_Status uncompress(const std::string &input, const std::string &out = "out.bin") {
    OutputCapture capture;
    mpm_Status status = ugn_Uncompress(0, path(out).c_str(), path(input).c_str());
    report_ = capture.text(stderr);
    for (char &c : report_)  // the line writer wraps long names
      if (c == '\n') c = ' ';
    EXPECT_TRUE(pending_texts().empty());  // reported at once, nothing left pending
    return status;
  }

  bool exists(const std::string &name) const { return access(path(name).c_str(), F_OK) == 0; }

  // Decompressing `input` fails (with `code` and a report naming `error`, when given) and leaves
  // no output.
  void refused(const std::string &input, mpm_Status code = 0, int error = 0) {
    const mpm_Status status = uncompress(input);
    if (code == 0) EXPECT_NE(status, 0u) << input;
    else EXPECT_EQ(status, code) << input;
    if (error != 0) expect_report(code, input, error);
    EXPECT_FALSE(exists("out.bin")) << input;
  }

  // The report names the file and the error number.
  void expect_report(mpm_Status code, const std::string &name, int error) {
    EXPECT_NE(report_.find(mpm_GetMessageName(code)), std::string::npos) << report_;
    EXPECT_NE(report_.find(path(name) + " (errno = " + std::to_string(error) + ")"), std::string::npos) << report_;
  }

  TempDir dir_;
  std::string data_;
  std::string report_;
};

TEST_F(UncompressTest, ZipMembersStoredDeflatedAndZip64) {
  sh("zip -q -0 stored.zip data.txt");
  EXPECT_EQ(uncompress("stored.zip"), 0u) << report_;
  EXPECT_TRUE(read_file(path("out.bin")) == data_);
  sh("zip -q -9 deflated.zip data.txt");
  EXPECT_EQ(uncompress("deflated.zip", "out2.bin"), 0u) << report_;
  EXPECT_TRUE(read_file(path("out2.bin")) == data_);
  sh("zip -q -fz z64.zip data.txt");
  EXPECT_EQ(uncompress("z64.zip", "out3.bin"), 0u) << report_;
  EXPECT_TRUE(read_file(path("out3.bin")) == data_);
  // A zip64 archive written to a pipe (sizes in data descriptors).
  sh("cat data.txt | zip -q -fz piped.zip -");
  EXPECT_EQ(uncompress("piped.zip", "out4.bin"), 0u) << report_;
  EXPECT_TRUE(read_file(path("out4.bin")) == data_);
}

TEST_F(UncompressTest, ArchivesWithoutAReadableFileMemberAreRefused) {
  sh("zip -q e.zip data.txt && zip -q -d e.zip data.txt");  // the tool leaves an empty archive
  refused("e.zip", UGN_FILE_OPEN_ERROR);

  sh("mkdir -p d1/d2 && zip -q -r dirs.zip d1");
  refused("dirs.zip", UGN_FILE_OPEN_ERROR, ENOENT);

  sh("zip -q -P secret locked.zip data.txt");
  refused("locked.zip", UGN_FILE_OPEN_ERROR, ENOTSUP);

  // Method 12 (bzip2) in both headers of a stored member.
  sh("zip -q -0 other.zip data.txt");
  std::string zip = read_file(path("other.zip"));
  std::size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  patch("other.zip", 8, std::string("\x0C\x00", 2));
  patch("other.zip", static_cast<long>(central + 10), std::string("\x0C\x00", 2));
  refused("other.zip", UGN_FILE_OPEN_ERROR, ENOTSUP);
}

TEST_F(UncompressTest, DamagedDataIsAnErrorAndLeavesNoOutput) {
  sh("gzip -c data.txt > data.gz && zip -q -9 deflated.zip data.txt && zip -q -0 stored.zip data.txt");
  std::string gz = read_file(path("data.gz"));
  std::string deflated = read_file(path("deflated.zip"));
  std::string stored = read_file(path("stored.zip"));

  // Truncated in the middle, and just before the trailer's end.
  write_file(path("half.gz"), gz.substr(0, gz.size() / 2));
  refused("half.gz");
  write_file(path("short.gz"), gz.substr(0, gz.size() - 3));
  refused("short.gz");
  write_file(path("half.zip"), deflated.substr(0, deflated.size() / 2));
  refused("half.zip");

  // The gzip trailer's CRC flipped.
  std::string bad = gz;
  bad[bad.size() - 8] ^= 0x01;
  write_file(path("crc.gz"), bad);
  refused("crc.gz");

  // A stored member's data changed: only the CRC can tell.
  bad = stored;
  bad[30 + 8 + 100] ^= 0x20;  // inside the data after the local header and name "data.txt"
  write_file(path("data.zip"), bad);
  refused("data.zip", UGN_FILE_CLOSE_ERROR, EBADMSG);

  // The CRC flipped in both headers of a deflated member.
  bad = deflated;
  bad[14] ^= 0x01;
  bad[bad.find("PK\x01\x02") + 16] ^= 0x01;
  write_file(path("crc.zip"), bad);
  refused("crc.zip", UGN_FILE_CLOSE_ERROR);

  // A member whose directory claims more bytes than it holds.
  bad = stored;
  std::size_t central = bad.find("PK\x01\x02");
  bad[central + 24] ^= 0x01;  // uncompressed size
  bad[22] ^= 0x01;
  write_file(path("size.zip"), bad);
  refused("size.zip");
}

TEST_F(UncompressTest, PlainFilesAreCopiedThroughUnchanged) {
  // As gzread does: a caller may decompress "just in case".
  EXPECT_EQ(uncompress("data.txt"), 0u) << report_;
  EXPECT_TRUE(read_file(path("out.bin")) == data_);
  write_file(path("empty"), "");
  EXPECT_EQ(uncompress("empty", "out2.bin"), 0u) << report_;
  EXPECT_EQ(read_file(path("out2.bin")), "");
  // What begins as a zip archive and cannot be read as one is damaged, not plain.
  write_file(path("broken.zip"), std::string("PK\x03\x04", 4) + "not really an archive");
  EXPECT_EQ(uncompress("broken.zip", "out3.bin"), UGN_FILE_READ_ERROR);
  expect_report(UGN_FILE_READ_ERROR, "broken.zip", EBADMSG);
  EXPECT_FALSE(exists("out3.bin"));
  EXPECT_EQ(uncompress("missing.gz"), UGN_FILE_OPEN_ERROR);
  expect_report(UGN_FILE_OPEN_ERROR, "missing.gz", ENOENT);
  sh("mkdir adir");
  EXPECT_EQ(uncompress("adir"), UGN_FILE_OPEN_ERROR);
  OutputCapture quiet;
  EXPECT_EQ(ugn_Uncompress(0, nullptr, path("data.txt").c_str()), UGN_FILE_OPEN_ERROR);
  EXPECT_EQ(ugn_Uncompress(0, path("out.bin").c_str(), nullptr), UGN_FILE_OPEN_ERROR);
}

TEST_F(UncompressTest, TheOutputIsNeverTheInput) {
  sh("gzip -c data.txt > data.gz && ln data.gz hard.gz && ln -s data.gz soft.gz");
  std::string gz = read_file(path("data.gz"));
  for (const char *name : {"data.gz", "hard.gz", "soft.gz"}) {
    EXPECT_EQ(uncompress("data.gz", name), UGN_FILE_OPEN_ERROR) << name;
    expect_report(UGN_FILE_OPEN_ERROR, name, EINVAL);
    EXPECT_EQ(read_file(path("data.gz")), gz);
  }
}

TEST_F(UncompressTest, AFailureKeepsAnEarlierOutputAndSuccessReplacesIt) {
  sh("gzip -c data.txt > data.gz && printf '\\037\\213\\010\\000garbage' > bad.gz");
  write_file(path("out.bin"), "earlier");
  ASSERT_EQ(chmod(path("out.bin").c_str(), 0640), 0);
  EXPECT_NE(uncompress("bad.gz"), 0u);
  EXPECT_EQ(read_file(path("out.bin")), "earlier");
  EXPECT_EQ(uncompress("data.gz"), 0u);
  EXPECT_TRUE(read_file(path("out.bin")) == data_);
  struct stat st;
  ASSERT_EQ(stat(path("out.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Nothing else is left in the directory.
  sh("test $(ls | wc -l) -eq 4");

  // Through a symbolic link the file it names is written.
  sh("printf old > target && ln -s target link");
  EXPECT_EQ(uncompress("data.gz", "link"), 0u);
  EXPECT_TRUE(read_file(path("target")) == data_);
  sh("test -L link");

  // A directory that does not exist.
  EXPECT_EQ(uncompress("data.gz", "nowhere/out"), UGN_FILE_OPEN_ERROR);
  expect_report(UGN_FILE_OPEN_ERROR, "nowhere/out", ENOENT);
}

TEST_F(UncompressTest, ReadsFromAPipe) {
  sh("gzip -c data.txt > data.gz && mkfifo pipe");
  // A pipe without a writer reads as empty (refused), it does not hang.
  EXPECT_EQ(uncompress("pipe"), UGN_FILE_OPEN_ERROR);

  int writer = open(path("pipe").c_str(), O_RDWR);  // a writer exists before the reader opens
  ASSERT_GE(writer, 0);
  std::string gz = read_file(path("data.gz"));
  std::thread feed([&] {
    std::size_t done = 0;
    while (done < gz.size()) {
      ssize_t n = write(writer, gz.data() + done, gz.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(writer);
  });
  EXPECT_EQ(uncompress("pipe"), 0u) << report_;
  feed.join();
  EXPECT_TRUE(read_file(path("out.bin")) == data_);
}

}  // namespace
}  // namespace tesmar::test
