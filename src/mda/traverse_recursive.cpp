// The second entity walk (mda_TraverseEntity2): read-only, recursive, and more context for its
// callback.
//
// It makes the same calls as the first walk without options, but descends by recursion: a
// structure element's members are walked by a nested run up to their endstruct, a union element by
// one step over its member, and a subentity by a walk of its own with fresh registers. Structure
// recursion is bounded by kMaxStructNesting and subentity recursion by kMaxSubentityDepth, so no
// schema can make it exhaust the stack. Any nonzero callback answer ends the walk and is handed up
// unchanged (`answered`), never issued; failures of the walk itself are issued by its entry points.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

struct Walk2 {
  char *entity;
  const ddf_Schema *schema;
  mda_TraverseCallback2 callback;
  mpm_Status *status;
  void *user;
  bool answered;  // a callback's nonzero answer ended the walk
};

struct Level {
  const ddf_FieldDesc *fields;
  int32_t size;
  int32_t *registers;
  int32_t subentities;  // subentity walks above this one
  int32_t structures;   // structures open in this type form
};

Result call(Walk2 &w, const Level &l, int32_t count, int32_t type, void *at,
            const ddf_FieldDesc *desc) {
  const mpm_Status answer = w.callback(w.entity, count, type, at, desc, w.status, l.registers, w.user);
  if (answer != 0) w.answered = true;
  return Failure::issued(answer);  // handed up as it is
}

Result run(Walk2 &w, const Level &l, int32_t *index, char **address, int32_t end_kind);

Result walk_type(Walk2 &w, const ddf_FieldDesc *first, int32_t size, char *address,
                     int32_t subentities, int32_t *index) {
  int32_t registers[DDF_REGISTER_COUNT] = {};
  int32_t *const saved = ddf_registers;
  ddf_registers = registers;
  const Level level{first, size, registers, subentities, 0};
  int32_t i = 0;
  const Result status = run(w, level, index != nullptr ? index : &i, &address, DDF_ENDENT);
  ddf_registers = saved;
  return status;
}

// The structure (or union) at *index, every element.
Result structure(Walk2 &w, const Level &l, int32_t *index, char **address) {
  const int32_t i = *index;
  const ddf_FieldDesc &d = l.fields[i];
  const bool is_union = (d.flags & DDF_UNION) != 0;
  const int32_t open = is_union ? DDF_UNIONKIND : DDF_STRUCT;
  const int32_t close = is_union ? DDF_ENDUNION : DDF_ENDSTRUCT;
  const int32_t end = i + d.aux;
  if (d.aux < 1 || end >= l.size || l.fields[end].kind != DDF_ENDSTRUCT || d.key < 1 ||
      l.structures >= kMaxStructNesting)
    return MDA_INVALID_ARG;
  int32_t count = 1;
  char *base = *address;
  char *after = *address + d.key + d.filler;
  const bool held = ddf::held_in_block(d);
  if (held) {
    after = *address + 8 + d.filler;
    if (Result s = block_elements(d, *address, l.registers, &count, &base); s != 0)
      return s;
  } else if ((d.flags & DDF_ARRAY) != 0) {
    count = embedded_count(d);
    after = *address + ddf::slot_size(d) + d.filler;
  }
  bool started = false;
  if (count == 0) {
    if (Result r = call(w, l, 0, open, nullptr, &d); r != 0) return r;
    started = true;
    if (held)
      if (Result s = block_elements(d, *address, l.registers, &count, &base); s != 0)
        return s;
    if (count == 0) {
      if (Result r = call(w, l, 0, close, nullptr, &l.fields[end]); r != 0) return r;
      *index = end + 1;
      *address = after;
      return 0;
    }
  }
  Level inner = l;
  ++inner.structures;
  for (int32_t e = 0; e < count; ++e) {
    char *element = base + static_cast<int64_t>(e) * d.key;
    if (!(started && e == 0))
      if (Result r = call(w, l, 1, open, element, &d); r != 0) return r;
    if (is_union) {
      int16_t selector = 0;
      std::memcpy(&selector, element, sizeof selector);
      const int32_t member = union_member(l.fields + i, d.aux, selector);
      if (member < 0) return MDA_INVALID_ARG;
      int32_t j = i + member;
      char *at = element + 2 + d.member_offset;
      // One member only: a run would go on into the members after it.
      const ddf_FieldDesc &m = l.fields[j];
      if (m.kind == DDF_STRUCT) {
        if (Result r = structure(w, inner, &j, &at); r != 0) return r;
      } else {
        const int32_t stop = j + 1;
        // A single field: run it by itself, stopping at the descriptor after it.
        Level one = inner;
        one.size = stop;
        if (Result r = run(w, one, &j, &at, -1); r != 0) return r;
      }
    } else {
      int32_t j = i + 1;
      char *at = element;
      if (Result r = run(w, inner, &j, &at, DDF_ENDSTRUCT); r != 0) return r;
      if (j != end) return MDA_INVALID_ARG;
    }
    if (Result r = call(w, l, 0, close, nullptr, nullptr); r != 0) return r;
  }
  *index = end + 1;
  *address = after;
  return 0;
}

