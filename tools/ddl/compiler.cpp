// From the syntax tree to the arrays of a compiled schema: names, registers, dimension programs and
// the layout of every entity type.
//
// Layout rules (docs/ddl.md, "Layout"): every value is aligned to its own size (at most 8); a
// structure is aligned to its most aligned member and its size is a multiple of that; a union
// element is its 2-byte selector, padding up to the members' alignment (the member offset), and
// room for its largest member; arrays held in memory blocks take an 8-byte pointer. The padding in
// front of a field is stored as the filler bytes of the field before it, so a walk that advances
// by each slot and its filler lands on every field. The field area follows the 24-byte entity
// header; the entity size is rounded up to a multiple of 8.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ast.h"

namespace tesmar::ddl {

std::string Diagnostic::text() const {
  if (line == 0) return file + ": error: " + message;
  return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": error: " + message;
}

namespace {

struct CompileError {
  Loc loc;
  std::string message;
};

[[noreturn]] void fail(Loc loc, const std::string &message) { throw CompileError{loc, message}; }

int64_t align_up(int64_t n, int64_t a) { return (n + a - 1) / a * a; }

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

constexpr int kFirstTemp = DDF_REGISTER_COUNT - 1;  // temporaries count down from here
constexpr int kMaxDescriptors = 128;                // field numbers are 8-bit

// What a compiled entity type offers to the types that embed it.
// Levels of subentities below an entity that the library's reader accepts (its walks refuse the
// 64th).
constexpr int kMaxSubentityLevels = 63;

struct TypeResult {
  bool done = false;
  bool in_progress = false;
  int subentity_levels = 0;  // the deepest chain of subentities below the type
  int64_t area = 0;  // bytes of the field area, a multiple of `align`
  int64_t align = 1;
  bool has_ptr = false;
  std::vector<ddf_FieldDesc> descs;
  std::vector<std::string> names;  // full name per descriptor, "" when unnamed
  uint16_t size = 0;
};

// The state of one type form while it is compiled.
struct TypeState {
  std::string entity;
  TypeResult *result = nullptr;
  std::map<std::string, int> registers;  // full name of a count or let field -> register
  std::set<std::string> names;
  int next_register = 1;
  int lowest_temp = DDF_REGISTER_COUNT;
};

// Where a member landed: its slot's size and alignment, and the descriptor that carries the filler
// bytes after it (-1 for members that take no room).
struct Placed {
  int64_t size = 0;
  int64_t align = 1;
  int slot = -1;
};

class Compiler {
 public:
  Compiler(const SchemaDecl &schema, Image *image) : s_(schema), img_(*image) {}

  void run() {
    if (!s_.has_database) fail({1, 1}, "the schema needs a 'database \"NAME\" version V release R;' statement");
    if (s_.db_name.size() > 191 || s_.db_name.find('\0') != std::string::npos)
      fail(s_.db_loc, "the database name holds at most 191 bytes");
    if (s_.version < 0 || s_.version > 99 || s_.release < 0 || s_.release > 99)
      fail(s_.db_loc, "version and release lie in 0 to 99");
    img_.db_name = s_.db_name;
    img_.version = static_cast<int32_t>(s_.version);
    img_.release = static_cast<int32_t>(s_.release);
    attributes();
    if (s_.entities.empty()) fail({1, 1}, "the schema declares no entity type");
    type_forms();
    results_.resize(s_.entities.size());
    for (int tfi = 0; tfi < static_cast<int>(order_.size()); ++tfi) compile_entity(order_[tfi]);
    assemble();
  }

 private:
  // ---- schema-wide tables ----
  void attributes() {
    if (s_.attributes.size() > 32) fail(s_.attributes[32].loc, "at most 32 attributes");
    for (const Name &n : s_.attributes) {
      if (attr_bits_.count(n.text) != 0) fail(n.loc, "attribute '" + n.text + "' is declared twice");
      attr_bits_[n.text] = static_cast<int>(img_.attr_names.size());
      img_.attr_masks.push_back(1u << img_.attr_names.size());
      img_.attr_names.push_back(n.text);
    }
  }

