// Restoring saved models: the reader of both forms (docs/saved-model.md).
//
// The reader meets files written by other programs and edited by people, so it checks everything
// before it acts on it: a count or a length must fit in the bytes left in the file before anything
// is allocated for it, record and pointer numbers must lie below 2^48, a gap in the numbering may
// reserve at most 2^20 numbers more than there are records, structures nest at most 10 deep. A
// restore that fails unlocks what it holds, closes the file, restores the current model and
// leaves the model empty, so no half-restored model looks complete.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "ddf/ddf_internal.h"
#include "mda/saved_model.h"
#include "platform/platform.h"

namespace tesmar::mda {
namespace {

using saved::NestingStack;

constexpr int64_t kMaxExtraReserved = int64_t{1} << 20;
constexpr std::size_t kMaxNameLength = 255;

// The file with a cursor: bytes one at a time (text) or in blocks (binary), and how many are left.
class Input {
 public:
  bool open(const char *name) {
    file_ = platform::open_stream(name, "rb");
    if (file_ == nullptr) return false;
    platform::FileStatus status;
    size_ = platform::stat_file(name, &status) && status.kind == platform::FileKind::kRegular
                ? status.size
                : INT64_MAX;
    return true;
  }
  ~Input() {
    if (file_ != nullptr) std::fclose(file_);
  }
  int get() {
    const int c = std::fgetc(file_);
    if (c != EOF) ++position_;
    if (c == '\n') ++line_;
    return c;
  }
  int peek() {
    const int c = std::fgetc(file_);
    if (c != EOF) std::ungetc(c, file_);
    return c;
  }
  bool read(void *data, std::size_t n) {
    if (n == 0) return true;
    const std::size_t got = std::fread(data, 1, n, file_);
    position_ += static_cast<int64_t>(got);
    return got == n;
  }
  int64_t left() const { return size_ - position_; }
  int32_t line() const { return line_; }
  bool failed() const { return std::ferror(file_) != 0; }

