// Private declarations shared by the saved-model writer (save.cpp) and reader (restore.cpp).
//
// A saved model is a header and one record per entity whose values follow the entity walk's order
// (docs/saved-model.md). Writer and reader keep the same nesting stack of the structures and
// unions being walked, so that an open (UNSIZED) structure array's element count is written and
// read once, before its first element.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mda/mda_internal.h"

namespace tesmar::mda::saved {

// Structures and unions nested at most this deep in a saved model (the stack's base entry aside).
inline constexpr int kMaxNesting = 10;
// The signature of this machine's binary form: byte order, then the schema's value sizes of char,
// short, int, long and pointer/double (as the schema defines them, not as the compiler does).
std::string signature();

// One entry of the nesting stack.
struct Nest {
  const ddf_FieldDesc *desc = nullptr;  // null for the base entry
  int64_t count = 0;                    // elements still to be walked
  bool skipped = false;                 // a field newer than the file: neither written nor read
};

class NestingStack {
 public:
  NestingStack() { entries_.push_back(Nest{}); }
  bool at_base() const { return entries_.size() == 1; }
  const Nest &top() const { return entries_.back(); }
  bool skipping() const {
    for (const Nest &n : entries_)
      if (n.skipped) return true;
    return false;
  }
  // False when the nesting would go beyond kMaxNesting.
  bool push(const ddf_FieldDesc *desc, int64_t count, bool skipped) {
    if (static_cast<int>(entries_.size()) > kMaxNesting) return false;
    entries_.push_back(Nest{desc, count, skipped});
    return true;
  }
  // The end of a structure or union element: one element less; the entry goes with the last (an
  // empty structure array's entry goes at once).
  void element_done() {
    if (at_base()) return;
    if (--entries_.back().count <= 0) entries_.pop_back();
  }

 private:
  std::vector<Nest> entries_;
};

// Bytes of one element of a field: an fstring's length, a structure's size, else its kind's.
int64_t element_size(const ddf_FieldDesc &d);

// The name of a field for messages.
const char *field_name(const ddf_Schema *schema, const ddf_FieldDesc &d);

// Whether a double's "%#.16g" text gives the same double back.
std::string double_text(double v);

}  // namespace tesmar::mda::saved
