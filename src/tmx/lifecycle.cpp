// Start-up and shut-down of the library.
//
// The first tmx_Initialize clears the module registry and starts every module in a fixed order
// (each registers its message table and sets up its own state); later calls only count. The
// tmx_Terminate that balances the first stops the modules that keep state, in their own order.
// After a full stop a new start registers every table again.
#include "tesmar/dar.h"
#include "tesmar/ddf.h"
#include "tesmar/dst.h"
#include "tesmar/eam.h"
#include "tesmar/evm.h"
#include "tesmar/hdb.h"
#include "tesmar/mpm.h"
#include "tesmar/mth.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"
#include "tmx/tmx_internal.h"

namespace {

int32_t g_references = 0;

using StartFn = mpm_Status (*)(uint32_t);

// Start-up order; modules are added here as they join the library.
constexpr StartFn kStartOrder[] = {
    hdb_Initialize, olm_Initialize, oqm_Initialize, osm_Initialize, otm_Initialize, dar_Initialize,
    dst_Initialize, mpm_Initialize, ddf_Initialize, evm_Initialize, eam_Initialize, mth_Initialize,
};

// Shut-down order of the modules that keep state.
constexpr StartFn kStopOrder[] = {
    ddf_Terminate, mpm_Terminate,
};

}  // namespace

extern "C" {

mpm_Status tmx_Initialize(uint32_t flags) {
  if (g_references == 0) {
    mpm_ClearRegistry(0);
    mpm_RegisterModule(0, &tesmar::tmx::module_desc());
    for (StartFn start : kStartOrder) start(flags);
  }
  ++g_references;
  return 0;
}

mpm_Status tmx_Terminate(uint32_t flags) {
  if (g_references == 1)
    for (StartFn stop : kStopOrder) stop(flags);
  if (g_references >= 1) --g_references;
  return 0;
}

}  // extern "C"
