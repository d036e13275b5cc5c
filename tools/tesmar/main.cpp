// The `tesmar` command: the library's main job for a person.
#include <algorithm>
#include <cerrno>
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

void print_overview(std::FILE *out) {
  std::vector<Command> sorted = commands();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
  std::fprintf(out, "usage: tesmar COMMAND [ARGS...]\n       tesmar --help | --version\n\nCommands:\n");
  for (const Command &c : sorted) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(out, "\nRun `tesmar COMMAND --help` for a command's own help.\n"
                    "Exit status: 0 success, 1 the work failed, 2 a usage error.\n");
}

}  // namespace

void register_command(const Command &command) { commands().push_back(command); }

}  // namespace tesmar::cli

int main(int argc, char **argv) {
  using namespace tesmar::cli;
  if (argc < 2) {
    print_overview(stderr);
    return 2;
  }
  if (is_help(argv[1])) {
    print_overview(stdout);
    return finish_stdout(0);
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("tesmar %s (%s)\n", TESMAR_TOOL_VERSION, tmx_VersionText);
    return finish_stdout(0);
  }
  const Command *command = nullptr;
  for (const Command &c : commands())
    if (std::strcmp(c.name, argv[1]) == 0) command = &c;
  if (command == nullptr) {
    std::fprintf(stderr, "tesmar: unknown command '%s'\n(run `tesmar --help` for the commands)\n",
                 escaped(argv[1]).c_str());
    return 2;
  }
  set_current_command(command->name);
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (is_help(argv[i])) {
      std::fputs(command->usage, stdout);
      return finish_stdout(0);
    }
  }
  tmx_Initialize(0);
  route_library_output();
  int status = command->run(argc - 1, argv + 1);
  tmx_Terminate(0);
  return finish_stdout(status);
}
