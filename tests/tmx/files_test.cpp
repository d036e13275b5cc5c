// File helpers: opening by name, existence, size, extensions, gzip copies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "support/library.h"

namespace tesmar::test {
namespace {

class FilesTest : public LibraryTest {
 protected:
  TempDir dir;
};

TEST_F(FilesTest, FopenTakesUtf8NamesAsTheyAre) {
  std::string name = dir.file("d\xC3\xA9j\xC3\xA0 \xE9\x83\xA8\xE5\x93\x81.txt");
  FILE *f = tmx_Fopen(name.c_str(), "wt");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  std::fclose(f);
  EXPECT_EQ(read_file(name), "line\n");
  f = tmx_Fopen(name.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("more\n", f);
  std::fclose(f);
  f = tmx_Fopen(name.c_str(), "r+");
  ASSERT_NE(f, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer - 1, f), 10u);
  std::fclose(f);
  EXPECT_STREQ(buffer, "line\nmore\n");
  // Exclusive creation refuses an existing file.
  errno = 0;
  EXPECT_EQ(tmx_Fopen(name.c_str(), "wx"), nullptr);
  EXPECT_EQ(errno, EEXIST);
}

TEST_F(FilesTest, FopenFailuresKeepTheirErrorNumber) {
  errno = 0;
  EXPECT_EQ(tmx_Fopen(dir.file("missing").c_str(), "rb"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(tmx_Fopen(dir.file("a").c_str(), "q"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(tmx_Fopen(nullptr, "r"), nullptr);
  EXPECT_EQ(tmx_Fopen(dir.file("a").c_str(), nullptr), nullptr);
  EXPECT_EQ(tmx_Fopen(dir.file("a").c_str(), "rz"), nullptr);
  errno = 0;
  EXPECT_EQ(tmx_Fopen(dir.path().c_str(), "w"), nullptr);
  EXPECT_EQ(errno, EISDIR);
}

TEST_F(FilesTest, FifosNeverBlock) {
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(tmx_FileExists(0, fifo.c_str()), 1);
  int64_t size = -1;
  EXPECT_EQ(tmx_GetFileSize(0, fifo.c_str(), &size), 0u);
  EXPECT_EQ(size, 0);
  // Without a writer the FIFO reads as empty; without a reader it cannot be opened for writing.
  FILE *f = tmx_Fopen(fifo.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), EOF);
  std::fclose(f);
  errno = 0;
  EXPECT_EQ(tmx_Fopen(fifo.c_str(), "wb"), nullptr);
  EXPECT_EQ(errno, ENXIO);
  tmx_TextReader reader;
  ASSERT_EQ(tmx_OpenTextReader(&reader, fifo.c_str()), 1);
  EXPECT_EQ(tmx_ReadChar(&reader), -1);
  EXPECT_EQ(tmx_CloseTextReader(&reader), 1);
}

TEST_F(FilesTest, OpenTakesThePlatformFlags) {
  std::string name = dir.file("low");
  int fd = tmx_Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abc", 3), 3);
  close(fd);
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0640u, 0u);
  EXPECT_EQ(tmx_Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640), -1);
  EXPECT_EQ(errno, EEXIST);
  fd = tmx_Open(name.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  char buffer[4] = {};
  EXPECT_EQ(read(fd, buffer, 3), 3);
  EXPECT_STREQ(buffer, "abc");
  close(fd);
  EXPECT_EQ(tmx_Open(nullptr, O_RDONLY, 0), -1);
}

TEST_F(FilesTest, FileSize) {
  std::string file = dir.file("sized");
  write_file(file, std::string(100000, 'z'));
  int64_t size = -1;
  EXPECT_EQ(tmx_GetFileSize(0, file.c_str(), &size), 0u);
  EXPECT_EQ(size, 100000);
  write_file(file, "");
  EXPECT_EQ(tmx_GetFileSize(0, file.c_str(), &size), 0u);
  EXPECT_EQ(size, 0);
  size = -1;
  EXPECT_EQ(tmx_GetFileSize(0, dir.file("none").c_str(), &size), 0u);
  EXPECT_EQ(size, 0);
  size = -1;
  EXPECT_EQ(tmx_GetFileSize(0, dir.path().c_str(), &size), 0u);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(tmx_GetFileSize(0, file.c_str(), nullptr), 0u);
}

TEST_F(FilesTest, MakeFileNameReplacesOnlyTheLastComponentsExtension) {
  struct Case {
    const char *name, *extension, *expected;
  } cases[] = {
      {"part.igs", "stp", "part.stp"},        {"part", "stp", "part.stp"},
      {"dir.v2/part", "stp", "dir.v2/part.stp"}, {"dir.v2\\part", "stp", "dir.v2\\part.stp"},
      {"a.b.c", "x", "a.b.x"},                {"dir/part.", "stp", "dir/part.stp"},
      {"/abs/p.q/r.s", "t", "/abs/p.q/r.t"},
  };
  for (const Case &c : cases) {
    std::string buffer(std::strlen(c.name) + std::strlen(c.extension) + 2, '#');
    EXPECT_EQ(tmx_MakeFileName(0, c.name, c.extension, buffer.data()), 1);
    EXPECT_STREQ(buffer.c_str(), c.expected) << c.name;
  }
  char untouched[8] = "keep";
  EXPECT_EQ(tmx_MakeFileName(0, "", "stp", untouched), 0);
  EXPECT_EQ(tmx_MakeFileName(0, "part", "", untouched), 0);
  EXPECT_EQ(tmx_MakeFileName(0, nullptr, "stp", untouched), 0);
  EXPECT_EQ(tmx_MakeFileName(0, "part", nullptr, untouched), 0);
  EXPECT_STREQ(untouched, "keep");
}

TEST_F(FilesTest, GzipFailuresAreReportedWithUgnMessages) {
  OutputCapture capture;
  mpm_line_width = 0;  // one line per message
  std::string target = dir.file("t.gz");
  std::string missing = dir.file("missing");
  EXPECT_EQ(tmx_GzipFile(0, target.c_str(), missing.c_str()), UGN_FILE_OPEN_ERROR);
  EXPECT_NE(capture.text(stderr).find("Error encountered opening the specified file " + missing +
                                      " (errno = 2)."),
            std::string::npos)
      << capture.text(stderr);
  EXPECT_EQ(tmx_FileExists(0, target.c_str()), 0);

  std::string source = dir.file("s");
  write_file(source, "data");
  capture.clear();
  EXPECT_EQ(tmx_GzipFile(0, dir.file("no/such/dir.gz").c_str(), source.c_str()),
            UGN_FILE_OPEN_ERROR);
  EXPECT_NE(capture.text(stderr).find("UGN_FILE_OPEN_ERROR"), std::string::npos);

  // A source that cannot be read (a directory) is a read error, never an empty copy.
  capture.clear();
  EXPECT_EQ(tmx_GzipFile(0, target.c_str(), dir.path().c_str()), UGN_FILE_READ_ERROR);
  EXPECT_NE(capture.text(stderr).find("errno = 21"), std::string::npos) << capture.text(stderr);
  EXPECT_EQ(tmx_FileExists(0, target.c_str()), 0);

  // The same file as source and target is refused and the source stays intact.
  capture.clear();
  EXPECT_EQ(tmx_GzipFile(0, source.c_str(), source.c_str()), UGN_FILE_OPEN_ERROR);
  EXPECT_EQ(read_file(source), "data");
}

TEST_F(FilesTest, GzipStopsAtTheFirstWriteError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  std::mt19937 random(3);
  std::string data(1 << 20, '\0');
  for (char &c : data) c = static_cast<char>(random());
  std::string source = dir.file("random");
  write_file(source, data);
  OutputCapture capture;
  mpm_line_width = 0;
  EXPECT_EQ(tmx_GzipFile(0, "/dev/full", source.c_str()), UGN_FILE_WRITE_ERROR);
  std::string written = capture.text(stderr);
  EXPECT_NE(written.find("writing the specified file /dev/full (errno = 28)"), std::string::npos)
      << written;
  // One write error, not one per remaining chunk.
  EXPECT_EQ(written.find("writing", written.find("writing") + 1), std::string::npos);
  EXPECT_EQ(access("/dev/full", F_OK), 0);
}

}  // namespace
}  // namespace tesmar::test
