// CFG's message table (module 17), its start-up and its shut-down.
#include <iterator>

#include "cfg/cfg_internal.h"
#include "mpm/message_table.h"

namespace tesmar::cfg {
namespace {
constexpr MessageRow kRows[] = {
    {"BINARY_UNSUPPORTED", kOrdinary, " Binary configuration files are not supported.\n"},
    {"CB_EXP", kOrdinary, " Close-brace (}) operator expected.\n"},
    {"CB_INVAL", kOrdinary, " Corresponding ({) not found.\n"},
    {"CEQ_EXP", kOrdinary, " Colon (:) or Equal (=) operator expected.\n"},
    {"CLOSE_ERROR", kOrdinary, " Error closing configuration file %s.\n"},
    {"COP_EXP", kOrdinary, " Comma (,) operator expected.\n"},
    {"DATA_IGNORED", kOrdinary,
     " Line #%ld: Data points discarded: '%s'\nOnly %ld of %ld data points extracted.\n"},
    {"D_TO_I", kOrdinary,
     " Line #%ld: Invalid Double/Integer combination: '%s'\nDouble value cast to an integer.\n"},
    {"ENT_NOT_FOUND", kOrdinary, " Configuration entity %s (%ld:%ld) not found.\n"},
    {"ENT_WO_SECTION", kOrdinary,
     " No parameter data was found for the '%s' entity.\nNormally, parameter data is not required "
     "for\neach entity, but this is the ONLY configuration\nentity in the specified DDF.\n"},
    {"IDEN_EXP", kOrdinary, " Identifier expected.\n"},
    {"INVALID_DDF", kOrdinary, " Invalid configuration DDF.\n"},
    {"INVALID_DEFAULT", kOrdinary,
     " No section headers were found.  Unable to determine\nwith which entity to associate "
     "parameters.\n"},
    {"INVALID_COMBO", kOrdinary, " Line #%ld: Invalid Pointer/Integer combination: '%s'\n"},
    {"INVALID_COUNT", kOrdinary, " Line #%ld: Invalid count value: '%s'\n"},
    {"INVALID_MODEL", kOrdinary, " Invalid configuration model number %ld.\n"},
    {"INVALID_NAME", kOrdinary, " Invalid configuration file name.\n"},
    {"INVALID_SECTION", kOrdinary,
     " Line #%ld: Invalid section name: '%s'\nNo DDF entity by this name.  Parameters ignored.\n"},
    {"I_TO_D", kOrdinary,
     " Line #%ld: Invalid Double/Integer combination: '%s'\nInteger value cast to a double.\n"},
    {"LOCK_ERROR", kOrdinary, " Error locking a configuration entity.\n"},
    {"MALLOC_ERROR", kMemory, " Error allocating memory.\n"},
    {"MODEL_INIT_ERROR", kOrdinary, " Error initializing the configuration model.\n"},
    {"MODEL_ALLOC_ERROR", kOrdinary, " Error allocating the configuration model.\n"},
    {"MULT_DIM_ARRAY", kOrdinary, " Line #%ld: Multiple dimensioned array: '%s'\n"},
    {"NESTED_COMMENT", kOrdinary, " Illegal nested comment\n"},
    {"NEWLINE_STRING", kOrdinary, " New-line in character string.\n"},
    {"NO_ENTITIES", kOrdinary, " The configuration DDF has no entities.\n"},
    {"NOT_SUPPORTED", kOrdinary,
     " This configuration DDF is not supported by Command Line Preprocessor.\n"},
    {"NOT_UNIQUE", kOrdinary, " Line #%ld: Non-Unique section name: '%s'\n"},
    {"OB_EXP", kOrdinary, " Open-brace ({) operator expected.\n"},
    {"OB_INVAL", kOrdinary, " Structure declaration not valid.\n"},
    {"OPEN_ERROR", kOrdinary, " Error opening configuration file %s.\n"},
    {"PARAM_REDEC", kOrdinary, " Line #%ld: Parameter redeclared within context of file: '%s'\n"},
    {"PARSE_ERROR", kOrdinary, " Error parsing the configuration.\n"},
    {"PRINT_USAGE", kOrdinary, " Print Usage"},
    {"PS_ERROR", kOrdinary, " Line #%ld: Structure values must be in braces: '%s'\n"},
    {"PVAL_EXP", kOrdinary, " Parameter value(s) expected.\n"},
    {"RANGE_ERROR", kOrdinary, " Value out of range.\n"},
    {"READ_ERROR", kOrdinary, " Error reading configuration file %s.\n"},
    {"SECTION_MISSING", kOrdinary,
     " The first section of this file does not have\na configuration header token.  This token "
     "is\nnecessary in configuration files with more than\none section.\n"},
    {"ST_ARRAY", kOrdinary,
     " Arrays not supported within structures.\nFound array '%s' within structure '%s' on line "
     "#%ld.\n"},
    {"TRAVERSE_ENT_ERROR", kOrdinary, "+Error traversing configuration entity %<PTR>.\n"},
    {"TRAVERSE_MODEL_ERROR", kOrdinary, " Error traversing configuration model %ld.\n"},
    {"UNEXPECTED_EOF", kOrdinary, " Line #%ld:  Unexpected EOF\n"},
    {"UNDEFINED_SYMBOL", kOrdinary, " Line #%ld:  Undefined symbol: '%s'\n"},
    {"UNKNOWN_OPTION", kOrdinary,
     " SYNTAX ERROR: %s is an unknown command line argument.\nFor Usage specify -h.\n"},
    {"UNLOCK_ERROR", kOrdinary, " Error unlocking a configuration entity.\n"},
    {"_ARRAY_ERROR", kOrdinary, " Error giving a configuration array its memory.\n"},
    {"_ADDL_ERROR", kOrdinary, " Error adding to a configuration list.\n"},
    {"_ADDT_ERROR", kOrdinary, " Error adding to a configuration tree.\n"},
    {"_DELETEL_ERROR", kOrdinary, " Error deleting a configuration list.\n"},
    {"_DELETET_ERROR", kOrdinary, " Error deleting a configuration tree.\n"},
    {"_DIM_ERROR", kOrdinary, " Error evaluating the dimensions of a configuration array.\n"},
    {"_ERROR_RECORD", kOrdinary, " Syntax Error: Line #%ld <%s>\n`%s`"},
    {"_ERROR_PTR", kOrdinary, "  %s^"},
    {"_GETL_ERROR", kOrdinary, " Error reading a configuration list.\n"},
    {"_INVALID_TYPE", kOrdinary, " Invalid configuration field type.\n"},
    {"_LIST_ERROR", kOrdinary, " Error creating a configuration list.\n"},
    {"_MOD_UDATA_ERROR", kOrdinary, " Model %ld is not a configuration model.\n"},
    {"_RESETL_ERROR", kOrdinary, " Error resetting a configuration list.\n"},
    {"_RESETT_ERROR", kOrdinary, " Error resetting a configuration tree.\n"},
    {"_STRUCT_COUNT_ERROR", kOrdinary, " Error counting the elements of a configuration structure.\n"},
    {"_TREE_ERROR", kOrdinary, " Error creating a configuration tree.\n"},
    {"_UNKNOWN_TYPE", kOrdinary, " Unknown configuration field type.\n"},
};
static_assert(std::size(kRows) == 64, "CFG has 64 messages");
constinit const MessageTable kTable(17, "CFG", kRows);
}  // namespace
}  // namespace tesmar::cfg

using namespace tesmar::cfg;

extern "C" {

mpm_Status cfg_Initialize(uint32_t) {
  mpm_RegisterModule(0, &kTable.desc);
  return 0;
}

mpm_Status cfg_Terminate(uint32_t) {
  free_every_model();
  end_read();
  return 0;
}

}  // extern "C"
