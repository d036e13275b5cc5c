// Message tables of OLM (module 2), OSM (module 4) and OQM (module 5). OSM and OQM have no
// operations of their own; note that their NOMEMORY rows are ordinary messages, not memory ones.
#include "mpm/message_table.h"

namespace tesmar::olm {
namespace {
constexpr MessageRow kOlmRows[] = {
    {"NOMEMORY", kMemory, " Out of memory\n"},
    {"INVALIDSIZE", kOrdinary, " Invalid size = %d\n"},
    {"NULLPOINTER", kOrdinary, " NULL pointer\n"},
    {"INVALIDPOSITION", kOrdinary, " Invalid position = %d\n"},
    {"SIZENOTEQ", kOrdinary, " Data size one (%d) does not equal data size two (%d)\n"},
};
constexpr MessageRow kOqmRows[] = {
    {"NOMEMORY", kOrdinary, " Out of memory\n"},
    {"NULLPOINTER", kOrdinary, " NULL pointer\n"},
    {"NOOBJECTS", kOrdinary, " No objects in que\n"},
};
constexpr MessageRow kOsmRows[] = {
    {"NOMEMORY", kOrdinary, " Out of memory\n"},
    {"NULLPOINTER", kOrdinary, " NULL pointer\n"},
    {"NOOBJECTS", kOrdinary, " No objects in stack\n"},
};
constinit const MessageTable kOlm(2, "OLM", kOlmRows);
constinit const MessageTable kOqm(5, "OQM", kOqmRows);
constinit const MessageTable kOsm(4, "OSM", kOsmRows);
}  // namespace
}  // namespace tesmar::olm

extern "C" {

mpm_Status olm_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::olm::kOlm.desc);
  return 0;
}

mpm_Status oqm_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::olm::kOqm.desc);
  return 0;
}

mpm_Status osm_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::olm::kOsm.desc);
  return 0;
}

}  // extern "C"
