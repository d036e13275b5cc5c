// Named double parameters of a model: an ordered tree of {name, value} by name.
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {
// The tree's key for a name: at most 31 bytes, zero-filled.
mda_ModelParam key_of(const char *name) {
  mda_ModelParam key{};
  std::strncpy(key.name, name, sizeof key.name - 1);
  return key;
}
}  // namespace

int compare_params(const void *a, const void *b) {
  int c = std::strncmp(static_cast<const mda_ModelParam *>(a)->name,
                       static_cast<const mda_ModelParam *>(b)->name, sizeof(mda_ModelParam::name));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

double mda_GetModelParam(int32_t model, const char *name) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) {
    report(MDA_INVALID_MODEL);
    return 0.0;
  }
  if (name == nullptr || rec->params == nullptr) return rec->default_param;
  mda_ModelParam key = key_of(name);
  auto *found = static_cast<mda_ModelParam *>(
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, rec->params, &key));
  return found != nullptr ? found->value : rec->default_param;
}

mda_ModelParam *mda_SetModelParam(int32_t model, const char *name, double value) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) {
    report(MDA_INVALID_MODEL);
    return nullptr;
  }
  if (name == nullptr || rec->params == nullptr) {
    report(MDA_NULL_MEMPTR);
    return nullptr;
  }
  mda_ModelParam key = key_of(name);
  key.value = value;
  auto *stored = static_cast<mda_ModelParam *>(otm_AddObject(0, rec->params, &key));
  if (stored != nullptr) stored->value = value;  // an existing name keeps its element
  return stored;
}

}  // extern "C"