  uint32_t attribute_mask(const std::vector<Name> &names) {
    uint32_t mask = 0;
    for (const Name &n : names) {
      auto it = attr_bits_.find(n.text);
      if (it == attr_bits_.end()) fail(n.loc, "unknown attribute '" + n.text + "'");
      mask |= 1u << it->second;
    }
    return mask;
  }

  void type_forms() {
    std::map<uint32_t, int> by_tf;
    for (int i = 0; i < static_cast<int>(s_.entities.size()); ++i) {
      const EntityDecl &e = s_.entities[i];
      if (e.type < 0 || e.type > 65535) fail(e.tf_loc, "type numbers lie in 0 to 65535");
      if (e.form < -32768 || e.form > 32767) fail(e.tf_loc, "form numbers lie in -32768 to 32767");
      if (e.form == DDF_ALL_FORMS) fail(e.tf_loc, "form 16001 stands for all forms of a type");
      uint32_t tf = static_cast<uint32_t>(e.type) << 16 |
                    static_cast<uint16_t>(static_cast<int16_t>(e.form));
      if (tf == TF_NONE || tf == TF_ANY) fail(e.tf_loc, "16000:16000 and 16001:16001 are reserved");
      if (by_tf.count(tf) != 0)
        fail(e.tf_loc, "type form " + std::to_string(e.type) + ":" + std::to_string(e.form) +
                           " is declared twice");
      by_tf[tf] = i;
      std::string name = lower(e.name.text);
      if (by_name_.count(name) != 0) fail(e.name.loc, "entity '" + name + "' is declared twice");
      by_name_[name] = i;
    }
    tfi_of_.resize(s_.entities.size());
    for (const auto &[tf, i] : by_tf) {
      tfi_of_[i] = static_cast<int>(order_.size());
      order_.push_back(i);
      img_.typeforms.push_back(tf);
    }
  }

  int16_t description(const std::string &text) {
    auto it = desc_index_.find(text);
    if (it != desc_index_.end()) return it->second;
    if (img_.fld_descs.size() >= 32767) fail({1, 1}, "more than 32767 field descriptions");
    auto index = static_cast<int16_t>(img_.fld_descs.size());
    img_.fld_descs.push_back(text);
    desc_index_[text] = index;
    return index;
  }

  // ---- one entity type ----
  void compile_entity(int i) {
    TypeResult &r = results_[i];
    if (r.done) return;
    const EntityDecl &e = s_.entities[i];
    r.in_progress = true;
    ++compiling_;
    TypeState ts;
    ts.entity = lower(e.name.text);
    ts.result = &r;
    Placed area = layout(ts, e.members, "", false);
    r.area = align_up(area.size, area.align);
    r.align = area.align;
    ddf_FieldDesc end{};
    end.name = -1;
    end.desc = -1;
    end.instr = -1;
    end.kind = DDF_ENDENT;
    end.key = static_cast<int16_t>(e.has_index ? e.index : 0);
    push(ts, end, "", e.close_loc);
    // Counts know how many fields they size only once every field is in.
    for (ddf_FieldDesc &c : r.descs) {
      if (c.kind != DDF_COUNT) continue;
      int refs = 0;
      for (const ddf_FieldDesc &d : r.descs) {
        if (d.kind == DDF_COUNT) continue;
        for (int k = 0; k < d.ndims; ++k)
          if (d.dims[k].a == c.dims[0].a || d.dims[k].b == c.dims[0].a) {
            ++refs;
            break;
          }
      }
      c.key = static_cast<int16_t>(refs);
    }
    int64_t size = align_up(24 + r.area, 8);
    if (size > 65535) fail(e.name.loc, "entity '" + ts.entity + "' takes " + std::to_string(size) +
                                           " bytes; at most 65535 fit");
    r.size = static_cast<uint16_t>(size);
    r.in_progress = false;
    r.done = true;
    --compiling_;
  }

  int push(TypeState &ts, const ddf_FieldDesc &d, const std::string &name, Loc loc) {
    TypeResult &r = *ts.result;
    if (static_cast<int>(r.descs.size()) >= kMaxDescriptors)
      fail(loc, "entity '" + ts.entity + "' needs more than 128 descriptors");
    ddf_FieldDesc copy = d;
    copy.number = static_cast<int8_t>(r.descs.size());
    r.descs.push_back(copy);
    r.names.push_back(name);
    return static_cast<int>(r.descs.size()) - 1;
  }

