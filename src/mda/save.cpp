// Saving models: the text and binary forms of a saved-model file (docs/saved-model.md), and the
// save of a set of entities with everything they reach through pointers.
//
// The file is written under a new name next to the target (created exclusively), then renamed
// over the target, or with "do not overwrite" linked to it (which fails when the target exists):
// the target holds the old file or the whole new one, never part of one. Every write and the
// close are checked. The writer's state is one Save object for the operation (the walk's
// callbacks have no argument of their own); only one save runs at a time.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "ddf/ddf_internal.h"
#include "mda/saved_model.h"
#include "platform/platform.h"
#include "tesmar/tmx.h"

int32_t mda_SaveLineWidth = 80;
int32_t mda_SaveFileVersion = 0;

namespace tesmar::mda::saved {

std::string signature() {
  const uint16_t probe = 1;
  uint8_t first = 0;
  std::memcpy(&first, &probe, 1);
  // char 1, short 2, int 4, long 4 (the schema's long is 32 bits), pointer and double 8.
  return std::string(first == 1 ? "1" : "0") + "12448";
}

int64_t element_size(const ddf_FieldDesc &d) {
  if (d.kind == DDF_FSTRING || d.kind == DDF_STRUCT) return ddf::element_size(d);
  if (d.kind == DDF_COUNT) return 4;
  return d.kind >= 0 && d.kind < DDF_KIND_COUNT ? ddf_types[d.kind].size : 0;
}

const char *field_name(const ddf_Schema *schema, const ddf_FieldDesc &d) {
  return d.name >= 0 && d.name < schema->fld_name_count ? schema->fld_names[d.name] : "";
}

std::string double_text(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%#.16g", v);
  if (std::isfinite(v) && std::strtod(text, nullptr) != v) std::snprintf(text, sizeof text, "%.17g", v);
  std::string s = text;
  if (s.find_first_of("eE") == std::string::npos && s.find_first_of("in") == std::string::npos) {
    // Trailing zeros go, one digit stays after the point (1 is 1.0).
    if (s.find('.') == std::string::npos) s += ".0";
    while (s.size() > 2 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
  }
  return s;
}

}  // namespace tesmar::mda::saved

namespace tesmar::mda {
namespace {

using saved::NestingStack;

struct Save {
  std::FILE *out = nullptr;
  bool binary = false;
  bool write_failed = false;
  int32_t model = 0;
  const ddf_Schema *schema = nullptr;
  int32_t file_version = 0;
  int32_t column = 0;
  int32_t items = 0;
  NestingStack stack;
  db_ptr entity = 0;
  const otm_Tree *set = nullptr;  // the entities to write (null: all)
  Result failure;
  std::string piece;
};
Save *g_save = nullptr;

void put(const void *data, std::size_t n) {
  Save &s = *g_save;
  if (n > 0 && std::fwrite(data, 1, n, s.out) != n) s.write_failed = true;
}
void put(const std::string &text) { put(text.data(), text.size()); }
template <typename T>
void put_value(T v) {
  put(&v, sizeof v);
}

// A value that is not a string: after a comma, wrapped to a new line when it would reach the
// line width.
void item(const std::string &value) {
  Save &s = *g_save;
  const int32_t width = mda_SaveLineWidth;
  s.piece.assign(s.items > 0 ? "," : "");
  s.piece += value;
  if (width > 0 && s.items > 0 &&
      s.column + static_cast<int64_t>(s.piece.size()) >= static_cast<int64_t>(width) - 1) {
    put(",\n  ");
    s.piece[0] = ' ';
    put(s.piece);
    s.column = static_cast<int32_t>(s.piece.size()) + 4;
  } else {
    put(s.piece);
    s.column += static_cast<int32_t>(s.piece.size());
  }
  ++s.items;
}

// A string value: on a line of its own when wrapping, in quotes, a quote or backslash after a
// backslash, a line feed or carriage return written \n or \r.
void string_item(const char *text, std::size_t n) {
  Save &s = *g_save;
  std::string &p = s.piece;
  p.assign(s.items > 0 ? "," : "");
  if (mda_SaveLineWidth > 0) p += "\n   ";
  p += '"';
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '"' || c == '\\') p += '\\', p += c;
    else if (c == '\n') p += "\\n";
    else if (c == '\r') p += "\\r";
    else p += c;
  }
  p += '"';
  put(p);
  s.column = mda_SaveLineWidth > 0 ? 4 : s.column + static_cast<int32_t>(p.size());
  ++s.items;
}

void integer(int64_t v, int32_t size) {
  if (g_save->binary) {
    if (size == 1) put_value(static_cast<int8_t>(v));
    else if (size == 2) put_value(static_cast<int16_t>(v));
    else put_value(static_cast<int32_t>(v));
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
  item(text);
}

void element(int32_t type, const char *at, const ddf_FieldDesc &d) {
  Save &s = *g_save;
  switch (type) {
    case DDF_SHORT: {
      int16_t v;
      std::memcpy(&v, at, sizeof v);
      return integer(v, 2);
    }
    case DDF_INT:
    case DDF_LONG: {
      int32_t v;
      std::memcpy(&v, at, sizeof v);
      return integer(v, 4);
    }
    case DDF_CHAR:
      return integer(static_cast<signed char>(*at), 1);
    case DDF_FLOAT:
    case DDF_DOUBLE: {
      double v = 0;
      if (type == DDF_FLOAT) {
        float f;
        std::memcpy(&f, at, sizeof f);
        v = f;
      } else {
        std::memcpy(&v, at, sizeof v);
      }
      if (s.binary) return put(at, type == DDF_FLOAT ? 4 : 8);
      return item(saved::double_text(v));
    }
    case DDF_FSTRING: {
      const auto n = static_cast<std::size_t>(saved::element_size(d));
      if (s.binary) return put(at, n);
      return string_item(at, strnlen(at, n));
    }
    case DDF_VSTRING: {
      const char *text = nullptr;
      std::memcpy(&text, at, sizeof text);
      const std::size_t n = text != nullptr ? std::strlen(text) : 0;
      if (s.binary) {
        put_value(static_cast<uint32_t>(n));
        return put(text, n);
      }
      return string_item(text != nullptr ? text : "", n);
    }
    case DDF_PTR: {
      db_ptr p = 0;
      std::memcpy(&p, at, sizeof p);
      if (p != 0 && model_of(p) != s.model) {
        // Only the saved model's entities can be named: the pointer is written as null.
        mpm_IssueMessage(0, MDA_CROSS_MODEL_PTR, MPM_WARNING, s.entity, s.entity, p, p);
        p = 0;
      }
      if (s.binary) return put_value(static_cast<uint64_t>(number_of(p)));
      if (p == 0) return item("NULL");
      char text[48];
      std::snprintf(text, sizeof text, "%d:%llu", model_of(p),
                    static_cast<unsigned long long>(number_of(p)));
      return item(text);
    }
    default:
      return;
  }
}

mpm_Status write_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
  Save &s = *g_save;
  if (s.failure) return MDA_TRAVERSE_STOP;
  if (type == DDF_ENDSTRUCT || type == DDF_ENDUNION) {
    s.stack.element_done();
    return 0;
  }
  if (d == nullptr || type == DDF_ENDENT) return 0;
  const bool newer = d->version > s.file_version;
  const bool unsized = (d->flags & DDF_UNSIZED) != 0 && ddf::held_in_block(*d);
  if (type == DDF_STRUCT || type == DDF_UNIONKIND) {
    if (s.stack.top().desc != d || count == 0) {
      int32_t n = count > 0 ? 1 : 0;
      if (unsized && count > 0) {
        char *first = nullptr;
        if (Result r = block_elements(*d, mda_TraverseFieldAddress, ddf_registers, &n, &first)) {
          s.failure = r;
          return MDA_TRAVERSE_STOP;
        }
      }
      const bool skip = newer || s.stack.skipping();
      if (!s.stack.push(d, n, skip)) {
        s.failure = Failure::error(MDA_INTERNAL_ERR).with("mda_SaveModel");
        return MDA_TRAVERSE_STOP;
      }
      if (!skip && unsized) integer(n, 4);
    }
    if (type == DDF_UNIONKIND && count > 0 && address != nullptr && !s.stack.skipping()) {
      int16_t selector;
      std::memcpy(&selector, address, sizeof selector);
      integer(selector, 2);
    }
    return 0;
  }
  if (newer || s.stack.skipping() || type == DDF_SUBENT) return 0;
  if (type == DDF_COUNT) {
    int32_t v;
    std::memcpy(&v, address, sizeof v);
    integer(v, 4);
    return 0;
  }
  if (type < DDF_SHORT || type > DDF_PTR) return 0;
  if (unsized) integer(count, 4);
  if (ddf::held_in_block(*d) && count == 0) {
    if (!s.binary) item(" ");  // the empty item
    return 0;
  }
  const int64_t size = saved::element_size(*d);
  const char *first = static_cast<const char *>(address);
  for (int32_t i = 0; i < count; ++i) element(type, first + i * size, *d);
  return 0;
}

int32_t write_entity(db_ptr p) {
  Save &s = *g_save;
  if (s.set != nullptr &&
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, const_cast<otm_Tree *>(s.set), &p) == nullptr)
    return 0;
  void *memory = nullptr;
  if (Result r = lock_entity(p, &memory)) {
    s.failure = r;
    return 1;
  }
  s.entity = p;
  const auto *header = static_cast<const mda_EntityHeader *>(memory);
  const int32_t tfi = ddf_FindTFI(s.schema->typeforms, s.schema->tf_count, header->tf);
  if (s.binary) {
    put_value(static_cast<uint64_t>(number_of(p)));
    put_value(header->tf);
  } else {
    char start[300];
    const int n = std::snprintf(start, sizeof start, "#%llu = %s(",
                                static_cast<unsigned long long>(number_of(p)),
                                tfi >= 0 ? s.schema->ent_names[tfi] : "");
    put(start, static_cast<std::size_t>(n));
    s.column = n + 1;
    s.items = 0;
  }
  const mpm_Status walked = mda_TraverseEntity(0, memory, write_field);
  if (!s.binary) put(");\n", 3);
  const Result unlocked = unlock_entity(0, p);
  if (!s.failure && walked != 0 && walked != MDA_TRAVERSE_STOP) s.failure = Failure::issued(walked);
  if (!s.failure && unlocked) s.failure = unlocked;
  return s.failure ? 1 : 0;
}

