// Making the configuration entities and filling their fields from the parsed parameters.
//
// Every configured type form gets one entity, created locked with its defaults. Its fields are
// then walked in schema order by the entity walk in its allocating mode, so that an array sized
// by a count field gets a block of exactly that many elements before its values are written:
// values beyond the elements are reported and dropped, never written past the block. When a
// count is not given, the count field (walked before the arrays it sizes) takes the number of
// values of the longest of them; an open (UNSIZED) array gets a block for its values. A
// structure field takes its values as brace groups, one group per element, its members the
// values of a group in order.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "cfg/cfg_internal.h"
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::cfg {
namespace {

// A count above this is refused (the arrays it sizes would take the machine's memory).
constexpr int32_t kMaxCount = 1 << 20;

struct Made {
  uint32_t tf;
  int32_t tfi;
  db_ptr entity;
  void *memory;
  Section *section;
};

// One structure field being filled: its elements, each a group of values or none.
struct Frame {
  const ddf_FieldDesc *desc;
  std::string prefix;  // "name." of its members
  Param *param = nullptr;
  std::vector<std::vector<const Value *>> groups;
  std::vector<bool> given;  // per group: braces were written (an empty place is not)
  int32_t element = 0;
  int32_t elements = 0;
  int32_t member = 0;
  bool skip = false;  // a structure inside a structure: left as created
  bool reported_array = false;
};

// The entity being filled (the walk's callback has no argument of its own).
struct Filling {
  ddf_Schema *schema = nullptr;
  int32_t tfi = -1;
  Section *section = nullptr;
  void *memory = nullptr;
  std::vector<Frame> structs;
  int32_t unions = 0;
  mpm_Status failure = 0;
  std::vector<Made> made;
  std::string lower;  // a working name
};
Filling *g_fill = nullptr;

const char *field_name(const ddf_FieldDesc *d) {
  const ddf_Schema *s = g_fill->schema;
  if (d == nullptr || d->name < 0 || d->name >= s->fld_name_count) return "";
  return s->fld_names[d->name];
}

// The parameter of a field: its name compared in lower case.
Param *param_of(const char *name) {
  std::string &lower = g_fill->lower;
  lower = name;
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  auto &params = g_fill->section->params;
  const auto it = params.find(lower);
  return it == params.end() ? nullptr : &it->second;
}

long line_of(const Param *p) { return p != nullptr ? p->line : 0; }

// "name = ;" gives one empty value; for an array whose length follows its values it means none.
bool lone_empty(const Param &p) {
  return p.values.size() == 1 && p.values[0].kind == CFG_KIND_EMPTY;
}

// Dimensions a value field has, an fstring's length not counted.
int32_t value_dims(const ddf_FieldDesc &d) {
  if ((d.flags & DDF_ARRAY) == 0) return 0;
  return d.ndims - (d.kind == DDF_FSTRING ? 1 : 0);
}

void set_default(const ddf_FieldDesc &d, char *element) {
  if (d.kind == DDF_VSTRING) return;  // a string left out stays null
  char value[8] = {};
  ddf_GetFieldDefault(&d, value);
  if (d.kind == DDF_FSTRING) {
    const int32_t n = ddf::element_size(d);
    if (n > 0) std::memset(element, 0, static_cast<std::size_t>(n));
    return;
  }
  std::memcpy(element, value, static_cast<std::size_t>(ddf::element_size(d)));
}

// An integer for a field from a value; reports what does not fit.
bool integer_value(const Value &v, const Param *p, int64_t low, int64_t high, int64_t *out) {
  *out = 0;
  if (v.kind == CFG_KIND_EMPTY) return true;
  if (v.kind == CFG_KIND_INT) {
    *out = v.integer;
  } else if (v.kind == CFG_KIND_DOUBLE) {
    report_error(0, CFG_D_TO_I, line_of(p), p->name.c_str());
    if (!(std::fabs(v.real) < 9.2e18)) {
      report_error(0, CFG_RANGE_ERROR);
      return false;
    }
    *out = static_cast<int64_t>(std::trunc(v.real));
  } else {
    report_error(0, CFG_INVALID_COMBO, line_of(p), p->name.c_str());
    return false;
  }
  if (*out < low || *out > high) {
    report_error(0, CFG_RANGE_ERROR);
    *out = 0;
    return false;
  }
  return true;
}

// Writes one element of a value field from a value (null: its default).
mpm_Status store(const ddf_FieldDesc &d, char *element, const Value *v, const Param *p) {
  if (v == nullptr) {
    set_default(d, element);
    return 0;
  }
  switch (d.kind) {
    case DDF_INT:
    case DDF_LONG:
    case DDF_SHORT:
    case DDF_CHAR: {
      const int64_t low = d.kind == DDF_SHORT ? INT16_MIN : d.kind == DDF_CHAR ? INT8_MIN : INT32_MIN;
      const int64_t high = d.kind == DDF_SHORT ? INT16_MAX : d.kind == DDF_CHAR ? UINT8_MAX : INT32_MAX;
      int64_t value = 0;
      integer_value(*v, p, low, high, &value);
      if (d.kind == DDF_SHORT) {
        const auto s = static_cast<int16_t>(value);
        std::memcpy(element, &s, sizeof s);
      } else if (d.kind == DDF_CHAR) {
        *element = static_cast<char>(value);
      } else {
        const auto i = static_cast<int32_t>(value);
        std::memcpy(element, &i, sizeof i);
      }
      return 0;
    }
    case DDF_DOUBLE:
    case DDF_FLOAT: {
      double value = 0;
      if (v->kind == CFG_KIND_DOUBLE) {
        value = v->real;
      } else if (v->kind == CFG_KIND_INT) {
        report_error(0, CFG_I_TO_D, line_of(p), p->name.c_str());
        value = v->integer;
      } else if (v->kind != CFG_KIND_EMPTY) {
        report_error(0, CFG_INVALID_COMBO, line_of(p), p->name.c_str());
      }
      if (d.kind == DDF_FLOAT) {
        if (std::fabs(value) > FLT_MAX) {
          report_error(0, CFG_RANGE_ERROR);
          value = 0;
        }
        const auto f = static_cast<float>(value);
        std::memcpy(element, &f, sizeof f);
      } else {
        std::memcpy(element, &value, sizeof value);
      }
      return 0;
    }
    case DDF_VSTRING: {
      std::memset(element, 0, sizeof(void *));
      if (v->kind == CFG_KIND_EMPTY) return 0;
      if (v->kind != CFG_KIND_STRING) {
        report_error(0, CFG_INVALID_COMBO, line_of(p), p->name.c_str());
        return 0;
      }
      if (v->text.size() >= UINT32_MAX) return CFG_MALLOC_ERROR;
      if (mpm_Status s = mda_Malloc(0, g_fill->memory, static_cast<uint32_t>(v->text.size() + 1),
                                    element);
          s != 0)
        return s;
      char *copy = nullptr;
      std::memcpy(&copy, element, sizeof copy);
      std::memcpy(copy, v->text.data(), v->text.size());
      return 0;
    }
    case DDF_FSTRING: {
      const int32_t n = ddf::element_size(d);
      if (n <= 0) return 0;
      std::memset(element, 0, static_cast<std::size_t>(n));
      if (v->kind == CFG_KIND_EMPTY) return 0;
      if (v->kind != CFG_KIND_STRING) {
        report_error(0, CFG_INVALID_COMBO, line_of(p), p->name.c_str());
        return 0;
      }
      std::size_t length = v->text.size();
      if (length > static_cast<std::size_t>(n - 1)) {
        report_error(0, CFG_DATA_IGNORED, line_of(p), p->name.c_str(), static_cast<long>(n - 1),
                     static_cast<long>(length));
        length = static_cast<std::size_t>(n - 1);
      }
      std::memcpy(element, v->text.data(), length);
      return 0;
    }
    default:
      return 0;
  }
}

// The number of elements a parameter gives a structure field: its groups and empty places.
int32_t elements_of(const Param &p) {
  int32_t n = 0;
  bool in = false;
  for (const Value &v : p.values) {
    if (v.kind == CFG_KIND_OPEN) in = true, ++n;
    else if (v.kind == CFG_KIND_CLOSE) in = false;
    else if (!in) ++n;
  }
  return n;
}

// The count field's value when it is not given: the values of the longest array it sizes.
int32_t count_from_arrays(const ddf_FieldDesc &count) {
  const ddf_Schema *s = g_fill->schema;
  const int32_t first = s->fld_indices[g_fill->tfi];
  const int32_t n = s->ent_fldcnts[g_fill->tfi];
  int32_t most = 0;
  for (int32_t i = first; i < first + n; ++i) {
    const ddf_FieldDesc &d = s->fld_data[i];
    if ((d.flags & DDF_ARRAY) == 0 || d.ndims < 1 || d.dims[0].op != 'e' ||
        d.dims[0].a != count.dims[0].a || d.dims[0].a >= 0)
      continue;
    const Param *p = param_of(field_name(&d));
    if (p == nullptr) continue;
    const int32_t values = lone_empty(*p)           ? 0
                           : d.kind == DDF_STRUCT ? elements_of(*p)
                                                  : static_cast<int32_t>(p->values.size());
    most = std::max(most, values);
  }
  return std::min(most, kMaxCount);
}

mpm_Status fill_count(void *address, const ddf_FieldDesc &d) {
  Param *p = param_of(field_name(&d));
  int32_t value = 0;
  if (p == nullptr) {
    value = count_from_arrays(d);
  } else {
    p->consumed = true;
    const Value &v = p->values.empty() ? Value{} : p->values[0];
    int64_t n = 0;
    if (v.kind == CFG_KIND_INT && v.integer < 0) {
      report_error(0, CFG_INVALID_COUNT, line_of(p), p->name.c_str());
    } else if (integer_value(v, p, 0, INT32_MAX, &n)) {
      if (n > kMaxCount) report_error(0, CFG_INVALID_COUNT, line_of(p), p->name.c_str());
      else value = static_cast<int32_t>(n);
    }
    if (p->values.size() > 1)
      report_error(0, CFG_DATA_IGNORED, line_of(p), p->name.c_str(), 1L,
                   static_cast<long>(p->values.size()));
  }
  std::memcpy(address, &value, sizeof value);
  return 0;
}

// A value field outside structures.
mpm_Status fill_values(int32_t count, void *address, const ddf_FieldDesc &d) {
  Param *p = param_of(field_name(&d));
  const int32_t size = ddf::element_size(d);
  if (size <= 0) return 0;
  if (value_dims(d) > 1) {
    if (p != nullptr) {
      p->consumed = true;
      report_error(0, CFG_MULT_DIM_ARRAY, line_of(p), p->name.c_str());
    }
    return 0;
  }
  auto values = p != nullptr ? static_cast<int64_t>(p->values.size()) : 0;
  if (p != nullptr) p->consumed = true;
  const bool variable = ddf::held_in_block(d) && ((d.flags & DDF_UNSIZED) != 0 ||
                                                  (d.ndims > 0 && d.dims[0].a < 0));
  if (variable && p != nullptr && lone_empty(*p)) values = 0;
  char *first = static_cast<char *>(address);
  // An open array has as many elements as values: it gets its block here.
  if (count == 0 && values > 0 && (d.flags & DDF_UNSIZED) != 0 && ddf::held_in_block(d) &&
      mda_TraverseFieldAddress != nullptr) {
    const int64_t bytes = std::min<int64_t>(values, kMaxCount) * size;
    if (mpm_Status s = mda_Malloc(0, g_fill->memory, static_cast<uint32_t>(bytes),
                                  mda_TraverseFieldAddress);
        s != 0)
      return s;
    std::memcpy(&first, mda_TraverseFieldAddress, sizeof first);
    count = static_cast<int32_t>(bytes / size);
  }
  for (int32_t i = 0; i < count; ++i) {
    const Value *v = i < values ? &p->values[static_cast<std::size_t>(i)] : nullptr;
    if (mpm_Status s = store(d, first + static_cast<int64_t>(i) * size, v, p); s != 0) return s;
  }
  if (values > count)
    report_error(0, CFG_DATA_IGNORED, line_of(p), p->name.c_str(), static_cast<long>(count),
                 static_cast<long>(values));
  return 0;
}

void close_struct() {
  Frame &f = g_fill->structs.back();
  if (!f.skip && f.param != nullptr && static_cast<int32_t>(f.groups.size()) > f.elements)
    report_error(0, CFG_DATA_IGNORED, line_of(f.param), f.param->name.c_str(),
                 static_cast<long>(f.elements), static_cast<long>(f.groups.size()));
  g_fill->structs.pop_back();
}

// A structure's opening call: the first of a field (count 1, its first element; or count 0,
// no elements yet) or of its next element.
mpm_Status open_struct(int32_t count, const ddf_FieldDesc &d) {
  auto &structs = g_fill->structs;
  if (!structs.empty() && structs.back().desc == &d) {
    Frame &f = structs.back();
    f.element = f.elements++;
    f.member = 0;
    return 0;
  }
  Frame f;
  f.desc = &d;
  f.prefix = std::string(field_name(&d)) + ".";
  if (!structs.empty()) {
    f.skip = true;  // values come one brace level deep: an inner structure keeps its defaults
    structs.push_back(std::move(f));
    return 0;
  }
  f.param = param_of(field_name(&d));
  if (f.param != nullptr) f.param->consumed = true;
  const bool variable = ddf::held_in_block(d) && ((d.flags & DDF_UNSIZED) != 0 ||
                                                  (d.ndims > 0 && d.dims[0].a < 0));
  if (f.param != nullptr && !(variable && lone_empty(*f.param))) {
    bool in = false;
    for (const Value &v : f.param->values) {
      if (v.kind == CFG_KIND_OPEN) {
        f.groups.emplace_back();
        f.given.push_back(true);
        in = true;
      } else if (v.kind == CFG_KIND_CLOSE) {
        in = false;
      } else if (in) {
        f.groups.back().push_back(&v);
      } else if (v.kind == CFG_KIND_EMPTY) {
        f.groups.emplace_back();
        f.given.push_back(false);
      } else {
        report_error(0, CFG_PS_ERROR, line_of(f.param), f.param->name.c_str());
        f.groups.clear();
        f.given.clear();
        break;
      }
    }
  }
  if (count == 0) {
    // No elements yet: an open structure array gets a block for its groups; its first element
    // is then walked without another opening call.
    const int64_t groups = std::min<int64_t>(static_cast<int64_t>(f.groups.size()), kMaxCount);
    if (groups > 0 && (d.flags & DDF_UNSIZED) != 0 && ddf::held_in_block(d) && d.key > 0 &&
        mda_TraverseFieldAddress != nullptr) {
      if (mpm_Status s = mda_Malloc(0, g_fill->memory, static_cast<uint32_t>(groups * d.key),
                                    mda_TraverseFieldAddress);
          s != 0)
        return s;
      f.elements = 1;
    }
  } else {
    f.elements = 1;
  }
  structs.push_back(std::move(f));
  return 0;
}

// A member of the structure being filled: the next value of the element's group.
mpm_Status fill_member(void *address, const ddf_FieldDesc &d) {
  Frame &f = g_fill->structs.back();
  if (f.skip) return 0;
  const int32_t index = f.member++;
  if (value_dims(d) > 0) {
    if (!f.reported_array)
      report_error(0, CFG_ST_ARRAY, field_name(&d), field_name(f.desc), line_of(f.param));
    f.reported_array = true;
    return 0;
  }
  const Value *v = nullptr;
  if (f.element < static_cast<int32_t>(f.groups.size())) {
    const auto &group = f.groups[static_cast<std::size_t>(f.element)];
    if (index < static_cast<int32_t>(group.size())) v = group[static_cast<std::size_t>(index)];
  }
  if (v != nullptr && v->kind == CFG_KIND_EMPTY) v = nullptr;  // an empty place: the default
  return store(d, static_cast<char *>(address), v, f.param);
}

bool is_member(const ddf_FieldDesc *d, const Frame &f) {
  return std::strncmp(field_name(d), f.prefix.c_str(), f.prefix.size()) == 0;
}

mpm_Status fill_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
  Filling &g = *g_fill;
  mpm_Status status = 0;
  try {
    // A field that is no member of the open structure ends it.
    if (d != nullptr && type != DDF_ENDSTRUCT && type != DDF_ENDUNION)
      while (!g.structs.empty() && !(is_member(d, g.structs.back()) || g.structs.back().desc == d))
        close_struct();
    switch (type) {
      case DDF_ENDENT:
        while (!g.structs.empty()) close_struct();
        return 0;
      case DDF_UNIONKIND:
        ++g.unions;  // a union keeps the member its selector names, as created
        return 0;
      case DDF_ENDUNION:
        --g.unions;
        return 0;
      default:
        break;
    }
    if (g.unions > 0 || d == nullptr) return 0;
    if (type == DDF_STRUCT) status = open_struct(count, *d);
    else if (type == DDF_ENDSTRUCT || type == DDF_SUBENT) status = 0;
    else if (!g.structs.empty()) status = fill_member(address, *d);
    else if (type == DDF_COUNT) status = fill_count(address, *d);
    else if (type != DDF_PTR) status = fill_values(count, address, *d);
  } catch (const std::bad_alloc &) {
    status = CFG_MALLOC_ERROR;
  }
  if (status != 0) {
    g.failure = status;
    return MDA_TRAVERSE_STOP;
  }
  return 0;
}

// Whether a parameter name is the name of a field of the type form (in lower case).
bool is_field(int32_t tfi, const std::string &name) {
  const ddf_Schema *s = g_fill->schema;
  const int32_t first = s->fld_indices[tfi];
  for (int32_t i = first; i < first + s->ent_fldcnts[tfi]; ++i) {
    std::string lower = field_name(&s->fld_data[i]);
    for (char &c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower == name) return true;
  }
  return false;
}

mpm_Status fill(const Made &m) {
  Filling &g = *g_fill;
  g.tfi = m.tfi;
  g.section = m.section;
  g.memory = m.memory;
  g.structs.clear();
  g.unions = 0;
  g.failure = 0;
  const mpm_Status walked = mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, m.memory, fill_field);
  if (g.failure != 0 || (walked != 0 && walked != MDA_TRAVERSE_STOP)) {
    if (g.failure == CFG_MALLOC_ERROR) report_error(0, CFG_MALLOC_ERROR);
    report_error(0, CFG_TRAVERSE_ENT_ERROR, m.entity);
    return CFG_TRAVERSE_ENT_ERROR;
  }
  for (auto &[name, p] : m.section->params)
    if (!p.consumed && !is_field(m.tfi, name))
      report_error(0, CFG_UNDEFINED_SYMBOL, static_cast<long>(p.line), name.c_str());
  return 0;
}

}  // namespace

