// The mappings from IGES entities to DXF entities, defined in a mapping environment and run by
// the mapping engine. Each supported IGES type has a list: a mapping that makes the DXF entity in
// the target model (geometry placed through the entity's transformation matrices, layer and
// colour from its directory entry), then one that scales it to the output's units (parameter
// TRN_SCALE) and commits it where it stands. Arcs and copious data go through conditionals that
// pick the DXF entity; composite curves, subfigures and surface boundaries dispatch their parts.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "geometry.h"
#include "messages.h"
#include "records.h"
#include "translate.h"

namespace tesmar::translate {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxNesting = 32;  // parts inside parts (composite curves, subfigures, boundaries)

// The run's state, which the mapping functions share: the translator, and the placement and
// owning block of the parts being dispatched.
Translator *g_t = nullptr;
Placement g_outer;
db_ptr g_owner = 0;
int32_t g_root = 0;  // the directory entry of the entity run_mappings dispatched
int g_nesting = 0;
double g_scale = 1.0;          // TRN_SCALE's default
int32_t g_conic_segments = 64;  // TRN_CONIC_SEGMENTS's default

// A locked source entity, unlocked when it goes.
template <class T>
struct Locked {
  T *e = nullptr;
  db_ptr h;
  explicit Locked(db_ptr handle) : h(handle) {
    void *m = nullptr;
    if (mda_LockEntity(0, h, &m) == 0) e = static_cast<T *>(m);
  }
  ~Locked() {
    if (e != nullptr) mda_UnlockEntity(0, h);
  }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;
};

uint32_t tf_of(db_ptr h) {
  int32_t type = 0, form = 0;
  if (h == 0 || mda_GetPtrTF(h, &type, &form) != 0) return 0;
  return static_cast<uint32_t>(type) << 16 | (static_cast<uint32_t>(form) & 0xFFFF);
}

mpm_Status fault(db_ptr h, const Directory &d, const std::string &what, uint32_t severity = MPM_WARNING) {
  mpm_ReportMessage(0, TRN_ENTITY, severity, h, iges::tf(static_cast<uint32_t>(d.type),
                                                            static_cast<uint32_t>(d.form) & 0xFFFF),
                    d.sequence, what.c_str());
  return TRN_ENTITY;
}

// The placement of an entity: its chain of transformation matrices, inside the outer placement.
// Null, or why the entity cannot be placed.
const char *placement(const Directory &d, Placement *out) {
  if (d.damaged) return "its parameter data is damaged; it is not translated";
  Placement chain;
  db_ptr m = d.transform;
  for (int depth = 0; m != 0; ++depth) {
    if (depth == kMaxNesting) return "its transformation matrices are chained in a circle";
    if (tf_of(m) != iges::tf(124)) return "its transformation matrix pointer points to no matrix";
    Locked<IgesMatrix> x(m);
    if (x.e == nullptr || x.e->de.damaged) return "its transformation matrix is damaged";
    Placement p;
    std::memcpy(p.r, x.e->r, sizeof p.r);
    std::memcpy(p.t, x.e->t, sizeof p.t);
    chain = p.after(chain);
    m = x.e->de.transform;
  }
  *out = g_outer.after(chain);
  return nullptr;
}

// A source entity locked for a mapping, with its placement; `status` says why it cannot be
// mapped (its fault reported) or is 0.
template <class T>
struct Placed {
  Locked<T> x;
  Placement p;
  mpm_Status status = 0;
  explicit Placed(db_ptr h) : x(h) {
    if (x.e == nullptr) status = MAP_INVALID_PTR;
    else if (const char *why = placement(x.e->de, &p)) status = fault(h, x.e->de, why);
  }
};

// IGES colour numbers (1 black ... 8 white) and colour definitions as ACI colours.
int aci(const Directory &d) {
  static const int kNumbers[] = {256, 7, 1, 3, 5, 2, 6, 4, 7};
  if (d.color >= 0) return d.color <= 8 ? kNumbers[d.color] : 256;
  if (d.color_def == 0 || tf_of(d.color_def) != iges::tf(314)) return 256;
  Locked<IgesColor> c(d.color_def);
  if (c.e == nullptr) return 256;
  // The nearest of the basic colours.
  static const double kRgb[][3] = {{100, 0, 0}, {100, 100, 0}, {0, 100, 0}, {0, 100, 100},
                                   {0, 0, 100}, {100, 0, 100}, {100, 100, 100}};
  int best = 7;
  double nearest = 1e300;
  for (int i = 0; i < 7; ++i) {
    const double dist = mth_SquaredDistance(3, kRgb[i], c.e->rgb);
    if (dist < nearest) nearest = dist, best = i + 1;
  }
  return best;
}

// An IGES line weight number as a DXF line weight: the nearest of the widths DXF allows.
int32_t lineweight(int32_t weight) {
  static const int32_t kWeights[] = {0,  5,  9,  13, 15, 18, 20,  25,  30,  35,  40,  50,
                                     53, 60, 70, 80, 90, 100, 106, 120, 140, 158, 200, 211};
  const double want = weight * g_t->weight_mm * 100;
  if (weight <= 0 || !(want > 0)) return -1;
  int32_t best = kWeights[0];
  for (int32_t w : kWeights)
    if (std::fabs(w - want) < std::fabs(best - want)) best = w;
  return best;
}

std::string layer(const Directory &d) {
  if (d.level <= 0) return "0";
  if (g_t->settings.layers_by_name) {
    auto it = g_t->level_names.find(d.level);
    if (it != g_t->level_names.end()) return it->second;
  }
  return "LEVEL_" + std::to_string(d.level);
}

// A new DXF entity of the target model with the properties of the IGES entity's directory entry.
template <class T>
T *make(map_Context *c, uint32_t tf, const Directory &d, const double normal[3], db_ptr *h) {
  void *m = nullptr;
  if (mda_AllocateEntity(0, c->target_model, tf, &m, h) != 0) return nullptr;
  auto *e = static_cast<T *>(m);
  e->p.owner = g_owner;
  e->p.color = aci(d);
  e->p.source = d.sequence;
  e->p.root = g_root;
  e->p.linetype = d.font >= 2 && d.font <= 5 ? d.font : 0;  // 1 solid: the layer's, continuous
  e->p.lineweight = lineweight(d.weight);
  for (int i = 0; i < 3; ++i) e->p.extrusion[i] = normal != nullptr ? normal[i] : (i == 2);
  const std::string name = layer(d);
  if (mda_SetString(0, m, name.c_str(), &e->p.layer) != 0) {
    mda_UnlockEntity(0, *h);
    mda_DeleteEntity(0, *h);
    return nullptr;
  }
  return e;
}

bool finite(const double *v, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}
template <int N>
bool finite(const double (*points)[N], int32_t n) {  // points may be null when n is 0
  for (int32_t i = 0; i < n; ++i)
    if (!finite(points[i], N)) return false;
  return true;
}

// Whether every number of a made DXF entity is finite: placing and scaling finite IGES numbers
// can overflow.
bool finite(const DxfEntity &x) {
  if (!finite(x.p.extrusion, 3)) return false;
  switch (x.header.tf) {
    case dxf::kLine: {
      const auto &o = static_cast<const DxfLine &>(x);
      return finite(o.start, 3) && finite(o.end, 3);
    }
    case dxf::kPoint: return finite(static_cast<const DxfPoint &>(x).at, 3);
    case dxf::kCircle: {
      const auto &o = static_cast<const DxfCircle &>(x);
      return finite(o.center, 3) && std::isfinite(o.radius);
    }
    case dxf::kArc: {
      const auto &o = static_cast<const DxfArc &>(x);
      return finite(o.center, 3) && std::isfinite(o.radius) && std::isfinite(o.start_angle) &&
             std::isfinite(o.end_angle);
    }
    case dxf::kLwPolyline: {
      const auto &o = static_cast<const DxfLwPolyline &>(x);
      return std::isfinite(o.elevation) && finite(o.points, o.n);
    }
    case dxf::kPolyline: {
      const auto &o = static_cast<const DxfPolyline &>(x);
      return finite(o.points, o.n);
    }
    case dxf::kSpline: {
      const auto &o = static_cast<const DxfSpline &>(x);
      return finite(o.knots, o.nknots) && finite(o.control, o.ncontrol) &&
             (!(o.flags & 4) || finite(o.weights, o.ncontrol));
    }
    case dxf::kText: {
      const auto &o = static_cast<const DxfText &>(x);
      return finite(o.at, 3) && std::isfinite(o.height) && std::isfinite(o.rotation);
    }
    case dxf::kInsert: {
      const auto &o = static_cast<const DxfInsert &>(x);
      return finite(o.at, 3) && std::isfinite(o.scale) && std::isfinite(o.zscale) &&
             std::isfinite(o.rotation);
    }
    default: return true;
  }
}

constexpr const char *kOverflow = "its numbers overflow once it is placed and scaled; it is not translated";

// Unlocks a made entity and takes it on through the engine. One whose numbers overflowed is
// deleted instead, with an error: a DXF file cannot hold it.
mpm_Status done(db_ptr h, db_ptr made, const DxfEntity *o, map_Context *c, const Directory &d) {
  if (!finite(*o)) {
    mda_UnlockEntity(0, made);
    mda_DeleteEntity(0, made);
    ++g_t->counts.skipped[d.type];
    ++g_t->counts.errors;
    return fault(h, d, kOverflow, MPM_ERROR);
  }
  mda_UnlockEntity(MDA_MODIFIED, made);
  ++g_t->counts.translated[d.type];
  return map_ProcessEntity(0, made, c);
}

mpm_Status no_memory(db_ptr h, const Directory &d) { return fault(h, d, "no memory for its DXF entity"); }

bool unit_normal(const double n[3]) { return std::fabs(n[0]) < 1e-12 && std::fabs(n[1]) < 1e-12 && n[2] > 0; }

// Dispatches a part of an entity (a composite's curve, a subfigure's member, a boundary's curve)
// with the entity's placement around it.
mpm_Status dispatch_part(db_ptr part, db_ptr parent, const Directory &d, const Placement &outer,
                         map_Context *c) {
  if (part == 0) return 0;
  if (g_nesting >= kMaxNesting) return fault(parent, d, "its parts nest too deeply (a cycle?)");
  const Placement saved = g_outer;
  g_outer = outer;
  ++g_nesting;
  map_Context nested;
  map_InitContext(0, &nested);
  nested.env = c->env;
  nested.depth = c->depth;
  const mpm_Status s = map_DispatchEntity(part, &nested);
  --g_nesting;
  g_outer = saved;
  if (s == MAP_NO_MAPPING) {
    char what[96];
    std::snprintf(what, sizeof what, "a part of type %u is not a kind it can hold, or not translated",
                  tf_of(part) >> 16);
    return fault(parent, d, what);
  }
  return s;
}

// ---- the mappings that make DXF entities ----

mpm_Status line(db_ptr h, map_Context *c) {
  Placed<IgesLine> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  db_ptr made = 0;
  auto *o = make<DxfLine>(c, dxf::kLine, x.e->de, nullptr, &made);
  if (o == nullptr) return no_memory(h, x.e->de);
  p.point(x.e->start, o->start), p.point(x.e->end, o->end);
  return done(h, made, o, c, x.e->de);
}

mpm_Status point(db_ptr h, map_Context *c) {
  Placed<IgesPoint> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  db_ptr made = 0;
  auto *o = make<DxfPoint>(c, dxf::kPoint, x.e->de, nullptr, &made);
  if (o == nullptr) return no_memory(h, x.e->de);
  p.point(x.e->at, o->at);
  return done(h, made, o, c, x.e->de);
}

// Arcs: a full turn is a circle, anything else an arc; both in the object coordinate system of
// the placed definition plane.
bool full_circle(const IgesArc &a) {
  return std::fabs(a.start[0] - a.end[0]) <= 1e-12 * (1 + std::fabs(a.start[0])) &&
         std::fabs(a.start[1] - a.end[1]) <= 1e-12 * (1 + std::fabs(a.start[1]));
}

mpm_Status arc_choice(db_ptr h, map_Context *c) {
  bool full = false;
  {
    Locked<IgesArc> x(h);
    if (x.e == nullptr) return MAP_INVALID_PTR;
    full = full_circle(*x.e);
  }
  return map_InvokeMapping(full ? "IGES arc as circle" : "IGES arc as arc", h, c);
}

struct PlacedArc {
  double center[3], radius, start, end, normal[3];
};

bool place_arc(const IgesArc &a, const Placement &p, PlacedArc *out) {
  const double c[3] = {a.center[0], a.center[1], a.zt}, s[3] = {a.start[0], a.start[1], a.zt},
               e[3] = {a.end[0], a.end[1], a.zt};
  double wc[3], ws[3], we[3];
  p.point(c, wc), p.point(s, ws), p.point(e, we);
  p.normal(out->normal);
  const Ocs ocs(out->normal);
  double oc[3], os[3], oe[3];
  ocs.from_world(wc, oc), ocs.from_world(ws, os), ocs.from_world(we, oe);
  std::memcpy(out->center, oc, sizeof oc);
  out->radius = std::hypot(os[0] - oc[0], os[1] - oc[1]);
  out->start = std::atan2(os[1] - oc[1], os[0] - oc[0]) * 180 / kPi;
  out->end = std::atan2(oe[1] - oc[1], oe[0] - oc[0]) * 180 / kPi;
  if (out->start < 0) out->start += 360;
  if (out->end < 0) out->end += 360;
  return out->radius > 0;
}

mpm_Status arc_as(db_ptr h, map_Context *c, bool circle) {
  Placed<IgesArc> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  PlacedArc a;
  if (!place_arc(*x.e, p, &a)) return fault(h, x.e->de, "its radius is zero");
  db_ptr made = 0;
  DxfEntity *made_entity = nullptr;
  if (circle) {
    auto *o = make<DxfCircle>(c, dxf::kCircle, x.e->de, a.normal, &made);
    if (o == nullptr) return no_memory(h, x.e->de);
    std::memcpy(o->center, a.center, sizeof a.center);
    o->radius = a.radius;
    made_entity = o;
  } else {
    auto *o = make<DxfArc>(c, dxf::kArc, x.e->de, a.normal, &made);
    if (o == nullptr) return no_memory(h, x.e->de);
    std::memcpy(o->center, a.center, sizeof a.center);
    o->radius = a.radius, o->start_angle = a.start, o->end_angle = a.end;
    made_entity = o;
  }
  return done(h, made, made_entity, c, x.e->de);
}
mpm_Status arc_as_circle(db_ptr h, map_Context *c) { return arc_as(h, c, true); }
mpm_Status arc_as_arc(db_ptr h, map_Context *c) { return arc_as(h, c, false); }

// Copious data: points in one plane parallel to the definition plane are a lightweight polyline
// in the placed plane's coordinate system; others a 3D polyline.
bool planar(const IgesCopious &x) {
  for (int32_t i = 1; i < x.n; ++i)
    if (x.points[i][2] != x.points[0][2]) return false;
  return true;
}

mpm_Status copious_choice(db_ptr h, map_Context *c) {
  bool flat = false;
  {
    Locked<IgesCopious> x(h);
    if (x.e == nullptr) return MAP_INVALID_PTR;
    if (x.e->n < 2) return fault(h, x.e->de, "it has fewer than two points");
    flat = planar(*x.e);
  }
  return map_InvokeMapping(flat ? "IGES copious data as LWPOLYLINE" : "IGES copious data as POLYLINE",
                           h, c);
}

mpm_Status polyline_2d(db_ptr h, map_Context *c, const Directory &d, const Placement &p,
                       const double (*points)[3], int32_t n, bool closed) {
  double normal[3];
  p.normal(normal);
  const Ocs ocs(normal);
  db_ptr made = 0;
  auto *o = make<DxfLwPolyline>(c, dxf::kLwPolyline, d, normal, &made);
  if (o == nullptr) return no_memory(h, d);
  if (mda_Malloc(0, o, static_cast<uint32_t>(sizeof(double[2]) * n), &o->points) != 0) {
    mda_UnlockEntity(0, made);
    mda_DeleteEntity(0, made);
    return no_memory(h, d);
  }
  o->n = n;
  o->closed = closed;
  for (int32_t i = 0; i < n; ++i) {
    double w[3], v[3];
    p.point(points[i], w);
    ocs.from_world(w, v);
    o->points[i][0] = v[0], o->points[i][1] = v[1];
    if (i == 0) o->elevation = v[2];
  }
  return done(h, made, o, c, d);
}

mpm_Status copious_as_lwpolyline(db_ptr h, map_Context *c) {
  Placed<IgesCopious> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  return polyline_2d(h, c, x.e->de, p, x.e->points, x.e->n, x.e->de.form == 63);
}

mpm_Status copious_as_polyline(db_ptr h, map_Context *c) {
  Placed<IgesCopious> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  db_ptr made = 0;
  auto *o = make<DxfPolyline>(c, dxf::kPolyline, x.e->de, nullptr, &made);
  if (o == nullptr) return no_memory(h, x.e->de);
  if (mda_Malloc(0, o, static_cast<uint32_t>(sizeof(double[3]) * x.e->n), &o->points) != 0) {
    mda_UnlockEntity(0, made);
    mda_DeleteEntity(0, made);
    return no_memory(h, x.e->de);
  }
  o->n = x.e->n;
  o->closed = x.e->de.form == 63;
  for (int32_t i = 0; i < x.e->n; ++i) p.point(x.e->points[i], o->points[i]);
  return done(h, made, o, c, x.e->de);
}

// A conic A x^2 + B x y + C y^2 + D x + E y + F = 0 brought to standard position: its axes along X
// and Y, its centre (or a parabola's vertex) at the origin. A point (X, Y) of the standard frame is
// (cx, cy) + R(turn) (X, Y) in the conic's own. A conic that already is in standard position keeps
// its coefficients and points exactly.
struct StandardConic {
  double A, C, D, E, F, cos, sin, cx, cy;

