#include "support/library.h"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tesmar::test {

void LibraryTest::SetUp() { tmx_Initialize(0); }

void LibraryTest::TearDown() {
  tmx_Terminate(0);
  mpm_global_flags = 0;
  mpm_default_limit = -1;
  mpm_line_width = 80;
  mpm_left_indent = 0;
  mpm_right_margin = 0;
  mpm_justification = 1;
  mpm_current_column = 0;
}

OutputCapture *OutputCapture::active_ = nullptr;

OutputCapture::OutputCapture() : saved_(mpm_output_function) {
  active_ = this;
  mpm_output_function = &OutputCapture::capture;
}

OutputCapture::~OutputCapture() {
  mpm_output_function = saved_;
  active_ = nullptr;
}

int OutputCapture::capture(const char *line, FILE *stream) {
  if (active_ != nullptr) active_->lines_.push_back({line, stream, mpm_last_line});
  return 0;
}

std::string OutputCapture::text(FILE *stream) const {
  std::string all;
  for (const Line &line : lines_)
    if (line.stream == stream) all += line.text;
  return all;
}

std::vector<std::string> pending_texts() {
  std::vector<std::string> texts;
  if (mpm_pending_list == nullptr) return texts;
  int32_t n = 0;
  auto *array = static_cast<mpm_PendingMessage *>(olm_GetArray(0, mpm_pending_list, &n));
  for (int32_t i = 0; i < n; ++i) texts.emplace_back(array[i].text != nullptr ? array[i].text : "");
  std::free(array);
  return texts;
}

std::vector<mpm_Status> pending_codes() {
  std::vector<mpm_Status> codes;
  if (mpm_pending_list == nullptr) return codes;
  int32_t n = 0;
  auto *array = static_cast<mpm_PendingMessage *>(olm_GetArray(0, mpm_pending_list, &n));
  for (int32_t i = 0; i < n; ++i) codes.push_back(array[i].code);
  std::free(array);
  return codes;
}

std::vector<std::string> take_pending() {
  std::vector<std::string> texts = pending_texts();
  mpm_DiscardPending(0);
  return texts;
}

std::string error_text(const std::string &name, const std::string &text) {
  return "*** Error (" + name + ") ***\n" + text;
}

mpm_CountRecord count_of(mpm_Status code) {
  mpm_CountRecord key{static_cast<int32_t>(code), 0, 0, 0};
  if (mpm_count_tree == nullptr) return key;
  auto *found = static_cast<mpm_CountRecord *>(otm_GetObject(1 | 8, mpm_count_tree, &key));
  return found != nullptr ? *found : key;
}

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string format_text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = mpm_FormatString(0, format, &args);
  va_end(args);
  std::string result = text != nullptr ? text : "<null>";
  std::free(text);
  return result;
}

std::string source_dir() {
  const char *root = std::getenv("TESMAR_SOURCE_DIR");
  return root != nullptr && *root != '\0' ? root : TESMAR_TEST_SOURCE_DIR;
}

std::string tool_path() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  return dir + "/../tools/tesmar/tesmar";
}

ToolRun run_tool(const TempDir &dir, const std::string &arguments) {
  std::string out = dir.file("stdout"), err = dir.file("stderr");
  std::string command = "'" + tool_path() + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

std::string listing_after(const std::string &docs, const std::string &command) {
  std::size_t at = docs.find("    $ " + command + "\n");
  if (at == std::string::npos) return "(no listing for " + command + ")";
  std::istringstream lines(docs.substr(docs.find('\n', at) + 1));
  std::string line, out, blanks;
  while (std::getline(lines, line)) {
    if (line.empty()) {
      blanks += "\n";
      continue;
    }
    if (line.rfind("    ", 0) != 0 || line.rfind("    $ ", 0) == 0) break;
    out += blanks + line.substr(4) + "\n";
    blanks.clear();
  }
  return out;
}

void SampleSchemaTest::SetUp() {
  ToolRun run = run_tool(dir_, "ddl compile '" + source_dir() + "/samples/geometry.ddl' -o '" + ddf_ + "'");
  ASSERT_EQ(run.status, 0) << run.err;
}

}  // namespace tesmar::test
