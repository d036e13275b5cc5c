// DDF's message table (module 8), the module's tables and state, start-up and shut-down.
#include <numbers>

#include "ddf/ddf_internal.h"
#include "mpm/message_table.h"

namespace tesmar::ddf {
namespace {
constexpr MessageRow kRows[] = {
    {"NULL_MEMPTR", kOrdinary, " Unexpected NULL memory pointer.\n"},
    {"INVALID_ARG", kOrdinary, " Invalid argument.\n"},
    {"FIELD_NOT_FOUND", kOrdinary, " Specified field was not found.\n"},
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"OPEN_ERR", kOrdinary, " Error opening DDF file %s.\n"},
    {"READ_ERR", kOrdinary, " Error reading DDF file %s.\n"},
    {"VERSION_ERR", kOrdinary, " Binary DDF file %s has wrong version number.\n"},
    {"ID_ERR", kOrdinary, " File %s is not a binary DDF.\n"},
    {"NOT_UNION_TYPE", kOrdinary, " Field type of union expected but not found.\n"},
};
constinit const MessageTable kTable(8, "DDF", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

void reset_cache() {
  ddf_last_tf = TF_NONE;
  ddf_last_tfi = 0;
}

}  // namespace tesmar::ddf

extern "C" {

const ddf_Section ddf_sections[DDF_SECTION_COUNT] = {
    {"attr_names", 1, 208},      {"attr_masks", 2, 216},   {"ptr_data", 3, 232},
    {"ptr_names", 4, 240},       {"ptr_counts", 5, 248},   {"ptr_indices", 6, 256},
    {"vdescs", 7, 272},          {"opcodes", 8, 288},      {"typeforms", 9, 312},
    {"fld_names", 10, 328},      {"fld_descs", 11, 344},   {"fld_data", 12, 352},
    {"fld_indices", 13, 360},    {"ent_names", 14, 368},   {"ent_fldcnts", 15, 376},
    {"ent_descs", 16, 384},      {"ent_uattrs", 17, 392},  {"ent_sizes", 18, 400},
    {"ent_info", 19, 408},       {"subent_tfis", 20, 424}, {"sub_super_data", 21, 432},
    {"supertype_tfs", 22, 440},  {"subtype_tfs", 23, 448},
};

const ddf_Type ddf_types[DDF_KIND_COUNT] = {
    {"", "", 0, 0},
    {"short", "short     ", 2, 8},
    {"int", "int       ", 4, 8},
    {"long", "long      ", 4, 8},
    {"float", "float     ", 4, 8},
    {"double", "double    ", 8, 8},
    {"char ", "char      ", 1, 8},
    {"fstring", "char      ", 1, 8},
    {"vstring", "char      ", 8, 8},
    {"ptr", "MDA_PTR   ", 8, 8},
    {"count", "MDA_COUNT ", 4, 0},
    {"struct", "struct    ", 0, 0},
    {"endstruct", "} ", 0, 0},
    {"let", "MDA_COUNT ", 4, 0},
    {"union", "", 2, 0},
    {"endunion", "", 0, 0},
    {"subent", "", 0, 0},
    {"derived", "", 0, 0},
    {"method", "int     (*", 8, 0},
    {"endent", "", 0, 0},
};

ddf_Schema *ddf_current = nullptr;
ddf_Schema *ddf_saved = nullptr;
uint32_t ddf_last_tf = TF_NONE;
int32_t ddf_last_tfi = 0;
int32_t *ddf_registers = nullptr;
const double ddf_float_defaults[5] = {0.0, 1.0, std::numbers::pi, std::numbers::pi / 2,
                                      std::numbers::pi / 4};

mpm_Status ddf_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::ddf::module_desc());
  ddf_current = nullptr;
  tesmar::ddf::reset_cache();
  return 0;
}

mpm_Status ddf_Terminate(uint32_t) { return 0; }

}  // extern "C"
