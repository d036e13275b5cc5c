// The listing of a compiled schema, computed from its arrays alone: offsets come from walking each
// type form's descriptors by slot size and filler bytes, as the entity database does.
#include "show.h"

#include <map>
#include <string_view>
#include <vector>

namespace tesmar::ddl {
namespace {

const char *const kKeywords[DDF_KIND_COUNT] = {
    "",       "short",  "int",     "long",   "float",  "double",  "char",
    "fstring", "vstring", "ptr",    "count",  "struct", "endstruct", "let",
    "union",  "endunion", "subent", "derived", "method", "endent"};
const int kSizes[DDF_KIND_COUNT] = {0, 2, 4, 4, 4, 8, 1, 1, 8, 8, 4, 0, 0, 4, 2, 0, 0, 0, 8, 0};

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string tf_text(uint32_t tf) {
  return std::to_string(tf >> 16) + ":" + std::to_string(static_cast<int16_t>(tf & 0xFFFF));
}

class Lister {
 public:
  explicit Lister(const ddf_Schema &s) : s_(s) {}

  std::string run() {
    out_ += "database " + quoted(s_.db_name) + " version " + std::to_string(s_.db_version) +
            " release " + std::to_string(s_.db_release) + "\n";
    if (s_.attr_count > 0) out_ += "attributes: " + attributes(~0u) + "\n";
    out_ += std::to_string(s_.tf_count) + " entity types, " + std::to_string(s_.fld_name_count) +
            " field names\n";
    for (int32_t t = 0; t < s_.tf_count; ++t) entity(t);
    return out_;
  }

 private:
  std::string attributes(uint32_t mask) const {
    std::string out;
    for (int32_t i = 0; i < s_.attr_count && i < 32; ++i)
      if ((mask & (1u << i)) != 0) out += (out.empty() ? "" : " ") + std::string(s_.attr_names[i]);
    return out;
  }

  std::string name_of(const ddf_FieldDesc &d) const {
    return d.name >= 0 && d.name < s_.fld_name_count ? s_.fld_names[d.name] : "";
  }

  std::string operand(int16_t x) const {
    if (x >= 0) return std::to_string(x);
    auto it = registers_.find(-x);
    return it != registers_.end() ? it->second : "r" + std::to_string(-x);
  }

  std::string dim(const ddf_DimExpr &x, bool unsized) const {
    if (unsized) return "[]";
    std::string a = operand(x.a);
    switch (x.op) {
      case 'f': return "[" + a + "+" + operand(x.b) + "]";
      case 'g': return "[" + a + "-" + operand(x.b) + "]";
      case 'h': return "[" + a + "*" + operand(x.b) + "]";
      case 'i': return "[" + a + "/" + operand(x.b) + "]";
      default: return "[" + a + "]";
    }
  }

  // A let program back as an expression; temporaries are replaced by what they hold.
  std::string program(int32_t first) const {
    std::map<int, std::string> temps;
    std::string last;
    for (int32_t i = first; i >= 0 && i < s_.opcode_count; ++i) {
      const ddf_Opcode &op = s_.opcodes[i];
      if (op.op == 'd') return last;
      auto text = [&](int16_t x) {
        auto it = temps.find(-x);
        return x < 0 && it != temps.end() ? "(" + it->second + ")" : operand(x);
      };
      const char *sym = op.op == 'f' ? " + " : op.op == 'g' ? " - " : op.op == 'h' ? " * " : " / ";
      last = op.op == 'f' && op.b == 0 ? text(op.a) : text(op.a) + sym + text(op.b);
      temps[-op.dest] = last;
    }
    return last;
  }

  int64_t slot(const ddf_FieldDesc &d) const {
    if (d.kind == DDF_SUBENT) return d.aux;
    if (d.kind == DDF_DERIVED || d.kind == DDF_METHOD || d.kind < 0 || d.kind >= DDF_KIND_COUNT)
      return 0;
    int64_t elem = d.kind == DDF_STRUCT    ? d.key
                   : d.kind == DDF_FSTRING ? (d.ndims > 0 ? d.dims[d.ndims - 1].a : 0)
                                           : kSizes[d.kind];
    if ((d.flags & DDF_ARRAY) == 0) return elem;
    if ((d.flags & DDF_FIXED) == 0) return 8;
    int64_t n = 1;
    for (int k = 0; k < d.ndims - (d.kind == DDF_FSTRING ? 1 : 0); ++k) {
      const ddf_DimExpr &x = d.dims[k];
      n *= x.op == 'f' ? x.a + x.b : x.op == 'g' ? x.a - x.b : x.op == 'h' ? x.a * x.b
           : x.op == 'i' && x.b != 0 ? x.a / x.b : x.a;
    }
    return n * elem;
  }

