// Private declarations of UGN, and the seam through which the kernel's environment lookup reaches
// the environment override table.
#pragma once

#include "tesmar/mpm.h"
#include "tesmar/ugn.h"

namespace tesmar::ugn {

// UGN's own message table.
const mpm_ModuleDesc &module_desc();

// The process-environment lookup the kernel hands in: a name's value, or null.
using EnvironmentFn = const char *(*)(const char *name);

// The value of an environment name as the library sees it: for a name with an alias in the
// override table, the alias's set value or else the alias's environment value; when that gives
// nothing, or the name has no alias, the name's own set value; otherwise `environment(name)`.
// The result is valid until the
// table or the environment changes; null when the name has no value.
const char *resolve_environment(const char *name, EnvironmentFn environment);

// Shut-down steps: free the override table with its values; remove every file that ugn_TempName
// named, and the private temporary directory.
void free_overrides();
void remove_temporary_files();

}  // namespace tesmar::ugn