  // Lays out a sequence of members (the entity's fields, a structure's or a union's members).
  Placed layout(TypeState &ts, const std::vector<Member> &members, const std::string &prefix,
                bool in_union) {
    TypeResult &r = *ts.result;
    Placed out;
    int64_t cursor = 0;
    for (const Member &m : members) {
      Placed p = member(ts, m, prefix, in_union);
      if (p.slot < 0) continue;
      out.align = std::max(out.align, p.align);
      if (in_union) {
        out.size = std::max(out.size, p.size);
        continue;
      }
      int64_t offset = align_up(cursor, p.align);
      if (out.slot >= 0) r.descs[out.slot].filler = static_cast<int8_t>(offset - cursor);
      cursor = offset + p.size;
      out.slot = p.slot;
    }
    if (!in_union) out.size = cursor;
    if (out.size > (int64_t{1} << 20)) out.size = int64_t{1} << 20;  // reported by the caller
    return out;
  }

  // ---- registers ----
  int new_register(TypeState &ts, const std::string &full, Loc loc) {
    int reg = ts.next_register++;
    if (reg >= ts.lowest_temp || reg >= DDF_REGISTER_COUNT)
      fail(loc, "entity '" + ts.entity + "' has more count and let fields (and let temporaries) than " +
                    std::to_string(DDF_REGISTER_COUNT - 1) + " registers hold");
    ts.registers[full] = reg;
    return reg;
  }

  int temp_register(TypeState &ts, int depth, Loc loc) {
    int reg = kFirstTemp - depth;
    if (reg < ts.next_register)
      fail(loc, "the expression needs more registers than entity '" + ts.entity + "' has left");
    ts.lowest_temp = std::min(ts.lowest_temp, reg);
    return reg;
  }

  // The register of a count or let field seen from `prefix`: the innermost enclosing scope first.
  int resolve(TypeState &ts, const std::string &prefix, const Name &name) {
    std::string scope = prefix;
    for (;;) {
      auto it = ts.registers.find(scope.empty() ? name.text : scope + "." + name.text);
      if (it != ts.registers.end()) return it->second;
      if (scope.empty()) break;
      auto dot = scope.rfind('.');
      scope = dot == std::string::npos ? "" : scope.substr(0, dot);
    }
    fail(name.loc, "'" + name.text + "' is no count or let field declared before this point");
  }

  int16_t operand(TypeState &ts, const std::string &prefix, const Operand &o) {
    if (!o.is_name) return static_cast<int16_t>(o.value);
    return static_cast<int16_t>(-resolve(ts, prefix, o.name));
  }

  static char opcode(char op) {
    switch (op) {
      case '+': return 'f';
      case '-': return 'g';
      case '*': return 'h';
      case '/': return 'i';
      default: return 'e';
    }
  }

  // Emits the instructions that leave `e` in register `target`.
  void emit(TypeState &ts, const std::string &prefix, const Expr &e, int target, int depth) {
    ddf_Opcode op{};
    if (e.kind == Expr::kOperand) {
      op.a = operand(ts, prefix, e.operand);
      op.b = 0;
      op.op = 'f';
    } else {
      op.a = value_of(ts, prefix, *e.left, depth);
      op.b = value_of(ts, prefix, *e.right, depth + 1);
      op.op = opcode(e.op);
      if (e.op == '/' && e.right->kind == Expr::kOperand && !e.right->operand.is_name &&
          e.right->operand.value == 0)
        fail(e.loc, "division by zero");
    }
    op.dest = static_cast<int8_t>(-target);
    img_.opcodes.push_back(op);
  }

  int16_t value_of(TypeState &ts, const std::string &prefix, const Expr &e, int depth) {
    if (e.kind == Expr::kOperand) return operand(ts, prefix, e.operand);
    int reg = temp_register(ts, depth, e.loc);
    emit(ts, prefix, e, reg, depth + 1);
    return static_cast<int16_t>(-reg);
  }

