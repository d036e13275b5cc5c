// Debugging aids of the entity database: dumps of entity table entries, entities, memory blocks,
// the cache, locked entities and named parameters on mda_DbgStream; checks of disk records, memory
// blocks and back pointers, whose findings are reported as warnings on the same stream and do not
// stop the check; a list of the entities nothing points to; the field editor on standard input;
// and shortcuts that save chosen entities or a model.
//
// Addresses print as "0x" and lower-case hexadecimal (never a doubled "0x"). Lines that name
// handles go through the formatting directives (mpm_Fprintf), each handle passed twice.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <new>
#include <cstdio>
#include <string>
#include <vector>

#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"

namespace tesmar::mda {
namespace {

unsigned long long address(const void *p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); }

bool live(const mda_EntityEntry *e) {
  return e != nullptr && (e->status & (MDA_ENTRY_DELETED | MDA_ENTRY_RESERVED)) == 0;
}

// Every live entity of a model, in number order.
template <class Fn>
void each_live(mda_ModelRec *rec, Fn &&fn) {
  for (uint64_t n = 1; n < rec->next_number; ++n) {
    mda_EntityEntry *e = entry_of(rec, n);
    if (live(e)) fn(make_ptr(number_of(rec), n), e);
  }
}

// A finding of a check, reported on the debugging stream as a warning.
void warn(mpm_Status code, db_ptr handle) {
  mpm_ReportMessage(MPM_OPTIONS | MPM_KEEP_PENDING, code, MPM_WARNING, MPM_OPT_STREAM, mda_DbgStream,
                    MPM_OPT_END, handle);
}
// DBG_BIGDBLOCK takes the size as a long, DBG_BADBLOCKNUM and DBG_BADPTRNUM the number as an int.
void warn(mpm_Status code, int64_t value, db_ptr handle) {
  if (code == MDA_DBG_BIGDBLOCK)
    mpm_ReportMessage(MPM_OPTIONS | MPM_KEEP_PENDING, code, MPM_WARNING, MPM_OPT_STREAM, mda_DbgStream,
                      MPM_OPT_END, static_cast<long>(value), handle);
  else
    mpm_ReportMessage(MPM_OPTIONS | MPM_KEEP_PENDING, code, MPM_WARNING, MPM_OPT_STREAM, mda_DbgStream,
                      MPM_OPT_END, static_cast<int>(value), handle);
}
void warn_block(const void *header) {
  mpm_ReportMessage(MPM_OPTIONS | MPM_KEEP_PENDING, MDA_BAD_MBLOCK, MPM_WARNING, MPM_OPT_STREAM,
                    mda_DbgStream, MPM_OPT_END, header);
}

void dump_entry(db_ptr ptr, const mda_ModelRec *rec, const mda_EntityEntry *e) {
  char dloc[64];
  if (memory_only(rec)) std::snprintf(dloc, sizeof dloc, "Memory:0x%llx", static_cast<unsigned long long>(e->dloc));
  else if (e->dloc == MDA_NO_DLOC) std::snprintf(dloc, sizeof dloc, "Not written");
  else std::snprintf(dloc, sizeof dloc, "%#llx", static_cast<unsigned long long>(e->dloc));
  std::string status;
  if ((e->status & MDA_ENTRY_DELETED) != 0) {
    status = "DELETED";
  } else {
    static const struct {
      uint32_t bit;
      const char *text;
    } kBits[] = {{MDA_ENTRY_RWLOCK, "RWLOCK  "},   {MDA_ENTRY_MODIFIED, "MODIFIED  "},
                 {MDA_ENTRY_RESERVED, "RESERVED  "}, {MDA_ENTRY_INVALID, "INVALID  "},
                 {MDA_ENTRY_NEW, "NEW  "},           {MDA_ENTRY_NEEDFLUSH, "NEEDFLUSH  "}};
    for (const auto &b : kBits)
      if ((e->status & b.bit) != 0) status += b.text;
  }
  std::fprintf(mda_DbgStream,
               "#%d:%" PRIu64 "\n   TF:          %d:%d\n   Mloc:        0x%llx\n   Dloc:        %s\n"
               "   Status:      %s\n   Cache Entry: %u\n   Lock Count:  %u\n\n",
               model_of(ptr), number_of(ptr), static_cast<int>(e->tf >> 16),
               static_cast<int>(static_cast<int16_t>(e->tf & 0xFFFF)), address(e->mloc), dloc,
               status.c_str(), e->status & MDA_ENTRY_CACHE_MASK, lock_count(e->status));
}

// The entry of an entity the dumps and the editor work on: null (with *status) for a handle
// that names none, and for a deleted one, which is said so.
const mda_EntityEntry *entity_entry(db_ptr ptr, mda_ModelRec **rec, mpm_Status *status) {
  *status = 0;
  const mda_EntityEntry *e = lookup(ptr, rec);
  if (e == nullptr) {
    *status = report(MDA_INVALID_PTR);
    return nullptr;
  }
  if ((e->status & MDA_ENTRY_DELETED) != 0) {
    mpm_Fprintf(mda_DbgStream, "Entity %<PTR> (%<PTR2>) has been deleted.\n", ptr, ptr);
    return nullptr;
  }
  return e;
}

// The parents of an entity as the dumps list them.
void print_parents(db_ptr ptr) {
  int32_t count = 0;
  db_ptr *parents = nullptr;
  if (parents_of(ptr, &count, &parents) != 0 || count == 0) {
    std::free(parents);
    return;
  }
  std::fprintf(mda_DbgStream, "\nEntity is referenced %ld time(s) by:\n", static_cast<long>(count));
  for (int32_t i = 0; i < count; ++i) mpm_Fprintf(mda_DbgStream, "   %<PTR> (%<PTR2>)\n", parents[i], parents[i]);
  std::free(parents);
}

// The three header lines of the entity dump and the editor; the schema current for the lookups.
void print_heading(db_ptr ptr, const mda_ModelRec *rec, const void *memory) {
  const auto *h = static_cast<const mda_EntityHeader *>(memory);
  const ddf_Schema *s = rec->schema;
  const char *name = h->tfi < static_cast<uint32_t>(s->tf_count) ? s->ent_names[h->tfi] : "";
  const char *desc = h->tfi < static_cast<uint32_t>(s->tf_count) && s->ent_descs != nullptr ? s->ent_descs[h->tfi] : "";
  mpm_Fprintf(mda_DbgStream, "db_ptr %<PTR> (%<PTR2>)\n", ptr, ptr);
  mpm_Fprintf(mda_DbgStream, "orig db_ptr %<PTR> (%<PTR2>)\n", h->orig_ptr, h->orig_ptr);
  mpm_Fprintf(mda_DbgStream, "TF %<TF> (%s, \"%s\")\n", h->tf, name != nullptr ? name : "",
              desc != nullptr ? desc : "");
}

// Makes a schema current for a walk; restores the one before.
struct CurrentSchema {
  ddf_Schema *before;
  explicit CurrentSchema(ddf_Schema *s) : before(ddf_current) {
    ddf_current = s;
    ddf_last_tf = TF_NONE;
  }
  ~CurrentSchema() {
    ddf_current = before;
    ddf_last_tf = TF_NONE;
  }
};

int32_t g_field_count = 0;

mpm_Status show_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *desc) {
  const char *name = desc != nullptr ? tesmar::ddf::field_name(ddf_current, *desc) : nullptr;
  const char *kind = type >= 0 && type < DDF_KIND_COUNT ? ddf_types[type].keyword : "?";
  std::fprintf(mda_DbgStream, "%d: ", ++g_field_count);
  std::fprintf(mda_DbgStream, "cnt=%d, %s %s, fld=%p, data=%p, taddr=%p\n", count, kind,
               name != nullptr && *name != '\0' ? name : "**No name**", static_cast<const void *>(desc),
               address, mda_TraverseFieldAddress);
  return 0;
}