  explicit StandardConic(const double k[6]) {
    const double turn = k[1] == 0 ? 0.0 : 0.5 * std::atan2(k[1], k[0] - k[2]);
    cos = k[1] == 0 ? 1.0 : std::cos(turn), sin = k[1] == 0 ? 0.0 : std::sin(turn);
    const double c = cos, s = sin;
    A = k[0] * c * c + k[1] * c * s + k[2] * s * s;
    C = k[0] * s * s - k[1] * c * s + k[2] * c * c;
    D = k[3] * c + k[4] * s;
    E = -k[3] * s + k[4] * c;
    const double tiny = 1e-12 * std::max(std::fabs(A), std::fabs(C));
    if (std::fabs(A) <= tiny) A = 0;
    if (std::fabs(C) <= tiny) C = 0;
    const double x0 = A != 0 ? -D / (2 * A) : 0.0, q = A * x0 * x0 + D * x0 + k[5];
    double y0 = C != 0 ? -E / (2 * C) : 0.0;
    if (C == 0 && E != 0) y0 = -q / E;  // a parabola's vertex
    F = C == 0 && E != 0 ? 0.0 : q + C * y0 * y0 + E * y0;
    double x1 = x0;
    if (A == 0 && D != 0) x1 = -(C * y0 * y0 + E * y0 + k[5]) / D, F = 0.0;
    if (A != 0) D = 0;
    if (C != 0) E = 0;
    cx = c * x1 - s * y0, cy = s * x1 + c * y0;
    const double all[] = {A, C, D, E, F, cos, sin, cx, cy};
    if (!std::all_of(std::begin(all), std::end(all), [](double v) { return std::isfinite(v); }))
      *this = StandardConic();  // no conic: its ends are joined where they are
  }
  StandardConic() : A(0), C(0), D(0), E(0), F(0), cos(1), sin(0), cx(0), cy(0) {}
  void to_standard(double x, double y, double *X, double *Y) const {
    *X = cos * (x - cx) + sin * (y - cy), *Y = -sin * (x - cx) + cos * (y - cy);
  }
  void from_standard(double X, double Y, double *x, double *y) const {
    *x = cx + cos * X - sin * Y, *y = cy + sin * X + cos * Y;
  }
};

// Conic arcs, as lightweight polylines of TRN_CONIC_SEGMENTS segments.
mpm_Status conic(db_ptr h, map_Context *c) {
  Placed<IgesConic> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  int32_t segments = g_conic_segments;
  map_GetParameter(MAP_GET_DEFAULT, c->operation, TRN_CONIC_SEGMENTS, &segments);
  segments = std::clamp(segments, 2, 4096);
  const StandardConic k(x.e->coefficients);
  const double A = k.A, C = k.C, D = k.D, E = k.E, F = k.F;  // no xy term in standard position
  std::vector<double> pts(3 * static_cast<std::size_t>(segments + 1));
  auto put = [&](int i, double px, double py) {
    k.from_standard(px, py, &pts[3 * i], &pts[3 * i + 1]);
    pts[3 * i + 2] = x.e->zt;
  };
  double x1, y1, x2, y2;
  k.to_standard(x.e->start[0], x.e->start[1], &x1, &y1);
  k.to_standard(x.e->end[0], x.e->end[1], &x2, &y2);
  bool ok = true;
  if (ok && D == 0 && E == 0 && A * C > 0 && F * A < 0) {  // ellipse x^2/a^2 + y^2/b^2 = 1
    const double a = std::sqrt(-F / A), b = std::sqrt(-F / C);
    double t1 = std::atan2(y1 / b, x1 / a), t2 = std::atan2(y2 / b, x2 / a);
    if (t2 <= t1) t2 += 2 * kPi;
    for (int i = 0; i <= segments; ++i) {
      const double t = t1 + (t2 - t1) * i / segments;
      put(i, a * std::cos(t), b * std::sin(t));
    }
  } else if (ok && D == 0 && E == 0 && A * C < 0 && F != 0) {  // hyperbola
    const bool along_x = -F / A > 0;  // x^2/a^2 - y^2/b^2 = 1
    for (int i = 0; i <= segments; ++i) {
      if (along_x) {
        const double y = y1 + (y2 - y1) * i / segments;
        put(i, (x1 < 0 ? -1 : 1) * std::sqrt((-F - C * y * y) / A), y);
      } else {
        const double xx = x1 + (x2 - x1) * i / segments;
        put(i, xx, (y1 < 0 ? -1 : 1) * std::sqrt((-F - A * xx * xx) / C));
      }
    }
  } else if (ok && F == 0 && ((A != 0 && C == 0 && D == 0 && E != 0) || (C != 0 && A == 0 && E == 0 && D != 0))) {
    for (int i = 0; i <= segments; ++i) {  // parabola y = -A x^2 / E, or x = -C y^2 / D
      if (A != 0) {
        const double xx = x1 + (x2 - x1) * i / segments;
        put(i, xx, -A * xx * xx / E);
      } else {
        const double y = y1 + (y2 - y1) * i / segments;
        put(i, -C * y * y / D, y);
      }
    }
  } else if (D == 0 && E == 0 && F == 0 && A * C < 0) {  // two lines crossing at the centre
    const double m = std::sqrt(-A / C);                   // Y = m X and Y = -m X
    auto on_rising = [m](double X, double Y) { return std::fabs(Y - m * X) <= std::fabs(Y + m * X); };
    const bool one_line = on_rising(x1, y1) == on_rising(x2, y2);
    segments = one_line ? 1 : 2;  // from the start to the end, through the centre if it must
    put(0, x1, y1);
    if (!one_line) put(1, 0, 0);
    put(segments, x2, y2);
  } else {
    ok = false;
  }
  if (!ok) {
    fault(h, x.e->de, "it is not an ellipse, a hyperbola, a parabola or two crossing lines; a line joins its ends");
    segments = 1;
    put(0, x1, y1), put(1, x2, y2);
  }
  return polyline_2d(h, c, x.e->de, p, reinterpret_cast<const double(*)[3]>(pts.data()),
                     segments + 1, false);
}

mpm_Status bspline(db_ptr h, map_Context *c) {
  Locked<IgesBspline> x(h);
  if (x.e == nullptr) return MAP_INVALID_PTR;
  if (x.e->ncontrol < 2 || x.e->degree < 1 || x.e->nknots != x.e->ncontrol + x.e->degree + 1)
    return fault(h, x.e->de, "its knots and control points do not make a curve");
  Placement p;
  if (const char *why = placement(x.e->de, &p)) return fault(h, x.e->de, why);
  Spline curve;
  curve.degree = x.e->degree;
  curve.knots.assign(x.e->knots, x.e->knots + x.e->nknots);
  for (int32_t i = 0; i < x.e->ncontrol; ++i) {
    const double w = x.e->weights[i];
    if (!(w > 0)) return fault(h, x.e->de, "a weight is not positive");
    curve.points.push_back({w * x.e->control[i][0], w * x.e->control[i][1], w * x.e->control[i][2], w});
  }
  const auto finite = [](double k) { return std::isfinite(k); };
  if (!std::all_of(curve.knots.begin(), curve.knots.end(), finite) ||
      !std::is_sorted(curve.knots.begin(), curve.knots.end()) || !(curve.low() < curve.high()))
    return fault(h, x.e->de, "its knots do not rise");
  // The curve is the part of the knots' domain between its parameters V0 and V1.
  const double v0 = std::max(x.e->range[0], curve.low()), v1 = std::min(x.e->range[1], curve.high());
  const bool whole = (v0 <= curve.low() && v1 >= curve.high()) || !(v0 < v1);
  if (!whole) curve.cut(v0, v1);  // degree insertions at most at each end (the reader allows 64)
  else if (!(v0 < v1)) fault(h, x.e->de, "its parameter range is empty; the whole curve is written");
  db_ptr made = 0;
  auto *o = make<DxfSpline>(c, dxf::kSpline, x.e->de, nullptr, &made);
  if (o == nullptr) return no_memory(h, x.e->de);
  const auto nk = static_cast<uint32_t>(curve.knots.size()), nc = static_cast<uint32_t>(curve.points.size());
  if (mda_Malloc(0, o, 8 * nk, &o->knots) != 0 || mda_Malloc(0, o, 8 * nc, &o->weights) != 0 ||
      mda_Malloc(0, o, 24 * nc, &o->control) != 0) {
    mda_UnlockEntity(0, made);
    mda_DeleteEntity(0, made);
    return no_memory(h, x.e->de);
  }
  o->degree = curve.degree, o->nknots = static_cast<int32_t>(nk), o->ncontrol = static_cast<int32_t>(nc);
  bool rational = false;
  for (uint32_t i = 0; i < nc; ++i) {
    const auto &q = curve.points[i];
    const double cut_at[3] = {q[0] / q[3], q[1] / q[3], q[2] / q[3]};
    p.point(whole ? x.e->control[i] : cut_at, o->control[i]);
    o->weights[i] = q[3];
    rational = rational || q[3] != curve.points[0][3];
  }
  std::copy(curve.knots.begin(), curve.knots.end(), o->knots);
  o->flags = (whole && x.e->closed ? 1 : 0) | (whole && x.e->periodic ? 2 : 0) | (rational ? 4 : 0) |
             (x.e->planar ? 8 : 0);
  return done(h, made, o, c, x.e->de);
}

mpm_Status note(db_ptr h, map_Context *c) {
  Placed<IgesNote> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  const double turn = std::atan2(p.r[1][0], p.r[0][0]);
  mpm_Status status = 0;
  for (int32_t i = 0; i < x.e->n && status == 0; ++i) {
    const IgesNoteString &s = x.e->strings[i];
    if (s.text == nullptr || *s.text == '\0') continue;
    db_ptr made = 0;
    auto *o = make<DxfText>(c, dxf::kText, x.e->de, nullptr, &made);
    if (o == nullptr) return no_memory(h, x.e->de);
    p.point(s.at, o->at);
    o->height = s.height * p.scale();
    o->rotation = (s.rotation + turn) * 180 / kPi;
    if (mda_SetString(0, o, s.text, &o->text) != 0) {
      mda_UnlockEntity(0, made);
      mda_DeleteEntity(0, made);
      return no_memory(h, x.e->de);
    }
    status = done(h, made, o, c, x.e->de);
    --g_t->counts.translated[x.e->de.type];  // one per note, not per string
  }
  ++g_t->counts.translated[x.e->de.type];
  return status;
}

// ---- the mappings that dispatch parts ----

mpm_Status composite(db_ptr h, map_Context *c) {
  Placed<IgesComposite> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  mpm_Status status = 0;
  for (int32_t i = 0; i < x.e->n; ++i)
    if (mpm_Status s = dispatch_part(x.e->curves[i], h, x.e->de, p, c); s != 0 && status == 0) status = s;
  ++g_t->counts.translated[x.e->de.type];
  return status;
}

// The DXF block of a subfigure definition, made (with its members) the first time it is asked for.
db_ptr block_of(db_ptr definition, map_Context *c) {
  auto it = g_t->blocks.find(definition);
  if (it != g_t->blocks.end()) return it->second;
  Locked<IgesSubfigure> x(definition);
  if (x.e == nullptr) return 0;
  g_t->blocks[definition] = 0;  // under way: an instance inside its own definition finds nothing
  std::string name = x.e->name != nullptr ? x.e->name : "";
  for (char &ch : name)
    if (std::strchr("<>/\\\":;?*|=`,", ch) != nullptr || static_cast<unsigned char>(ch) < ' ') ch = '_';
  if (name.empty()) name = "SUBFIGURE";
  name += "_" + std::to_string(x.e->de.sequence);  // unique: no two definitions share a name
  void *m = nullptr;
  db_ptr block = 0;
  if (mda_AllocateEntity(0, g_t->target, dxf::kBlock, &m, &block) != 0) return 0;
  auto *b = static_cast<DxfBlock *>(m);
  mda_SetString(0, m, name.c_str(), &b->name);
  mda_UnlockEntity(MDA_MODIFIED, block);
  Placement inside;  // the members, in the definition's own coordinates
  if (const char *why = placement(x.e->de, &inside)) fault(definition, x.e->de, why);
  const Placement outer = g_outer;
  g_outer = Placement();
  const db_ptr owner = g_owner;
  g_owner = block;
  for (int32_t i = 0; i < x.e->n; ++i) dispatch_part(x.e->members[i], definition, x.e->de, inside, c);
  g_owner = owner;
  g_outer = outer;
  g_t->blocks[definition] = block;
  ++g_t->counts.translated[x.e->de.type];
  return block;
}

mpm_Status subfigure(db_ptr h, map_Context *c) {
  if (g_t->blocks.count(h) != 0) return 0;  // made for an instance already
  return block_of(h, c) != 0 ? 0 : TRN_ENTITY;
}

mpm_Status instance(db_ptr h, map_Context *c) {
  Locked<IgesInstance> x(h);
  if (x.e == nullptr) return MAP_INVALID_PTR;
  if (x.e->definition == 0 || tf_of(x.e->definition) != iges::tf(308))
    return fault(h, x.e->de, "its definition is not a subfigure definition");
  Placement p;
  if (const char *why = placement(x.e->de, &p)) return fault(h, x.e->de, why);
  const db_ptr block = block_of(x.e->definition, c);
  if (block == 0) return fault(h, x.e->de, "its subfigure definition could not be made (it holds itself?)");
  // The instance's plane is the image of the XY plane: its normal is the extrusion direction, the
  // insertion point is given in that direction's object coordinate system, and the rotation turns
  // the system's x axis to the image of X. A mirrored instance is that turn seen from the other
  // side of its plane, so its members' heights above the plane are scaled by -1.
  double normal[3], at[3];
  p.normal(normal);
  const Ocs ocs(normal);
  db_ptr made = 0;
  auto *o = make<DxfInsert>(c, dxf::kInsert, x.e->de, unit_normal(normal) ? nullptr : normal, &made);
  if (o == nullptr) return no_memory(h, x.e->de);
  o->block = block;
  p.point(x.e->at, at);
  ocs.from_world(at, o->at);
  o->scale = x.e->scale * p.scale();
  const double image_z[3] = {p.r[0][2], p.r[1][2], p.r[2][2]};
  o->zscale = mth_DotProduct(3, image_z, normal) < 0 ? -o->scale : o->scale;
  const double image_x[3] = {p.r[0][0], p.r[1][0], p.r[2][0]};
  o->rotation = std::atan2(mth_DotProduct(3, image_x, ocs.ay), mth_DotProduct(3, image_x, ocs.ax)) * 180 / kPi;
  return done(h, made, o, c, x.e->de);
}

// Surfaces: with `surfaces = boundaries`, the model-space curves of their boundaries.
mpm_Status skipped(db_ptr h, map_Context *) {
  uint32_t tf = tf_of(h);
  ++g_t->counts.skipped[static_cast<int>(tf >> 16)];
  return 0;
}

mpm_Status curve_on_surface(db_ptr h, map_Context *c) {
  Placed<IgesCurveOnSurface> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  if (x.e->model_curve == 0) return fault(h, x.e->de, "it has no model-space curve");
  ++g_t->counts.translated[x.e->de.type];
  return dispatch_part(x.e->model_curve, h, x.e->de, p, c);
}

mpm_Status trimmed_surface(db_ptr h, map_Context *c) {
  if (!g_t->settings.surface_boundaries) return skipped(h, c);
  Placed<IgesTrimmedSurface> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  mpm_Status status = dispatch_part(x.e->outer, h, x.e->de, p, c);
  for (int32_t i = 0; i < x.e->n; ++i)
    if (mpm_Status s = dispatch_part(x.e->inner[i], h, x.e->de, p, c); s != 0 && status == 0) status = s;
  ++g_t->counts.translated[x.e->de.type];
  return status;
}

mpm_Status bounded_surface(db_ptr h, map_Context *c) {
  if (!g_t->settings.surface_boundaries) return skipped(h, c);
  Placed<IgesBoundedSurface> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  mpm_Status status = 0;
  for (int32_t i = 0; i < x.e->n; ++i) {
    const db_ptr b = x.e->boundaries[i];
    if (b == 0 || tf_of(b) != iges::tf(141)) continue;
    Locked<IgesBoundary> boundary(b);
    if (boundary.e == nullptr) continue;
    for (int32_t j = 0; j < boundary.e->n; ++j)
      if (mpm_Status s = dispatch_part(boundary.e->curves[j], h, x.e->de, p, c); s != 0 && status == 0)
        status = s;
  }
  ++g_t->counts.translated[x.e->de.type];
  return status;
}

// ---- the scaling step: every coordinate and length times TRN_SCALE ----

void scale3(double *v, double s) {
  for (int i = 0; i < 3; ++i) v[i] *= s;
}

mpm_Status scaled(db_ptr h, map_Context *c) {
  double s = g_scale;
  map_GetParameter(MAP_GET_DEFAULT, c->operation, TRN_SCALE, &s);
  void *m = nullptr;
  if (mda_LockEntity(0, h, &m) != 0) return MAP_INVALID_PTR;
  switch (tf_of(h)) {
    case dxf::kLine: scale3(static_cast<DxfLine *>(m)->start, s), scale3(static_cast<DxfLine *>(m)->end, s); break;
    case dxf::kPoint: scale3(static_cast<DxfPoint *>(m)->at, s); break;
    case dxf::kCircle: scale3(static_cast<DxfCircle *>(m)->center, s), static_cast<DxfCircle *>(m)->radius *= s; break;
    case dxf::kArc: scale3(static_cast<DxfArc *>(m)->center, s), static_cast<DxfArc *>(m)->radius *= s; break;
    case dxf::kLwPolyline: {
      auto *o = static_cast<DxfLwPolyline *>(m);
      for (int32_t i = 0; i < o->n; ++i) o->points[i][0] *= s, o->points[i][1] *= s;
      o->elevation *= s;
      break;
    }
    case dxf::kPolyline: {
      auto *o = static_cast<DxfPolyline *>(m);
      for (int32_t i = 0; i < o->n; ++i) scale3(o->points[i], s);
      break;
    }
    case dxf::kSpline: {
      auto *o = static_cast<DxfSpline *>(m);
      for (int32_t i = 0; i < o->ncontrol; ++i) scale3(o->control[i], s);
      break;
    }
    case dxf::kText: scale3(static_cast<DxfText *>(m)->at, s), static_cast<DxfText *>(m)->height *= s; break;
    case dxf::kInsert: scale3(static_cast<DxfInsert *>(m)->at, s); break;
    default: break;
  }
  const bool overflowed = !finite(*static_cast<const DxfEntity *>(m));
  const int32_t sequence = static_cast<const DxfEntity *>(m)->p.source;
  mda_UnlockEntity(MDA_MODIFIED, h);
  if (!overflowed) return map_ProcessEntity(0, h, c);
  // Not committed: the engine deletes it. It was counted as translated by its IGES entity.
  Locked<IgesEntity> x(MDA_MAKE_PTR(g_t->source, (sequence + 1) / 2));
  if (x.e == nullptr) return MAP_INVALID_PTR;
  --g_t->counts.translated[x.e->de.type];
  ++g_t->counts.skipped[x.e->de.type];
  ++g_t->counts.errors;
  return fault(x.h, x.e->de, kOverflow, MPM_ERROR);
}

mpm_Status unsupported(db_ptr h, map_Context *c) { return skipped(h, c); }

// Groups (402): their members' directory entries; the writer makes a DXF GROUP of the entities
// drawn from them in model space.
mpm_Status group(db_ptr h, map_Context *) {
  Locked<IgesGroup> x(h);
  if (x.e == nullptr) return MAP_INVALID_PTR;
  if (x.e->de.damaged) return fault(h, x.e->de, "its parameter data is damaged; it is not translated");
  std::vector<int32_t> members;
  for (int32_t i = 0; i < x.e->n; ++i) {
    if (x.e->members[i] == 0) continue;  // a pointer the reader found wrong
    Locked<IgesEntity> m(x.e->members[i]);
    if (m.e != nullptr) members.push_back(m.e->de.sequence);
  }
  g_t->groups.push_back(std::move(members));
  ++g_t->counts.translated[x.e->de.type];
  return 0;
}

mpm_Status edge_list(db_ptr h, map_Context *c) {
  if (!g_t->settings.surface_boundaries) return skipped(h, c);
  Placed<IgesEdgeList> s(h);
  if (s.status != 0) return s.status;
  auto &x = s.x;
  const Placement &p = s.p;
  mpm_Status status = 0;
  for (int32_t i = 0; i < x.e->n; ++i)
    if (mpm_Status s = dispatch_part(x.e->curves[i], h, x.e->de, p, c); s != 0 && status == 0) status = s;
  ++g_t->counts.translated[x.e->de.type];
  return status;
}

}  // namespace