 private:
  std::FILE *file_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
  int32_t line_ = 1;
};

// The texts a failure names, kept beyond the restore's own state (which goes before the failure is
// issued).
std::string g_name, g_detail, g_found, g_expected;

// Issues a warning of MDA with a text that says what it is about.
void warn(mpm_Status code, const std::string &detail) {
  char *text = static_cast<char *>(std::malloc(detail.size() + 1));
  if (text == nullptr) return (void)mpm_IssueMessage(0, code, MPM_WARNING);
  std::memcpy(text, detail.c_str(), detail.size() + 1);
  mpm_IssueMessage(MPM_OPTIONS, code, MPM_WARNING, MPM_OPT_TEXT, text, MPM_OPT_END);
}

struct Restore {
  Input in;
  std::string &name = g_name;
  bool binary = false;
  int32_t model = 0;
  mda_ModelRec *rec = nullptr;
  const ddf_Schema *schema = nullptr;
  int32_t file_version = 0;
  NestingStack stack;
  Result failure;
  void *memory = nullptr;  // the entity being filled
  db_ptr entity = 0;
  bool dangling = false;   // some pointer named an entity not there when it was read
  std::string text;        // a working text
  std::string &detail = g_detail;
  std::string &found = g_found, &expected = g_expected;
  std::vector<std::pair<std::string, uint32_t>> names;  // entity names sorted, with their TFs
};
Restore *g_restore = nullptr;

Result read_error(Restore &r) {
  char line[32];
  std::snprintf(line, sizeof line, "line %d: ", r.in.line());
  r.detail = line;
  return Failure::error(MDA_FILE_READ_ERR).with(r.name.c_str()).detailed(r.binary ? nullptr : r.detail.c_str());
}

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

void skip_space(Input &in) {
  while (is_space(in.peek())) in.get();
}

// ---- text values ----

// The separator before a value ('(' or ','), then white space.
bool begin_value(Restore &r) {
  skip_space(r.in);  // blanks before the separator, as a hand-edited file may have them
  const int c = r.in.get();
  if (c != '(' && c != ',') return false;
  skip_space(r.in);
  return true;
}

// A decimal integer token.
bool text_integer(Restore &r, int64_t *value) {
  std::string &t = r.text;
  t.clear();
  if (r.in.peek() == '-' || r.in.peek() == '+') t += static_cast<char>(r.in.get());
  while (r.in.peek() >= '0' && r.in.peek() <= '9' && t.size() < 32) t += static_cast<char>(r.in.get());
  const char *first = t.c_str() + (t.size() > 1 && t[0] == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, t.c_str() + t.size(), *value);
  return !t.empty() && error == std::errc() && end == t.c_str() + t.size();
}

bool text_double(Restore &r, double *value) {
  std::string &t = r.text;
  t.clear();
  for (int c = r.in.peek(); c != EOF && std::strchr("+-.0123456789eEinfatyINFATY", c) != nullptr && t.size() < 64;
       c = r.in.peek())
    t += static_cast<char>(r.in.get());
  const char *first = t.c_str() + (t.size() > 1 && t[0] == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, t.c_str() + t.size(), *value);
  return !t.empty() && (error == std::errc() || error == std::errc::result_out_of_range) &&
         end == t.c_str() + t.size();
}

// A quoted string: a backslash takes the next character (\n and \r stand for line ends); a line
// end inside the quotes continues the text on the next line, that line's leading blanks dropped.
bool text_string(Restore &r, std::string *out) {
  out->clear();
  if (r.in.get() != '"') return false;
  for (;;) {
    int c = r.in.get();
    if (c == EOF) return false;
    if (c == '"') return true;
    if (c == '\\') {
      c = r.in.get();
      if (c == EOF) return false;
      *out += c == 'n' ? '\n' : c == 'r' ? '\r' : static_cast<char>(c);
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && r.in.peek() == '\n') r.in.get();
      while (r.in.peek() == ' ' || r.in.peek() == '\t') r.in.get();
    } else {
      *out += static_cast<char>(c);
    }
  }
}

// ---- one element ----

Result read_integer(Restore &r, int64_t low, int64_t high, int32_t size, int64_t *value) {
  if (r.binary) {
    *value = 0;
    if (size == 1) {
      int8_t v;
      if (!r.in.read(&v, 1)) return read_error(r);
      *value = v;
    } else if (size == 2) {
      int16_t v;
      if (!r.in.read(&v, 2)) return read_error(r);
      *value = v;
    } else {
      int32_t v;
      if (!r.in.read(&v, 4)) return read_error(r);
      *value = v;
    }
  } else if (!begin_value(r) || !text_integer(r, value)) {
    return read_error(r);
  }
  if (*value < low || *value > high) return read_error(r);
  return 0;
}

// A count: not negative, and no more elements than bytes left to hold them.
Result read_count(Restore &r, int64_t element_bytes, int32_t *count) {
  int64_t v = 0;
  if (Result e = read_integer(r, 0, INT32_MAX, 4, &v)) return e;
  const int64_t least = r.binary ? std::max<int64_t>(element_bytes, 1) : 1;
  if (v > r.in.left() / least) return read_error(r);
  *count = static_cast<int32_t>(v);
  return 0;
}

Result read_element(Restore &r, int32_t type, char *at, const ddf_FieldDesc &d) {
  int64_t v = 0;
  switch (type) {
    case DDF_SHORT: {
      if (Result e = read_integer(r, INT16_MIN, INT16_MAX, 2, &v)) return e;
      const auto s = static_cast<int16_t>(v);
      std::memcpy(at, &s, sizeof s);
      return 0;
    }
    case DDF_INT:
    case DDF_LONG: {
      if (Result e = read_integer(r, INT32_MIN, INT32_MAX, 4, &v)) return e;
      const auto i = static_cast<int32_t>(v);
      std::memcpy(at, &i, sizeof i);
      return 0;
    }
    case DDF_CHAR:
      if (Result e = read_integer(r, INT8_MIN, UINT8_MAX, 1, &v)) return e;
      *at = static_cast<char>(v);
      return 0;
    case DDF_FLOAT:
    case DDF_DOUBLE: {
      if (r.binary) return r.in.read(at, type == DDF_FLOAT ? 4 : 8) ? Result(0) : read_error(r);
      double x = 0;
      if (!begin_value(r) || !text_double(r, &x)) return read_error(r);
      if (type == DDF_FLOAT) {
        const auto f = static_cast<float>(x);
        std::memcpy(at, &f, sizeof f);
      } else {
        std::memcpy(at, &x, sizeof x);
      }
      return 0;
    }
    case DDF_FSTRING: {
      const auto n = static_cast<std::size_t>(saved::element_size(d));
      if (r.binary) return r.in.read(at, n) ? Result(0) : read_error(r);
      if (!begin_value(r) || !text_string(r, &r.text)) return read_error(r);
      std::memset(at, 0, n);
      if (n > 0 && r.text.size() > n - 1) {
        char what[160];
        std::snprintf(what, sizeof what, "saved model file, line %d: a string of %zu characters cut to its field's %zu: ",
                      r.in.line(), r.text.size(), n - 1);
        warn(MDA_INVALID_ARG, what);
        r.text.resize(n - 1);
      }
      std::memcpy(at, r.text.data(), r.text.size());
      return 0;
    }
    case DDF_VSTRING: {
      std::memset(at, 0, sizeof(void *));
      if (r.binary) {
        uint32_t n = 0;
        if (!r.in.read(&n, 4) || n > r.in.left()) return read_error(r);
        r.text.resize(n);
        if (!r.in.read(r.text.data(), n)) return read_error(r);
      } else if (!begin_value(r) || !text_string(r, &r.text)) {
        return read_error(r);
      }
      if (r.text.empty()) return 0;  // an absent string
      void *data = nullptr;
      if (Result e = malloc_block(r.memory, r.text.size() + 1, at, &data)) return e;
      std::memcpy(data, r.text.data(), r.text.size());
      return 0;
    }
    case DDF_PTR: {
      uint64_t number = 0;
      if (r.binary) {
        if (!r.in.read(&number, 8)) return read_error(r);
      } else {
        if (!begin_value(r)) return read_error(r);
        if (r.in.peek() == 'N') {
          for (const char *k = "NULL"; *k != '\0'; ++k)
            if (r.in.get() != *k) return read_error(r);
          skip_space(r.in);
          const int next = r.in.peek();
          if (next != ',' && next != ')') return read_error(r);
        } else {
          int64_t ignored = 0, n = 0;
          if (!text_integer(r, &ignored) || r.in.get() != ':' || !text_integer(r, &n) || n < 0)
            return read_error(r);
          number = static_cast<uint64_t>(n);
        }
      }
      if (number > kNumberMask) return read_error(r);
      const db_ptr p = number == 0 ? 0 : make_ptr(r.model, number);
      if (p != 0 && lookup_valid(p) == nullptr) r.dangling = true;
      std::memcpy(at, &p, sizeof p);
      return 0;
    }
    default:
      return 0;
  }
}

// The empty item of a field held in a block without elements: nothing but its separator.
Result read_empty(Restore &r) {
  if (r.binary) return 0;
  if (!begin_value(r)) return read_error(r);
  const int c = r.in.peek();
  return c == ',' || c == ')' ? Result(0) : read_error(r);
}

// Gives an open (UNSIZED) field a block for `count` elements.
Result allocate_open(Restore &r, const ddf_FieldDesc &d, int32_t count, int64_t size) {
  if (mda_TraverseFieldAddress == nullptr) return Failure::error(MDA_INTERNAL_ERR).with("mda_RestoreModel");
  const int32_t n = d.ndims - (d.kind == DDF_FSTRING ? 1 : 0);
  if ((d.flags & DDF_VARIABLE) != 0 && n >= 2) {
    // Rows of the other dimensions: the first is the count divided by them.
    int32_t dims[MDA_MAX_DIMS] = {};
    int64_t others = 1;
    for (int32_t i = 1; i < n && i < MDA_MAX_DIMS; ++i) {
      dims[i] = evaluate_dim(d.dims[i], ddf_registers);
      others *= std::max(dims[i], 1);
    }
    if (count % others != 0) return read_error(r);
    dims[0] = static_cast<int32_t>(count / others);
    return allocate_array(r.memory, static_cast<uint32_t>(size), mda_TraverseFieldAddress, n, dims, true);
  }
  if (static_cast<uint64_t>(count) * static_cast<uint64_t>(size) > UINT32_MAX) return read_error(r);
  return malloc_block(r.memory, static_cast<uint64_t>(count) * static_cast<uint64_t>(size),
                      mda_TraverseFieldAddress, nullptr);
}

mpm_Status read_field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *d) {
  Restore &r = *g_restore;
  if (r.failure) return MDA_TRAVERSE_STOP;
  auto stop = [&](Result e) {
    r.failure = e;
    return MDA_TRAVERSE_STOP;
  };
  if (type == DDF_ENDSTRUCT || type == DDF_ENDUNION) {
    r.stack.element_done();
    return 0;
  }
  if (d == nullptr || type == DDF_ENDENT) return 0;
  const bool newer = d->version > r.file_version;
  const bool unsized = (d->flags & DDF_UNSIZED) != 0 && ddf::held_in_block(*d);
  if (type == DDF_STRUCT || type == DDF_UNIONKIND) {
    char *element = static_cast<char *>(address);
    if (r.stack.top().desc != d || count == 0) {
      const bool skip = newer || r.stack.skipping();
      int32_t n = count > 0 ? 1 : 0;
      if (!skip && unsized) {
        if (Result e = read_count(r, d->key, &n)) return stop(e);
        if (n > 0) {
          if (Result e = allocate_open(r, *d, n, d->key)) return stop(e);
          std::memcpy(&element, mda_TraverseFieldAddress, sizeof element);  // the first element
        }
      }
      if (!r.stack.push(d, n, skip)) return stop(Failure::fatal(MDA_INTERNAL_ERR).with("mda_RestoreModel"));
    }
    if (type == DDF_UNIONKIND && element != nullptr && !r.stack.skipping() && r.stack.top().count > 0) {
      int64_t selector = 0;
      if (Result e = read_integer(r, INT16_MIN, INT16_MAX, 2, &selector)) return stop(e);
      const auto s = static_cast<int16_t>(selector);
      std::memcpy(element, &s, sizeof s);
    }
    return 0;
  }
  if (newer || r.stack.skipping() || type == DDF_SUBENT) return 0;
  if (type == DDF_COUNT) {
    int32_t n = 0;
    if (Result e = read_count(r, 1, &n)) return stop(e);
    std::memcpy(address, &n, sizeof n);
    return 0;
  }
  if (type < DDF_SHORT || type > DDF_PTR) return 0;
  const int64_t size = saved::element_size(*d);
  char *first = static_cast<char *>(address);
  if (unsized) {
    int32_t n = 0;
    if (Result e = read_count(r, size, &n)) return stop(e);
    if (n > 0) {
      if (Result e = allocate_open(r, *d, n, size)) return stop(e);
      if (Result e = block_elements(*d, mda_TraverseFieldAddress, ddf_registers, &count, &first))
        return stop(e);
    }
  }
  if (ddf::held_in_block(*d) && count == 0) {
    if (Result e = read_empty(r)) return stop(e);
    return 0;
  }
  for (int32_t i = 0; i < count; ++i)
    if (Result e = read_element(r, type, first + i * size, *d)) return stop(e);
  return 0;
}

