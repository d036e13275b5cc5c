// A growable work list of plain records: the first kFixed in place, more on the heap.
//
// The walks that would otherwise recurse (copying the entities a copy points to, deleting a tree,
// writing and loading a chain of blocks) keep their pending work here, so that the depth of the
// data never reaches the C stack. Growth never throws: push() reports a failed allocation as
// false and leaves the list as it was. The list is plain data with no destructor, so a frame that
// holds one may be left by a client handler; release() frees what it allocated and empties it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace tesmar::mda {

template <typename T, std::size_t kFixed = 32>
struct WorkList {
  static_assert(std::is_trivially_copyable_v<T>);

  T fixed[kFixed];
  T *items;
  std::size_t count;
  std::size_t capacity;

  // Must run before any other use, and after the list has reached its final place in memory.
  void init() {
    items = fixed;
    count = 0;
    capacity = kFixed;
  }
  bool push(const T &item) {
    if (count == capacity) {
      if (capacity > SIZE_MAX / (2 * sizeof(T))) return false;
      const std::size_t grown = capacity * 2;
      T *more = static_cast<T *>(std::malloc(grown * sizeof(T)));
      if (more == nullptr) return false;
      std::memcpy(more, items, count * sizeof(T));
      if (items != fixed) std::free(items);
      items = more;
      capacity = grown;
    }
    items[count++] = item;
    return true;
  }
  bool empty() const { return count == 0; }
  T pop() { return items[--count]; }
  void release() {
    if (items != fixed) std::free(items);
    init();
  }
};

}  // namespace tesmar::mda
