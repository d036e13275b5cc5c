// FMT's private interface: its message table and the entity listing.
#pragma once

#include <cstdarg>

#include "tesmar/fmt.h"
#include "tesmar/mpm.h"

namespace tesmar::fmt {

const mpm_ModuleDesc &module_desc();

// Enters the twelve directives into mpm_directive_table (replacing handlers of the same names).
void register_directives();

// The handler of %<ModelList> (model_list.cpp).
mpm_Status model_list(uint32_t flags, mpm_DirectiveRecord *record, va_list *args);

}  // namespace tesmar::fmt
