// Private declarations of the kernel, shared with the modules that need more than its public
// interface (the elapsed-time directives read the start times).
#pragma once

#include <ctime>

#include "tesmar/mpm.h"
#include "tesmar/tmx.h"

namespace tesmar::tmx {

// TMX's own message table.
const mpm_ModuleDesc &module_desc();

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

}  // namespace tesmar::tmx