int32_t count_locked(mda_ModelRec *rec) {
  int32_t n = 0;
  each_live(rec, [&](db_ptr, mda_EntityEntry *e) { n += (e->status & MDA_ENTRY_RWLOCK) != 0; });
  return n;
}

// ---- back pointers ----

// The parents an entity's record in `table` lists.
std::vector<db_ptr> recorded(mda_PtrTable *table, uint64_t number) {
  std::vector<db_ptr> out;
  if (table == nullptr) return out;
  const auto *r = static_cast<const mda_BackPtrRec *>(table_record(table, number));
  if (r == nullptr) return out;
  if (r->kind == MDA_PARENTS_ONE) {
    out.push_back(r->value);
  } else if (r->kind == MDA_PARENTS_LIST) {
    auto *list = reinterpret_cast<olm_List *>(static_cast<uintptr_t>(r->value));
    for (int32_t i = 1; list != nullptr && i <= list->count; ++i) {
      const auto *p = static_cast<const db_ptr *>(olm_GetObject(0, list, i));
      if (p != nullptr) out.push_back(*p);
    }
  }
  return out;
}

struct SetAside {
  uint8_t flag;
  mda_PtrTable *table;
  mda_PtrTable *rebuilt;
};

// Compares the recorded parents with those the pointer fields give, for one model.
bool compare_back_ptrs(mda_ModelRec *rec, const SetAside &aside) {
  bool sound = true;
  each_live(rec, [&](db_ptr ptr, mda_EntityEntry *) {
    std::vector<db_ptr> was = recorded(aside.table, number_of(ptr));
    const std::vector<db_ptr> actual = recorded(aside.rebuilt, number_of(ptr));
    bool headed = false;
    auto head = [&] {
      if (!headed) std::fprintf(mda_DbgStream, "Inconsistencies in references to #%d:%" PRIu64 ":\n", model_of(ptr), number_of(ptr));
      headed = true;
      sound = false;
    };
    for (db_ptr parent : actual) {
      auto it = std::find(was.begin(), was.end(), parent);
      if (it != was.end()) {
        was.erase(it);
        continue;
      }
      head();
      std::fprintf(mda_DbgStream, "   mda_Add/ModifyPtr was not called from parent #%d:%" PRIu64 ".\n",
                   model_of(parent), number_of(parent));
    }
    for (db_ptr parent : was) {
      head();
      std::fprintf(mda_DbgStream, "   mda_Delete/ModifyPtr was not called from parent #%d:%" PRIu64 ".\n",
                   model_of(parent), number_of(parent));
    }
  });
  return sound;
}