void register_messages() {
  static const char *const kTexts[] = {
      " IGES file %s, %s section, record %d: %s.\n",
      " IGES file %s, directory entry %d (type %d): %s.\n",
      " IGES file %s: %s.\n",
      "+Entity %<PTR> (IGES %<TF>, directory entry %d): %s.\n",
      " Scale applied to every coordinate written\n",
      " Segments of a conic arc written as a polyline\n"};
  static const mpm_MsgName kNames[] = {{"IGES_RECORD", 1, 0}, {"IGES_ENTITY", 1, 1},
                                       {"IGES_FILE", 1, 2},   {"ENTITY", 1, 3},
                                       {"SCALE", 1, 4},       {"CONIC_SEGMENTS", 1, 5}};
  static const mpm_ModuleDesc kTable = {251, 6, "TRN", kTexts, kNames};
  const mpm_ModuleDesc *entry = mpm_GetModuleDesc(251);
  if (entry == nullptr || entry->count == 0) mpm_RegisterModule(0, &kTable);
}

bool define_mappings(Translator *t) {
  g_t = t;
  g_outer = Placement();
  g_owner = 0;
  g_nesting = 0;
  g_scale = t->unit_scale;
  if (map_CreateEnv(0, &t->env) != 0) return false;
  map_Env *env = t->env;
  ddf_Schema *in = t->iges, *out = t->dxf;
  map__DefineParameter(0, TRN_SCALE, MAP_PARAM_DOUBLE, &g_scale);
  map__DefineParameter(0, TRN_CONIC_SEGMENTS, MAP_PARAM_LONG, &g_conic_segments);
  bool ok = true;
  auto single = [&](const char *name, uint32_t from, uint32_t to, map_MappingFn fn, uint32_t options) {
    ok = ok && map_DefineMapping(MAP_GENERAL | options, env, name, in, from, to == TF_NONE ? nullptr : out,
                                 to, fn) == 0;
  };
  auto step = [&](const char *name, uint32_t tf) {  // the scaling step of one DXF entity type
    ok = ok && map_DefineMapping(MAP_GENERAL | MAP_TRANSIENT, env, name, out, tf, out, tf, scaled) == 0;
  };
  auto list = [&](const char *name, const char *first, const char *second) {
    ok = ok && map_DefineMappingList(0, env, name, first, second, nullptr) == 0;
  };
  using iges::tf;
  step("scale LINE", dxf::kLine), step("scale POINT", dxf::kPoint), step("scale CIRCLE", dxf::kCircle);
  step("scale ARC", dxf::kArc), step("scale LWPOLYLINE", dxf::kLwPolyline);
  step("scale POLYLINE", dxf::kPolyline), step("scale SPLINE", dxf::kSpline);
  step("scale TEXT", dxf::kText), step("scale INSERT", dxf::kInsert);

  single("IGES line to LINE", tf(110), dxf::kLine, line, 0);
  list("IGES line", "IGES line to LINE", "scale LINE");
  single("IGES point to POINT", tf(116), dxf::kPoint, point, 0);
  list("IGES point", "IGES point to POINT", "scale POINT");
  single("IGES arc to CIRCLE", tf(100), dxf::kCircle, arc_as_circle, 0);
  single("IGES arc to ARC", tf(100), dxf::kArc, arc_as_arc, 0);
  list("IGES arc as circle", "IGES arc to CIRCLE", "scale CIRCLE");
  list("IGES arc as arc", "IGES arc to ARC", "scale ARC");
  ok = ok && map_DefineConditionalMapping(0, env, "IGES arc", in, tf(100), arc_choice,
                                          "IGES arc as circle", "IGES arc as arc", nullptr) == 0;
  single("IGES copious data to LWPOLYLINE", tf(106, 16001), dxf::kLwPolyline, copious_as_lwpolyline, 0);
  single("IGES copious data to POLYLINE", tf(106, 16001), dxf::kPolyline, copious_as_polyline, 0);
  list("IGES copious data as LWPOLYLINE", "IGES copious data to LWPOLYLINE", "scale LWPOLYLINE");
  list("IGES copious data as POLYLINE", "IGES copious data to POLYLINE", "scale POLYLINE");
  ok = ok && map_DefineConditionalMapping(0, env, "IGES copious data", in, tf(106, 16001),
                                          copious_choice, "IGES copious data as LWPOLYLINE",
                                          "IGES copious data as POLYLINE", nullptr) == 0;
  single("IGES conic to LWPOLYLINE", tf(104), dxf::kLwPolyline, conic, 0);
  list("IGES conic", "IGES conic to LWPOLYLINE", "scale LWPOLYLINE");
  single("IGES B-spline to SPLINE", tf(126), dxf::kSpline, bspline, 0);
  list("IGES B-spline", "IGES B-spline to SPLINE", "scale SPLINE");
  single("IGES note to TEXT", tf(212), dxf::kText, note, 0);
  list("IGES note", "IGES note to TEXT", "scale TEXT");
  single("IGES instance to INSERT", tf(408), dxf::kInsert, instance, 0);
  list("IGES instance", "IGES instance to INSERT", "scale INSERT");
  // Those that make nothing themselves.
  single("IGES composite curve", tf(102), TF_NONE, composite, 0);
  single("IGES subfigure", tf(308), TF_NONE, subfigure, 0);
  single("IGES curve on surface", tf(142), TF_NONE, curve_on_surface, 0);
  single("IGES trimmed surface", tf(144), TF_NONE, trimmed_surface, 0);
  single("IGES bounded surface", tf(143), TF_NONE, bounded_surface, 0);
  single("IGES group", tf(402), TF_NONE, group, 0);
  single("IGES edge list", tf(504, 1), TF_NONE, edge_list, 0);
  single("IGES unsupported", iges::kUnsupported, TF_NONE, unsupported, 0);
  // "NAME ignore" for every IGES type, so that a mapping file can switch a type off.
  ok = ok && map_DefineGenericMappings(MAP_GENERIC_IGNORE, env, in) == 0;
  return ok;
}

