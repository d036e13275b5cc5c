// Enabling mappings for DTFs, clearing DTFs, and the argument stream.
//
// Design. Enabling appends a mapping's operations to its DTF's operation list. A single mapping
// is one operation. A list or conditional is one operation per entry of its flattened names
// (entry 0 its own header), and each operation's `next` says which operation takes its output:
// the entry after it, -1 for a conditional header (its condition function picks an alternative
// with map_InvokeMapping), or, for the last entry of an alternative, the entry after the
// conditional it ends (after the outermost one, when it ends several at once), kept only when the
// mapping's output is what that entry takes; 0 makes an operation final. The numbering walks the
// nesting as it was defined (Planner), conditionals at most MAP_MAX_COND_NESTING deep.
//
// Every operation is worked out before the list changes, so a definition that cannot be enabled
// (an undefined name, conditionals nested too deep) changes nothing; a list that fails to grow
// keeps what was appended.
#include <charconv>
#include <cmath>
#include <string_view>
#include <cstdlib>
#include <string>
#include <vector>

#include "map/map_internal.h"
#include "tesmar/tmx.h"

namespace tesmar::map {
namespace {

// ---- the argument stream ----

class ArgStream {
 public:
  enum Kind { kToken, kCode, kLong, kDouble, kBoolean, kModel };

  ArgStream(bool text, va_list *args) : text_(text), args_(args) {
    if (!text_) return;
    const char *source = va_arg(*args_, const char *);
    if (source == nullptr) return;
    std::string token;
    for (const char *p = source;; ++p) {
      const bool cut = *p == '\0' || *p == ' ' || *p == ',' || *p == '\t' || *p == '\n' || *p == '\r';
      if (!cut) {
        token += *p;
      } else if (!token.empty()) {
        tokens_.push_back(token);
        token.clear();
      }
      if (*p == '\0') break;
    }
  }

  // Reads one value of the kind: an int32 in *value, or a double in *real.
  Failure read(Kind kind, int32_t *value, double *real = nullptr) {
    if (!text_) {
      if (kind == kDouble) *real = va_arg(*args_, double);
      else *value = va_arg(*args_, int);
      if (kind == kBoolean) *value = *value != 0 ? 1 : 0;
      return kOk;
    }
    if (next_ >= tokens_.size()) {
      if (kind == kToken) {
        *value = MAP_END;
        return kOk;
      }
      return parse_error("the argument list ends where a value is needed");
    }
    const std::string &t = tokens_[next_++];
    switch (kind) {
      case kToken:
        return token(t, value);
      case kCode: {
        mpm_Status code = 0;
        // A message name is MODULE_ROW with a module part of 3 or 4 characters (what the kernel
        // would refuse with a message of its own is refused here first).
        const std::size_t module = t.find('_');
        if (module < 3 || module > 4 || tmx_GetMessageCode(t.c_str(), &code) != 0)
          return parse_error("\"" + t + "\" is no message name");
        *value = static_cast<int32_t>(code);
        return kOk;
      }
      case kLong:
        return integer(t, value);
      case kDouble: {
        double d = 0;
        const std::string_view digits = unsigned_part(t);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            !std::isfinite(d))
          return parse_error("\"" + t + "\" is no number");
        *real = d;
        return kOk;
      }
      case kBoolean: {
        if (!t.empty() && t[0] >= '0' && t[0] <= '9') {
          if (Failure f = integer(t, value)) return f;
          *value = *value != 0 ? 1 : 0;
          return kOk;
        }
        std::string lower = t;
        for (char &c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower == "true" || lower == "false") {
          *value = lower == "true" ? 1 : 0;
          return kOk;
        }
        return parse_error("\"" + t + "\" is neither a number nor true or false");
      }
      case kModel: {
        if (t.size() < 2 || t.front() != '\'' || t.back() != '\'')
          return parse_error("the model name " + t + " is not in single quotes");
        const std::string name = t.substr(1, t.size() - 2);
        *value = mda_GetModelNumber(name.c_str());
        if (*value == 0) {
          return fail(MAP_NO_MODEL).with(kept(t));
        }
        return kOk;
      }
    }
    return parse_error("an unknown kind of value");
  }

 private:
  Failure parse_error(const std::string &what) {
    return fail(MAP_PARSE_ERR).detailed(kept(what + ": "));
  }