// Makes the entity of record `number` (reserving the numbers of a gap before it).
Result make_entity(Restore &r, uint64_t number, uint32_t tf, int64_t records, uint64_t *expected) {
  if (number == 0 || number > kNumberMask) return read_error(r);
  if (number > *expected) {
    // A gap: its numbers are reserved, no more of them than records and 2^20 besides.
    const int64_t reserved = static_cast<int64_t>(number - records);
    if (reserved > kMaxExtraReserved) return read_error(r);
    while (*expected < number) {
      uint64_t got = 0;
      if (Result e = reserve_number(r.rec, &got)) return e;
      ++*expected;
    }
  }
  db_ptr p = make_ptr(r.model, number);
  uint32_t options = MDA_SET_DEFAULTS;
  if (number < *expected) {
    const mda_EntityEntry *e = lookup(p);
    if (e == nullptr || (e->status & MDA_ENTRY_RESERVED) == 0) return read_error(r);  // twice
    options |= MDA_USE_RESERVED;
  }
  const mpm_Status made = mda_AllocateEntity(options, r.model, tf, &r.memory, &p);
  if (made == MDA_TF_NOT_IN_DDF) return read_error(r);
  if (made != 0) return Failure::issued(made);
  if (number == *expected) ++*expected;
  r.entity = p;
  return 0;
}

