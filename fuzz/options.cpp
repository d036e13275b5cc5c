// Fuzz target: the option parser over arbitrary argument vectors and option tables.
//
// The input is split at NUL bytes. When the first byte is odd, the first part describes a table of
// its own ("name,type;name,type;..."; "[" and "]" entries open and close groups), otherwise a fixed
// table with every type, a group and a required option is used. The other parts are the arguments.
// After a parse the vector must be intact: compacted and null-terminated on success, untouched on
// failure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

uint64_t g_slots[64];

std::vector<ugn_Option> fixed_table() {
  return {
      {"o", "s+", "FILE", &g_slots[0], "output"},
      {"v", "f", nullptr, &g_slots[1], "verbose"},
      {"d", "d", "X", &g_slots[2], nullptr},
      {"i", "i", "N", &g_slots[3], nullptr},
      {"l", "l", "N", &g_slots[4], nullptr},
      {"m", "m", "M:E", &g_slots[5], nullptr},
      {"t", "t", "T:F", &g_slots[6], nullptr},
      {"[", nullptr, nullptr, nullptr, nullptr},
      {"a", "f", nullptr, &g_slots[7], nullptr},
      {"b", "s", "B", &g_slots[8], nullptr},
      {"]", nullptr, nullptr, nullptr, nullptr},
      {"k", "s", "K", nullptr, nullptr},
      {"x", "q", nullptr, &g_slots[9], nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::fuzz::start_library();
  if (size < 1) return 0;
  const bool own_table = (data[0] & 1) != 0;
  std::vector<std::string> parts;
  std::string current;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      parts.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  parts.push_back(current);

  // The table: its texts live in `texts` (reserved so that their addresses stay put).
  std::vector<std::string> texts;
  texts.reserve(128);
  std::vector<ugn_Option> table;
  std::size_t first_arg = 0;
  if (own_table) {
    first_arg = 1;
    const std::string &spec = parts[0];
    std::size_t at = 0;
    while (at <= spec.size() && table.size() < 60) {
      std::size_t end = spec.find(';', at);
      if (end == std::string::npos) end = spec.size();
      std::string entry = spec.substr(at, end - at);
      std::size_t comma = entry.find(',');
      texts.push_back(entry.substr(0, comma));
      const char *name = texts.back().c_str();
      const char *type = nullptr;
      if (comma != std::string::npos) {
        texts.push_back(entry.substr(comma + 1));
        type = texts.back().c_str();
      }
      table.push_back({name, type, "V", (table.size() % 5 == 4) ? nullptr : &g_slots[table.size()], "d"});
      at = end + 1;
    }
    table.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  } else {
    table = fixed_table();
  }

  std::vector<std::string> args{"prog"};
  for (std::size_t i = first_arg; i < parts.size() && args.size() < 200; ++i) args.push_back(parts[i]);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::vector<char *> before = argv;
  auto argc = static_cast<int32_t>(args.size());

  mpm_Status status = ugn_ParseCommandLine(0, table.data(), &argc, argv.data());
  if (status == 0) {
    if (argc < 1 || argc > static_cast<int32_t>(args.size()) || argv[argc] != nullptr || argv[0] != before[0])
      std::abort();
  } else if (argc != static_cast<int32_t>(args.size()) || argv != before) {
    std::abort();
  }
  mpm_DiscardPending(0);
  return 0;
}