  Failure token(const std::string &t, int32_t *value) {
    static const struct {
      const char *name;
      int32_t value;
    } kTokens[] = {{"MAP_PARAM", MAP_PARAM}, {"PARAM", MAP_PARAM},   {"MAP_MODEL", MAP_MODEL},
                   {"MODEL", MAP_MODEL},     {"MAP_COMMIT", MAP_COMMIT}, {"COMMIT", MAP_COMMIT},
                   {"MAP_END", MAP_END},     {"END", MAP_END}};
    for (const auto &k : kTokens) {
      if (t == k.name) {
        *value = k.value;
        return kOk;
      }
    }
    return parse_error("unknown word \"" + t + "\"");
  }

  // A number's text without a leading plus sign, which from_chars does not take ("+-1" stays
  // refused: the sign after the plus is not a digit).
  static std::string_view unsigned_part(const std::string &t) {
    std::string_view v(t);
    if (v.size() > 1 && v[0] == '+' && v[1] != '-' && v[1] != '+') v.remove_prefix(1);
    return v;
  }

  // A decimal integer of 32 bits, the whole token.
  Failure integer(const std::string &t, int32_t *value) {
    int64_t v = 0;
    const std::string_view digits = unsigned_part(t);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        v < INT32_MIN || v > INT32_MAX)
      return parse_error("\"" + t + "\" is no 32-bit integer");
    *value = static_cast<int32_t>(v);
    return kOk;
  }

  bool text_;
  va_list *args_;
  std::vector<std::string> tokens_;
  std::size_t next_ = 0;
};

// The settings, options and model that one enabling gives its operations.
struct Template {
  uint32_t options = 0;
  int32_t model = 0;
  std::vector<map_ParamSetting> params;
};

Failure read_arguments(ArgStream &stream, const map_Mapping &mapping, Template *t) {
  for (;;) {
    int32_t token = 0;
    if (Failure f = stream.read(ArgStream::kToken, &token)) return f;
    switch (token) {
      case MAP_END:
        return kOk;
      case MAP_PARAM: {
        if (t->params.size() >= MAP_MAX_PARAMS)
          return fail(MAP_TOO_MANY_PARAMS).with(mapping.name).with(int32_t{MAP_MAX_PARAMS});
        int32_t code = 0;
        if (Failure f = stream.read(ArgStream::kCode, &code)) return f;
        const map_Parameter *p = find_parameter(static_cast<uint32_t>(code));
        if (p == nullptr)
          return fail(MAP_UNDEFINED_PARAM).with(mpm_GetMessageName(static_cast<mpm_Status>(code)));
        map_ParamSetting s{};
        s.code = p->code;
        s.type = p->type;
        Failure f;
        switch (p->type) {
          case MAP_PARAM_DOUBLE: f = stream.read(ArgStream::kDouble, nullptr, &s.value.real); break;
          case MAP_PARAM_STRING: f = stream.read(ArgStream::kCode, &s.value.integer); break;
          case MAP_PARAM_BOOLEAN: f = stream.read(ArgStream::kBoolean, &s.value.integer); break;
          default: f = stream.read(ArgStream::kLong, &s.value.integer); break;
        }
        if (f) return f;
        t->params.push_back(s);
        break;
      }
      case MAP_MODEL:
        if (Failure f = stream.read(ArgStream::kModel, &t->model)) return f;
        break;
      case MAP_COMMIT:
        t->options |= MAP_OP_COMMIT;
        break;
      default:
        return fail(MAP_UNKNOWN_TOKEN).with(token);
    }
  }
}

struct Planned {
  map_Mapping *mapping;
  int32_t next;  // within this enabling (operation numbers from 1); made list-wide when appended
};

// The operations of a list or conditional, numbered from 1 within this enabling: one per entry
// of its names. The entries of a list or conditional at entry i are i + 1 .. i + count - 1, its
// components one after the other, each spanning its own count, so the nesting is walked as it
// was defined. Every entry hands its output to a continuation: the component after it in its
// list, else whatever its list hands on to; the alternatives of a conditional all hand on to
// the conditional's continuation, and there the output goes on only when it is what the
// continuation takes (the mapping chainable, its target accepted); beyond the names, or not
// taken, the operation is final.
class Planner {
 public:
  Planner(const map_Env *env, const map_DTF &dtf, const map_Mapping &list, std::vector<Planned> *out)
      : env_(env), dtf_(dtf), list_(list), out_(out) {}

  Failure run() {
    out_->assign(static_cast<std::size_t>(list_.count), Planned{nullptr, 0});
    int32_t end = 0;
    if (Failure f = walk(0, kNone, false, &end)) return f;
    if (end != list_.count) return fail(MAP_LIST_ERR);
    return kOk;
  }

