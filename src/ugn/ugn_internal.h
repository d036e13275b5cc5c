// Private declarations of UGN.
#pragma once

#include "tesmar/mpm.h"
#include "tesmar/ugn.h"

namespace tesmar::ugn {

// UGN's own message table.
const mpm_ModuleDesc &module_desc();

// Shut-down step: removes every file that ugn_TempName named, and the private temporary directory.
void remove_temporary_files();

}  // namespace tesmar::ugn
