// Private declarations of the kernel's services, shared with the modules that need more than its
// public interface: the library's start-up, the elapsed-time directives (the start times), UGN
// (the environment override table).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "tesmar/mpm.h"
#include "tesmar/tmx.h"

namespace tesmar::tmx {

// TMX's own message table.
const mpm_ModuleDesc &module_desc();

// The kernel's part of every start from a full stop: takes the start times, clears the module
// registry and the stream table, and registers TMX's table.
void start();

// The processor clock and the calendar time taken when the library last started from a full stop.
struct StartTimes {
  std::clock_t clock = 0;
  std::time_t time = 0;
};
const StartTimes &start_times();

// Processor seconds used since the start (clock ticks converted with CLOCKS_PER_SEC), and calendar
// seconds elapsed since the start.
double processor_seconds_since_start();
double elapsed_seconds_since_start();

// Empties the stream table (at start-up).
void clear_streams();

// The environment override table behind ugn_PutEnv and ugn_SetEnvAlias, which tmx_GetEnv
// consults. Names and aliases are shorter than kEnvNameSize bytes (env_name_fits).
inline constexpr std::size_t kEnvNameSize = 64;
bool env_name_fits(const char *name);
// Sets a name's value, taking ownership of the malloc'ed `value` (null removes the value, keeping
// an alias). False, with `value` still the caller's, when the table failed (issued by the tree).
bool set_env_value(const char *name, char *value);
// Gives a name an alias; a null alias removes the name's record with its value. False when the
// table failed (issued by the tree).
bool set_env_alias(const char *name, const char *alias);
// Frees the table with its values (at shut-down).
void free_env_overrides();

// What file-type detection found in a file, before it becomes a result block.
struct FileTypeFacts {
  enum class Failure { kNone, kRead, kNoMemory };
  int32_t type = TMX_FILETYPE_UNKNOWN;
  Failure failure = Failure::kNone;
  int error_number = 0;  // errno of a failed read
  int32_t first_integer = 0;  // ACIS text
  // Saved model: the four tokens after BEGIN_MODEL.
  int32_t model_number = 0;
  std::array<char, TMX_MODEL_NAME_SIZE> model_name{};
  int32_t version = 0;
  int32_t release = 0;
  // STEP: the FILE_SCHEMA names (tokens, so at most 119 characters each).
  int32_t schema_count = 0;
  std::array<std::array<char, TMX_MODEL_NAME_SIZE>, TMX_STEP_SCHEMA_COUNT> schema_names{};
  // IGES and VDAFS: the line end after the first record or line.
  int32_t line_end_count = 0;
  std::array<uint8_t, 160> line_end{};
  bool operator==(const FileTypeFacts &) const = default;
};

struct ByteSource;
// Runs the column tests and the token loop over a file's bytes, read through `buffer` (at least
// 160 bytes; larger is faster). Issues nothing. `skip` lets the loop pass over tokens no test can
// match once only the count-free tests remain; the facts are the same either way.
FileTypeFacts detect_file_type(const ByteSource &source, uint8_t *buffer, std::size_t capacity,
                               bool skip = true);

// Seams of tmx_GetFileType for tests: its reads and its allocations.
extern int64_t (*file_type_read)(int fd, void *buffer, std::size_t size);
extern void *(*file_type_malloc)(std::size_t size);

}  // namespace tesmar::tmx
