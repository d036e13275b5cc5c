// The process: its id and its environment.
#include <cstdlib>

#include <unistd.h>

#include "platform/platform.h"

namespace tesmar::platform {

const char *get_environment(const char *name) {
  return name != nullptr ? std::getenv(name) : nullptr;
}

int32_t process_id() { return static_cast<int32_t>(::getpid()); }

}  // namespace tesmar::platform
