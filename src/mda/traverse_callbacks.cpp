// Ready-made walk callbacks (the field dump and the defaults), the element labels they print, and
// the entity operations built on them.
#include <cstdio>

#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

// The label of the element being printed: its index in each dimension.
struct LabelState {
  int32_t dims[MDA_MAX_DIMS];
  int32_t index[MDA_MAX_DIMS];
  int32_t count;
  char suffix[MDA_MAX_DIMS * 13 + 1];
};
LabelState g_label;

void format_suffix() {
  char *p = g_label.suffix;
  *p = '\0';
  for (int32_t i = 0; i < g_label.count; ++i)
    p += std::snprintf(p, sizeof g_label.suffix - static_cast<size_t>(p - g_label.suffix), "[%d]",
                       static_cast<int>(g_label.index[i]));
}

// The field's block, for an UNSIZED field whose dimensions come from it.
const void *field_block(const ddf_FieldDesc *desc, const void *address) {
  if ((desc->flags & DDF_VARIABLE) != 0 && mda_TraverseFieldAddress != nullptr) {
    const void *block = nullptr;
    std::memcpy(&block, mda_TraverseFieldAddress, sizeof block);
    return block;
  }
  return address;
}

template <typename T>
T load(const char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The text of a vstring, never read past its block.
void print_vstring(const char *name, const char *text) {
  if (text == nullptr) {
    mpm_Fprintf(mda_DbgStream, "%s%s = %s\n", name, label_suffix(), "<NULL>");
    return;
  }
  int length = -1;
  if (MBlock *b = block_at(text, false); b != nullptr) {
    const char *end = block_end(b);
    const void *nul = std::memchr(text, 0, static_cast<size_t>(end - text));
    length = static_cast<int>((nul != nullptr ? static_cast<const char *>(nul) : end) - text);
  }
  if (length < 0) mpm_Fprintf(mda_DbgStream, "%s%s = %s\n", name, label_suffix(), text);
  else mpm_Fprintf(mda_DbgStream, "%s%s = %.*s\n", name, label_suffix(), length, text);
}

void print_element(const char *name, int32_t type, const ddf_FieldDesc *desc, const char *at) {
  FILE *out = mda_DbgStream;
  const char *suffix = label_suffix();
  switch (type) {
    case DDF_SHORT: mpm_Fprintf(out, "%s%s = %d\n", name, suffix, int{load<int16_t>(at)}); break;
    case DDF_INT:
    case DDF_COUNT: mpm_Fprintf(out, "%s%s = %d\n", name, suffix, int{load<int32_t>(at)}); break;
    case DDF_CHAR: mpm_Fprintf(out, "%s%s = %d\n", name, suffix, int{load<signed char>(at)}); break;
    case DDF_LONG: mpm_Fprintf(out, "%s%s = %ld\n", name, suffix, long{load<int32_t>(at)}); break;
    case DDF_FLOAT:
      mpm_Fprintf(out, "%s%s = %#.*g\n", name, suffix, 6, static_cast<double>(load<float>(at)));
      break;
    case DDF_DOUBLE: mpm_Fprintf(out, "%s%s = %#.*g\n", name, suffix, 15, load<double>(at)); break;
    case DDF_FSTRING: {
      // The characters in the field, which need not end with a NUL.
      const int32_t length = ddf::element_size(*desc);
      const void *nul = std::memchr(at, 0, static_cast<size_t>(length));
      const int shown =
          static_cast<int>(nul != nullptr ? static_cast<const char *>(nul) - at : length);
      mpm_Fprintf(out, "%s%s = %.*s\n", name, suffix, shown, at);
      break;
    }
    case DDF_VSTRING: print_vstring(name, load<const char *>(at)); break;
    case DDF_PTR: {
      const db_ptr p = load<db_ptr>(at);
      if (MDA_PTR_ENTITY(p) == 0) mpm_Fprintf(out, "%s%s = NULL\n", name, suffix);
      else mpm_Fprintf(out, "%s%s = %<PTR> (%<PTR2>)\n", name, suffix, p, p);
      break;
    }
    default: break;
  }
}

}  // namespace

void start_label(const ddf_FieldDesc *desc, const void *array) {
  g_label = LabelState{};
  if (desc != nullptr && (desc->flags & DDF_ARRAY) != 0) {
    int32_t n = 0;
    if (mda_GetArrayDims(desc, array, g_label.dims, &n) == 0 && n > 0 && n <= MDA_MAX_DIMS)
      g_label.count = n;
  }
  format_suffix();
}

const char *label_suffix() { return g_label.suffix; }

void next_label() {
  for (int32_t i = g_label.count - 1; i >= 0; --i) {
    if (++g_label.index[i] < g_label.dims[i] || i == 0) break;
    g_label.index[i] = 0;
  }
  format_suffix();
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_DumpFieldCallback(void *, int32_t count, int32_t type, void *address,
                                 const ddf_FieldDesc *desc) {
  if (count <= 0 || address == nullptr || desc == nullptr || type < DDF_SHORT ||
      type > DDF_COUNT || mda_DbgStream == nullptr)
    return 0;
  const char *name = tesmar::ddf::field_name(ddf_current, *desc);
  if (name == nullptr) name = "";
  const int32_t size = tesmar::ddf::element_size(*desc);
  start_label(desc, (desc->flags & DDF_UNSIZED) != 0 ? field_block(desc, address) : nullptr);
  const char *at = static_cast<const char *>(address);
  for (int32_t i = 0; i < count; ++i, at += size) {
    print_element(name, type, desc, at);
    next_label();
  }
  return 0;
}

mpm_Status mda_DefaultFieldCallback(void *, int32_t count, int32_t type, void *address,
                                    const ddf_FieldDesc *desc) {
  if (count <= 0 || address == nullptr || desc == nullptr) return 0;
  if (type == DDF_UNIONKIND) {
    const int16_t first = 0;
    std::memcpy(address, &first, sizeof first);
    return 0;
  }
  if (type < DDF_SHORT || type > DDF_COUNT) return 0;
  const int32_t size = tesmar::ddf::element_size(*desc);
  char *at = static_cast<char *>(address);
  for (int32_t i = 0; i < count; ++i, at += size) ddf_GetFieldDefault(desc, at);
  return 0;
}

mpm_Status mda_SetFieldDefaults(uint32_t, void *memory) {
  return report(walk_entity(MDA_TRAVERSE_ALLOCATE, memory, mda_DefaultFieldCallback));
}

mpm_Status mda_SetString(uint32_t, void *memory, const char *text, void *slot) {
  if (memory == nullptr || text == nullptr || slot == nullptr) return report(MDA_NULL_MEMPTR);
  MBlock *first = owner_block(memory);
  if (first == nullptr) return report(bad_block(static_cast<char *>(memory) - kHeader));
  void *old = nullptr;
  std::memcpy(&old, slot, sizeof old);
  const size_t length = std::strlen(text);
  void *copy = nullptr;
  if (Result s = malloc_block(memory, uint64_t{length} + 1, slot, &copy); s != 0)
    return report(s);
  std::memcpy(copy, text, length + 1);
  // The old text goes only now (the new one may have been copied from it), and only when it is a
  // block of this entity's own chain.
  if (MBlock *b = old != nullptr ? block_at(old, false) : nullptr;
      b != nullptr && b != first && predecessor(first, b) != nullptr)
    return report(free_block(0, memory, old));
  return 0;
}

}  // extern "C"