mpm_Status check_back_ptrs(uint32_t options, int32_t model) {
  if (model == 0) return 0;
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  if (rec->back_ptr_table == nullptr) {
    std::fprintf(mda_DbgStream, "No backpointer information in model.\n");
    return 0;
  }
  // Every model's flag and table set aside, the tables rebuilt from the pointer fields, compared,
  // and everything put back on every path.
  // Kept out of the stack (a record for each of 65536 models), as the model table is.
  static SetAside aside[kMaxModel + 1];
  std::memset(aside, 0, sizeof aside);
  for (int32_t m = 1; m <= kMaxModel; ++m) {
    if (g_models[m].in_use == 0) continue;
    aside[m] = {g_models[m].back_ptrs, g_models[m].back_ptr_table, nullptr};
    g_models[m].back_ptr_table = nullptr;
  }
  const mpm_Status rebuilt = mda_SetBackPtrs(MDA_ALL_MODELS, 0);
  for (int32_t m = 1; m <= kMaxModel; ++m) {
    if (g_models[m].in_use == 0) continue;
    aside[m].rebuilt = g_models[m].back_ptr_table;
    g_models[m].back_ptr_table = nullptr;
  }
  bool sound = true;
  if (rebuilt == 0)
    for (int32_t m = 1; m <= kMaxModel; ++m)
      if (g_models[m].in_use != 0 && (m == model || (options & MDA_ALL_MODELS) != 0))
        sound = compare_back_ptrs(&g_models[m], aside[m]) && sound;
  for (int32_t m = 1; m <= kMaxModel; ++m) {
    if (g_models[m].in_use == 0) continue;
    g_models[m].back_ptr_table = aside[m].rebuilt;
    release_back_ptr_table(&g_models[m]);
    g_models[m].back_ptr_table = aside[m].table;
    g_models[m].back_ptrs = aside[m].flag;
  }
  if (rebuilt != 0) return rebuilt;
  return sound ? 0 : MDA_BAD_BACKPTRS;
}

// ---- the memory-block check ----

// The block chain of entity memory: each block's marker and its reference. Findings are reported.
// At most this many blocks are followed (a chain that long is broken).
constexpr uint64_t kMaxBlocks = uint64_t{1} << 24;

bool check_memory_blocks(void *memory, db_ptr ptr) {
  bool sound = true;
  MBlock *b = header_of(memory);
  for (uint64_t i = 0; b != nullptr && i < kMaxBlocks; ++i) {
    if (b->marker != MDA_MBLOCK_MARKER) {
      warn_block(b);
      return false;  // a header that is no header: nothing in it can be followed
    }
    MBlock *next = next_of(b);
    if (next != nullptr) {
      void *held = nullptr;
      if (b->reference != 0) std::memcpy(&held, reinterpret_cast<void *>(b->reference), sizeof held);
      if (b->reference == 0 || next->marker != MDA_MBLOCK_MARKER || held != user_address(next)) {
        if (sound) warn(MDA_DBG_BADMEMREF, ptr);
        sound = false;
        if (next->marker != MDA_MBLOCK_MARKER) {
          warn_block(next);
          return false;
        }
      }
    }
    b = next;
  }
  return sound;
}

// ---- the field editor ----

struct Undo {
  char *address;
  int32_t type;
  std::string bytes;  // the old value (a vstring: its text; `missing` when it had none)
  bool missing;
};

