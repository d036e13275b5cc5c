// UGN's message table (module 10), its start-up and its shut-down.
#include "mpm/message_table.h"
#include "tmx/tmx_internal.h"
#include "ugn/ugn_internal.h"

namespace tesmar::ugn {
namespace {
constexpr MessageRow kRows[] = {
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"ENV_VAR_TOO_LONG", kOrdinary, " Environment variable name too long.\n"},
    {"ENVALIAS_ERR", kOrdinary, " Error while accessing environment alias table.\n"},
    {"OPTS_REPEATED_OPTION", kOrdinary, " Option \"%s\" was specified more than once.\n"},
    {"OPTS_VALUE_MISSING", kOrdinary, " Option \"%s\" requires a value to be specified.\n"},
    {"OPTS_ILLEGAL_TYPE", kOrdinary, " Type \"%s\" for option \"%s\" is not a known type.\n"},
    {"OPTS_UNKNOWN_OPTION", kOrdinary, " Unknown option \"%s\" found.\n"},
    {"OPTS_INVALID_TF", kOrdinary, " Invalid type/form \"%s\" specified for option \"%s\".\n"},
    {"OPTS_INVALID_NAME", kOrdinary,
     " Zero length name found in options structure at index %d.\n"},
    {"OPTS_INVALID_TYPE", kOrdinary,
     " Invalid type string found in options structure at index %d.\n"},
    {"OPTS_INVALID_GROUP", kOrdinary, " Invalid group found in options structure at index %d.\n"},
    {"OPTS_CONFLICT", kOrdinary,
     " Options \"-%s\" and \"-%s\" can not be specified at the same time.\n"},
    {"OPTS_REQUIRED_IN_GROUP", kOrdinary, " Required option \"-%s\" is inside an option group.\n"},
    {"OPTS_REQUIRED_NOT_FOUND", kOrdinary, " Required option \"-%s\" not specified.\n"},
    {"MAXEXP_ERR", kOrdinary,
     " The magnitude of a floating point number exceeded the maximum allowable exponent.  "
     "Maximum allowable exponent will be used.\n"},
    {"MINEXP_ERR", kOrdinary,
     " The magnitude of a floating point number was less than the minimum allowable exponent.  "
     "Minimum allowable exponent will be used.\n"},
    {"BAD_FLOAT", kOrdinary,
     " \"%lf\" is an invalid float. An invalid floating point number was found. Number will be "
     "processed as 0.0.\n"},
    {"FILE_OPEN_ERROR", kOrdinary, " Error encountered opening the specified file %s (errno = %d)."},
    {"FILE_READ_ERROR", kOrdinary, " Error encountered reading the specified file %s (errno = %d)."},
    {"FILE_WRITE_ERROR", kOrdinary,
     " Error encountered writing the specified file %s (errno = %d)."},
    {"FILE_CLOSE_ERROR", kOrdinary,
     " Error encountered closing the specified file %s (errno = %d)."},
};
constinit const MessageTable kTable(10, "UGN", kRows);
static_assert(sizeof kRows / sizeof kRows[0] == 21);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::ugn

extern "C" mpm_Status ugn_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::ugn::module_desc());
  return 0;
}

// The override table goes, and so do the temporary files UGN named.
extern "C" mpm_Status ugn_Terminate(uint32_t) {
  tesmar::tmx::free_env_overrides();
  tesmar::ugn::remove_temporary_files();
  return 0;
}