int32_t count_entity(db_ptr p) {
  Save &s = *g_save;
  if (s.set == nullptr ||
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, const_cast<otm_Tree *>(s.set), &p) != nullptr)
    ++s.items;
  return 0;
}

// A name of its own next to the target, for the file being written.
std::string temporary_name(const char *target) {
  static int serial = 0;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".tmp-%d-%d", static_cast<int>(platform::process_id()), ++serial);
  return std::string(target) + suffix;
}

Result write_model(uint32_t options, const char *name, mda_ModelRec *rec, Save &s) {
  const ddf_Schema *schema = rec->schema;
  int32_t version = schema->db_version, release = schema->db_release;
  if (rec->save_version != 0) {
    version = static_cast<int32_t>(rec->save_version / 100);
    release = static_cast<int32_t>(rec->save_version % 100);
  }
  if (version < 0 || version > 99 || release < 0 || release > 99) return MDA_INVALID_ARG;
  s.file_version = version * 100 + release;
  s.binary = (options & MDA_BINARY) != 0;
  const bool overwrite = (options & MDA_OVERWRITE) != 0;
  if (!overwrite && platform::file_exists(name)) return MDA_FILE_EXISTS;
  const std::string temporary = temporary_name(name);
  s.out = platform::open_stream(temporary.c_str(), s.binary ? "wbx" : "wx");
  if (s.out == nullptr) return Failure::error(MDA_OPEN_ERR).with(name);
  const int32_t saved_version = mda_SaveFileVersion;
  mda_SaveFileVersion = s.file_version;
  if (s.binary) {
    put(saved::signature());
    put(schema->db_name, sizeof schema->db_name);
    char v[8];
    std::snprintf(v, sizeof v, "%2d%2d", version, release);
    put(v, 4);
    s.items = 0;
    mda_TraverseModel(0, s.model, count_entity);
    put_value(static_cast<uint64_t>(s.items));
  } else {
    char header[300];
    const int n = std::snprintf(header, sizeof header, "BEGIN_MODEL %d %s %d %d\n", s.model,
                                schema->db_name, version, release);
    put(header, static_cast<std::size_t>(n));
  }
  const mpm_Status visited = mda_TraverseModel(0, s.model, write_entity);
  if (!s.failure && visited != 0 && visited != MDA_TRAVERSE_STOP) s.failure = Failure::issued(visited);
  if (!s.binary) {
    char trailer[32];
    put(trailer, static_cast<std::size_t>(std::snprintf(trailer, sizeof trailer, "END_MODEL %d\n", s.model)));
  }
  mda_SaveFileVersion = saved_version;
  if (!s.failure && !s.stack.at_base())
    s.failure = Failure::fatal(MDA_INTERNAL_ERR).with("mda_SaveModel");
  const bool closed = std::fclose(s.out) == 0;
  s.out = nullptr;
  Result status = s.failure;
  if (!status && (s.write_failed || !closed)) status = Failure::error(MDA_FILE_WRITE_ERR).with(name);
  if (!status) {
    // Into place: over the target, or beside an existing one only by a link that fails then.
    int placed = 0;
    if (overwrite) {
      placed = platform::rename_file(temporary.c_str(), name);
    } else {
      placed = platform::link_file(temporary.c_str(), name);
      if (placed != 0 && errno == EEXIST) status = MDA_FILE_EXISTS;
      else if (placed != 0) status = Failure::error(MDA_FILE_WRITE_ERR).with(name);
    }
    if (placed != 0 && !status) status = Failure::error(MDA_FILE_WRITE_ERR).with(name);
  }
  if (status || !overwrite) platform::remove_file(temporary.c_str());
  return status;
}