struct Editor {
  enum Mode { kAsk, kDone, kCancelled } mode = kAsk;
  bool skip_field = false;
  void *memory = nullptr;
  db_ptr self = 0;
  std::vector<Undo> undo;
};
Editor *g_editor = nullptr;

// One line of standard input, whole; false at its end.
bool read_line(std::string *line) {
  line->clear();
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  if (c == EOF && line->empty()) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

void print_value(const char *name, const char *suffix, int32_t type, const ddf_FieldDesc *desc,
                 const char *at, const char *last) {
  FILE *out = mda_DbgStream;
  auto get = [&](auto v) {
    std::memcpy(&v, at, sizeof v);
    return v;
  };
  switch (type) {
    case DDF_SHORT: std::fprintf(out, "%s%s = <%d>: %s", name, suffix, int{get(int16_t{})}, last); break;
    case DDF_INT:
    case DDF_COUNT: std::fprintf(out, "%s%s = <%d>: %s", name, suffix, get(int32_t{}), last); break;
    case DDF_CHAR: std::fprintf(out, "%s%s = <%d>: %s", name, suffix, int{get(char{})}, last); break;
    case DDF_LONG: std::fprintf(out, "%s%s = <%ld>: %s", name, suffix, static_cast<long>(get(int32_t{})), last); break;
    case DDF_FLOAT: std::fprintf(out, "%s%s = <%#.16g>: %s", name, suffix, double{get(float{})}, last); break;
    case DDF_DOUBLE: std::fprintf(out, "%s%s = <%#.16g>: %s", name, suffix, get(double{}), last); break;
    case DDF_FSTRING: {
      const int32_t n = tesmar::ddf::element_size(*desc);
      std::fprintf(out, "%s%s = <\"%.*s\">: %s", name, suffix, static_cast<int>(strnlen(at, static_cast<size_t>(n))), at, last);
      break;
    }
    case DDF_VSTRING: {
      const char *text = get(static_cast<const char *>(nullptr));
      std::fprintf(out, "%s%s = <\"%s\">: %s", name, suffix, text != nullptr ? text : "<NULL>", last);
      break;
    }
    case DDF_PTR: {
      const db_ptr p = get(db_ptr{});
      if (p == 0) std::fprintf(out, "%s%s = <NULL>: %s", name, suffix, last);
      else mpm_Fprintf(out, "%s%s = <%<PTR> (%<PTR2>)>: %s", name, suffix, p, p, last);
      break;
    }
    default: break;
  }
  std::fflush(out);
}

// Stores a typed value; false when it cannot be read as one.
bool store_value(Editor &ed, int32_t type, const ddf_FieldDesc *desc, char *at, const std::string &line) {
  Undo u{at, type, {}, false};
  const int32_t size = tesmar::ddf::element_size(*desc);
  if (type == DDF_VSTRING) {
    const char *old = nullptr;
    std::memcpy(&old, at, sizeof old);
    u.missing = old == nullptr;
    if (old != nullptr) u.bytes = old;
    // Typed between quotes: the text without its first and last characters (none for one).
    const std::string text = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string();
    if (mda_SetString(0, ed.memory, text.c_str(), at) != 0) return false;
  } else if (type == DDF_FSTRING) {
    u.bytes.assign(at, static_cast<size_t>(size));
    std::memset(at, 0, static_cast<size_t>(size));
    std::memcpy(at, line.data(), std::min(line.size(), static_cast<size_t>(size)));
  } else if (type == DDF_PTR) {
    db_ptr old = 0, p = 0;
    std::memcpy(&old, at, sizeof old);
    unsigned long long whole = 0;
    int model = 0;
    unsigned long long number = 0;
    char extra = 0;
    if (line.find('x') != std::string::npos) {
      if (std::sscanf(line.c_str(), " 0x%llx %c", &whole, &extra) != 1 || line.size() > 20) return false;
      p = whole;
    } else if (line.find(':') != std::string::npos) {
      if (std::sscanf(line.c_str(), " %d:%llu %c", &model, &number, &extra) != 2 || model < 0 ||
          model > kMaxModel || number > kNumberMask)
        return false;
      p = make_ptr(model, number);
    } else {  // an entity number of the entity's own model
      if (std::sscanf(line.c_str(), " %llu %c", &number, &extra) != 1 || number > kNumberMask) return false;
      p = number == 0 ? 0 : make_ptr(model_of(ed.self), number);
    }
    u.bytes.assign(at, sizeof old);
    const mpm_Status s = old != 0 ? mda_ModifyPtr(ed.self, p, reinterpret_cast<db_ptr *>(at))
                                  : mda_AddPtr(ed.self, p, reinterpret_cast<db_ptr *>(at));
    if (s != 0) return false;
  } else {
    double v = 0;
    char extra = 0;
    if (std::sscanf(line.c_str(), " %lf %c", &v, &extra) != 1) return false;
    // In the field's own width: a value it cannot hold is refused, not wrapped.
    const double low = type == DDF_SHORT ? -32768.0 : type == DDF_CHAR ? -128.0 : -2147483648.0;
    const double high = type == DDF_SHORT ? 32767.0 : type == DDF_CHAR ? 255.0 : 2147483647.0;
    if (type != DDF_FLOAT && type != DDF_DOUBLE && !(v >= low && v <= high)) return false;
    if (type == DDF_FLOAT && std::isfinite(v) && std::fabs(v) > 3.4028234663852886e38) return false;
    u.bytes.assign(at, static_cast<size_t>(size));
    switch (type) {
      case DDF_SHORT: { const auto x = static_cast<int16_t>(v); std::memcpy(at, &x, sizeof x); break; }
      case DDF_INT: case DDF_COUNT: case DDF_LONG: { const auto x = static_cast<int32_t>(v); std::memcpy(at, &x, sizeof x); break; }
      case DDF_CHAR: { const auto x = static_cast<char>(static_cast<int>(v)); std::memcpy(at, &x, sizeof x); break; }
      case DDF_FLOAT: { const auto x = static_cast<float>(v); std::memcpy(at, &x, sizeof x); break; }
      case DDF_DOUBLE: std::memcpy(at, &v, sizeof v); break;
      default: return false;
    }
  }
  ed.undo.push_back(std::move(u));
  return true;
}

mpm_Status edit_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *desc) {
  Editor &ed = *g_editor;
  if (count <= 0 || address == nullptr || desc == nullptr || type < DDF_SHORT || type > DDF_COUNT)
    return 0;
  const char *name = tesmar::ddf::field_name(ddf_current, *desc);
  if (name == nullptr) name = "";
  const int32_t size = tesmar::ddf::element_size(*desc);
  ed.skip_field = false;
  start_label(desc, nullptr);
  char *at = static_cast<char *>(address);
  for (int32_t i = 0; i < count; ++i, at += size, next_label()) {
    const bool ask = ed.mode == Editor::kAsk && !ed.skip_field;
    print_value(name, label_suffix(), type, desc, at, ask ? "" : "\n");
    if (!ask) continue;
    std::string line;
    if (!read_line(&line)) {  // the end of the input cancels
      ed.mode = Editor::kCancelled;
      std::fputc('\n', mda_DbgStream);
      return MDA_TRAVERSE_STOP;
    }
    const std::size_t first = line.find_first_not_of(" \t");
    line = first == std::string::npos ? "" : line.substr(first);
    if (line.empty()) continue;
    if (line == "c") {
      ed.mode = Editor::kCancelled;
      return MDA_TRAVERSE_STOP;
    }
    if (line == "d") {
      ed.mode = Editor::kDone;
      continue;
    }
    if (line == "n") {
      ed.skip_field = true;
      continue;
    }
    const char c0 = line[0];
    const bool numeric_start = (c0 >= '0' && c0 <= '9') || c0 == '-' || c0 == '+' || c0 == '.';
    if (!numeric_start && type != DDF_FSTRING && type != DDF_VSTRING)
      std::fprintf(mda_DbgStream, "Ingoring unrecognized input %s\n", line.c_str());
    if (!store_value(ed, type, desc, at, line))
      std::fprintf(mda_DbgStream, "Value not taken: %s\n", line.c_str());
  }
  return 0;
}