mpm_Status make_and_fill(ddf_Schema *schema, int32_t model, void *references) {
  Read &r = *g_read;
  if (schema->tf_count <= 0) return report_error(0, CFG_NO_ENTITIES);
  Filling filling;
  filling.schema = schema;
  g_fill = &filling;
  struct Reset {
    ~Reset() { g_fill = nullptr; }
  } reset;
  auto section = [&](const char *name) -> Section * {
    const auto it = r.sections.find(name);
    return it == r.sections.end() ? nullptr : &it->second;
  };
  Section *unnamed = section("");
  const bool unnamed_given = unnamed != nullptr && !unnamed->params.empty();
  std::vector<std::pair<int32_t, Section *>> chosen;
  if (schema->tf_count == 1) {
    Section *s = section(schema->ent_names[0]);
    if (s == nullptr) s = unnamed;
    if (s == nullptr) return report_error(0, CFG_ENT_WO_SECTION, schema->ent_names[0]);
    chosen.emplace_back(0, s);
  } else {
    if (r.unnamed_open && unnamed_given) return report_error(0, CFG_INVALID_DEFAULT);
    for (int32_t tfi = 0; tfi < schema->tf_count; ++tfi)
      if (Section *s = section(schema->ent_names[tfi]); s != nullptr) chosen.emplace_back(tfi, s);
  }
  for (const auto &[tfi, s] : chosen) {
    Made m{schema->typeforms[tfi], tfi, 0, nullptr, s};
    if (mpm_Status st = mda_AllocateEntity(MDA_SET_DEFAULTS, model, m.tf, &m.memory, &m.entity);
        st != 0)
      return report_error(0, CFG_MALLOC_ERROR);
    const Reference ref{m.tf, m.entity};
    if (otm_AddObject(0, static_cast<otm_Tree *>(references), &ref) == nullptr)
      return report_error(0, CFG__ADDT_ERROR);
    s->used = true;
    filling.made.push_back(m);
  }
  for (auto &[name, s] : r.sections)
    if (!s.used && !(name.empty() && s.params.empty()))
      report_error(0, CFG_INVALID_SECTION, static_cast<long>(s.line), name.c_str());
  mpm_Status failed = 0;
  for (const Made &m : filling.made)
    if (mpm_Status s = fill(m); s != 0 && failed == 0) failed = s;
  return failed;
}

int compare_references(const void *a, const void *b) {
  const uint64_t x = static_cast<const Reference *>(a)->tf;
  const uint64_t y = static_cast<const Reference *>(b)->tf;
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace tesmar::cfg