// A save with the model current for its duration.
Result save(uint32_t options, const char *name, int32_t model, const otm_Tree *set) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return MDA_INVALID_MODEL;
  if (name == nullptr || *name == '\0') return Failure::error(MDA_OPEN_ERR).with(name != nullptr ? name : "");
  Save *s = new (std::nothrow) Save;
  if (s == nullptr) return MDA_MALLOC_ERR;
  delete g_save;  // one that a handler's jump left behind
  g_save = s;
  s->model = model;
  s->schema = rec->schema;
  s->set = set;
  const int32_t previous = mda_current_model;
  Result status = Failure::issued(mda_SetCurrentModel(model, 0));
  if (!status) {
    try {
      status = write_model(options, name, rec, *s);
    } catch (const std::bad_alloc &) {
      status = MDA_MALLOC_ERR;
    }
    if (s->out != nullptr) std::fclose(s->out);
    mda_SetCurrentModel(previous, 0);
  }
  delete g_save;
  g_save = nullptr;
  return status;
}

int compare_handles(const void *a, const void *b) { return mda_ComparePtrs(a, b); }

struct Closure {
  std::vector<db_ptr> children;
};

mpm_Status collect(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                   mpm_Status *, int32_t *, void *user) {
  if (type != DDF_PTR || address == nullptr) return 0;
  auto &c = *static_cast<Closure *>(user);
  for (int32_t i = 0; i < count; ++i) {
    db_ptr p = 0;
    std::memcpy(&p, static_cast<char *>(address) + 8 * i, sizeof p);
    if (p != 0) c.children.push_back(p);
  }
  return 0;
}