// Puts back every changed value, newest first.
void undo_all(Editor &ed) {
  for (auto it = ed.undo.rbegin(); it != ed.undo.rend(); ++it) {
    if (it->type == DDF_VSTRING) {
      if (it->missing) {
        const char *none = nullptr;
        std::memcpy(it->address, &none, sizeof none);  // the block made for it stays in the chain
      } else {
        mda_SetString(0, ed.memory, it->bytes.c_str(), it->address);
      }
    } else if (it->type == DDF_PTR) {
      db_ptr old = 0;
      std::memcpy(&old, it->bytes.data(), sizeof old);
      db_ptr *slot = reinterpret_cast<db_ptr *>(it->address);
      if (old != 0) mda_ModifyPtr(ed.self, old, slot);
      else {
        mda_DeletePtr(ed.self, *slot);
        *slot = 0;
      }
    } else {
      std::memcpy(it->address, it->bytes.data(), it->bytes.size());
    }
  }
}

}  // namespace
}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_DbgDumpPtr(uint32_t, db_ptr ptr) {
  if (ptr == 0 || mda_DbgStream == nullptr) return 0;
  mda_ModelRec *rec = nullptr;
  const mda_EntityEntry *e = lookup(ptr, &rec);
  if (e == nullptr) return report(MDA_INVALID_PTR);
  dump_entry(ptr, rec, e);
  return 0;
}

