// The first entity walk (mda_TraverseEntity), which can give fields their memory blocks, and the
// visit of a model's entities.
//
// Design. One walk covers the descriptors of one type form, [first, end), in a single loop over
// the descriptor index and the field address; it keeps everything in its own frame: 64 count
// registers and a stack of structure frames (kMaxStructNesting deep; deeper nesting is refused).
// A structure frame holds the structure's descriptor and endstruct index, its elements' base
// address, size and count, the element being walked, the address after the whole
// field, and the mda_TraverseFieldAddress to restore when the structure ends. For a union the frame
// also holds the index just past the member being walked: reaching it jumps to the union's
// endstruct, so the other members are never visited. A subentity is a walk of its own (fresh
// registers, its type form's descriptors), entered by recursion with the depth counted, so a chain
// of subentities cannot exhaust the stack.
//
// The globals a walk changes (ddf_current and its TF cache, ddf_registers,
// mda_TraverseFieldAddress) are saved by the entry points and restored on every way out. Failures
// found by the walk, and those of the block operations it calls, are returned unissued and issued by
// the entry point once the globals are back.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

void *mda_TraverseFieldAddress = nullptr;

namespace tesmar::mda {

namespace {

struct Walk {
  uint32_t options;
  char *entity;
  const ddf_Schema *schema;
  mda_TraverseCallback callback;
};

struct Frame {
  const ddf_FieldDesc *desc;
  int32_t begin;       // index of the structure's descriptor
  int32_t end;         // index of its endstruct
  int32_t member_end;  // union: index just past the member being walked
  int32_t element;
  int32_t count;
  char *base;
  char *after;
  void *saved_field;
};

bool allocating(uint32_t options) {
  return (options & (MDA_TRAVERSE_ALLOCATE | MDA_TRAVERSE_FREE | MDA_TRAVERSE_RESIZE)) != 0;
}

// Gives a block field the block its registers call for (allocating walks only).
Result allocate_field(Walk &w, const ddf_FieldDesc &d, char *slot, const int32_t *registers) {
  char *data = nullptr;
  std::memcpy(&data, slot, sizeof data);
  const int32_t n = d.ndims - (d.kind == DDF_FSTRING ? 1 : 0);
  if (n < 1 || n > MDA_MAX_DIMS) return MDA_INVALID_ARG;
  const int64_t element = ddf::element_size(d);
  if (element <= 0) return MDA_INVALID_ARG;
  int32_t dims[MDA_MAX_DIMS] = {};
  uint64_t total = 1;
  for (int32_t i = 0; i < n; ++i) {
    dims[i] = evaluate_dim(d.dims[i], registers);
    if (dims[i] <= 0) total = 0;
    else if (total != 0 && __builtin_mul_overflow(total, static_cast<uint64_t>(dims[i]), &total))
      return MDA_MALLOC_ERR;
  }
  const bool unsized = (d.flags & DDF_UNSIZED) != 0;
  if (unsized) {
    // Its size is what its block holds: it only loses a block too small for one element.
    if (data == nullptr || (w.options & MDA_TRAVERSE_FREE) == 0) return 0;
    int32_t held = 0;
    char *first = nullptr;
    if (Result s = block_elements(d, slot, registers, &held, &first); s != 0) return s;
    if (held > 0) return 0;
    total = 0;
  }
  const bool rows = (d.flags & DDF_VARIABLE) != 0 && n >= 2;
  // Freed as the kind of block it is (reading an array header before a plain block would read
  // outside it).
  const MBlock *held = data != nullptr ? find_block(data) : nullptr;
  const uint32_t free_options =
      held != nullptr && held->type == MDA_MBLOCK_ARRAY ? MDA_FREE_ARRAY : 0;
  if (total == 0) {
    if ((w.options & MDA_TRAVERSE_FREE) == 0 || data == nullptr) return 0;
    const Result s = free_block(free_options, w.entity, data);
    if (s == 0) std::memset(slot, 0, sizeof(void *));
    return s;
  }
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(total, static_cast<uint64_t>(element), &bytes) || bytes > UINT32_MAX)
    return MDA_MALLOC_ERR;
  if (data != nullptr && (w.options & MDA_TRAVERSE_RESIZE) != 0) {
    if (rows)
      return reallocate_array(0, w.entity, data, static_cast<uint32_t>(element), slot, n, dims);
    return realloc_block(w.entity, data, static_cast<uint32_t>(bytes), slot);
  }
  // A new block never leaves the old one behind: two blocks chained through one slot would break
  // the entity's chain.
  if (data != nullptr) {
    if (Result s = free_block(free_options, w.entity, data); s != 0) return s;
    std::memset(slot, 0, sizeof(void *));
  }
  if (rows) return allocate_array(w.entity, static_cast<uint32_t>(element), slot, n, dims, true);
  return malloc_block(w.entity, bytes, slot, nullptr);
}

// The elements of a block field, after giving it its block in an allocating walk.
Result field_elements(Walk &w, const ddf_FieldDesc &d, char *slot, const int32_t *registers,
                          int32_t *count, char **first) {
  if (allocating(w.options))
    if (Result s = allocate_field(w, d, slot, registers); s != 0) return s;
  return block_elements(d, slot, registers, count, first);
}

Result walk(Walk &w, const ddf_FieldDesc *fields, int32_t size, char *address, int32_t depth);

// Starts element `f.element` of a structure frame: its address, and for a union the member.
Result enter_element(const ddf_FieldDesc *fields, Frame &f, int32_t *index, char **address) {
  char *element = f.base + static_cast<int64_t>(f.element) * f.desc->key;
  if ((f.desc->flags & DDF_UNION) == 0) {
    *index = f.begin + 1;
    *address = element;
    return 0;
  }
  int16_t selector = 0;
  std::memcpy(&selector, element, sizeof selector);
  const int32_t member = union_member(fields + f.begin, f.end - f.begin, selector);
  if (member < 0) return MDA_INVALID_ARG;
  const ddf_FieldDesc &m = fields[f.begin + member];
  *index = f.begin + member;
  f.member_end = *index + (m.kind == DDF_STRUCT ? m.aux + 1 : 1);
  *address = element + 2 + f.desc->member_offset;
  return 0;
}

Result walk(Walk &w, const ddf_FieldDesc *fields, int32_t size, char *address, int32_t depth) {
  int32_t registers[DDF_REGISTER_COUNT] = {};
  int32_t *const saved_registers = ddf_registers;
  ddf_registers = registers;
  Frame frames[kMaxStructNesting];
  int32_t top = 0;  // frames in use
  Result status = 0;
  int32_t i = 0;
  auto call = [&](int32_t count, int32_t type, void *at, const ddf_FieldDesc *desc) {
    return w.callback(w.entity, count, type, at, desc) == MDA_TRAVERSE_STOP;
  };
  for (;;) {
    if (top > 0 && (frames[top - 1].desc->flags & DDF_UNION) != 0 &&
        i == frames[top - 1].member_end)
      i = frames[top - 1].end;  // the member is done: the others are not walked
    if (i < 0 || i >= size) {
      status = MDA_INVALID_ARG;  // a type form without its endent
      break;
    }
    const ddf_FieldDesc &d = fields[i];
    if (d.kind == DDF_ENDENT) {
      if (call(0, DDF_ENDENT, nullptr, nullptr)) status = MDA_TRAVERSE_STOP;
      break;
    }
    if (d.kind == DDF_COUNT) {
      if (call(1, DDF_COUNT, address, &d)) {
        status = MDA_TRAVERSE_STOP;
        break;
      }
      store_count(d, address, registers);
      address += 4 + d.filler;
      ++i;
    } else if (d.kind == DDF_LET) {
      compute_let(d, address, registers);
      address += 4 + d.filler;
      ++i;
    } else if (d.kind == DDF_SUBENT) {
      const mpm_Status answer = w.callback(w.entity, 1, DDF_SUBENT, address, &d);
      if (answer == MDA_TRAVERSE_STOP) {
        status = MDA_TRAVERSE_STOP;
        break;
      }
      if (answer != MDA_TRAVERSE_SKIP) {
        const ddf_FieldDesc *sub = nullptr;
        const ddf_FieldDesc *sub_end = nullptr;
        if (depth + 1 >= kMaxSubentityDepth || !subentity_fields(w.schema, d.key, &sub, &sub_end)) {
          status = MDA_INVALID_ARG;
          break;
        }
        status = walk(w, sub, static_cast<int32_t>(sub_end - sub), address, depth + 1);
        if (status != 0) break;
      }
      address += (d.aux > 0 ? d.aux : 0) + d.filler;
      ++i;
    } else if (d.kind == DDF_DERIVED || d.kind == DDF_METHOD) {
      ++i;
    } else if (d.kind == DDF_STRUCT) {
      const bool is_union = (d.flags & DDF_UNION) != 0;
      const int32_t open = is_union ? DDF_UNIONKIND : DDF_STRUCT;
      const int32_t end = i + d.aux;
      if (d.aux < 1 || end >= size || fields[end].kind != DDF_ENDSTRUCT || d.key < 1 ||
          top == kMaxStructNesting) {
        status = MDA_INVALID_ARG;
        break;
      }
      void *const saved_field = mda_TraverseFieldAddress;
      mda_TraverseFieldAddress = address;
      int32_t count = 1;
      char *base = address;
      char *after = address + d.key + d.filler;
      const bool held = ddf::held_in_block(d);
      if (held) {
        after = address + 8 + d.filler;
        status = field_elements(w, d, address, registers, &count, &base);
        if (status != 0) break;
      } else if ((d.flags & DDF_ARRAY) != 0) {
        count = embedded_count(d);
        after = address + ddf::slot_size(d) + d.filler;
      }
      bool started = false;
      if (count == 0) {
        if (call(0, open, nullptr, &d)) {
          status = MDA_TRAVERSE_STOP;
          break;
        }
        started = true;
        // The callback may have given an UNSIZED structure array its block.
        if (held) {
          status = block_elements(d, address, registers, &count, &base);
          if (status != 0) break;
        }
        if (count == 0) {
          if (call(0, is_union ? DDF_ENDUNION : DDF_ENDSTRUCT, nullptr, &fields[end])) {
            status = MDA_TRAVERSE_STOP;
            break;
          }
          mda_TraverseFieldAddress = saved_field;
          address = after;
          i = end + 1;
          continue;
        }
      }
      Frame &f = frames[top++];
      f = Frame{&d, i, end, end, 0, count, base, after, saved_field};
      if (!started && call(1, open, base, &d)) {
        status = MDA_TRAVERSE_STOP;
        break;
      }
      status = enter_element(fields, f, &i, &address);
      if (status != 0) break;
    } else if (d.kind == DDF_ENDSTRUCT) {
      if (top == 0) {
        status = MDA_INVALID_ARG;
        break;
      }
      Frame &f = frames[top - 1];
      const bool is_union = (f.desc->flags & DDF_UNION) != 0;
      if (call(0, is_union ? DDF_ENDUNION : DDF_ENDSTRUCT, nullptr, nullptr)) {
        status = MDA_TRAVERSE_STOP;
        break;
      }
      if (++f.element >= f.count) {
        address = f.after;
        mda_TraverseFieldAddress = f.saved_field;
        i = f.end + 1;
        --top;
        continue;
      }
      if (call(1, is_union ? DDF_UNIONKIND : DDF_STRUCT,
               f.base + static_cast<int64_t>(f.element) * f.desc->key, f.desc)) {
        status = MDA_TRAVERSE_STOP;
        break;
      }
      status = enter_element(fields, f, &i, &address);
      if (status != 0) break;
    } else if (d.kind >= DDF_SHORT && d.kind <= DDF_PTR) {
      if (ddf::held_in_block(d)) {
        mda_TraverseFieldAddress = address;
        int32_t count = 0;
        char *first = nullptr;
        status = field_elements(w, d, address, registers, &count, &first);
        if (status != 0) break;
        if (call(count, d.kind, first, &d)) {
          status = MDA_TRAVERSE_STOP;
          break;
        }
        address += 8 + d.filler;
      } else {
        const int32_t count = (d.flags & DDF_ARRAY) != 0 ? embedded_count(d) : 1;
        if (call(count, d.kind, address, &d)) {
          status = MDA_TRAVERSE_STOP;
          break;
        }
        address += ddf::slot_size(d) + d.filler;
      }
      ++i;
    } else {
      status = MDA_INVALID_ARG;  // a kind no schema stores
      break;
    }
  }
  ddf_registers = saved_registers;
  return status;
}

// Everything an entry point of the first engine does around the walk; failures are returned
// unissued.
Result traverse(uint32_t options, void *entity, void *field, const ddf_FieldDesc *from,
                    mda_TraverseCallback callback) {
  if (callback == nullptr) return MDA_NULL_MEMPTR;
  WalkTarget target;
  if (Result s = walk_target(entity, from, &target); s != 0) return s;
  char *address = target.entity + sizeof(mda_EntityHeader);
  if (field != nullptr) {
    const MBlock *b = block_at(entity, false);
    address = static_cast<char *>(field);
    if (address < target.entity || address > block_end(const_cast<MBlock *>(b)))
      return MDA_INVALID_ARG;
  }
  ddf_Schema *const saved_schema = ddf_current;
  void *const saved_field = mda_TraverseFieldAddress;
  ddf_current = const_cast<ddf_Schema *>(target.schema);
  ddf::reset_cache();
  Walk w{options, target.entity, target.schema, callback};
  const Result status =
      walk(w, target.first, static_cast<int32_t>(target.end - target.first), address, 0);
  mda_TraverseFieldAddress = saved_field;
  ddf_current = saved_schema;
  ddf::reset_cache();
  return status;
}

}  // namespace