  // ---- one member ----
  Placed member(TypeState &ts, const Member &m, const std::string &prefix, bool in_union) {
    TypeResult &r = *ts.result;
    const std::string full = prefix.empty() ? m.name.text : prefix + "." + m.name.text;
    if (!ts.names.insert(full).second) fail(m.name.loc, "field '" + full + "' is declared twice");
    if (in_union && (m.kind == DDF_COUNT || m.kind == DDF_LET || m.kind == DDF_DERIVED ||
                     m.kind == DDF_METHOD))
      fail(m.loc, "a union's members hold values, structures, unions or subentities");

    ddf_FieldDesc d{};
    d.name = 0;  // resolved when the names are sorted
    d.desc = m.has_description ? description(m.description) : int16_t{-1};
    d.instr = -1;
    d.kind = static_cast<int8_t>(m.kind);
    d.modifiers = m.extra_modifiers;
    d.attributes = attribute_mask(m.attributes);
    if (d.attributes != 0) d.modifiers |= DDF_MOD_ATTR;
    if (m.version != 0) {
      if (m.version > img_.version * 100 + img_.release)
        fail(m.version_loc, "field '" + full + "' is newer than the schema's version and release");
      d.version = m.version;
    }
    check_options(m, full);
    if (m.has_default) d.key = default_key(m, full), d.modifiers |= DDF_MOD_DEFAULT;
    if (m.has_index) d.key = static_cast<int16_t>(m.index);

    Placed p;
    switch (m.kind) {
      case DDF_COUNT: {
        int reg = new_register(ts, full, m.loc);
        d.dims[0] = {static_cast<int16_t>(-reg), 0, 'e', 0};
        value_descriptions(&d, m);
        p = {4, 4, push(ts, d, full, m.loc)};
        return p;
      }
      case DDF_LET: {
        if (img_.opcodes.size() > 32000) fail(m.loc, "the schema's let programs are too long");
        d.instr = static_cast<int16_t>(img_.opcodes.size());
        // The let's own register becomes visible only after its program: a let cannot name itself.
        int reg = ts.next_register;
        if (reg >= DDF_REGISTER_COUNT || reg >= ts.lowest_temp)
          fail(m.loc, "entity '" + ts.entity + "' has no register left for let '" + full + "'");
        ++ts.next_register;
        emit(ts, prefix, *m.expr, reg, 0);
        if (reg >= ts.lowest_temp) fail(m.loc, "entity '" + ts.entity + "' runs out of registers");
        img_.opcodes.push_back(ddf_Opcode{0, 0, 0, 'd'});
        ts.registers[full] = reg;
        return {4, 4, push(ts, d, full, m.loc)};
      }
      case DDF_DERIVED:
        d.modifiers |= DDF_MOD_FUNCTION;
        push(ts, d, full, m.loc);
        return {0, 1, -1};
      case DDF_METHOD:
        d.modifiers |= DDF_MOD_METHOD;
        push(ts, d, full, m.loc);
        return {0, 1, -1};
      case DDF_SUBENT: {
        auto it = by_name_.find(lower(m.sub_type.text));
        if (it == by_name_.end()) fail(m.sub_type.loc, "unknown entity '" + m.sub_type.text + "'");
        TypeResult &sub = results_[it->second];
        if (sub.in_progress)
          fail(m.sub_type.loc, "entity '" + lower(m.sub_type.text) + "' would contain itself");
        // The reader and the walks follow subentities kMaxSubentityLevels levels below an entity.
        const std::string too_deep = "subentities nest more than " +
                                     std::to_string(kMaxSubentityLevels) + " levels deep";
        if (compiling_ > kMaxSubentityLevels) fail(m.sub_type.loc, too_deep);
        compile_entity(it->second);
        if (sub.subentity_levels + 1 > kMaxSubentityLevels) fail(m.sub_type.loc, too_deep);
        r.subentity_levels = std::max(r.subentity_levels, sub.subentity_levels + 1);
        int tfi = tfi_of_[it->second];
        auto found = std::find(img_.subent_tfis.begin(), img_.subent_tfis.end(), tfi);
        if (found == img_.subent_tfis.end()) {
          img_.subent_tfis.push_back(tfi);
          found = img_.subent_tfis.end() - 1;
        }
        d.key = static_cast<int16_t>(found - img_.subent_tfis.begin());
        int64_t bytes = sub.area;
        if (bytes > 32767) fail(m.loc, "a subentity holds at most 32767 bytes");
        d.aux = static_cast<int16_t>(bytes);
        r.has_ptr = r.has_ptr || sub.has_ptr;
        return {bytes, sub.align, push(ts, d, full, m.loc)};
      }
      case DDF_STRUCT: {
        if (m.members.empty()) fail(m.loc, "'" + full + "' has no members");
        if (m.is_union) d.flags |= DDF_UNION;
        int at = push(ts, d, full, m.loc);
        Placed inner = layout(ts, m.members, full, m.is_union);
        int64_t elem = 0, align = std::max<int64_t>(inner.align, m.is_union ? 2 : 1);
        if (m.is_union) {
          int64_t start = align_up(2, inner.align);
          r.descs[at].member_offset = static_cast<uint8_t>(start - 2);
          elem = align_up(start + inner.size, align);
        } else {
          elem = align_up(inner.size, align);
          if (inner.slot >= 0) r.descs[inner.slot].filler = static_cast<int8_t>(
                                   r.descs[inner.slot].filler + (elem - inner.size));
        }
        if (elem > 32767) fail(m.loc, "'" + full + "' takes more than 32767 bytes");
        r.descs[at].key = static_cast<int16_t>(elem);
        ddf_FieldDesc end{};
        end.name = -1;
        end.desc = -1;
        end.instr = -1;
        end.kind = DDF_ENDSTRUCT;
        int close = push(ts, end, "", m.loc);
        r.descs[at].aux = static_cast<int16_t>(close - at);
        return array(ts, m, prefix, full, at, elem, align);
      }
      default:
        break;
    }
    // A value field.
    if (m.kind == DDF_PTR) {
      r.has_ptr = true;
      if (m.ref == Member::kRefAny) d.flags |= DDF_REFANY;
      if (m.ref == Member::kRefNone) d.flags |= DDF_REFNONE;
      if (m.ref == Member::kRefList) {
        d.modifiers |= DDF_MOD_REFTYPE;
        d.instr = static_cast<int16_t>(img_.ptr_names.size());
        img_.ptr_names.push_back(ts.entity + "." + full);
        img_.ptr_indices.push_back(static_cast<int32_t>(img_.ptr_data.size()));
        img_.ptr_counts.push_back(static_cast<int32_t>(m.ref_types.size()));
        for (const Name &n : m.ref_types) {
          auto it = by_name_.find(lower(n.text));
          if (it == by_name_.end()) fail(n.loc, "unknown entity '" + n.text + "'");
          img_.ptr_data.push_back(img_.typeforms[tfi_of_[it->second]]);
        }
      }
    }
    if (m.kind == DDF_FSTRING) d.modifiers |= DDF_MOD_LENGTH;
    value_descriptions(&d, m);
    int at = push(ts, d, full, m.loc);
    int64_t elem = m.kind == DDF_FSTRING ? m.string_length : ddf_types[m.kind].size;
    int64_t align = m.kind == DDF_FSTRING ? 1 : elem;
    return array(ts, m, prefix, full, at, elem, align);
  }

