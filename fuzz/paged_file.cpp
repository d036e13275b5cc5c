// Fuzz target: a paged file with block headers, of arbitrary bytes, and arbitrary operations on it.
//
// Input: two bytes give the length of the file's bytes (at most 16 KiB), those bytes follow, then
// operations of 9 bytes each: an operation byte and a 64-bit little-endian argument. Blocks are
// allocated, freed, sized, read and written at the addresses given; after every operation the free
// list must agree with its index.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dof/dof_internal.h"
#include "fuzz_support.h"
#include "tesmar/tesmar.h"

namespace {

int64_t argument(const uint8_t *p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return static_cast<int64_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tesmar::fuzz::start_library();
  static const tesmar::fuzz::Scratch scratch("paged-file");
  if (size < 3) return 0;
  size_t length = (data[0] | data[1] << 8) % 16385;
  uint8_t shape = data[2];
  data += 3;
  size -= 3;
  if (length > size) length = size;
  if (!scratch.write(data, length)) return 0;
  data += length;
  size -= length;

  DofFile *file = nullptr;
  uint32_t flags = DOF_FREE_LIST | (shape & 1 ? DOF_READ_ONLY : DOF_OPEN_EXISTING);
  if (dof_OpenFile(flags, scratch.path(), 1 + (shape >> 1) % 4, 16 << (shape >> 3) % 6, &file) == 0) {
    std::vector<uint8_t> buffer(1 << 16);
    for (; size >= 9; data += 9, size -= 9) {
      int64_t arg = argument(data + 1);
      uint32_t count = static_cast<uint32_t>(arg) % (1 << 16);
      int64_t address = 0;
      uint32_t block_size = 0;
      switch (data[0] % 6) {
        case 0: dof_AllocateBlock(file, static_cast<uint32_t>(arg), &address); break;
        case 1: dof_FreeBlock(file, arg); break;
        case 2: dof_GetBlockSize(file, arg, &block_size); break;
        case 3: dof_ReadWrite(DOF_READ, file, count, arg >> 16, buffer.data()); break;
        case 4: dof_ReadWrite(DOF_WRITE, file, count, arg >> 16, buffer.data()); break;
        default: dof_FreeBlock(file, arg % (file->end + 1)); break;
      }
      if (!tesmar::dof::index_consistent(file->free_list)) std::abort();
      mpm_DiscardPending(0);
    }
    if (dof_CloseFile(0, file) == DOF_CLOSE_ERR) dof_CloseFile(0, file);
  }
  mpm_DiscardPending(0);
  return 0;
}
