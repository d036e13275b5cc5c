// The current model and the globals that follow it.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

extern "C" {
int32_t mda_current_model = 0;
mda_ModelRec *mda_current_model_rec = nullptr;
}

namespace tesmar::mda {

void make_current(int32_t model, uint64_t argument) {
  mda_ModelRec *rec = &g_models[model];
  mda_current_model = model;
  mda_current_model_rec = rec;
  ddf_saved = ddf_current;
  ddf_current = rec->schema;
  tesmar::ddf::reset_cache();
  if (rec->current_hook != nullptr) rec->current_hook(model, argument);
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" mpm_Status mda_SetCurrentModel(int32_t model, uint64_t argument) {
  if (model == mda_current_model) return 0;
  if (model == 0) {
    mda_current_model = 0;
    mda_current_model_rec = nullptr;
    return 0;
  }
  if (model_in_use(model) == nullptr) return report(MDA_INVALID_MODEL);
  make_current(model, argument);
  return 0;
}
