// Writing a model as a configuration text.
//
// Every entity becomes a section: its entity name and a colon, then one indented assignment per
// field, values separated by commas and structure elements in braces, a semicolon after each
// assignment. The text is made whole in memory, then written to a new file next to the target
// and renamed over it, so the target holds the old text or the whole new one (a target that is
// not a regular file, such as a terminal, is written in place). Failures are issued as pending
// messages.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "cfg/cfg_internal.h"
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"
#include "platform/platform.h"

namespace tesmar::cfg {
namespace {

// The writer's failures wait as pending messages (writing is not reading a person's text).
mpm_Status issue(mpm_Status code, ...) {
  va_list args;
  va_start(args, code);
  const mpm_Status status = mpm_IssueMessage(MPM_OPTIONS, code, MPM_ERROR, MPM_OPT_ARGS, &args);
  va_end(args);
  return status;
}

// The writer's state: the text, the assignment and structure being written.
struct Writer {
  std::string out;
  const ddf_Schema *schema = nullptr;
  const ddf_FieldDesc *field = nullptr;   // the field of the current assignment
  std::string structure;                  // "name." of the current structure, or empty
  bool value_written = false;
  bool any_field = false;
  int32_t unions = 0;
  int32_t depth = 0;  // structures open: values come one brace level deep, inner ones not written
  mpm_Status failure = 0;
};
Writer *g_writer = nullptr;

const char *name_of(const ddf_FieldDesc *d) {
  const ddf_Schema *s = g_writer->schema;
  if (s == nullptr || d == nullptr || d->name < 0 || d->name >= s->fld_name_count) return "";
  return s->fld_names[d->name];
}

void separator() {
  if (g_writer->value_written) g_writer->out += ',';
  g_writer->value_written = true;
}

// A string value in quotes: a quote gets the backslash the reader keeps, and a line end (which a
// string cannot hold) is written as a blank.
void quoted(const char *text, std::size_t n) {
  std::string &out = g_writer->out;
  out += '"';
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '"' && (i == 0 || text[i - 1] != '\\')) out += '\\';
    out += (c == '\n' || c == '\r') ? ' ' : c;
  }
  if (n > 0 && text[n - 1] == '\\') out += ' ';  // a closing quote must not follow a backslash
  out += '"';
}

void element(int32_t type, const char *at, const ddf_FieldDesc &d) {
  char number[64];
  switch (type) {
    case DDF_INT:
    case DDF_LONG:
    case DDF_COUNT: {
      int32_t v = 0;
      std::memcpy(&v, at, sizeof v);
      std::snprintf(number, sizeof number, "%d", v);
      g_writer->out += number;
      break;
    }
    case DDF_SHORT: {
      int16_t v = 0;
      std::memcpy(&v, at, sizeof v);
      std::snprintf(number, sizeof number, "%d", v);
      g_writer->out += number;
      break;
    }
    case DDF_CHAR:
      std::snprintf(number, sizeof number, "%d", static_cast<unsigned char>(*at));
      g_writer->out += number;
      break;
    case DDF_DOUBLE:
    case DDF_FLOAT: {
      double v = 0;
      if (type == DDF_FLOAT) {
        float f = 0;
        std::memcpy(&f, at, sizeof f);
        v = f;
      } else {
        std::memcpy(&v, at, sizeof v);
      }
      std::snprintf(number, sizeof number, "%#.16g", v);
      g_writer->out += number;
      break;
    }
    case DDF_VSTRING: {
      const char *text = nullptr;
      std::memcpy(&text, at, sizeof text);
      if (text != nullptr) quoted(text, std::strlen(text));
      break;
    }
    case DDF_FSTRING: {
      const int32_t n = ddf::element_size(d);
      quoted(at, n > 0 ? strnlen(at, static_cast<std::size_t>(n)) : 0);
      break;
    }
    default:
      break;
  }
}

bool is_value_kind(int32_t type) {
  return (type >= DDF_SHORT && type <= DDF_VSTRING) || type == DDF_COUNT;
}

mpm_Status format_field(int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
  Writer &w = *g_writer;
  if (type == DDF_UNIONKIND) return ++w.unions, 0;  // unions are not written: no text names a member
  if (type == DDF_ENDUNION) return --w.unions, 0;
  if (w.unions > 0 || type == DDF_ENDENT) return 0;
  if (type == DDF_ENDSTRUCT) {
    if (w.depth > 1) {
      --w.depth;
    } else if (!w.structure.empty()) {
      w.out += '}';
      w.value_written = true;
    }
    return 0;
  }
  if (w.depth > 1) {
    if (type == DDF_STRUCT && d != nullptr && d != w.field) ++w.depth;
    return 0;
  }
  if (d == nullptr) return 0;
  if (type != DDF_STRUCT && !is_value_kind(type)) return 0;
  const char *name = name_of(d);
  if (d != w.field) {
    const bool member = !w.structure.empty() &&
                        std::strncmp(name, w.structure.c_str(), w.structure.size()) == 0;
    if (!member) {
      if (w.field != nullptr) w.out += ";\n";
      w.out += "   ";
      w.out += name;
      w.out += '=';
      w.field = d;
      w.structure.clear();
      w.depth = 0;
      w.value_written = false;
      w.any_field = true;
    }
  }
  if (type == DDF_STRUCT) {
    if (!w.structure.empty() && w.field != d) {
      w.depth = 2;  // a structure inside one: not written
      return 0;
    }
    if (count == 0) return 0;
    w.depth = 1;
    separator();
    w.out += '{';
    w.structure = std::string(name) + ".";
    w.field = d;
    w.value_written = false;
    return 0;
  }
  const int32_t size = type == DDF_COUNT ? 4 : ddf::element_size(*d);
  const char *first = static_cast<const char *>(address);
  for (int32_t i = 0; i < count && first != nullptr; ++i) {
    separator();
    element(type, first + static_cast<int64_t>(i) * size, *d);
  }
  return 0;
}