mpm_Status mda_DbgDumpEntity(uint32_t, db_ptr ptr) {
  if (ptr == 0 || mda_DbgStream == nullptr) return 0;
  mda_ModelRec *rec = nullptr;
  mpm_Status status = 0;
  if (entity_entry(ptr, &rec, &status) == nullptr) return status;
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, ptr, &memory); s != 0) return s;
  {
    CurrentSchema current(rec->schema);
    print_heading(ptr, rec, memory);
    mda_TraverseEntity(0, memory, mda_DumpFieldCallback);
  }
  if (mpm_Status s = mda_UnlockEntity(0, ptr); s != 0) return s;
  print_parents(ptr);
  return 0;
}

mpm_Status mda_DbgDumpMBlocks(uint32_t, void *memory) {
  if (memory == nullptr || mda_DbgStream == nullptr) return 0;
  FILE *out = mda_DbgStream;
  mpm_Status result = 0;
  uint64_t total = 0;
  MBlock *b = header_of(memory);
  for (uint64_t i = 0; b != nullptr && i < kMaxBlocks; ++i) {
    std::fprintf(out, "Block %" PRIu64 " @ 0x%llx,  type %d,  size %ld", i, address(b), b->type,
                 static_cast<long>(b->size));
    if (b->marker != MDA_MBLOCK_MARKER) {
      std::fprintf(out, "  <- Warning: Bad MBlock header:\n\n");
      result = MDA_DBG_BADMEMREF;
      break;  // nothing in a header that is no header can be followed
    }
    if (b->type == MDA_MBLOCK_ARRAY) {
      const mda_ArrayHeader *a = array_header(b);
      std::fprintf(out, ",  dims ");
      for (int32_t d = 0; d < a->ndims && d < MDA_MAX_DIMS; ++d) std::fprintf(out, "[%ld]", static_cast<long>(a->dims[d]));
    }
    std::fprintf(out, ":\n   next block at 0x%llx\n   referenced at 0x%llx", static_cast<unsigned long long>(b->next),
                 static_cast<unsigned long long>(b->reference));
    MBlock *next = next_of(b);
    if (b->reference != 0) {
      void *held = nullptr;
      std::memcpy(&held, reinterpret_cast<void *>(b->reference), sizeof held);
      std::fprintf(out, " (->0x%llx)", address(held));
      if (next == nullptr || next->marker != MDA_MBLOCK_MARKER || held != user_address(next)) {
        std::fprintf(out, "  <- Warning: Incorrect reference");
        result = MDA_DBG_BADMEMREF;
      }
    }
    std::fprintf(out, "\n\n");
    total += b->size;
    b = next;
  }
  std::fprintf(out, "Total size of MBlocks: %ld\n\n", static_cast<long>(total));
  return result;
}

mpm_Status mda_DbgDumpCache(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  int32_t used = 0;
  for (int32_t i = 0; rec->cache != nullptr && i < rec->cache_size; ++i) {
    const db_ptr p = rec->cache[i].ptr;
    if (p == 0) continue;
    ++used;
    std::fprintf(mda_DbgStream, "Cache Entry %d, db_ptr #%d:%" PRIu64 "\n", i, model_of(p), number_of(p));
    if (const mda_EntityEntry *e = lookup(p)) dump_entry(p, rec, e);
  }
  std::fprintf(mda_DbgStream, "\n\nCache size = %d entries, %d in use\n", rec->cache_size, used);
  return 0;
}

mpm_Status mda_DbgDumpLocked(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  each_live(rec, [&](db_ptr p, mda_EntityEntry *e) {
    if ((e->status & MDA_ENTRY_RWLOCK) != 0) dump_entry(p, rec, e);
  });
  return 0;
}

static int32_t dump_visitor(db_ptr ptr) {
  mda_DbgDumpEntity(0, ptr);
  std::fprintf(mda_DbgStream, "\n\n");
  return 0;
}

mpm_Status mda_DbgDumpModel(uint32_t, int32_t model) {
  if (model_in_use(model) == nullptr) return report(MDA_INVALID_MODEL);
  const mpm_Status s = mda_TraverseModel(0, model, dump_visitor);
  return s == MDA_TRAVERSE_STOP ? 0 : s;
}