 private:
  static constexpr int32_t kNone = -1;

  // Plans entry i (and its entries), its output going to entry `cont` (kNone: nowhere), tested
  // there when `leaving` an alternative; *end receives the entry after its span.
  Failure walk(int32_t i, int32_t cont, bool leaving, int32_t *end) {
    map_Mapping *m = find_mapping(env_, list_.names[i]);
    if (m == nullptr) return fail(MAP_UNDEFINED).with(list_.names[i]);
    const int32_t span = m->count < 2 ? 1 : m->count;
    *end = i + span;
    if (*end > list_.count) return fail(MAP_LIST_ERR);
    Planned &op = (*out_)[static_cast<std::size_t>(i)];
    op.mapping = m;
    if (span == 1) {
      op.next = next_for(*m, cont, leaving);
      return kOk;
    }
    const bool conditional = (m->flags & MAP_CONDITIONAL) != 0;
    if (conditional) {
      if (depth_ + 1 > MAP_MAX_COND_NESTING) {
        static map_DTF named;  // the message names it after this frame is gone
        named = dtf_;
        return fail(MAP_CNDTL_NEST_TOO_DEEP).with(static_cast<const void *>(&named));
      }
      ++depth_;
      op.next = -1;
    } else {
      op.next = i + 2;  // a list header hands on to its first component
    }
    for (int32_t j = i + 1; j < *end;) {
      int32_t after = 0;
      const map_Mapping *c = find_mapping(env_, list_.names[j]);
      const int32_t c_end = j + (c == nullptr || c->count < 2 ? 1 : c->count);
      Failure f = conditional || c_end >= *end ? walk(j, cont, leaving || conditional, &after)
                                               : walk(j, c_end, false, &after);
      if (f) return f;
      j = after;
    }
    if (conditional) --depth_;
    return kOk;
  }

  int32_t next_for(const map_Mapping &m, int32_t cont, bool leaving) const {
    if (cont == kNone || cont >= list_.count) return 0;
    if (!leaving) return cont + 1;
    const map_Mapping *after = find_mapping(env_, list_.names[cont]);
    const bool taken = (m.flags & MAP_CHAINABLE) != 0 && after != nullptr &&
                       accepts(after->source, m.target);
    return taken ? cont + 1 : 0;
  }

  const map_Env *env_;
  const map_DTF &dtf_;
  const map_Mapping &list_;
  std::vector<Planned> *out_;
  int depth_ = 0;
};

Failure append(olm_List *list, const Template &t, map_Mapping *mapping, int32_t next, bool final) {
  map_Operation op{};
  op.mapping = mapping;
  op.next = next;
  if (final) {
    op.options = t.options;
    op.model = t.model;
  }
  op.param_count = static_cast<int32_t>(t.params.size());
  if (op.param_count > 0) {
    op.params = static_cast<map_ParamSetting *>(allocate(t.params.size() * sizeof(map_ParamSetting)));
    if (op.params == nullptr) return fail(MAP_MALLOC_ERR);
    std::memcpy(op.params, t.params.data(), t.params.size() * sizeof(map_ParamSetting));
  }
  if (olm_AddObject(0, list, OLM_TAIL, &op) == nullptr) {
    std::free(op.params);
    return fail(MAP_LIST_ERR);
  }
  return kOk;
}

// The node of a DTF, made with an empty list when it has none.
Failure node_of(map_Env *env, const map_DTF &dtf, map_DTFNode **out) {
  const map_DTFNode key{dtf, nullptr};
  auto *node = static_cast<map_DTFNode *>(otm_AddObject(0, env->enabled, &key));
  if (node == nullptr) return fail(MAP_TREE_ERR);
  if (node->operations == nullptr) {
    node->operations = olm_CreateList(0, sizeof(map_Operation), 2, 0);
    if (node->operations == nullptr) {
      otm_RemoveObject(0, env->enabled, &key);
      return fail(MAP_LIST_ERR);
    }
  }
  *out = node;
  return kOk;
}

Failure clear_one(map_Env *env, const map_DTF &dtf) {
  map_DTFNode *node = find_node(env, dtf);
  if (node == nullptr) return internal("map/map_ClearDTFMapping");
  free_operations(node->operations);
  const map_DTFNode key{dtf, nullptr};
  otm_RemoveObject(0, env->enabled, &key);
  return kOk;
}

}  // namespace

