// The `tesmar` command: the library's main job for a person.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

std::vector<Command> &commands() {
  static std::vector<Command> all;
  return all;
}

void print_overview() {
  std::vector<Command> sorted = commands();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
  std::printf("usage: tesmar COMMAND [ARGS...]\n\nCommands:\n");
  for (const Command &c : sorted) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf("\nRun `tesmar COMMAND --help` for a command's own help.\n");
}

}  // namespace

void register_command(const Command &command) { commands().push_back(command); }

int usage_error(const char *command, const char *message) {
  std::fprintf(stderr, "tesmar %s: %s\n(run `tesmar %s --help` for help)\n", command, message,
               command);
  return 2;
}

}  // namespace tesmar::cli

int main(int argc, char **argv) {
  using namespace tesmar::cli;
  if (argc < 2 || is_help(argv[1])) {
    print_overview();
    return argc < 2 ? 2 : 0;
  }
  const Command *command = nullptr;
  for (const Command &c : commands())
    if (std::strcmp(c.name, argv[1]) == 0) command = &c;
  if (command == nullptr) {
    std::fprintf(stderr, "tesmar: unknown command '%s'\n\n", argv[1]);
    print_overview();
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (is_help(argv[i])) {
      std::fputs(command->usage, stdout);
      return 0;
    }
  }
  tmx_Initialize(0);
  int status = command->run(argc - 1, argv + 1);
  tmx_Terminate(0);
  return status;
}