  void check_options(const Member &m, const std::string &full) {
    bool value_kind = m.kind >= DDF_SHORT && m.kind <= DDF_CHAR;
    if (m.has_default && !value_kind)
      fail(m.default_loc, "'" + full + "': only short, int, long, float, double and char fields "
                          "take a default");
    bool integer_kind = m.kind == DDF_SHORT || m.kind == DDF_INT || m.kind == DDF_LONG ||
                        m.kind == DDF_CHAR || m.kind == DDF_COUNT;
    if (!m.values.empty() && !integer_kind)
      fail(m.values[0].loc, "'" + full + "': only short, int, long, char and count fields take "
                            "value descriptions");
    if (m.values.size() > 127) fail(m.values[127].loc, "at most 127 value descriptions");
    if (m.has_index && m.kind != DDF_DERIVED && m.kind != DDF_METHOD)
      fail(m.loc, "'" + full + "': only derived and method fields take an index");
    if (m.storage != Member::kAuto && m.dims.empty())
      fail(m.storage_loc, "'" + full + "' is no array: storage words apply to arrays");
  }

  int16_t default_key(const Member &m, const std::string &full) {
    const Loc loc = m.default_loc;
    bool real = m.kind == DDF_FLOAT || m.kind == DDF_DOUBLE;
    if (m.default_is_key) {
      if (m.default_int < -32768 || m.default_int > 32767) fail(loc, "a key lies in -32768 to 32767");
      if (real && m.default_int != 0 && (m.default_int < 50 || m.default_int > 54))
        fail(loc, "'" + full + "': float and double keys are 0 and 50 to 54");
      return static_cast<int16_t>(m.default_int);
    }
    if (real) {
      static const std::pair<const char *, int16_t> kWords[] = {
          {"0", 0}, {"0.0", 0}, {"1", 51}, {"1.0", 51}, {"pi", 52}, {"pi/2", 53}, {"pi/4", 54}};
      for (const auto &[word, key] : kWords)
        if (m.default_word == word) return key;
      fail(loc, "'" + full + "': a float or double default is 0, 1, pi, pi/2 or pi/4");
    }
    if (m.default_word.find('.') != std::string::npos || m.default_word.rfind("pi", 0) == 0)
      fail(loc, "'" + full + "': an integer default is a whole number");
    int64_t low = m.kind == DDF_CHAR ? -128 : -32768, high = m.kind == DDF_CHAR ? 255 : 32767;
    if (m.default_int < low || m.default_int > high)
      fail(loc, "'" + full + "': the default lies outside " + std::to_string(low) + " to " +
                    std::to_string(high));
    return static_cast<int16_t>(m.default_int);
  }

