// Private declarations of the kernel.
#pragma once

#include "tesmar/mpm.h"
#include "tesmar/tmx.h"

namespace tesmar::tmx {

// TMX's own message table.
const mpm_ModuleDesc &module_desc();

}  // namespace tesmar::tmx
