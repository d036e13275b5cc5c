// Shared test fixtures: a started library, captured output, pending-message helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tesmar/tesmar.h"

namespace tesmar::test {

// Under the address sanitizer, which runs slower and stops the process on a huge allocation.
#if defined(__SANITIZE_ADDRESS__)
#define TESMAR_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESMAR_TEST_SANITIZED 1
#endif
#endif
#ifdef TESMAR_TEST_SANITIZED
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Starts the library before each test and stops it after, restoring every message-system setting a
// test may change, so each test leaves the process as it found it.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Captures every line handed to the output function, with its last-line flag and stream.
class OutputCapture {
 public:
  struct Line {
    std::string text;
    FILE *stream;
    int last;
  };
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture &) = delete;
  OutputCapture &operator=(const OutputCapture &) = delete;

  const std::vector<Line> &lines() const { return lines_; }
  // Everything written to one stream, concatenated.
  std::string text(FILE *stream) const;
  void clear() { lines_.clear(); }

 private:
  static int capture(const char *line, FILE *stream);
  static OutputCapture *active_;
  mpm_OutputFunction saved_;
  std::vector<Line> lines_;
};

// The pending messages' texts, newest first.
std::vector<std::string> pending_texts();
// The codes of the pending messages, newest first.
std::vector<mpm_Status> pending_codes();
// The same, after which they are dropped.
std::vector<std::string> take_pending();
// The text of a message issued at MPM_ERROR: "*** Error (NAME) ***\n" and the message's text.
std::string error_text(const std::string &name, const std::string &text);

// Makes the n-th allocation of a module fail (through its fault-injection counter, which counts
// down to the failing allocation) for n = 1, 2, ... until `op` succeeds. After every failure `op`
// must have returned false and left exactly `message` pending; `check` then verifies that nothing
// changed. Leaks show in the sanitizer build.
template <typename Op, typename Check>
void fail_each_allocation(int32_t *counter, const std::string &message, Op op, Check check) {
  for (int32_t n = 1;; ++n) {
    ASSERT_LT(n, 10000);
    *counter = n;
    const bool ok = op();
    const bool failed = *counter == 0;
    *counter = 0;
    check();
    const std::vector<std::string> pending = take_pending();
    if (!failed) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(pending.empty());
      return;
    }
    EXPECT_FALSE(ok) << "allocation " << n;
    ASSERT_EQ(pending.size(), 1u) << "allocation " << n;
    EXPECT_EQ(pending[0], message) << "allocation " << n;
  }
}
// The count record of a code, or {code, 0, 0, 0} when there is none.
mpm_CountRecord count_of(mpm_Status code);
// A fresh temporary directory for one test, removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// The formatting engine's output for a format and its arguments ("<null>" when it gives none).
std::string format_text(const char *format, ...);

// The project's root (TESMAR_SOURCE_DIR, else the one the tests were built from), so that the test
// programs run from any directory.
std::string source_dir();
// The `tesmar` tool built beside the running test binary.
std::string tool_path();
// The indented lines that follow "    $ COMMAND\n" in a document, without their 4-blank indent, up
// to the next line that is neither indented nor empty (or the next command).
std::string listing_after(const std::string &docs, const std::string &command);
// A temporary directory holding the sample schema compiled by the tool (`ddf_`).
class SampleSchemaTest : public ::testing::Test {
 protected:
  void SetUp() override;
  TempDir dir_;
  std::string ddf_ = dir_.file("geometry.ddf");
};
// Runs `tesmar ARGUMENTS` (quoted for the shell by the caller), its output kept in files of `dir`.
struct ToolRun {
  int status;  // exit status, -1 when the tool did not exit normally
  std::string out, err;
};
ToolRun run_tool(const TempDir &dir, const std::string &arguments);

}  // namespace tesmar::test
