// Start-up and shut-down of the library: tmx_Initialize and tmx_Terminate.
//
// This is the top of the library: the only code that names every module. The first
// tmx_Initialize lets the kernel take the start times, clear the module registry and the stream
// table and register its own table (tmx::start), then starts every module in a fixed order (each
// registers its message table and sets up its own state); later calls only count. The
// tmx_Terminate that balances the first stops the modules that keep state, in their own order.
// After a full stop a new start does all of it again, so every table is registered anew and the
// start times are those of the new start.
#include "tesmar/cfg.h"
#include "tesmar/dar.h"
#include "tesmar/ddf.h"
#include "tesmar/dof.h"
#include "tesmar/dst.h"
#include "tesmar/eam.h"
#include "tesmar/evm.h"
#include "tesmar/fmt.h"
#include "tesmar/hdb.h"
#include "tesmar/map.h"
#include "tesmar/mda.h"
#include "tesmar/mpm.h"
#include "tesmar/mth.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"
#include "tesmar/ugn.h"
#include "tmx/tmx_internal.h"

namespace {

int32_t g_references = 0;

using StartFn = mpm_Status (*)(uint32_t);

// Start-up order (after TMX); modules are added here as they join the library. UNL is started by
// its client (unl_Initialize), not here. The mapping engine, on top of everything, starts last and
// stops first.
constexpr StartFn kStartOrder[] = {
    hdb_Initialize, olm_Initialize, oqm_Initialize, osm_Initialize, otm_Initialize,
    dar_Initialize, dst_Initialize, ugn_Initialize, mpm_Initialize, ddf_Initialize,
    mda_Initialize, evm_Initialize, eam_Initialize, mth_Initialize, fmt_Initialize, dof_Initialize,
    cfg_Initialize, map_Initialize,
};

// Shut-down order of the modules that keep state.
constexpr StartFn kStopOrder[] = {
    map_Terminate, cfg_Terminate, ugn_Terminate, mda_Terminate, ddf_Terminate, mpm_Terminate,
};

}  // namespace

extern "C" {

mpm_Status tmx_Initialize(uint32_t flags) {
  if (g_references == 0) {
    tesmar::tmx::start();
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
