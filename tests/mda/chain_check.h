// Memory-block chains for the block tests: the blocks in order, and the library's chain check.
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

// The chain's invariants (mda::chain_fault, every successor slot inside the chain): an empty string
// when all holds.
inline std::string chain_fault(void *owner) {
  const char *fault = mda::chain_fault(owner, true);
  return fault != nullptr ? fault : "";
}

}  // namespace tesmar::test