namespace {

// Whether the mapping file enabled anything for the type form (every form of 106).
bool has_operations(map_Env *env, ddf_Schema *schema, uint32_t tf) {
  for (int32_t i = 0; i < schema->tf_count; ++i) {
    const uint32_t each = schema->typeforms[i];
    if (each != tf && !((tf & 0xFFFF) == 16001 && each >> 16 == tf >> 16)) continue;
    const map_DTFNode key{{schema, each, 0}, nullptr};
    const auto *node = static_cast<const map_DTFNode *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env->enabled, &key));
    if (node != nullptr && node->operations != nullptr && node->operations->count > 0) return true;
  }
  return false;
}

}  // namespace

bool enable_defaults(Translator *t) {
  using iges::tf;
  struct Default {
    const char *name;
    uint32_t tf;
    bool commit;
  };
  static const Default kDefaults[] = {
      {"IGES line", tf(110), true},          {"IGES point", tf(116), true},
      {"IGES arc", tf(100), true},           {"IGES copious data", tf(106, 16001), true},
      {"IGES conic", tf(104), true},         {"IGES B-spline", tf(126), true},
      {"IGES note", tf(212), true},          {"IGES instance", tf(408), true},
      {"IGES composite curve", tf(102), false}, {"IGES subfigure", tf(308), false},
      {"IGES curve on surface", tf(142), false}, {"IGES trimmed surface", tf(144), false},
      {"IGES bounded surface", tf(143), false},  {"IGES group", tf(402), false},
      {"IGES edge list", tf(504, 1), false},     {"IGES unsupported", iges::kUnsupported, false}};
  bool ok = true;
  for (const Default &d : kDefaults) {
    if (has_operations(t->env, t->iges, d.tf)) continue;  // the mapping file said what to do
    ok = ok && (d.commit ? map_EnableMapping(0, t->env, d.name, MAP_COMMIT, MAP_END)
                         : map_EnableMapping(0, t->env, d.name, MAP_END)) == 0;
  }
  return ok;
}