  void value_descriptions(ddf_FieldDesc *d, const Member &m) {
    if (m.values.empty()) return;
    if (img_.vdescs.size() + m.values.size() > 32767) fail(m.loc, "too many value descriptions");
    std::set<uint32_t> seen;
    d->aux = static_cast<int16_t>(img_.vdescs.size());
    d->nvdescs = static_cast<int8_t>(m.values.size());
    for (const ValueText &v : m.values) {
      if (v.value < INT32_MIN || v.value > UINT32_MAX) fail(v.loc, "the value does not fit 32 bits");
      auto u = static_cast<uint32_t>(v.value);
      if (!seen.insert(u).second) fail(v.loc, "value " + std::to_string(v.value) + " is described twice");
      img_.vdescs.emplace_back(u, v.text);
    }
  }

  // Dimensions, flags and slot of a field whose element takes `elem` bytes.
  Placed array(TypeState &ts, const Member &m, const std::string &prefix, const std::string &full,
               int at, int64_t elem, int64_t align) {
    TypeResult &r = *ts.result;
    ddf_FieldDesc &d = r.descs[at];
    int string_dim = m.kind == DDF_FSTRING ? 1 : 0;
    if (m.dims.size() + string_dim > DDF_MAX_DIMS)
      fail(m.dims.empty() ? m.loc : m.dims.back().loc,
           "'" + full + "' has more than 5 dimensions" +
               (string_dim != 0 ? " (an fstring's length is one)" : ""));
    bool dynamic = false;
    int64_t count = 1;
    for (std::size_t k = 0; k < m.dims.size(); ++k) {
      const Dim &dim = m.dims[k];
      ddf_DimExpr &x = d.dims[k];
      if (dim.empty) {
        if (k != 0) fail(dim.loc, "only the first dimension may be left open");
        d.flags |= DDF_UNSIZED;
        dynamic = true;
        x = {0, 0, 'e', 0};
        continue;
      }
      x.a = operand(ts, prefix, dim.a);
      x.b = dim.op != 0 ? operand(ts, prefix, dim.b) : int16_t{0};
      x.op = opcode(dim.op);
      // The register of a count goes first, so that the count field is found by operand A.
      if ((x.op == 'f' || x.op == 'h') && x.a >= 0 && x.b < 0) std::swap(x.a, x.b);
      if (x.op == 'i' && dim.b.is_name == false && x.b == 0) fail(dim.loc, "division by zero");
      if (x.a < 0 || (x.op != 'e' && x.b < 0)) {
        dynamic = true;
        continue;
      }
      int64_t v = x.a;
      switch (x.op) {
        case 'f': v = x.a + x.b; break;
        case 'g': v = x.a - x.b; break;
        case 'h': v = int64_t{x.a} * x.b; break;
        case 'i': v = x.a / x.b; break;
        default: break;
      }
      if (v < 1) fail(dim.loc, "a dimension of literals must be at least 1");
      count *= v;
      if (count > 65535) count = 65536;
    }
    if (string_dim != 0) d.dims[m.dims.size()] = {static_cast<int16_t>(m.string_length), 0, 'e', 0};
    d.ndims = static_cast<int8_t>(m.dims.size() + string_dim);
    if (m.dims.empty()) {
      if (elem > 65535) fail(m.loc, "'" + full + "' is too large");
      return {elem, align, at};
    }
    d.flags |= DDF_ARRAY;
    Member::Storage storage = m.storage;
    if (storage == Member::kAuto) storage = dynamic ? Member::kPtrFixed : Member::kFixed;
    if (storage == Member::kFixed) {
      if (dynamic)
        fail(m.storage_loc.line != 0 ? m.storage_loc : m.loc,
             "'" + full + "': an embedded (fixed) array needs literal dimensions");
      d.flags |= DDF_FIXED;
      int64_t bytes = count * elem;
      if (bytes > 65535) fail(m.loc, "'" + full + "' is too large to be embedded");
      return {bytes, align, at};
    }
    d.flags |= storage == Member::kPtrFixed ? DDF_PTRFIXED : DDF_VARIABLE;
    return {8, 8, at};
  }

