// The DXF writer: the target model as an ASCII DXF file, release R2000 (AC1015) or a later one
// the settings name. A first pass over the model gathers what the header and the tables need
// (layers, blocks and their members, the drawing's extents, the number of handles); the second
// writes HEADER, CLASSES, TABLES, BLOCKS, ENTITIES and OBJECTS with consistent handles and owners.
// The file is written under a temporary name in the output's directory and renamed at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "geometry.h"
#include "records.h"
#include "translate.h"

namespace tesmar::translate {
namespace {

const char *release_code(const std::string &release) {
  static const char *const kReleases[][2] = {{"R2000", "AC1015"}, {"R2004", "AC1018"},
                                             {"R2007", "AC1021"}, {"R2010", "AC1024"},
                                             {"R2013", "AC1027"}, {"R2018", "AC1032"}};
  for (const auto &r : kReleases)
    if (release == r[0]) return r[1];
  return nullptr;
}

// $INSUNITS of an IGES units flag.
int insunits(int flag) {
  static const int kUnits[] = {0, 1, 4, 0, 2, 3, 6, 7, 9, 13, 5, 8};
  return flag >= 1 && flag <= 11 ? kUnits[flag] : 0;
}

constexpr double kOrigin[3] = {0, 0, 0};

// The IGES line fonts 2 to 5 as DXF line types: dashes (positive) and gaps in millimetres.
struct Linetype {
  const char *name, *description;
  int n;
  double dashes[6];
};
constexpr Linetype kLinetypes[] = {
    {"DASHED", "Dashed __ __ __ __", 2, {12.7, -6.35}},
    {"PHANTOM", "Phantom ______  __  __  ______", 6, {31.75, -6.35, 6.35, -6.35, 6.35, -6.35}},
    {"CENTER", "Center ____ _ ____ _ ____", 4, {31.75, -6.35, 6.35, -6.35}},
    {"DOT", "Dot . . . . . . .", 2, {0, -6.35}}};

struct Extents {
  double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
  void add(const double p[3]) {  // an arc's corners may overflow: the largest number stands for them
    for (int i = 0; i < 3; ++i) {
      const double v = std::clamp(p[i], -std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
      low[i] = std::min(low[i], v), high[i] = std::max(high[i], v);
    }
  }
  void add_ocs(const double extrusion[3], const double o[3], double radius) {
    const Ocs ocs(extrusion);
    for (int dx = -1; dx <= 1; dx += 2)
      for (int dy = -1; dy <= 1; dy += 2) {
        const double v[3] = {o[0] + dx * radius, o[1] + dy * radius, o[2]};
        double w[3];
        ocs.to_world(v, w);
        add(w);
      }
  }
  bool empty() const { return low[0] > high[0]; }
};

class Writer {
 public:
  Writer(const Translator &t, const IgesFile &file, std::FILE *out, bool progress)
      : t_(t), file_(file), out_(out), digits_(t.settings.precision != 0 ? 16 : 12), progress_(progress) {}
  bool write();

