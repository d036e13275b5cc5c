// Subcommands of the `tesmar` tool, and the frame they share.
//
// Each subcommand lives in a file of its own and registers itself with a static Registrar, so
// adding one touches no other file. The frame (frame.cpp) sets the conventions once:
//  - arguments are parsed by the library's option parser (parse_args); options may stand before,
//    between or after the operands, `--` ends them, `-` is an operand (standard input or output);
//  - diagnostics go to standard error as "tesmar COMMAND: TEXT" with control bytes escaped, and a
//    library failure is shown by its symbolic name and text (show_pending);
//  - exit status 0 success, 1 the work failed (a failed write of standard output included, checked
//    by main), 2 a usage error;
//  - an input is a readable file that is not a directory, or `-` (input_file); an output is
//    written under a temporary name beside it and renamed into place, never over an input, and
//    an existing file is replaced only with -f/--force (Output).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tesmar/tesmar.h"

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

// The command being run; its name prefixes every diagnostic.
void set_current_command(const char *name);

// Writes "tesmar COMMAND: TEXT" on standard error, TEXT with control bytes shown escaped.
void diag(const char *format, ...) __attribute__((format(printf, 1, 2)));

// TEXT with bytes below 0x20 (but line ends and tabs) and 0x7F shown as \xHH.
std::string escaped(std::string_view text);

// Writes "tesmar COMMAND: MESSAGE" and the hint to run --help on standard error; returns 2.
int usage_error(const char *message);

// What parse_args leaves: the operands in order and the options that are recognised but not
// stored (repeatable ones, such as --point), with their values (null for a flag).
struct Args {
  std::vector<char *> operands;
  std::size_t before_dashdash = 0;  // how many operands came before `--` (all when none)
  std::vector<std::pair<std::string, const char *>> listed;
};

// Parses argv[1..] with the option table (ugn_Option rules; "-NAME" entries give `--NAME`). An
// argument is an option when it begins with '-', is not `-` alone and does not read as a number
// ("-2,3"). argv[0] is the command's name, or the word of a subcommand ("show" of `ddl show`). On a
// usage error prints the parser's message and the table's usage synopsis (with `synopsis` for the
// operands) and returns 2; otherwise 0.
int parse_args(const ugn_Option *table, const char *synopsis, int argc, char **argv, Args *args);

// The file to read for an operand: `-` is standard input, copied to a temporary file first (so
// every reader may seek). Reports and gives null when the file is missing, a directory or
// unreadable.
const char *input_file(const char *operand);

// An output file. prepare() checks the target and picks where the work writes; commit() puts the
// finished file in place (or copies it to standard output for `-`); an output never committed is
// removed.
class Output {
 public:
  Output() = default;
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;
  ~Output();
  // False (reported) when the target is an input, a directory, in a missing or unwritable
  // directory, or exists and `force` is false. A device or a pipe (/dev/null) is written directly;
  // for a symbolic link the file it names is replaced.
  bool prepare(const char *target, const std::vector<const char *> &inputs, bool force);
  const char *path() const { return path_.c_str(); }
  const std::string &target() const { return target_; }
  // TEXT with the temporary name replaced by the target's.
  std::string named(std::string text) const;
  // False (reported) when the file cannot be put in place.
  bool commit();

 private:
  std::string target_, path_;
  std::string replaced_;  // the file put in place: the target, or the file its link names
  bool to_stdout_ = false, force_ = false, committed_ = false;
  bool in_place_ = false;  // a device or a pipe, written directly
};

// Flushes and closes standard output at the end of a run; a failed write (reported once) turns a
// success into status 1. Returns the exit status.
int finish_stdout(int status);

// Writes the pending messages on standard error, oldest first (the order they arose in), each as
// "tesmar COMMAND: NAME: text", and drops them.
void show_pending();

// Routes what the library reports at once through the frame: on standard error a message's
// header line ("*** Error (NAME) ***") and its text become "tesmar COMMAND: NAME: text".
void route_library_output();

// True when the argument asks for help.
inline bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace tesmar::cli