Result walk_entity(uint32_t options, void *entity, mda_TraverseCallback callback) {
  return traverse(options, entity, nullptr, nullptr, callback);
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_TraverseEntity(uint32_t options, void *entity, mda_TraverseCallback callback) {
  return report(traverse(options, entity, nullptr, nullptr, callback));
}

mpm_Status mda__TraverseEntity(uint32_t options, void *entity, void *field,
                               const ddf_FieldDesc *first, mda_TraverseCallback callback) {
  if (field == nullptr || first == nullptr) return report(MDA_NULL_MEMPTR);
  return report(traverse(options, entity, field, first, callback));
}

mpm_Status mda_TraverseModel(uint32_t options, int32_t model, mda_ModelVisitor visitor) {
  if (visitor == nullptr) return report(MDA_NULL_MEMPTR);
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  const bool descending = (options & MDA_TRAVERSE_DESCENDING) != 0;
  // The visitor may create and delete entities, or free the model: the record and the entity's
  // entry are looked up again for every number.
  const uint64_t last = rec->next_number;
  for (uint64_t k = 1; descending ? k < last : true; ++k) {
    const uint64_t number = descending ? last - k : k;
    rec = model_in_use(model);
    if (rec == nullptr || (!descending && number >= rec->next_number)) break;
    const mda_EntityEntry *e = entry_of(rec, number);
    if (e == nullptr || (e->status & (MDA_ENTRY_DELETED | MDA_ENTRY_RESERVED)) != 0) continue;
    if (visitor(make_ptr(model, number)) != 0) return MDA_TRAVERSE_STOP;
  }
  return 0;
}

}  // extern "C"