  std::string default_text(const ddf_FieldDesc &d) const {
    if (d.kind == DDF_FLOAT || d.kind == DDF_DOUBLE) {
      static const char *const kReal[] = {"0", "1", "pi", "pi/2", "pi/4"};
      if (d.key >= 50 && d.key <= 54) return d.key == 50 ? "0 (key 50)" : kReal[d.key - 50];
      return "0";
    }
    return std::to_string(d.key);
  }

  void field(const ddf_FieldDesc *descs, int32_t k, int64_t offset, int indent,
             const ddf_FieldDesc *union_desc) {
    const ddf_FieldDesc &d = descs[k];
    std::string line(static_cast<std::size_t>(indent), ' ');
    std::string at = d.kind == DDF_DERIVED || d.kind == DDF_METHOD ? "-" : std::to_string(offset);
    line += std::string(6 > at.size() ? 6 - at.size() : 0, ' ') + at + "  ";
    bool is_union = d.kind == DDF_STRUCT && (d.flags & DDF_UNION) != 0;
    line += is_union ? "union" : kKeywords[d.kind];
    line += " " + name_of(d);
    int dims = d.ndims - (d.kind == DDF_FSTRING ? 1 : 0);
    if ((d.flags & DDF_ARRAY) != 0)
      for (int i = 0; i < dims && i < DDF_MAX_DIMS; ++i)
        line += dim(d.dims[i], i == 0 && (d.flags & DDF_UNSIZED) != 0);
    if (d.kind == DDF_FSTRING && d.ndims > 0) line += "(" + std::to_string(d.dims[d.ndims - 1].a) + ")";
    if (union_desc != nullptr) line += "  selector " + std::to_string(d.number - union_desc->number - 1);
    static const std::pair<uint16_t, const char *> kFlags[] = {
        {DDF_FIXED, "fixed"},   {DDF_PTRFIXED, "ptrfixed"}, {DDF_VARIABLE, "variable"},
        {DDF_UNSIZED, "unsized"}, {DDF_REFANY, "any"},      {DDF_REFNONE, "none"}};
    for (const auto &[bit, word] : kFlags)
      if ((d.flags & bit) != 0) line += std::string("  ") + word;
    switch (d.kind) {
      case DDF_COUNT:
        line += "  register " + std::to_string(-d.dims[0].a) + ", sizes " + std::to_string(d.key) +
                (d.key == 1 ? " field" : " fields");
        break;
      case DDF_LET:
        line += " = " + program(d.instr);
        break;
      case DDF_STRUCT:
        line += "  size " + std::to_string(d.key);
        if (is_union) line += ", members at +" + std::to_string(2 + d.member_offset);
        break;
      case DDF_SUBENT: {
        int32_t tfi = d.key >= 0 && d.key < s_.subent_count ? s_.subent_tfis[d.key] : -1;
        line += "  of " + std::string(tfi >= 0 && tfi < s_.tf_count ? s_.ent_names[tfi] : "?") +
                ", " + std::to_string(d.aux) + " bytes";
        break;
      }
      case DDF_DERIVED:
      case DDF_METHOD:
        line += "  index " + std::to_string(d.key);
        break;
      case DDF_PTR:
        if ((d.modifiers & DDF_MOD_REFTYPE) != 0 && d.instr >= 0 && d.instr < s_.ptr_count) {
          line += "  to";
          for (int32_t i = 0; i < s_.ptr_counts[d.instr]; ++i) {
            uint32_t tf = s_.ptr_data[s_.ptr_indices[d.instr] + i];
            int32_t tfi = ddf_FindTFI(s_.typeforms, s_.tf_count, tf);
            line += (i == 0 ? " " : ",") +
                    (tfi >= 0 ? std::string(s_.ent_names[tfi]) : tf_text(tf));
          }
        }
        break;
      default:
        break;
    }
    if ((d.modifiers & DDF_MOD_DEFAULT) != 0) line += "  default " + default_text(d);
    if (d.version != 0)
      line += "  since " + std::to_string(d.version / 100) + "." + std::to_string(d.version % 100);
    static const std::pair<uint32_t, const char *> kModifiers[] = {
        {DDF_MOD_RANGE, "range"}, {DDF_MOD_LENGTH, "length"}, {DDF_MOD_MAXLENGTH, "maxlength"}};
    std::string mods;
    for (const auto &[bit, word] : kModifiers)
      if ((d.modifiers & bit) != 0 && !(bit == DDF_MOD_LENGTH && d.kind == DDF_FSTRING))
        mods += (mods.empty() ? "" : ",") + std::string(word);
    if (!mods.empty()) line += "  modifiers(" + mods + ")";
    if (d.attributes != 0) line += "  attributes(" + attributes(d.attributes) + ")";
    if (d.desc >= 0 && d.desc < s_.fld_desc_count) line += "  " + quoted(s_.fld_descs[d.desc]);
    out_ += line + "\n";
    for (int32_t i = 0; i < d.nvdescs && d.aux + i < s_.vdesc_count; ++i) {
      const ddf_ValueDesc &v = s_.vdescs[d.aux + i];
      out_ += std::string(static_cast<std::size_t>(indent) + 16, ' ') +
              std::to_string(static_cast<int32_t>(v.value)) + " = " + quoted(v.text) + "\n";
    }
  }

