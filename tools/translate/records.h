// The entity layouts of the translator's two schemas (samples/iges.ddl and samples/dxf.ddl), as
// the schema compiler lays them out. schemas.cpp checks every size against the compiled schema
// when the translator starts, so a schema edited without this file fails at once and plainly.
#pragma once

#include <cstdint>

#include "tesmar/tesmar.h"

namespace tesmar::translate {

// ---- IGES (samples/iges.ddl) ----

struct Directory {
  int32_t type, form, sequence, level, color, font, weight, status;
  db_ptr transform, color_def;
  char label[8];
  int32_t subscript, damaged;
};

struct IgesEntity {
  mda_EntityHeader header;
  Directory de;
};

struct IgesArc : IgesEntity {
  double zt, center[2], start[2], end[2];
};
struct IgesComposite : IgesEntity {
  int32_t n;
  db_ptr *curves;
};
struct IgesConic : IgesEntity {
  double coefficients[6], zt, start[2], end[2];
};
struct IgesCopious : IgesEntity {
  int32_t n;
  double (*points)[3];
};
struct IgesLine : IgesEntity {
  double start[3], end[3];
};
struct IgesPoint : IgesEntity {
  double at[3];
  db_ptr symbol;
};
struct IgesMatrix : IgesEntity {
  double r[3][3], t[3];
};
struct IgesBspline : IgesEntity {
  int32_t degree, planar, closed, polynomial, periodic, nknots, ncontrol;
  double *knots, *weights, (*control)[3];
  double range[2], normal[3];
};
struct IgesNoteString {
  double width, height, slant, rotation, at[3];
  int32_t font, mirror;
  char *text;
};
struct IgesNote : IgesEntity {
  int32_t n;
  IgesNoteString *strings;
};
struct IgesSubfigure : IgesEntity {
  int32_t depth;
  char *name;
  int32_t n;
  db_ptr *members;
};
struct IgesColor : IgesEntity {
  double rgb[3];
  char *name;
};
struct IgesGroup : IgesEntity {
  int32_t n;
  db_ptr *members;
};
struct IgesLevelName : IgesEntity {
  int32_t code;
  char *name;
};
struct IgesInstance : IgesEntity {
  db_ptr definition;
  double at[3], scale;
};
struct IgesBoundary : IgesEntity {
  int32_t kind, preferred;
  db_ptr surface;
  int32_t n;
  db_ptr *curves;
};
struct IgesCurveOnSurface : IgesEntity {
  int32_t how;
  db_ptr surface, parameter_curve, model_curve;
  int32_t preferred;
};
struct IgesBoundedSurface : IgesEntity {
  int32_t kind;
  db_ptr surface;
  int32_t n;
  db_ptr *boundaries;
};
struct IgesEdgeList : IgesEntity {
  int32_t n;
  db_ptr *curves;
};
struct IgesTrimmedSurface : IgesEntity {
  db_ptr surface;
  int32_t outer_is_boundary, n;
  db_ptr outer, *inner;
};

// ---- DXF (samples/dxf.ddl) ----

struct Properties {
  db_ptr owner;  // the block; 0: model space
  char *layer;
  int32_t color, source;
  int32_t root;        // the directory entry of the entity drawn on its own that it was drawn for
  int32_t linetype;    // 0: by layer; 2 dashed, 3 phantom, 4 centre, 5 dotted (IGES line fonts)
  int32_t lineweight;  // hundredths of a millimetre; -1: by layer
  double extrusion[3];
};
struct DxfEntity {
  mda_EntityHeader header;
  Properties p;
};
struct DxfBlock {
  mda_EntityHeader header;
  char *name;
  double base[3];
};
struct DxfLine : DxfEntity {
  double start[3], end[3];
};
struct DxfPoint : DxfEntity {
  double at[3];
};
struct DxfCircle : DxfEntity {
  double center[3], radius;
};
struct DxfArc : DxfEntity {
  double center[3], radius, start_angle, end_angle;
};
struct DxfLwPolyline : DxfEntity {
  int32_t closed;
  double elevation;
  int32_t n;
  double (*points)[2];
};
struct DxfPolyline : DxfEntity {
  int32_t closed, n;
  double (*points)[3];
};
struct DxfSpline : DxfEntity {
  int32_t degree, flags, nknots, ncontrol;
  double *knots, *weights, (*control)[3];
};
struct DxfText : DxfEntity {
  double at[3], height, rotation;
  char *text;
};
struct DxfInsert : DxfEntity {
  db_ptr block;
  double at[3], scale, zscale, rotation;  // zscale: -scale for a mirrored instance
};

// Type numbers (the form is 0 unless named).
namespace iges {
constexpr uint32_t tf(uint32_t type, uint32_t form = 0) { return type << 16 | form; }
constexpr uint32_t kUnsupported = tf(65000);
}  // namespace iges
namespace dxf {
constexpr uint32_t kBlock = 1u << 16, kLine = 10u << 16, kPoint = 11u << 16, kCircle = 12u << 16,
                   kArc = 13u << 16, kLwPolyline = 14u << 16, kPolyline = 15u << 16,
                   kSpline = 16u << 16, kText = 17u << 16, kInsert = 18u << 16;
}  // namespace dxf

}  // namespace tesmar::translate
