// UGN's shut-down: the override table goes, and so do the temporary files it named.
#include "ugn/ugn_internal.h"

extern "C" mpm_Status ugn_Terminate(uint32_t) {
  tesmar::ugn::free_overrides();
  tesmar::ugn::remove_temporary_files();
  return 0;
}