mpm_Status mda_DbgDumpParams(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  if (rec->params != nullptr) {
    int32_t n = 0;
    auto *all = static_cast<mda_ModelParam *>(otm_GetArray(0, rec->params, &n));
    for (int32_t i = 0; all != nullptr && i < n; ++i)
      std::fprintf(mda_DbgStream, "%s = %g\n", all[i].name, all[i].value);
    otm_FreeArray(0, all);
  }
  std::fprintf(mda_DbgStream, "\n\n");
  return 0;
}

mpm_Status mda_DbgShowFields(uint32_t, db_ptr ptr) {
  if (ptr == 0) return 0;
  mda_ModelRec *rec = nullptr;
  mpm_Status status = 0;
  if (entity_entry(ptr, &rec, &status) == nullptr) return status;
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, ptr, &memory); s != 0) return s;
  g_field_count = 0;
  {
    CurrentSchema current(rec->schema);
    mda_TraverseEntity(0, memory, show_field);
  }
  return mda_UnlockEntity(0, ptr);
}

int32_t mda_DbgCountLocked(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  return rec == nullptr ? 0 : count_locked(rec);
}

mpm_Status mda_DbgCheckEntity(db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return report(MDA_INVALID_PTR);
  // The disk record, read as the loader reads it, without loading it.
  bool record_refused = false;
  if (e->mloc == nullptr || (e->status & MDA_ENTRY_NEEDFLUSH) == 0) {
    DiskFinding finding;
    const uint64_t record = e->dloc;
    const Result verdict = check_disk_record(rec, e, ptr, &finding);
    if (finding.code != 0) warn(finding.code, finding.value, ptr);
    record_refused = verdict == MDA_BAD_MBLOCK;
    if (record_refused) warn_block(reinterpret_cast<const void *>(static_cast<uintptr_t>(record)));
    else if (verdict != 0) return report(verdict);
    // A record that cannot be loaded cannot be followed: its memory is checked only when it is
    // in memory already.
    const bool broken = verdict != 0 || (finding.code != 0 && finding.code != MDA_DBG_BIGDBLOCK);
    if (broken && lookup(ptr)->mloc == nullptr) return verdict == MDA_BAD_MBLOCK ? MDA_BAD_MBLOCK : 0;
  }
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, ptr, &memory); s != 0) return s;
  check_memory_blocks(memory, ptr);
  if (mpm_Status s = mda_UnlockEntity(0, ptr); s != 0) return s;
  return record_refused ? MDA_BAD_MBLOCK : 0;
}

mpm_Status mda_DbgCheckModelEntities(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  mpm_Status first = 0;
  for (uint64_t n = 1; n < rec->next_number; ++n) {
    mda_EntityEntry *e = entry_of(rec, n);
    if (!live(e)) continue;
    const mpm_Status s = mda_DbgCheckEntity(make_ptr(model, n));
    if (first == 0) first = s;
  }
  return first;
}

mpm_Status mda_DbgCheckModelBackPtrs(uint32_t options, int32_t model) { return check_back_ptrs(options, model); }

mpm_Status mda_DbgCheckBackPtrs(uint32_t options) {
  if ((options & 0x40000u) != 0) return 0;
  mpm_Status first = 0;
  for (int32_t m = 1; m <= kMaxModel; ++m) {
    mda_ModelRec *rec = model_in_use(m);
    if (rec == nullptr) continue;
    if ((options & 1u) != 0) {
      uint64_t free_count = 0;
      for (uint64_t n = rec->free_head; n != 0 && free_count < rec->next_number; ++free_count) {
        const mda_EntityEntry *e = entry_of(rec, n);
        n = e != nullptr ? e->dloc : 0;
      }
      std::fprintf(mda_DbgStream, "Checking model %d \"%s\" (%lld ents, %lld deleted, %lld locked)\n", m,
                   rec->name[0] != '\0' ? rec->name : "*** Not Named ***",
                   static_cast<long long>(rec->live_count), static_cast<long long>(free_count),
                   static_cast<long long>(count_locked(rec)));
    }
    const mpm_Status s = check_back_ptrs(options & ~MDA_ALL_MODELS, m);
    if (first == 0) first = s;
  }
  return first;
}