 private:
  void gather();
  void each(const std::function<void(db_ptr, void *)> &fn) const;
  // Group code and value lines: the code right-aligned in three columns, then the value.
  void code(int code) {
    char b[16];
    char *end = std::to_chars(b, b + sizeof b, code).ptr;
    for (std::ptrdiff_t pad = 3 - (end - b); pad > 0; --pad) std::fputc(' ', out_);
    *end++ = '\n';
    std::fwrite(b, 1, static_cast<std::size_t>(end - b), out_);
  }
  void line(const char *b, const char *end) {
    std::fwrite(b, 1, static_cast<std::size_t>(end - b), out_);
    std::fputc('\n', out_);
  }
  void g(int c, const char *value) {
    code(c);
    line(value, value + std::strlen(value));
  }
  void g(int c, const std::string &value) { g(c, value.c_str()); }
  void gi(int c, long long value) {
    char b[24];
    code(c);
    line(b, std::to_chars(b, b + sizeof b, value).ptr);
  }
  // The shortest of %.16g's form (or %.12g's), without printf's cost.
  void gd(int c, double value) {
    if (value == 0) value = 0;  // no "-0"
    char b[40];
    code(c);
    line(b, std::to_chars(b, b + sizeof b, value, std::chars_format::general, digits_).ptr);
  }
  void gh(int c, unsigned long long handle) {
    char b[24];
    char *end = std::to_chars(b, b + sizeof b, handle, 16).ptr;
    for (char *p = b; p != end; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    code(c);
    line(b, end);
  }
  void point(int code, const double p[3]) { gd(code, p[0]), gd(code + 10, p[1]), gd(code + 20, p[2]); }
  unsigned long long handle() { return next_++; }
  std::string text(const char *s) const;

  void header();
  void table(const char *name, unsigned long long h, int count, const char *subclass = nullptr);
  void tables();
  void blocks();
  void entity(db_ptr e, void *memory, unsigned long long owner);
  void common(const char *type, const Properties &p, unsigned long long owner, const char *subclass);

  const Translator &t_;
  const IgesFile &file_;
  std::FILE *out_;
  int digits_;
  bool progress_;  // a count of the entities written on standard error
  unsigned long long next_ = 0x20;
  std::set<std::string> layers_;
  std::map<db_ptr, std::vector<db_ptr>> members_;  // block -> its entities
  std::map<db_ptr, std::string> block_names_;
  std::map<db_ptr, unsigned long long> block_records_;
  uint64_t handles_needed_ = 0;
  Extents extents_;
  unsigned long long model_space_ = 0, paper_space_ = 0, root_ = 0, groups_ = 0;
  // Groups: the groups each grouped directory entry is in, each group's handle and the handles of
  // the model-space entities drawn from its members.
  std::unordered_map<int32_t, std::vector<std::size_t>> group_of_;
  std::vector<unsigned long long> group_handles_;
  std::vector<std::vector<unsigned long long>> group_members_;
  unsigned long long block_table_ = 0;
};

void Writer::each(const std::function<void(db_ptr, void *)> &fn) const {
  mda_ModelDef info;
  if (mda_GetModelInfo(t_.target, &info) != 0 || info.type_lists == nullptr) return;
  mda_TypeLists *lists = info.type_lists;
  for (uint32_t tfi = 0; tfi < lists->tf_count; ++tfi) {
    lists->cursor[tfi] = lists->oldest[tfi];
    for (db_ptr e = 0; mda_NextOfType(lists, static_cast<int32_t>(tfi), &e) == 0;) {
      void *m = nullptr;
      if (mda_LockEntity(0, e, &m) != 0) continue;
      fn(e, m);
      mda_UnlockEntity(0, e);
    }
  }
}

void Writer::gather() {
  layers_.insert("0");
  for (std::size_t i = 0; i < t_.groups.size(); ++i)
    for (int32_t de : t_.groups[i]) group_of_[de].push_back(i);
  group_members_.resize(t_.groups.size());
  each([&](db_ptr e, void *m) {
    uint32_t tf = static_cast<const mda_EntityHeader *>(m)->tf;
    if (tf == dxf::kBlock) {
      const auto *b = static_cast<const DxfBlock *>(m);
      block_names_[e] = b->name != nullptr ? b->name : "";
      members_[e];
      return;
    }
    const auto *x = static_cast<const DxfEntity *>(m);
    if (x->p.layer != nullptr) layers_.insert(x->p.layer);
    ++handles_needed_;
    if (x->p.owner != 0) {
      members_[x->p.owner].push_back(e);
      return;
    }
    switch (tf) {
      case dxf::kLine: extents_.add(static_cast<const DxfLine *>(m)->start), extents_.add(static_cast<const DxfLine *>(m)->end); break;
      case dxf::kPoint: extents_.add(static_cast<const DxfPoint *>(m)->at); break;
      case dxf::kCircle: extents_.add_ocs(x->p.extrusion, static_cast<const DxfCircle *>(m)->center, static_cast<const DxfCircle *>(m)->radius); break;
      case dxf::kArc: extents_.add_ocs(x->p.extrusion, static_cast<const DxfArc *>(m)->center, static_cast<const DxfArc *>(m)->radius); break;
      case dxf::kLwPolyline: {
        const auto *o = static_cast<const DxfLwPolyline *>(m);
        for (int32_t i = 0; i < o->n; ++i) {
          const double v[3] = {o->points[i][0], o->points[i][1], o->elevation};
          extents_.add_ocs(x->p.extrusion, v, 0);
        }
        break;
      }
      case dxf::kPolyline: {
        const auto *o = static_cast<const DxfPolyline *>(m);
        for (int32_t i = 0; i < o->n; ++i) extents_.add(o->points[i]);
        break;
      }
      case dxf::kSpline: {
        const auto *o = static_cast<const DxfSpline *>(m);
        for (int32_t i = 0; i < o->ncontrol; ++i) extents_.add(o->control[i]);
        break;
      }
      case dxf::kText: extents_.add(static_cast<const DxfText *>(m)->at); break;
      case dxf::kInsert: extents_.add_ocs(x->p.extrusion, static_cast<const DxfInsert *>(m)->at, 0); break;
      default: break;
    }
    if (tf == dxf::kPolyline) handles_needed_ += static_cast<uint64_t>(static_cast<const DxfPolyline *>(m)->n) + 1;
  });
  // Block members' 3D polylines: their vertices need handles too.
  for (auto &[block, list] : members_)
    for (db_ptr e : list) {
      void *m = nullptr;
      if (mda_LockEntity(0, e, &m) != 0) continue;
      if (static_cast<const mda_EntityHeader *>(m)->tf == dxf::kPolyline)
        handles_needed_ += static_cast<uint64_t>(static_cast<const DxfPolyline *>(m)->n) + 1;
      mda_UnlockEntity(0, e);
    }
}

std::string Writer::text(const char *s) const {
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p != 0 && out.size() < 250; ++p) {
    if (*p < ' ') out += ' ';
    else if (*p < 0x80) out += static_cast<char>(*p);
    else {  // outside ASCII: \U+XXXX of the byte read as Latin-1
      char u[12];
      std::snprintf(u, sizeof u, "\\U+%04X", *p);
      out += u;
    }
  }
  return out;
}

void Writer::header() {
  g(0, "SECTION"), g(2, "HEADER");
  g(9, "$ACADVER"), g(1, release_code(t_.settings.release));
  g(9, "$DWGCODEPAGE"), g(3, "ANSI_1252");
  g(9, "$HANDSEED");
  // Every handle is known before anything is written: tables, layers, blocks, entities.
  const uint64_t fixed = 64 + 2 * layers_.size() + 4 * (block_names_.size() + 2) + t_.groups.size();
  gh(5, next_ + fixed + handles_needed_);
  g(9, "$INSUNITS"), gi(70, t_.settings.units == "file" ? insunits(file_.units_flag) : insunits(t_.output_units_flag));
  g(9, "$MEASUREMENT"), gi(70, 1);
  Extents e = extents_;
  if (e.empty()) e.add(kOrigin);
  g(9, "$EXTMIN"), point(10, e.low);
  g(9, "$EXTMAX"), point(10, e.high);
  g(0, "ENDSEC");
  g(0, "SECTION"), g(2, "CLASSES"), g(0, "ENDSEC");
}

void Writer::table(const char *name, unsigned long long h, int count, const char *subclass) {
  g(0, "TABLE"), g(2, name), gh(5, h), gh(330, 0), g(100, "AcDbSymbolTable"), gi(70, count);
  if (subclass != nullptr) g(100, subclass);
}

void Writer::tables() {
  g(0, "SECTION"), g(2, "TABLES");
  // VPORT: the active viewport, looking at the extents.
  unsigned long long th = handle();
  table("VPORT", th, 1);
  Extents e = extents_;
  if (e.empty()) e.add(kOrigin);
  g(0, "VPORT"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
      g(100, "AcDbViewportTableRecord"), g(2, "*Active"), gi(70, 0);
  gd(10, 0), gd(20, 0), gd(11, 1), gd(21, 1);
  gd(12, e.low[0] / 2 + e.high[0] / 2), gd(22, e.low[1] / 2 + e.high[1] / 2);  // halves: no overflow
  gd(13, 0), gd(23, 0), gd(14, 1), gd(24, 1), gd(15, 1), gd(25, 1);
  gd(16, 0), gd(26, 0), gd(36, 1), gd(17, 0), gd(27, 0), gd(37, 0);
  gd(40, std::clamp((e.high[1] - e.low[1]) * 1.1, 1.0, std::numeric_limits<double>::max())), gd(41, 1.5), gd(42, 50), gd(43, 0), gd(44, 0),
      gd(50, 0), gd(51, 0);
  gi(71, 0), gi(72, 100), gi(73, 1), gi(74, 3), gi(75, 0), gi(76, 0), gi(77, 0), gi(78, 0);
  g(0, "ENDTAB");
  // LTYPE: the three every drawing has, and the IGES line fonts 2 to 5 (lengths in millimetres).
  th = handle();
  table("LTYPE", th, 7);
  for (const char *name : {"ByBlock", "ByLayer", "Continuous"}) {
    g(0, "LTYPE"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
        g(100, "AcDbLinetypeTableRecord"), g(2, name), gi(70, 0);
    g(3, std::strcmp(name, "Continuous") == 0 ? "Solid line" : ""), gi(72, 65), gi(73, 0), gd(40, 0);
  }
  for (int font = 2; font <= 5; ++font) {
    const Linetype &l = kLinetypes[font - 2];
    double total = 0;
    for (int i = 0; i < l.n; ++i) total += std::fabs(l.dashes[i]);
    g(0, "LTYPE"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
        g(100, "AcDbLinetypeTableRecord"), g(2, l.name), gi(70, 0), g(3, l.description), gi(72, 65),
        gi(73, l.n), gd(40, total / t_.output_mm);
    for (int i = 0; i < l.n; ++i) gd(49, l.dashes[i] / t_.output_mm), gi(74, 0);
  }
  g(0, "ENDTAB");
  // LAYER
  th = handle();
  table("LAYER", th, static_cast<int>(layers_.size()));
  for (const std::string &name : layers_) {
    g(0, "LAYER"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
        g(100, "AcDbLayerTableRecord"), g(2, text(name.c_str())), gi(70, 0), gi(62, 7),
        g(6, "Continuous");
  }
  g(0, "ENDTAB");
  // STYLE
  th = handle();
  table("STYLE", th, 1);
  g(0, "STYLE"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
      g(100, "AcDbTextStyleTableRecord"), g(2, "Standard"), gi(70, 0), gd(40, 0), gd(41, 1),
      gd(50, 0), gi(71, 0), gd(42, 2.5), g(3, "txt"), g(4, "");
  g(0, "ENDTAB");
  th = handle();
  table("VIEW", th, 0);
  g(0, "ENDTAB");
  th = handle();
  table("UCS", th, 0);
  g(0, "ENDTAB");
  th = handle();
  table("APPID", th, 1);
  g(0, "APPID"), gh(5, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
      g(100, "AcDbRegAppTableRecord"), g(2, "ACAD"), gi(70, 0);
  g(0, "ENDTAB");
  th = handle();
  table("DIMSTYLE", th, 1, "AcDbDimStyleTable");
  g(0, "DIMSTYLE"), gh(105, handle()), gh(330, th), g(100, "AcDbSymbolTableRecord"),
      g(100, "AcDbDimStyleTableRecord"), g(2, "Standard"), gi(70, 0);
  g(0, "ENDTAB");
  // BLOCK_RECORD: model space, paper space and one per block.
  block_table_ = handle();
  table("BLOCK_RECORD", block_table_, static_cast<int>(block_names_.size() + 2));
  model_space_ = handle(), paper_space_ = handle();
  auto record = [&](unsigned long long h, const std::string &name) {
    g(0, "BLOCK_RECORD"), gh(5, h), gh(330, block_table_), g(100, "AcDbSymbolTableRecord"),
        g(100, "AcDbBlockTableRecord"), g(2, name);
  };
  record(model_space_, "*Model_Space"), record(paper_space_, "*Paper_Space");
  for (const auto &[b, name] : block_names_) {
    block_records_[b] = handle();
    record(block_records_[b], text(name.c_str()));
  }
  g(0, "ENDTAB");
  g(0, "ENDSEC");
}

void Writer::blocks() {
  g(0, "SECTION"), g(2, "BLOCKS");
  auto begin = [&](unsigned long long owner, const std::string &name, bool paper) {
    g(0, "BLOCK"), gh(5, handle()), gh(330, owner), g(100, "AcDbEntity");
    if (paper) gi(67, 1);
    g(8, "0"), g(100, "AcDbBlockBegin"), g(2, name), gi(70, 0), gd(10, 0), gd(20, 0), gd(30, 0),
        g(3, name), g(1, "");
  };
  auto end = [&](unsigned long long owner, bool paper) {
    g(0, "ENDBLK"), gh(5, handle()), gh(330, owner), g(100, "AcDbEntity");
    if (paper) gi(67, 1);
    g(8, "0"), g(100, "AcDbBlockEnd");
  };
  begin(model_space_, "*Model_Space", false), end(model_space_, false);
  begin(paper_space_, "*Paper_Space", true), end(paper_space_, true);
  for (const auto &[b, name] : block_names_) {
    const unsigned long long owner = block_records_[b];
    begin(owner, text(name.c_str()), false);
    for (db_ptr e : members_[b]) {
      void *m = nullptr;
      if (mda_LockEntity(0, e, &m) != 0) continue;
      entity(e, m, owner);
      mda_UnlockEntity(0, e);
    }
    end(owner, false);
  }
  g(0, "ENDSEC");
}

void Writer::common(const char *type, const Properties &p, unsigned long long owner, const char *subclass) {
  const unsigned long long h = handle();
  g(0, type), gh(5, h);
  // In the groups of its source or its root (looked up only when the file has groups).
  const auto source = owner == model_space_ ? group_of_.find(p.source) : group_of_.end();
  const auto root = owner == model_space_ ? group_of_.find(p.root) : group_of_.end();
  if (source != group_of_.end() || root != group_of_.end()) {
    std::vector<std::size_t> in;
    for (auto it : {source, root})
      if (it != group_of_.end()) in.insert(in.end(), it->second.begin(), it->second.end());
    std::sort(in.begin(), in.end());
    in.erase(std::unique(in.begin(), in.end()), in.end());
    g(102, "{ACAD_REACTORS");
    for (std::size_t i : in) gh(330, group_handles_[i]), group_members_[i].push_back(h);
    g(102, "}");
  }
  gh(330, owner), g(100, "AcDbEntity");
  g(8, text(p.layer != nullptr ? p.layer : "0"));
  if (p.linetype >= 2 && p.linetype <= 5) g(6, kLinetypes[p.linetype - 2].name);
  if (p.lineweight >= 0) gi(370, p.lineweight);
  if (p.color != 256) gi(62, p.color);
  g(100, subclass);
}

void Writer::entity(db_ptr, void *m, unsigned long long owner) {
  const uint32_t tf = static_cast<const mda_EntityHeader *>(m)->tf;
  const auto *x = static_cast<const DxfEntity *>(m);
  const Properties &p = x->p;
  const bool tilted = !(p.extrusion[0] == 0 && p.extrusion[1] == 0 && p.extrusion[2] == 1);
  auto extrusion = [&] {
    if (tilted) point(210, p.extrusion);
  };
  switch (tf) {
    case dxf::kLine: {
      const auto *o = static_cast<const DxfLine *>(m);
      common("LINE", p, owner, "AcDbLine"), point(10, o->start), point(11, o->end);
      break;
    }
    case dxf::kPoint:
      common("POINT", p, owner, "AcDbPoint"), point(10, static_cast<const DxfPoint *>(m)->at);
      break;
    case dxf::kCircle: {
      const auto *o = static_cast<const DxfCircle *>(m);
      common("CIRCLE", p, owner, "AcDbCircle"), point(10, o->center), gd(40, o->radius), extrusion();
      break;
    }
    case dxf::kArc: {
      const auto *o = static_cast<const DxfArc *>(m);
      common("ARC", p, owner, "AcDbCircle"), point(10, o->center), gd(40, o->radius), extrusion();
      g(100, "AcDbArc"), gd(50, o->start_angle), gd(51, o->end_angle);
      break;
    }
    case dxf::kLwPolyline: {
      const auto *o = static_cast<const DxfLwPolyline *>(m);
      common("LWPOLYLINE", p, owner, "AcDbPolyline"), gi(90, o->n), gi(70, o->closed ? 1 : 0);
      if (o->elevation != 0) gd(38, o->elevation);
      for (int32_t i = 0; i < o->n; ++i) gd(10, o->points[i][0]), gd(20, o->points[i][1]);
      extrusion();
      break;
    }
    case dxf::kPolyline: {
      const auto *o = static_cast<const DxfPolyline *>(m);
      const unsigned long long h = next_;
      common("POLYLINE", p, owner, "AcDb3dPolyline"), gi(66, 1), gd(10, 0), gd(20, 0), gd(30, 0),
          gi(70, 8 | (o->closed ? 1 : 0));
      for (int32_t i = 0; i < o->n; ++i) {
        g(0, "VERTEX"), gh(5, handle()), gh(330, h), g(100, "AcDbEntity"),
            g(8, text(p.layer != nullptr ? p.layer : "0")), g(100, "AcDbVertex"),
            g(100, "AcDb3dPolylineVertex"), point(10, o->points[i]), gi(70, 32);
      }
      g(0, "SEQEND"), gh(5, handle()), gh(330, h), g(100, "AcDbEntity"),
          g(8, text(p.layer != nullptr ? p.layer : "0"));
      break;
    }
    case dxf::kSpline: {
      const auto *o = static_cast<const DxfSpline *>(m);
      common("SPLINE", p, owner, "AcDbSpline");
      gi(70, o->flags), gi(71, o->degree), gi(72, o->nknots), gi(73, o->ncontrol), gi(74, 0);
      gd(42, 1e-10), gd(43, 1e-10);
      for (int32_t i = 0; i < o->nknots; ++i) gd(40, o->knots[i]);
      if (o->flags & 4)
        for (int32_t i = 0; i < o->ncontrol; ++i) gd(41, o->weights[i]);
      for (int32_t i = 0; i < o->ncontrol; ++i) point(10, o->control[i]);
      break;
    }
    case dxf::kText: {
      const auto *o = static_cast<const DxfText *>(m);
      common("TEXT", p, owner, "AcDbText"), point(10, o->at), gd(40, o->height > 0 ? o->height : 1);
      g(1, text(o->text != nullptr ? o->text : "")), gd(50, o->rotation), g(7, "Standard");
      g(100, "AcDbText");
      break;
    }
    case dxf::kInsert: {
      const auto *o = static_cast<const DxfInsert *>(m);
      auto it = block_names_.find(o->block);
      if (it == block_names_.end()) break;
      common("INSERT", p, owner, "AcDbBlockReference"), g(2, text(it->second.c_str())), point(10, o->at);
      gd(41, o->scale), gd(42, o->scale), gd(43, o->zscale), gd(50, o->rotation), extrusion();
      break;
    }
    default:
      break;
  }
}

bool Writer::write() {
  gather();
  header();
  tables();
  blocks();
  for (std::size_t i = 0; i < t_.groups.size(); ++i) group_handles_.push_back(handle());
  g(0, "SECTION"), g(2, "ENTITIES");
  int64_t written = 0;
  each([&](db_ptr e, void *m) {
    const uint32_t tf = static_cast<const mda_EntityHeader *>(m)->tf;
    if (tf == dxf::kBlock || static_cast<const DxfEntity *>(m)->p.owner != 0) return;
    entity(e, m, model_space_);
    if (progress_ && ++written % 100000 == 0)
      std::fprintf(stderr, "\rwrote %lld entities", static_cast<long long>(written));
  });
  if (progress_ && written >= 100000) std::fprintf(stderr, "\rwrote %lld entities\n", static_cast<long long>(written));
  g(0, "ENDSEC");
  g(0, "SECTION"), g(2, "OBJECTS");
  root_ = handle(), groups_ = handle();
  g(0, "DICTIONARY"), gh(5, root_), gh(330, 0), g(100, "AcDbDictionary"), gi(281, 1),
      g(3, "ACAD_GROUP"), gh(350, groups_);
  g(0, "DICTIONARY"), gh(5, groups_), gh(330, root_), g(100, "AcDbDictionary"), gi(281, 1);
  for (std::size_t i = 0; i < group_members_.size(); ++i)  // anonymous groups, "*A1" on
    if (!group_members_[i].empty()) g(3, "*A" + std::to_string(i + 1)), gh(350, group_handles_[i]);
  for (std::size_t i = 0; i < group_members_.size(); ++i) {
    if (group_members_[i].empty()) continue;
    g(0, "GROUP"), gh(5, group_handles_[i]), g(102, "{ACAD_REACTORS"), gh(330, groups_), g(102, "}");
    gh(330, groups_), g(100, "AcDbGroup"), g(300, ""), gi(70, 1), gi(71, 1);
    for (unsigned long long m : group_members_[i]) gh(340, m);
  }
  g(0, "ENDSEC");
  g(0, "EOF");
  return std::ferror(out_) == 0;
}

}  // namespace

bool write_dxf(const Translator &t, const IgesFile &file, const char *output, std::string *why,
               bool progress) {
  if (release_code(t.settings.release) == nullptr) {
    *why = "release \"" + t.settings.release + "\" is not one of R2000, R2004, R2007, R2010, R2013, R2018";
    return false;
  }
  // A device or a pipe (/dev/null, a FIFO) is written as it is; a rename would replace it.
  struct stat st;
  const bool in_place = ::stat(output, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
  std::string temp = std::string(output) + ".XXXXXX";
  const int fd = in_place ? ::open(output, O_WRONLY | O_CLOEXEC) : mkstemp(temp.data());
  if (fd < 0) {
    *why = std::string("cannot create a file beside ") + output + ": " + std::strerror(errno);
    return false;
  }
  std::FILE *out = fdopen(fd, "wb");
  if (out == nullptr) {
    ::close(fd);
    if (!in_place) std::remove(temp.c_str());
    *why = std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 20);
  setvbuf(out, buffer.data(), _IOFBF, buffer.size());
  Writer writer(t, file, out, progress && isatty(2) != 0);
  bool ok = writer.write();
  ok = std::fflush(out) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    *why = std::string("writing ") + output + " failed: " + std::strerror(errno);
    if (!in_place) std::remove(temp.c_str());
    return false;
  }
  if (in_place) return true;
  ::chmod(temp.c_str(), 0644);
  if (std::rename(temp.c_str(), output) != 0) {
    *why = std::string("cannot put ") + output + " in place: " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace tesmar::translate
