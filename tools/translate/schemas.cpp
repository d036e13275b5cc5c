// The translator's schemas: compiled from the bundled schema texts when the translator starts and
// read back through the library's schema reader, so the translator uses exactly what a saved-model
// file or another program would. Every entity layout of records.h is checked against them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ddl.h"
#include "records.h"
#include "translate.h"

namespace tesmar::translate {

extern const char k_iges_ddl[], k_dxf_ddl[], k_translate_ddl[];

namespace {

ddf_Schema *compile(const char *text, const char *name, std::string *why) {
  tesmar::ddl::Image image;
  tesmar::ddl::Diagnostic error;
  if (!tesmar::ddl::compile(text, name, &image, &error)) {
    *why = std::string(name) + ":" + std::to_string(error.line) + ": " + error.message;
    return nullptr;
  }
  const char *base = std::getenv("TMPDIR");
  const std::string path = std::string(base != nullptr && *base ? base : "/tmp") +
                           "/tesmar-translate-" + std::to_string(getpid()) + "-" + name + ".ddf";
  ddf_Schema *schema = nullptr;
  if (!tesmar::ddl::write_file(image, path, why)) return nullptr;
  if (ddf_ReadBinaryDDF(0, path.c_str(), &schema) != 0) *why = std::string("cannot read ") + name;
  std::remove(path.c_str());
  return schema;
}

struct Layout {
  uint32_t tf;
  std::size_t size;
};

bool check_layouts(const ddf_Schema *schema, const Layout *layouts, std::size_t count,
                   std::string *why) {
  for (std::size_t i = 0; i < count; ++i) {
    bool found = false;
    for (int32_t k = 0; k < schema->tf_count; ++k) {
      if (schema->typeforms[k] != layouts[i].tf) continue;
      found = true;
      const std::size_t size = (layouts[i].size + 7) / 8 * 8;
      if (static_cast<std::size_t>(schema->ent_sizes[k]) != size) {
        *why = std::string("entity ") + schema->ent_names[k] + " of the schema is " +
               std::to_string(schema->ent_sizes[k]) + " bytes; the translator expects " +
               std::to_string(size);
        return false;
      }
    }
    if (!found) {
      *why = "the schema lacks type form " + std::to_string(layouts[i].tf >> 16) + ":" +
             std::to_string(layouts[i].tf & 0xFFFF);
      return false;
    }
  }
  return true;
}

}  // namespace

bool load_schemas(Schemas *s, std::string *why) {
  using iges::tf;
  static const Layout kIges[] = {
      {iges::kUnsupported, sizeof(IgesEntity)}, {tf(100), sizeof(IgesArc)},
      {tf(102), sizeof(IgesComposite)},         {tf(104), sizeof(IgesConic)},
      {tf(106, 1), sizeof(IgesCopious)},        {tf(106, 2), sizeof(IgesCopious)},
      {tf(106, 3), sizeof(IgesCopious)},        {tf(106, 11), sizeof(IgesCopious)},
      {tf(106, 12), sizeof(IgesCopious)},       {tf(106, 13), sizeof(IgesCopious)},
      {tf(106, 63), sizeof(IgesCopious)},       {tf(110), sizeof(IgesLine)},
      {tf(116), sizeof(IgesPoint)},             {tf(124), sizeof(IgesMatrix)},
      {tf(126), sizeof(IgesBspline)},           {tf(212), sizeof(IgesNote)},
      {tf(308), sizeof(IgesSubfigure)},         {tf(314), sizeof(IgesColor)},
      {tf(402), sizeof(IgesGroup)},             {tf(406, 3), sizeof(IgesLevelName)},
      {tf(408), sizeof(IgesInstance)},          {tf(141), sizeof(IgesBoundary)},
      {tf(142), sizeof(IgesCurveOnSurface)},    {tf(143), sizeof(IgesBoundedSurface)},
      {tf(144), sizeof(IgesTrimmedSurface)}, {tf(504, 1), sizeof(IgesEdgeList)}};
  static const Layout kDxf[] = {
      {dxf::kBlock, sizeof(DxfBlock)},       {dxf::kLine, sizeof(DxfLine)},
      {dxf::kPoint, sizeof(DxfPoint)},       {dxf::kCircle, sizeof(DxfCircle)},
      {dxf::kArc, sizeof(DxfArc)},           {dxf::kLwPolyline, sizeof(DxfLwPolyline)},
      {dxf::kPolyline, sizeof(DxfPolyline)}, {dxf::kSpline, sizeof(DxfSpline)},
      {dxf::kText, sizeof(DxfText)},         {dxf::kInsert, sizeof(DxfInsert)}};
  s->iges = compile(k_iges_ddl, "iges", why);
  if (s->iges == nullptr || !check_layouts(s->iges, kIges, std::size(kIges), why)) return false;
  s->dxf = compile(k_dxf_ddl, "dxf", why);
  if (s->dxf == nullptr || !check_layouts(s->dxf, kDxf, std::size(kDxf), why)) return false;
  s->settings = compile(k_translate_ddl, "translate", why);
  return s->settings != nullptr;
}

void free_schemas(Schemas *s) {
  for (ddf_Schema *p : {s->iges, s->dxf, s->settings})
    if (p != nullptr) ddf_FreeSchema(0, p);
  *s = {};
}

}  // namespace tesmar::translate