void free_operations(olm_List *list) {
  if (list == nullptr) return;
  list->cycle_index = 0;  // a cycle from the first operation (numbered lookups leave one under way)
  while (auto *op = static_cast<map_Operation *>(olm_CycleList(0, list))) std::free(op->params);
  olm_DeleteList(0, list);
}

Failure clear(map_Env *env, ddf_Schema *schema, uint32_t tf) {
  if (env == nullptr || schema == nullptr) return fail(MAP_INVALID_ARG);
  if (!all_forms(tf)) return clear_one(env, map_DTF{schema, tf, 0});
  int32_t count = 0;
  uint32_t *tfs = nullptr;
  if (!forms_of_type(schema, tf, &count, &tfs)) return internal("map/map_ClearDTFMapping");
  Failure f;
  for (int32_t i = 0; i < count && !f; ++i) f = clear_one(env, map_DTF{schema, tfs[i], 0});
  std::free(tfs);
  return f;
}

Failure enable(uint32_t options, map_Env *env, const map_DTF &dtf, map_Mapping *mapping,
               va_list *args) {
  if (env == nullptr || mapping == nullptr || dtf.schema == nullptr) return fail(MAP_INVALID_ARG);
  ArgStream stream((options & MAP_TEXT_ARGS) != 0, args);
  Template t;
  if (Failure f = read_arguments(stream, *mapping, &t)) return f;
  std::vector<Planned> planned;
  if (mapping->count < 2) planned.push_back(Planned{mapping, 0});
  else if (Failure f = Planner(env, dtf, *mapping, &planned).run()) return f;
  if ((options & MAP_REPLACE) != 0)
    if (Failure f = clear(env, dtf.schema, dtf.type_form)) return f;
  map_DTFNode *node = nullptr;
  if (Failure f = node_of(env, dtf, &node)) return f;
  const int32_t existing = node->operations->count;
  Failure appended;
  for (const Planned &p : planned) {
    const int32_t next = p.next > 0 ? p.next + existing : p.next;
    if ((appended = append(node->operations, t, p.mapping, next, next == 0))) break;
  }
  if (node->operations->count == existing) {
    if (existing == 0) clear_one(env, dtf);  // no empty list is left behind
    return appended;
  }
  // Final operations whose output is of this DTF now feed the new operations.
  for (int32_t n = 1; n <= existing; ++n) {
    auto *op = static_cast<map_Operation *>(olm_GetObject(0, node->operations, n));
    if (op == nullptr || op->next != 0) continue;
    const map_DTF &target = op->mapping->target;
    if (target.schema == dtf.schema && (target.type_form == TF_ANY || target.type_form == dtf.type_form)) {
      op->next = existing + 1;
      op->model = 0;
      op->options = 0;
    }
  }
  return appended;
}

}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_EnableMapping(uint32_t options, map_Env *env, const char *name, ...) {
  if (env == nullptr || name == nullptr) return issue(fail(MAP_INVALID_ARG));
  map_Mapping *m = find_mapping(env, name);
  if (m == nullptr) return issue(fail(MAP_UNDEFINED).with(name));
  va_list args;
  va_start(args, name);
  Failure f;
  if (!all_forms(m->source.type_form)) {
    f = guarded([&] { return enable(options, env, m->source, m, &args); });
  } else {
    int32_t count = 0;
    uint32_t *tfs = nullptr;
    if (!forms_of_type(m->source.schema, m->source.type_form, &count, &tfs)) {
      f = fail(MAP_NO_FORMS).with(name);
    }
    for (int32_t i = 0; i < count && !f; ++i) {
      va_list again;  // the stream starts again for every form
      va_copy(again, args);
      f = guarded([&] { return enable(options, env, map_DTF{m->source.schema, tfs[i], 0}, m, &again); });
      va_end(again);
    }
    std::free(tfs);
  }
  va_end(args);
  return issue(f);
}

mpm_Status map__EnableMapping(uint32_t options, map_Env *env, const map_DTF *dtf,
                              map_Mapping *mapping, va_list *args) {
  if (dtf == nullptr || args == nullptr) return issue(fail(MAP_INVALID_ARG));
  return issue(guarded([&] { return enable(options, env, *dtf, mapping, args); }));
}

mpm_Status map_ClearDTFMapping(uint32_t, map_Env *env, ddf_Schema *schema, uint32_t tf) {
  return issue(clear(env, schema, tf));
}

}  // extern "C"