  // ---- the arrays ----
  void assemble() {
    std::set<std::string> all;
    for (const TypeResult &r : results_)
      for (const std::string &n : r.names)
        if (!n.empty()) all.insert(n);
    if (all.size() > 32767) fail({1, 1}, "more than 32767 field names");
    img_.fld_names.assign(all.begin(), all.end());
    std::map<std::string, int16_t> index;
    for (std::size_t i = 0; i < img_.fld_names.size(); ++i)
      index[img_.fld_names[i]] = static_cast<int16_t>(i);
    bool any_description = false;
    for (const EntityDecl &e : s_.entities) any_description = any_description || e.has_description;
    for (int i : order_) {
      TypeResult &r = results_[i];
      const EntityDecl &e = s_.entities[i];
      if (img_.fld_data.size() + r.descs.size() > 32767) fail(e.name.loc, "more than 32767 descriptors");
      img_.fld_indices.push_back(static_cast<int16_t>(img_.fld_data.size()));
      img_.ent_fldcnts.push_back(static_cast<int16_t>(r.descs.size()));
      for (std::size_t k = 0; k < r.descs.size(); ++k) {
        ddf_FieldDesc d = r.descs[k];
        d.name = r.names[k].empty() ? int16_t{-1} : index[r.names[k]];
        img_.fld_data.push_back(d);
      }
      img_.ent_names.push_back(lower(e.name.text));
      if (any_description) img_.ent_descs.push_back(e.description);
      if (!img_.attr_names.empty()) img_.ent_uattrs.push_back(attribute_mask(e.attributes));
      else if (!e.attributes.empty()) fail(e.attributes[0].loc, "unknown attribute '" + e.attributes[0].text + "'");
      img_.ent_sizes.push_back(r.size);
      img_.ent_info.push_back(r.has_ptr ? DDF_INFO_POINTERS : 0);
    }
  }

  const SchemaDecl &s_;
  Image &img_;
  std::map<std::string, int> attr_bits_;
  std::map<std::string, int> by_name_;   // lower-case entity name -> declaration index
  std::vector<int> order_;               // declaration index per TFI
  int compiling_ = 0;                    // entities whose compilation is under way
  std::vector<int> tfi_of_;              // TFI per declaration index
  std::vector<TypeResult> results_;      // per declaration index
  std::map<std::string, int16_t> desc_index_;
};

}  // namespace

bool compile(std::string_view source, const std::string &file_name, Image *image,
             Diagnostic *error) {
  *image = Image{};
  error->file = file_name;
  SchemaDecl schema;
  if (!parse(source, &schema, error)) return false;
  try {
    Compiler(schema, image).run();
    return true;
  } catch (const CompileError &e) {
    error->line = e.loc.line;
    error->column = e.loc.column;
    error->message = e.message;
    *image = Image{};
    return false;
  }
}

bool compile_file(const std::string &path, Image *image, Diagnostic *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = Diagnostic{path, 0, 0, "cannot open the file"};
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return compile(text.str(), path, image, error);
}

}  // namespace tesmar::ddl