// Reads the current entity's fields, then unlocks it.
Result fill_entity(Restore &r) {
  const mpm_Status walked = mda_TraverseEntity(MDA_TRAVERSE_ALLOCATE, r.memory, read_field);
  Result status = r.failure;
  if (!status && walked != 0 && walked != MDA_TRAVERSE_STOP) status = Failure::issued(walked);
  if (!status && !r.binary) {
    skip_space(r.in);
    if (r.in.get() != ')') status = read_error(r);
  }
  const Result unlocked = unlock_entity(MDA_MODIFIED, r.entity);
  r.entity = 0;
  r.memory = nullptr;
  return status ? status : unlocked;
}

// The messages of three arguments are issued here (a failure carries two); the frames above hold
// nothing of their own.
Result check_version(Restore &r, const std::string &name, int32_t version, int32_t release) {
  const ddf_Schema *s = r.schema;
  if (name != s->db_name) {
    r.found = name;
    return Failure::issued(mpm_IssueMessage(0, MDA_INCORRECT_DBNAME, MPM_ERROR, r.name.c_str(),
                                            s->db_name, r.found.c_str()));
  }
  if (version > s->db_version)
    return Failure::issued(mpm_IssueMessage(0, MDA_NEWER_DBVERSION, MPM_ERROR, r.name.c_str(),
                                            s->db_version, version));
  if (version < s->db_version)
    mpm_IssueMessage(0, MDA_OLDER_DBVERSION, MPM_WARNING, r.name.c_str(), s->db_version, version);
  else if (release > s->db_release)
    mpm_IssueMessage(0, MDA_NEWER_DBRELEASE, MPM_WARNING, r.name.c_str(), s->db_release, release);
  else if (release < s->db_release)
    mpm_IssueMessage(0, MDA_OLDER_DBRELEASE, MPM_WARNING, r.name.c_str(), s->db_release, release);
  r.file_version = version * 100 + release;
  mda_SaveFileVersion = r.file_version;
  return 0;
}

