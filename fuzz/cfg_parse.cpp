// Fuzz target: a configuration file and a command line read against two fixed schemas (one entity
// type, several). Every input gives a status and located messages, never a crash; a configuration
// that was read is written back, and the written text must read again without a syntax error.
//
// Input: byte 0 picks the schema (bit 0) and whether a command line follows (bit 1); bytes 1-2
// are the length of the file's text (little-endian, clamped); the rest after it is the command
// line, split at blanks into arguments for cfg_SplitCmdLine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ddl.h"
#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

constexpr const char *kSchemas[2] = {
    "database \"single\" version 1 release 0;\n"
    "entity options 1:0 { int passes \"passes\"; double tolerance \"tolerance\" default 1;\n"
    "  vstring title \"title\"; fstring(8) code \"code\"; short small \"small\"; int sizes[3] \"sizes\";\n"
    "  count n \"n\"; double values[n] \"values\"; int open[] \"open\";\n"
    "  struct pts[] { double x; double y; } struct fix[2] { int a; struct in { int b; } }\n"
    "  union u { int i; double d; } }\n",
    "database \"multi\" version 1 release 0;\n"
    "entity input 1:0 { vstring file \"file\"; int units \"units\" default 1; }\n"
    "entity output 2:0 { vstring file \"out\"; double scale \"scale\" default 1; int flags[] \"flags\"; }\n"
    "entity limits 3:0 { struct box[2] { double low; double high; } count m; int levels[m] \"levels\";\n"
    "  float f \"f\"; char c \"c\"; long l \"l\"; }\n",
};

ddf_Schema *schema(int which) {
  static ddf_Schema *schemas[2] = {};
  if (schemas[which] == nullptr) {
    tesmar::ddl::Image image;
    tesmar::ddl::Diagnostic error;
    if (!tesmar::ddl::compile(kSchemas[which], "fuzz.ddl", &image, &error)) std::abort();
    const tesmar::fuzz::Scratch file("cfg-schema");
    std::string why;
    if (!tesmar::ddl::write_file(image, file.path(), &why)) std::abort();
    if (ddf_ReadBinaryDDF(0, file.path(), &schemas[which]) != 0) std::abort();
  }
  return schemas[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  tesmar::fuzz::start_library();
  if (size < 3) return 0;
  ddf_Schema *s = schema(data[0] & 1);
  const std::size_t length = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
  static const tesmar::fuzz::Scratch file("cfg-text"), written("cfg-written");
  if (!file.write(data + 3, length)) return 0;
  // The command line: the rest, cut at blanks (a zero byte ends an argument too).
  std::string rest(reinterpret_cast<const char *>(data + 3 + length), size - 3 - length);
  std::vector<std::string> words{"prog"};
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == ' ' || rest[i] == '\0') {
      if (!words.back().empty()) words.emplace_back();
    } else {
      words.back() += rest[i];
    }
  }
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  char *text = nullptr, *remaining = nullptr;
  if ((data[0] & 2) != 0)
    cfg_SplitCmdLine(0, static_cast<int32_t>(words.size()), argv.data(), s, &text, &remaining);
  int32_t model = 0;
  const mpm_Status status = cfg_ParseFile(0, s, file.path(), text, &model);
  if (status == 0 && model != 0) {
    if (cfg_FormatFile(0, model, written.path()) != 0) std::abort();
    int32_t again = 0;
    if (cfg_ParseFile(0, s, written.path(), nullptr, &again) == CFG_PARSE_ERROR) std::abort();
    cfg_FreeModel(0, again);
  }
  cfg_FreeModel(0, model);
  std::free(text);
  std::free(remaining);
  mpm_DiscardPending(0);
  return 0;
}