int32_t format_entity(db_ptr entity) {
  Writer &w = *g_writer;
  void *memory = nullptr;
  if (mda_LockEntity(0, entity, &memory) != 0) {
    w.failure = CFG_LOCK_ERROR;
    return 1;
  }
  const auto *header = static_cast<const mda_EntityHeader *>(memory);
  const int32_t tfi = ddf_FindTFI(w.schema->typeforms, w.schema->tf_count, header->tf);
  w.out += tfi >= 0 ? w.schema->ent_names[tfi] : "?";
  w.out += ":\n";
  w.field = nullptr;
  w.structure.clear();
  w.value_written = w.any_field = false;
  w.unions = 0;
  w.depth = 0;
  const mpm_Status walked = mda_TraverseEntity(0, memory, cfg__FormatField);
  mda_UnlockEntity(0, entity);
  if (walked != 0 || w.failure != 0) {
    issue(CFG_TRAVERSE_ENT_ERROR, entity);
    if (w.failure == 0) w.failure = CFG_TRAVERSE_ENT_ERROR;
    return 1;
  }
  if (w.any_field) w.out += ";\n\n";
  return 0;
}

// Writes the text to the file: whole or not at all. 0, or the failure (reported).
mpm_Status write_text(const char *name, const std::string &text) {
  // A name that is not itself a regular file (a device, a pipe, a symbolic link such as
  // /dev/stdout) or a file of several names is written through in place; a regular file is
  // replaced whole.
  platform::FileStatus status, link;
  const bool exists = platform::stat_file(name, &status);
  const bool named = platform::link_status(name, &link);
  if (exists && status.kind == platform::FileKind::kDirectory)
    return issue(CFG_OPEN_ERROR, name);
  const bool in_place = named && (link.kind != platform::FileKind::kRegular || link.links > 1);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp-%d", static_cast<int>(platform::process_id()));
  const std::string temporary = std::string(name) + suffix;
  const char *target = in_place ? name : temporary.c_str();
  std::FILE *file = platform::open_stream(target, "w");
  if (file == nullptr) return issue(CFG_OPEN_ERROR, name);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    if (!in_place) platform::remove_file(temporary.c_str());
    return issue(CFG_READ_ERROR, name);
  }
  if (!in_place && platform::rename_file(temporary.c_str(), name) != 0) {
    platform::remove_file(temporary.c_str());
    return issue(CFG_OPEN_ERROR, name);
  }
  return 0;
}

}  // namespace
}  // namespace tesmar::cfg

using namespace tesmar::cfg;

extern "C" {

mpm_Status cfg__FormatField(void *, int32_t count, int32_t type, void *address,
                            const ddf_FieldDesc *desc) {
  if (g_writer == nullptr) return 0;
  try {
    return format_field(count, type, address, desc);
  } catch (const std::bad_alloc &) {
    g_writer->failure = CFG_MALLOC_ERROR;
    return MDA_TRAVERSE_STOP;
  }
}

mpm_Status cfg_FormatFile(uint32_t, int32_t model, const char *file_name) {
  mda_ModelRec *rec = tesmar::mda::model_in_use(model);
  if (rec == nullptr || rec->schema == nullptr)
    return issue(CFG_INVALID_MODEL, static_cast<long>(model));
  if (file_name == nullptr || *file_name == '\0') return issue(CFG_INVALID_NAME);
  Writer *writer = new (std::nothrow) Writer;
  if (writer == nullptr) return issue(CFG_MALLOC_ERROR);
  delete g_writer;  // one a handler's jump left behind
  g_writer = writer;
  writer->schema = rec->schema;
  mpm_Status status = 0;
  try {
    mda_TraverseModel(0, model, format_entity);
    if (writer->failure == CFG_MALLOC_ERROR) status = issue(CFG_MALLOC_ERROR);
    else if (writer->failure != 0) status = writer->failure;
    else status = write_text(file_name, writer->out);
  } catch (const std::bad_alloc &) {
    status = issue(CFG_MALLOC_ERROR);
  }
  delete g_writer;
  g_writer = nullptr;
  return status;
}

}  // extern "C"