// Walks the descriptors from *index until one of kind `end_kind` at this level (-1: until the end
// of the level's descriptors), which *index is left on. Reaching an endent reports it.
Result run(Walk2 &w, const Level &l, int32_t *index, char **address, int32_t end_kind) {
  int32_t &i = *index;
  char *&at = *address;
  for (;;) {
    if (end_kind == -1 && i == l.size) return 0;
    if (i < 0 || i >= l.size) return MDA_INVALID_ARG;
    const ddf_FieldDesc &d = l.fields[i];
    if (d.kind == end_kind && end_kind != DDF_ENDENT) return 0;
    switch (d.kind) {
      case DDF_ENDENT:
        if (end_kind != DDF_ENDENT) return MDA_INVALID_ARG;
        return call(w, l, 0, DDF_ENDENT, nullptr, nullptr);
      case DDF_ENDSTRUCT:
        return MDA_INVALID_ARG;  // an endstruct that closes nothing
      case DDF_COUNT:
        if (Result r = call(w, l, 1, DDF_COUNT, at, &d); r != 0) return r;
        store_count(d, at, l.registers);
        at += 4 + d.filler;
        ++i;
        break;
      case DDF_LET:
        compute_let(d, at, l.registers);
        at += 4 + d.filler;
        ++i;
        break;
      case DDF_SUBENT: {
        if (Result r = call(w, l, 1, DDF_SUBENT, at, &d); r != 0) return r;
        const ddf_FieldDesc *sub = nullptr;
        const ddf_FieldDesc *sub_end = nullptr;
        if (l.subentities + 1 >= kMaxSubentityDepth ||
            !subentity_fields(w.schema, d.key, &sub, &sub_end))
          return MDA_INVALID_ARG;
        if (Result r = walk_type(w, sub, static_cast<int32_t>(sub_end - sub), at,
                                     l.subentities + 1, nullptr);
            r != 0)
          return r;
        at += (d.aux > 0 ? d.aux : 0) + d.filler;
        ++i;
        break;
      }
      case DDF_DERIVED:
      case DDF_METHOD:
        ++i;
        break;
      case DDF_STRUCT:
        if (Result r = structure(w, l, index, address); r != 0) return r;
        break;
      default: {
        if (d.kind < DDF_SHORT || d.kind > DDF_PTR) return MDA_INVALID_ARG;
        int32_t count = 1;
        char *first = at;
        if (ddf::held_in_block(d)) {
          if (Result s = block_elements(d, at, l.registers, &count, &first); s != 0)
            return s;
          if (Result r = call(w, l, count, d.kind, first, &d); r != 0) return r;
          at += 8 + d.filler;
        } else {
          if ((d.flags & DDF_ARRAY) != 0) count = embedded_count(d);
          if (Result r = call(w, l, count, d.kind, at, &d); r != 0) return r;
          at += ddf::slot_size(d) + d.filler;
        }
        ++i;
        break;
      }
    }
  }
}

// Everything an entry point of the second engine does around the walk. The walk's own failures
// are returned unissued; a callback's answer is returned as it is, with `answered` set.
Result traverse2(void *entity, void *field, const ddf_FieldDesc **cursor,
                 mda_TraverseCallback2 callback, mpm_Status *status, int32_t end_code,
                 void *user, bool *answered) {
  *answered = false;
  if (callback == nullptr) return MDA_NULL_MEMPTR;
  if (end_code != DDF_ENDENT && end_code != DDF_ENDSTRUCT) return MDA_INVALID_ARG;
  WalkTarget target;
  if (Result s = walk_target(entity, cursor != nullptr ? *cursor : nullptr, &target); s != 0)
    return s;
  char *address = target.entity + sizeof(mda_EntityHeader);
  if (field != nullptr) {
    address = static_cast<char *>(field);
    if (address < target.entity || address > block_end(block_at(entity, false)))
      return MDA_INVALID_ARG;
  }
  mpm_Status local = 0;
  ddf_Schema *const saved_schema = ddf_current;
  ddf_current = const_cast<ddf_Schema *>(target.schema);
  ddf::reset_cache();
  Walk2 w{target.entity, target.schema, callback, status != nullptr ? status : &local, user, false};
  int32_t registers[DDF_REGISTER_COUNT] = {};
  int32_t *const saved_registers = ddf_registers;
  ddf_registers = registers;
  const Level level{target.first, static_cast<int32_t>(target.end - target.first), registers, 0, 0};
  int32_t index = 0;
  const Result result = run(w, level, &index, &address, end_code);
  ddf_registers = saved_registers;
  ddf_current = saved_schema;
  ddf::reset_cache();
  if (cursor != nullptr && index >= 0 && index < level.size) *cursor = target.first + index;
  *answered = w.answered;
  return result;
}

}  // namespace

Result walk_entity2(void *entity, mda_TraverseCallback2 callback, void *user, bool *answered) {
  return traverse2(entity, nullptr, nullptr, callback, nullptr, DDF_ENDENT, user, answered);
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_TraverseEntity2(uint32_t, void *entity, mda_TraverseCallback2 callback,
                               void *user) {
  mpm_Status status = 0;
  bool answered = false;
  const Result result =
      traverse2(entity, nullptr, nullptr, callback, &status, DDF_ENDENT, user, &answered);
  if (result && !answered) return report(result);
  return result == 0 || result == MDA_TRAVERSE_STOP ? status : result.code();
}

mpm_Status mda__TraverseEntity2(uint32_t, void *entity, void *field, const ddf_FieldDesc **cursor,
                                mda_TraverseCallback2 callback, mpm_Status *status,
                                int32_t end_code, void *user) {
  if (field == nullptr || cursor == nullptr || *cursor == nullptr) return report(MDA_NULL_MEMPTR);
  bool answered = false;
  const Result result = traverse2(entity, field, cursor, callback, status, end_code, user, &answered);
  return answered ? result.code() : report(result);
}

}  // extern "C"
