// What the two restore fuzz targets share: arbitrary bytes restored as a saved-model file of one
// form against a schema of every field kind. A restore succeeds or fails with
// MDA's message and an empty model, never a crash; a model that was restored saves again, and
// that file restores to the same model (both saved files are the same bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ddl.h"
#include "fuzz_support.h"
#include "mda/mda_internal.h"
#include "tesmar/tesmar.h"

namespace restore_fuzz {

constexpr const char *kEvery =
    "database \"every\" version 2 release 3;\n"
    "entity item 1:0 {\n"
    "  short s; int i; long l; char c; float f; double d;\n"
    "  fstring(6) code; vstring text; ptr(any) link;\n"
    "  int fixed[3];\n"
    "  count n; double values[n]; ptr(any) links[n];\n"
    "  int open[];\n"
    "  double grid[][3];\n"
    "  double rows[][2] variable;\n"
    "  struct pairs[2] { int a; vstring b; }\n"
    "  struct pts[] { double x; double y; }\n"
    "  union u { int k; double r; fstring(4) w; }\n"
    "  vstring later since 2.3;\n"
    "}\n"
    "entity holder 2:0 { subent item inner; ptr(item) of; }\n";

ddf_Schema *schema() {
  static ddf_Schema *s = [] {
    tesmar::ddl::Image image;
    tesmar::ddl::Diagnostic error;
    if (!tesmar::ddl::compile(kEvery, "every.ddl", &image, &error)) std::abort();
    const tesmar::fuzz::Scratch file("restore-schema");
    std::string why;
    ddf_Schema *read = nullptr;
    if (!tesmar::ddl::write_file(image, file.path(), &why) || ddf_ReadBinaryDDF(0, file.path(), &read) != 0)
      std::abort();
    return read;
  }();
  return s;
}

int32_t model() {
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  def.schema = schema();
  def.back_ptrs = 1;
  int32_t m = 0;
  if (mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &m) != 0) std::abort();
  return m;
}

std::string read_all(const char *path) {
  std::string out;
  if (std::FILE *f = std::fopen(path, "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    std::fclose(f);
  }
  return out;
}

}  // namespace restore_fuzz

using namespace restore_fuzz;

inline int restore_one(const uint8_t *data, std::size_t size, uint32_t form) {
  tesmar::fuzz::start_library();
  static const tesmar::fuzz::Scratch input("restore-in"), first("restore-first"), second("restore-second");
  if (!input.write(data, size)) return 0;
  const int32_t m = model();
  if (mda_RestoreModel(form, input.path(), 0, &m) == 0) {
    std::remove(first.path());
    if (mda_SaveModel(form, first.path(), 0, &m) != 0) std::abort();
    mda_FreeModel(0, m);
    const int32_t again = model();  // the same number: pointers and the text header name it
    if (again != m || mda_RestoreModel(form, first.path(), 0, &again) != 0) std::abort();
    std::remove(second.path());
    if (mda_SaveModel(form, second.path(), 0, &again) != 0) std::abort();
    if (read_all(first.path()) != read_all(second.path())) std::abort();
  } else if (tesmar::mda::model_in_use(m)->live_count != 0) {
    std::abort();  // a failed restore leaves the model empty
  }
  mda_FreeModel(0, m);
  mpm_DiscardPending(0);
  return 0;
}
