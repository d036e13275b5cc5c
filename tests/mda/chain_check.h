// Checks of memory-block chains shared by the block tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mda/mda_internal.h"

namespace tesmar::test {

inline std::vector<MBlock *> chain_of(void *owner) {
  std::vector<MBlock *> blocks;
  for (MBlock *b = mda::header_of(owner); b != nullptr; b = mda::next_of(b)) {
    blocks.push_back(b);
    if (blocks.size() > 100000) break;  // a cycle
  }
  return blocks;
}

inline uint64_t read_word(uint64_t address) {
  uint64_t v;
  std::memcpy(&v, reinterpret_cast<const void *>(address), sizeof v);
  return v;
}

// Every reference names a slot inside a block of the chain that holds its successor's address;
// the last block's reference is 0; every array's row pointers point into the next level's table
// and, at the last level, into the element area. An empty string when all holds.
inline std::string chain_fault(void *owner) {
  std::vector<MBlock *> blocks = chain_of(owner);
  if (blocks.size() > 100000) return "the chain has a cycle";
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    MBlock *b = blocks[i];
    if (b->marker != MDA_MBLOCK_MARKER) return "block " + std::to_string(i) + " has no marker";
    if (i + 1 == blocks.size()) {
      if (b->reference != 0) return "the last block has a reference";
      break;
    }
    bool inside = false;
    for (MBlock *h : blocks) inside = inside || mda::holds_slot(h, b->reference);
    if (!inside) return "reference of block " + std::to_string(i) + " lies in no block";
    if (read_word(b->reference) != reinterpret_cast<uint64_t>(mda::user_address(blocks[i + 1])))
      return "reference of block " + std::to_string(i) + " does not name its successor";
  }
  for (MBlock *b : blocks) {
    if (b->type != MDA_MBLOCK_ARRAY) continue;
    const mda_ArrayHeader *ah = mda::array_header(b);
    if (ah->self != reinterpret_cast<uint64_t>(ah)) return "array header address is stale";
    const int k = ah->ndims;
    const char *table = reinterpret_cast<const char *>(ah) + MDA_ARRAY_HEADER_SIZE;
    const char *elements = reinterpret_cast<const char *>(ah) + ah->element_offset;
    uint64_t count = 1;
    for (int level = 0; level < k - 1; ++level) {
      count *= ah->dims[level];
      const char *next = table + count * 8;
      const bool last = level == k - 2;
      const uint64_t step = last ? ah->dims[k - 1] * ah->element_size : ah->dims[level + 1] * 8;
      const char *target = last ? elements : next;
      for (uint64_t j = 0; j < count; ++j)
        if (read_word(reinterpret_cast<uint64_t>(table + 8 * j)) !=
            reinterpret_cast<uint64_t>(target + j * step))
          return "row pointer " + std::to_string(j) + " of level " + std::to_string(level) +
                 " is wrong";
      table = next;
    }
    if (reinterpret_cast<const char *>(ah) + ah->element_offset != table) return "element offset";
  }
  return "";
}

}  // namespace tesmar::test
