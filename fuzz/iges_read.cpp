// The IGES reader of the sample translator (and its expansion of the compressed form) on hostile
// files: any bytes give located errors and a partial model, never a crash, a hang or a leak.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tesmar/tesmar.h"
#include "translate.h"

namespace {

tesmar::translate::Schemas *schemas() {
  static tesmar::translate::Schemas *s = [] {
    tmx_Initialize(0);
    tesmar::translate::register_messages();
    auto *loaded = new tesmar::translate::Schemas;
    std::string why;
    if (!tesmar::translate::load_schemas(loaded, &why)) std::abort();
    mpm_output_function = [](const char *, FILE *) { return 0; };  // reports would flood the run
    return loaded;
  }();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::translate::Schemas *s = schemas();
  const std::string path = "fuzz-iges-" + std::to_string(getpid()) + ".igs";
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = s->iges;
  int32_t model = 0;
  // A compressed file (a 'C' in the first line's column 73) is written out in the fixed form first.
  const char *eol = static_cast<const char *>(std::memchr(data, '\n', size));
  const std::size_t first = eol ? static_cast<std::size_t>(eol - reinterpret_cast<const char *>(data)) : size;
  const std::string fixed = path + ".fixed";
  tesmar::translate::IgesFile file;
  bool readable = true;
  if (first > 72 && data[72] == 'C')
    readable = tesmar::translate::expand_compressed_iges(path.c_str(), "fuzz", fixed.c_str(), &file);
  if (readable && mda_AllocateModel(MDA_KEEP_CURRENT | MDA_MEMORY_ONLY, &def, &model) == 0) {
    tesmar::translate::read_iges(first > 72 && data[72] == 'C' ? fixed.c_str() : path.c_str(), "fuzz",
                                 model, s->iges, &file, false);
    mda_FreeModel(0, model);
  }
  mpm_DiscardPending(0);
  std::remove(path.c_str());
  std::remove(fixed.c_str());
  return 0;
}
