// Environment lookups as the library sees them (see ugn_internal.h).
#include "ugn/ugn_internal.h"

namespace tesmar::ugn {

const char *resolve_environment(const char *name, EnvironmentFn environment) {
  // The override table (aliases and set values) is consulted here once it exists.
  return environment(name);
}

}  // namespace tesmar::ugn
