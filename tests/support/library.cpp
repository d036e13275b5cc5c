#include "support/library.h"

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

mpm_CountRecord count_of(mpm_Status code) {
  mpm_CountRecord key{static_cast<int32_t>(code), 0, 0, 0};
  if (mpm_count_tree == nullptr) return key;
  auto *found = static_cast<mpm_CountRecord *>(otm_GetObject(1 | 8, mpm_count_tree, &key));
  return found != nullptr ? *found : key;
}

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/tesmar-test.XXXXXX";
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

}  // namespace tesmar::test