// The set of the given entities and all they reach through pointers (of the first's model), by
// an explicit work list.
Result closure(int32_t count, const db_ptr *handles, otm_Tree *set) {
  const int32_t model = model_of(handles[0]);
  std::vector<db_ptr> work;
  for (int32_t i = 0; i < count; ++i) work.push_back(handles[i]);
  Closure found;
  while (!work.empty()) {
    const db_ptr p = work.back();
    work.pop_back();
    if (lookup_valid(p) == nullptr || model_of(p) != model) continue;
    if (otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, set, &p) != nullptr) continue;
    if (otm_AddObject(0, set, &p) == nullptr) return MDA_TREE_ERR;
    void *memory = nullptr;
    if (Result r = lock_entity(p, &memory)) return r;
    found.children.clear();
    const mpm_Status walked = mda_TraverseEntity2(0, memory, collect, &found);
    const Result unlocked = unlock_entity(0, p);
    if (walked != 0) return Failure::issued(walked);
    if (unlocked) {
      mpm_IssueMessage(0, TMX_CLEANUP_ERR, MPM_ERROR, static_cast<unsigned long>(unlocked.code()),
                       "mda/mda_SaveEntities", 160);
      return unlocked;
    }
    work.insert(work.end(), found.children.begin(), found.children.end());
  }
  return 0;
}

}  // namespace
}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_SaveModel(uint32_t options, const char *file_name, int32_t, const int32_t *model) {
  if ((options & MDA_DO_NOTHING) != 0) return 0;
  if (model == nullptr) return report(MDA_NULL_MEMPTR);
  return report(save(options, file_name, *model, nullptr));
}

mpm_Status mda_SaveEntities(uint32_t options, const char *file_name, int32_t count,
                            const db_ptr *handles) {
  if ((options & MDA_DO_NOTHING) != 0) return 0;
  if (handles == nullptr || count < 1) return report(MDA_NULL_MEMPTR);
  if (lookup_valid(handles[0]) == nullptr) return report(MDA_INVALID_PTR);
  otm_Tree *set = otm_CreateTree(0, sizeof(db_ptr), compare_handles, 0);
  if (set == nullptr) return report(MDA_TREE_ERR);
  Result status;
  try {
    status = closure(count, handles, set);
  } catch (const std::bad_alloc &) {
    status = MDA_MALLOC_ERR;
  }
  if (!status) status = save(options, file_name, model_of(handles[0]), set);
  otm_DeleteTree(0, set);
  return report(status);
}

}  // extern "C"