Result read_binary(Restore &r) {
  char found[7] = {};
  if (!r.in.read(found, 6)) return read_error(r);
  r.expected = saved::signature();
  r.found.assign(found, 6);
  if (r.expected != r.found)
    return Failure::issued(mpm_IssueMessage(0, MDA_INCORRECT_SIGNATURE, MPM_ERROR, r.name.c_str(),
                                            r.expected.c_str(), r.found.c_str()));
  char name[193] = {}, v[5] = {};
  uint64_t records = 0;
  if (!r.in.read(name, 192) || !r.in.read(v, 4) || !r.in.read(&records, 8)) return read_error(r);
  auto two = [](const char *p, int32_t *out) {
    const char a = p[0] == ' ' ? '0' : p[0], b = p[1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return false;
    *out = (a - '0') * 10 + (b - '0');
    return true;
  };
  int32_t version = 0, release = 0;
  if (!two(v, &version) || !two(v + 2, &release)) return read_error(r);
  if (Result e = check_version(r, name, version, release)) return e;
  if (records > static_cast<uint64_t>(r.in.left() / 12)) return read_error(r);
  uint64_t expected_number = 1;
  for (uint64_t k = 0; k < records; ++k) {
    uint64_t number = 0;
    uint32_t tf = 0;
    if (!r.in.read(&number, 8) || !r.in.read(&tf, 4)) return read_error(r);
    if (ddf_FindTFI(r.schema->typeforms, r.schema->tf_count, tf) < 0) return read_error(r);
    if (Result e = make_entity(r, number, tf, static_cast<int64_t>(k) + 1, &expected_number)) return e;
    if (Result e = fill_entity(r)) return e;
  }
  return 0;
}

// A word of the text form: up to white space (or '('), at most kMaxNameLength characters.
bool word(Restore &r, std::string *out, bool stop_at_parenthesis) {
  out->clear();
  for (int c = r.in.peek(); c != EOF && !is_space(c) && !(stop_at_parenthesis && c == '('); c = r.in.peek()) {
    if (out->size() >= kMaxNameLength) return false;
    *out += static_cast<char>(r.in.get());
  }
  return !out->empty();
}

Result read_text(Restore &r) {
  // The header line: BEGIN_MODEL number name version release.
  std::string w, name;
  int64_t number = 0, version = 0, release = 0;
  skip_space(r.in);
  if (!word(r, &w, false) || w != "BEGIN_MODEL") return read_error(r);
  skip_space(r.in);
  if (!text_integer(r, &number)) return read_error(r);
  skip_space(r.in);
  if (!word(r, &name, false)) return read_error(r);
  skip_space(r.in);
  if (!text_integer(r, &version)) return read_error(r);
  skip_space(r.in);
  if (!text_integer(r, &release) || version < 0 || version > 99 || release < 0 || release > 99)
    return read_error(r);
  if (Result e = check_version(r, name, static_cast<int32_t>(version), static_cast<int32_t>(release)))
    return e;
  // Records: lines that begin with '#'; any other line is passed over.
  uint64_t expected_number = 1;
  int64_t records = 0;
  for (;;) {
    skip_space(r.in);
    const int c = r.in.get();
    if (c == EOF) return r.in.failed() ? read_error(r) : Result(0);
    if (c != '#') {
      for (int d = c; d != '\n' && d != EOF; d = r.in.get()) {
      }
      continue;
    }
    int64_t n = 0;
    if (!text_integer(r, &n) || n < 1) return read_error(r);
    while (r.in.peek() == ' ' || r.in.peek() == '\t') r.in.get();
    r.in.get();  // the equals sign
    while (r.in.peek() == ' ' || r.in.peek() == '\t') r.in.get();
    if (!word(r, &w, true)) return read_error(r);
    while (r.in.peek() == ' ' || r.in.peek() == '\t') r.in.get();
    if (r.in.peek() != '(') return read_error(r);
    const auto it = std::lower_bound(r.names.begin(), r.names.end(), w,
                                     [](const auto &e, const std::string &k) { return e.first < k; });
    if (it == r.names.end() || it->first != w) {
      r.found = w;
      return Failure::error(MDA_UNKNOWN_NAME).with(r.found.c_str()).with(r.name.c_str());
    }
    if (Result e = make_entity(r, static_cast<uint64_t>(n), it->second, ++records, &expected_number)) return e;
    if (Result e = fill_entity(r)) return e;
    if (r.in.peek() == ';') r.in.get();
  }
}

// Makes null every pointer of the model that names no entity of it (a record that was never
// there); true when there was one.
bool dangling_pointers(int32_t model) {
  static bool found;
  found = false;
  struct Visit {
    static mpm_Status field(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *) {
      if (type != DDF_PTR || address == nullptr) return 0;
      for (int32_t i = 0; i < count; ++i) {
        db_ptr p = 0;
        std::memcpy(&p, static_cast<char *>(address) + 8 * i, sizeof p);
        if (p != 0 && lookup_valid(p) == nullptr) {
          std::memset(static_cast<char *>(address) + 8 * i, 0, sizeof p);
          found = true;
        }
      }
      return 0;
    }
    static int32_t entity(db_ptr p) {
      void *memory = nullptr;
      if (lock_entity(p, &memory)) return 0;
      mda_TraverseEntity(0, memory, field);
      unlock_entity(MDA_MODIFIED, p);
      return 0;
    }
  };
  mda_TraverseModel(0, model, Visit::entity);
  return found;
}

Result restore(uint32_t options, const char *file_name, int32_t model, Restore &r) {
  r.rec = model_in_use(model);
  if (r.rec == nullptr) return MDA_INVALID_MODEL;
  r.model = model;
  r.schema = r.rec->schema;
  r.binary = (options & MDA_BINARY) != 0;
  r.name = file_name != nullptr ? file_name : "";
  if (r.rec->restore_begin_hook != nullptr) r.rec->restore_begin_hook(0, static_cast<uint64_t>(model));
  if (r.rec->live_count > 0) return Failure::error(MDA_MODEL_NOT_EMPTY).with(model);
  if (mpm_Status s = mda_ClearModel(0, model); s != 0) return Failure::issued(s);
  r.rec = model_in_use(model);
  for (int32_t i = 0; i < r.schema->tf_count; ++i)
    r.names.emplace_back(r.schema->ent_names[i], r.schema->typeforms[i]);
  std::sort(r.names.begin(), r.names.end());
  if (file_name == nullptr || !r.in.open(file_name)) return Failure::error(MDA_OPEN_ERR).with(r.name.c_str());
  if (Result e = r.binary ? read_binary(r) : read_text(r)) return e;
  if (r.dangling && dangling_pointers(model))
    warn(MDA_INVALID_PTR, "saved model file " + r.name + ": pointers to entities it does not hold were made NULL: ");
  if (r.rec->back_ptrs != 0)
    if (mpm_Status s = mda_SetBackPtrs(0, model); s != 0) return Failure::issued(s);
  if (r.rec->restore_end_hook != nullptr) r.rec->restore_end_hook(0, static_cast<uint64_t>(model));
  if (!r.stack.at_base()) return Failure::fatal(MDA_INTERNAL_ERR).with("mda_RestoreModel");
  return 0;
}

}  // namespace
}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_RestoreModel(uint32_t options, const char *file_name, int32_t, const int32_t *model) {
  if ((options & MDA_DO_NOTHING) != 0) return 0;
  if (model == nullptr) return report(MDA_NULL_MEMPTR);
  Restore *r = new (std::nothrow) Restore;
  if (r == nullptr) return report(MDA_MALLOC_ERR);
  delete g_restore;  // one that a handler's jump left behind
  g_restore = r;
  const int32_t previous = mda_current_model;
  const int32_t saved_version = mda_SaveFileVersion;
  Result status = Failure::issued(mda_SetCurrentModel(*model, 0));
  if (!status) {
    try {
      status = restore(options, file_name, *model, *r);
    } catch (const std::bad_alloc &) {
      status = MDA_MALLOC_ERR;
    }
  }
  if (status) {
    // Nothing half done stays: the entity being filled, the file, the entities made so far.
    if (r->entity != 0) unlock_entity(0, r->entity);
    if (status.code() != MDA_MODEL_NOT_EMPTY && status.code() != MDA_INVALID_MODEL &&
        model_in_use(*model) != nullptr)
      mda_ClearModel(0, *model);
  }
  delete g_restore;  // closes the file
  g_restore = nullptr;
  mda_SaveFileVersion = saved_version;
  if (previous != mda_current_model) mda_SetCurrentModel(previous, 0);
  return report(status);
}

}  // extern "C"