bool run_mappings(Translator *t, const IgesFile &file, bool progress) {
  g_t = t;
  // Level names first: every entity's layer may need them.
  for (std::size_t k = 1; k < file.top_level.size(); ++k) {
    const db_ptr h = MDA_MAKE_PTR(t->source, static_cast<int64_t>(k));
    if (tf_of(h) != iges::tf(406, 3)) continue;
    Locked<IgesLevelName> x(h);
    if (x.e != nullptr && x.e->name != nullptr && *x.e->name != '\0' && x.e->de.level > 0) {
      std::string name = x.e->name;
      for (char &ch : name)
        if (std::strchr("<>/\\\":;?*|=`,", ch) != nullptr || static_cast<unsigned char>(ch) < ' ') ch = '_';
      t->level_names.emplace(x.e->de.level, name);
    }
  }
  const bool tty = progress && isatty(2) != 0;
  int64_t done_count = 0;
  for (std::size_t k = 1; k < file.top_level.size(); ++k) {
    if (!file.top_level[k]) continue;
    const db_ptr h = MDA_MAKE_PTR(t->source, static_cast<int64_t>(k));
    map_Context context;
    map_InitContext(0, &context);
    context.env = t->env;
    g_outer = Placement();
    g_owner = 0;
    g_root = static_cast<int32_t>(2 * k - 1);
    const int type = static_cast<int>(tf_of(h) >> 16);
    const int64_t before = t->counts.translated[type] + t->counts.skipped[type];
    const mpm_Status s = map_DispatchEntity(h, &context);
    // Neither translated nor skipped by its mapping (one the mapping file chose, "NAME ignore"
    // among them, or none): skipped.
    if (t->counts.translated[type] + t->counts.skipped[type] == before) ++t->counts.skipped[type];
    (void)s;
    if (tty && ++done_count % 100000 == 0)
      std::fprintf(stderr, "\rmapped %lld entities", static_cast<long long>(done_count));
  }
  if (tty && done_count >= 100000) std::fprintf(stderr, "\rmapped %lld entities\n", static_cast<long long>(done_count));
  return true;
}

}  // namespace tesmar::translate