  // Lists descriptors [k, end) at `offset`; returns nothing, advancing as the walk does.
  void sequence(const ddf_FieldDesc *descs, int32_t k, int32_t end, int64_t offset, int indent,
                const ddf_FieldDesc *union_desc) {
    while (k < end) {
      const ddf_FieldDesc &d = descs[k];
      if (d.kind == DDF_COUNT || d.kind == DDF_LET) registers_[-d.dims[0].a] = name_of(d);
      if (d.kind == DDF_LET && d.instr >= 0) {
        // A let's value is the last destination register of its program.
        for (int32_t i = d.instr; i < s_.opcode_count && s_.opcodes[i].op != 'd'; ++i)
          if (s_.opcodes[i + 1].op == 'd') registers_[-s_.opcodes[i].dest] = name_of(d);
      }
      int64_t at = union_desc != nullptr ? 2 + union_desc->member_offset : offset;
      field(descs, k, at, indent, union_desc);
      if (d.kind == DDF_STRUCT) {
        sequence(descs, k + 1, k + d.aux, 0, indent + 4, (d.flags & DDF_UNION) != 0 ? &d : nullptr);
        k += d.aux + 1;
      } else {
        ++k;
      }
      if (d.kind != DDF_DERIVED && d.kind != DDF_METHOD) offset += slot(d) + d.filler;
    }
  }

  void entity(int32_t t) {
    out_ += "\nentity " + std::string(s_.ent_names[t]) + " " + tf_text(s_.typeforms[t]) + ", " +
            std::to_string(s_.ent_sizes[t]) + " bytes";
    if (s_.ent_descs != nullptr && s_.ent_descs[t][0] != '\0') out_ += "  " + quoted(s_.ent_descs[t]);
    out_ += "\n";
    if (s_.ent_uattrs != nullptr && s_.ent_uattrs[t] != 0)
      out_ += "  attributes: " + attributes(s_.ent_uattrs[t]) + "\n";
    registers_.clear();
    const ddf_FieldDesc *descs = s_.fld_data + s_.fld_indices[t];
    int32_t count = s_.ent_fldcnts[t];
    sequence(descs, 0, count - 1, 24, 0, nullptr);
    const ddf_FieldDesc &end = descs[count - 1];
    if (end.key != 0) out_ += "  methods index " + std::to_string(end.key) + "\n";
  }

  const ddf_Schema &s_;
  std::string out_;
  std::map<int, std::string> registers_;
};

}  // namespace

std::string show_schema(const ddf_Schema &schema) { return Lister(schema).run(); }

}  // namespace tesmar::ddl
