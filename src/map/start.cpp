// MAP's message table (module 19), its start-up and its shut-down, and the settings.
#include <iterator>

#include "map/map_internal.h"
#include "mpm/message_table.h"

extern "C" {
int32_t map_trace_level = 0;
}

namespace tesmar::map {
namespace {
constexpr MessageRow kRows[] = {
    {"INVALID_PTR", kOrdinary, " Invalid database pointer.\n"},
    {"NULL_MEMPTR", kOrdinary, " Unexpected NULL memory pointer.\n"},
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"REALLOC_ERR", kMemory, " Error reallocating memory.\n"},
    {"INVALID_ARG", kOrdinary, " Invalid argument.\n"},
    {"INVALID_OPTIONS", kOrdinary, " Invalid combination of options.\n"},
    {"ALREADY_DEFINED", kOrdinary, " Mapping \"%s\" is already defined.\n"},
    {"UNDEFINED", kOrdinary, " Mapping \"%s\" is not defined.\n"},
    {"LIST_TOO_LONG", kOrdinary, " Mapping list \"%s\" contains more than %d mappings.\n"},
    {"TOO_MANY_PARAMS", kOrdinary,
     " Too many parameters specified for \"%s\".  Maximum number of parameters is %d.\n"},
    {"EMPTY_PARAM", kOrdinary, " Empty parameter string.\n"},
    {"UNKNOWN_TOKEN", kOrdinary, " Unknown token %d passed to map_EnableMapping.\n"},
    {"SYNTAX_ERR", kOrdinary, " Syntax error parsing mapping parameter \"%s\".\n"},
    {"TREE_ERR", kOrdinary, " Error using OTM tree.\n"},
    {"LIST_ERR", kOrdinary, " Error using OLM tree.\n"},
    {"NO_MAPPING", kOrdinary, "+No mapping enabled for entity %<PTR> (%<PTR2>).\n"},
    {"EMPTY_LIST", kOrdinary, " Mapping list \"%s\" does not contain any entries.\n"},
    {"NOT_DEFINED", kOrdinary, " Mapping \"%s\" is not defined.\n"},
    {"INCORRECT_TYPE", kOrdinary,
     "+An incorrect type was passed into map_DispatchEntity for %<PTR> (%<PTR2>). The type "
     "expected was %<DTF>, the type found was %<DTF>.\n"},
    {"NO_FORMS", kOrdinary, " Could not expand forms for mapping \"%s\".\n"},
    {"PARAM_ALREADY_DEFINED", kOrdinary, " Mapping parameter \"%s\" is already defined.\n"},
    {"UNDEFINED_PARAM", kOrdinary, " Mapping parameter \"%s\" is not defined.\n"},
    {"INTERNAL_ERR", kOrdinary, " An internal error occurred in function %s.\n"},
    {"FILE_DOES_NOT_EXIST", kOrdinary, " Mapping file %s does not exist.\n"},
    {"OPEN_ERR", kOrdinary, " Error opening file %s.\n"},
    {"READ_ERR", kOrdinary, " Error reading file %s.\n"},
    {"PARSE_ERR", kOrdinary, " Error while parsing argument list.\n"},
    {"NO_MODEL", kOrdinary, " Could not determine the model number for the model name %s.\n"},
    {"FILE_ERR", kOrdinary, " Error on or before line %d of mapping file %s.\n"},
    {"NOT_LISTABLE", kOrdinary, " Mapping \"%s\" can not be made part of a mapping list.\n"},
    {"CONDITIONAL_NO_MATCH", kOrdinary,
     " Mapping \"%s\" can not be made a component of the conditional mapping, \"%s\".\n"},
    {"HAS_PARENTS", kOrdinary,
     "+Could not delete entity %<PTR> (%<PTR2>) in map_ProcessEntity because entity has "
     "parents.\n"},
    {"UNEXPECTED_DTF", kOrdinary,
     "+Expected DTF %<DTF> but found %<DTF> for %<PTR> (%<PTR2>) in map_ProcessEntity while "
     "processing output of mapping \"%s\".\n"},
    {"NON_GENERAL_MAP", kOrdinary,
     "+map_ProcessEntity called for %<PTR> (%<PTR2>) from mapping \"%s\" which was not defined "
     "with MAP_GENERAL.\n"},
    {"NO_TARGET_DDF", kOrdinary,
     "+map_ProcessEntity called for %<PTR> (%<PTR2>) from mapping \"%s\" which was defined with a "
     "target DDF of NULL.\n"},
    {"NO_PROCESS_CONDITIONAL", kOrdinary,
     "+map_ProcessEntity called for %<PTR> (%<PTR2>) from mapping \"%s\" which was defined as a "
     "conditional mapping.  map_ProcessEntity may not be called from conditional mappings.\n"},
    {"INVOKE_NONCONDITIONAL", kOrdinary,
     "+map_InvokeMapping called for %<PTR> (%<PTR2>) from mapping \"%s\" which was not defined as "
     "a conditional mapping.\n"},
    {"CNDTL_NEST_TOO_DEEP", kOrdinary,
     "+An attempt was made to nest conditional mappings beyond the limit for DTF, %<DTF>\n"},
};
static_assert(std::size(kRows) == 38, "MAP has 38 messages");
constinit const MessageTable kTable(19, "MAP", kRows);

int compare_codes(const void *a, const void *b) {
  const auto x = static_cast<int64_t>(static_cast<const map_Parameter *>(a)->code);
  const auto y = static_cast<int64_t>(static_cast<const map_Parameter *>(b)->code);
  return x < y ? -1 : (x > y ? 1 : 0);
}
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

const char *kept(const std::string &text) {
  static std::string held;
  held = text;
  return held.c_str();
}

int32_t g_fail_allocation = 0;
std::FILE *g_trace = stdout;
otm_Tree *g_parameters = nullptr;

}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_Initialize(uint32_t) {
  mpm_RegisterModule(0, &module_desc());
  g_trace = stdout;
  map_trace_level = 0;
  if (g_parameters != nullptr) otm_DeleteTree(0, g_parameters);
  g_parameters = otm_CreateTree(0, sizeof(map_Parameter), compare_codes, 0);
  if (g_parameters == nullptr) return issue(fail(MAP_TREE_ERR));
  if (!create_deletion_stack()) return issue(fail(MAP_MALLOC_ERR));
  return 0;
}

mpm_Status map_Terminate(uint32_t) {
  free_deletion_stack();
  if (g_parameters != nullptr) otm_DeleteTree(0, g_parameters);
  g_parameters = nullptr;
  return 0;
}

mpm_Status map_DbgSetLevel(int32_t level) {
  if (level != -1) map_trace_level = level;
  return 0;
}

}  // extern "C"
