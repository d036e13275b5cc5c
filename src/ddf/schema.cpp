// Releasing a schema: the header and each of its arrays are blocks of their own.
#include "ddf/ddf_internal.h"

extern "C" mpm_Status ddf_FreeSchema(uint32_t, ddf_Schema *schema) {
  if (schema == nullptr) return 0;
  if (ddf_current == schema) {
    ddf_current = nullptr;
    tesmar::ddf::reset_cache();
  }
  if (ddf_saved == schema) ddf_saved = nullptr;
  tesmar::ddf::free_blocks(schema);
  return 0;
}
