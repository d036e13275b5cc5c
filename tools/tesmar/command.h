// Subcommands of the `tesmar` tool. Each subcommand lives in a file of its own and registers itself
// with a static Registrar, so adding one touches no other file.
#pragma once

#include <cstdio>
#include <string_view>

namespace tesmar::cli {

struct Command {
  const char *name;
  const char *summary;  // one line for `tesmar --help`
  const char *usage;    // full help text for `tesmar NAME --help`
  // Runs the subcommand; argv[0] is the subcommand's name. Returns the process exit status.
  int (*run)(int argc, char **argv);
};

void register_command(const Command &command);

struct Registrar {
  explicit Registrar(const Command &command) { register_command(command); }
};

// Writes "tesmar NAME: message" on stderr; returns 2 (usage error) for convenience.
int usage_error(const char *command, const char *message);

// An input file that exists and is not a directory; otherwise prints "tesmar COMMAND: PATH:
// reason" and gives false.
bool check_input(const char *command, const char *path);

// An output that is not the input (the same file, also under another name); otherwise prints why
// and gives false.
bool check_output(const char *command, const char *input, const char *output);

// Writes the pending messages on stderr, oldest first (the order they arose in), and drops them.
void show_pending();

// True when the argument asks for help.
inline bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace tesmar::cli
