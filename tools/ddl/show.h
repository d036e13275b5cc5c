// The listing of a compiled schema that `tesmar ddl show` prints (docs/ddl.md, "Showing a schema").
#pragma once

#include <string>

#include "tesmar/ddf.h"

namespace tesmar::ddl {

// Every entity type with its fields: offsets, kinds, dimensions, flags, defaults, versions,
// attributes, descriptions and value descriptions.
std::string show_schema(const ddf_Schema &schema);

}  // namespace tesmar::ddl