mpm_Status mda_DbgCheckModelIndEntities(uint32_t, int32_t model, uint32_t level, const char *name) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  if (name == nullptr) name = "all";
  const bool all = std::strcmp(name, "all") == 0;
  uint32_t tf = TF_NONE;
  if (!all) {
    CurrentSchema current(rec->schema);
    tf = ddf_GetTFByName(name);
  }
  mpm_Printf("Checking independent entities [type : %s] in model #%d ...\n", name, model);
  int32_t found = 0;
  for (uint64_t n = 1; n < rec->next_number; ++n) {
    mda_EntityEntry *e = entry_of(rec, n);
    if (!live(e) || (!all && e->tf != tf)) continue;
    const db_ptr p = make_ptr(model, n);
    int32_t parents = 0;
    if (mda_GetNumParents(0, p, &parents) != 0 || parents != 0) continue;
    ++found;
    if (level > 1) {
      int32_t tfi = -1;
      for (int32_t i = 0; i < rec->schema->tf_count; ++i)
        if (rec->schema->typeforms[i] == e->tf) tfi = i;
      mpm_Printf("   %s %<PTR> (%<PTR2>) \n", tfi >= 0 ? rec->schema->ent_names[tfi] : "", p, p);
    }
  }
  mpm_Printf("... totally %d independent entities.\n", found);
  return 0;
}

mpm_Status mda_DbgEditEntity(uint32_t, db_ptr ptr, uint64_t, uint64_t) {
  if (ptr == 0) return 0;
  mda_ModelRec *rec = nullptr;
  mpm_Status status = 0;
  if (entity_entry(ptr, &rec, &status) == nullptr) return status;
  std::fprintf(mda_DbgStream,
               "At prompt, enter new value or:\n   <cr> - Leave existing value in field\n"
               "   c    - Cancel edits and restore entity\n   d    - Done with edits, save entity\n"
               "   n    - Skip to next field\n\n");
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, ptr, &memory); s != 0) return s;
  Editor *editor = new (std::nothrow) Editor;
  if (editor == nullptr) {
    mda_UnlockEntity(0, ptr);
    return report(MDA_MALLOC_ERR);
  }
  editor->memory = memory;
  editor->self = ptr;
  g_editor = editor;
  {
    CurrentSchema current(rec->schema);
    print_heading(ptr, rec, memory);
    mda_TraverseEntity(0, memory, edit_field);
  }
  g_editor = nullptr;
  const bool cancelled = editor->mode == Editor::kCancelled;
  if (cancelled) undo_all(*editor);  // the entity as it was, in any model
  const bool changed = !editor->undo.empty();
  delete editor;
  const mda_EntityEntry *now = lookup(ptr);
  const bool shared = now != nullptr && lock_count(now->status) > 1;
  mpm_Status s = mda_UnlockEntity(cancelled || !changed ? 0 : MDA_MODIFIED, ptr);
  if (cancelled && shared)
    std::fprintf(mda_DbgStream,
                 "Warning: Entity already locked, modifications will be visible until\n"
                 "         the entity is completely unlocked.\n");
  print_parents(ptr);
  return s;
}

mpm_Status mda_DbgSaveEntity(uint32_t, const char *file, db_ptr ptr) {
  return mda_SaveEntities(MDA_OVERWRITE, file, 1, &ptr);
}

mpm_Status mda_DbgSaveModel(uint32_t, const char *file, int32_t model) {
  if (model_in_use(model) == nullptr) return report(MDA_INVALID_MODEL);
  return mda_SaveModel(MDA_OVERWRITE, file, 0, &model);
}

mpm_Status mda_DbgSavePtrs(uint32_t, const char *file, const char *text) {
  if (text == nullptr) return 0;
  constexpr int kMax = 32;
  db_ptr kept[kMax];
  int count = 0;
  const char *p = text;
  for (;;) {
    while (*p == ' ' || *p == ',' || *p == '\t') ++p;
    if (*p == '\0') break;
    const char *end = p;
    while (*end != '\0' && *end != ' ' && *end != ',' && *end != '\t') ++end;
    if (count == kMax) {
      std::fprintf(stderr, "Warning:  Only first %d pointers will be saved\n", kMax);
      break;
    }
    const std::string item(p, end);
    const bool hex = item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X');
    unsigned long long v = 0;
    bool ok = !item.empty();
    const std::string digits = hex ? item.substr(2) : item;
    for (char c : digits) {
      const int d = c >= '0' && c <= '9' ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      const unsigned base = hex ? 16 : 10;
      if (d < 0 || v > (UINT64_MAX - static_cast<unsigned>(d)) / base) {  // no silent wrap
        ok = false;
        break;
      }
      v = v * base + static_cast<unsigned>(d);
    }
    if (!ok || digits.empty()) {
      std::fprintf(stderr, "Error decoding pointer: %s\n", p);
      break;
    }
    if (mda_IsValidPtr(v) == 0) {
      mpm_Fprintf(stderr, "Invalid pointer %<PTR> (%<PTR2>)\n", static_cast<db_ptr>(v), static_cast<db_ptr>(v));
    } else {
      kept[count++] = v;
    }
    p = end;
  }
  if (count == 0) return 0;
  return mda_SaveEntities(MDA_OVERWRITE, file, count, kept);
}

}  // extern "C"
