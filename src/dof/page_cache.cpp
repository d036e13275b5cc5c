// The page layer: page look-up with clock replacement, write-back in runs, and byte transfers.
//
// Design notes
//
// The file is an array of pages of one size; page p covers bytes [p * size, (p + 1) * size). The
// page count covers every page the file holds, a partial last page of an existing file included
// (it reads short and the rest is zeros in memory), and every page created beyond the end.
//
// A buffer is free (page -1) or holds one page; no page is held twice, and the page index knows
// exactly the held pages. A dirty buffer holds bytes that the file does not have yet; it is written
// back only when it is chosen as a victim, when the caller asks (dof_FlushBuffer) and at close.
//
// Look-up (get_page): every request advances the request clock. A page below the page count may be
// in a buffer: a hit raises the buffer's weight by one, up to 3. Otherwise the victim is found by
// the clock hand, which goes round the buffers in order: a free buffer or one of weight 0 is taken,
// any other loses one weight and the hand moves on. Each step takes a weight a hit gave, so a miss
// costs O(1) steps on average whatever the number of buffers. A dirty victim is written back first,
// together with the dirty buffers after it that hold the pages after its page (the buffers' images
// are one block, so such a run is one write); if that fails, no buffer's page or bytes changed (only
// the hand and the weights it passed). The victim is then unlabelled before it is loaded, so a
// failed load leaves no buffer claiming the page. A page at or beyond the page count is created:
// the page count becomes page + 1 and the victim holds zeros, marked dirty, so that the file grows
// when the page is written back (pages in between are left to the file system as a hole, which
// reads as zeros). A read-only file never grows: its look-ups beyond the last page fail with
// WRITE_ERR. A page newly held starts at weight 1.
//
// A transfer that overwrites a whole page takes a buffer for that page without reading it first;
// one that reads a whole page that no buffer holds reads it from the file into the caller's memory,
// and no buffer changes.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dof/dof_internal.h"
#include "platform/file_io.h"

namespace platform = tesmar::platform;

// The page index: open addressing with linear probing over at least twice as many slots as
// buffers, each slot a buffer number or -1. Removal shifts later entries back, so no tombstones.
struct DofPageIndex {
  uint32_t mask;
  int32_t shift;
  int32_t *slots;
};

namespace tesmar::dof {
namespace {

constexpr int32_t kMostWeight = 3;
// The largest write-back of consecutive pages. Larger runs were faster for a plain sequential
// writer but slower for the translator, whose large writes the kernel copied more slowly.
constexpr int64_t kMostRunBytes = 32 * 1024;
constexpr uint64_t kMostSlots = uint64_t{1} << 31;

uint32_t slot_of(const DofPageIndex *index, int64_t page) {
  return static_cast<uint32_t>((static_cast<uint64_t>(page) * 0x9E3779B97F4A7C15ull) >>
                               index->shift);
}

int32_t index_find(const DofFile *file, int64_t page) {
  const DofPageIndex *index = file->page_index;
  for (uint32_t i = slot_of(index, page);; i = (i + 1) & index->mask) {
    int32_t b = index->slots[i];
    if (b < 0) return -1;
    if (file->buffers[b].page == page) return b;
  }
}

void index_add(DofFile *file, int32_t buffer) {
  DofPageIndex *index = file->page_index;
  uint32_t i = slot_of(index, file->buffers[buffer].page);
  while (index->slots[i] >= 0) i = (i + 1) & index->mask;
  index->slots[i] = buffer;
}

// Takes the buffer that holds `page` out of the index (before its page number changes).
void index_drop(DofFile *file, int64_t page) {
  DofPageIndex *index = file->page_index;
  uint32_t i = slot_of(index, page);
  while (index->slots[i] >= 0 && file->buffers[index->slots[i]].page != page)
    i = (i + 1) & index->mask;
  if (index->slots[i] < 0) return;
  index->slots[i] = -1;
  // Move back every later entry of the probe run that may no longer be reached.
  for (uint32_t j = (i + 1) & index->mask; index->slots[j] >= 0; j = (j + 1) & index->mask) {
    uint32_t home = slot_of(index, file->buffers[index->slots[j]].page);
    bool reachable = i <= j ? (home > i && home <= j) : (home > i || home <= j);
    if (reachable) continue;
    index->slots[i] = index->slots[j];
    index->slots[j] = -1;
    i = j;
  }
}

// Reads page `page` into `data` (a page's worth); the part beyond the end of the file reads as
// zeros, and so does all of it after a failure.
Failure read_page(DofFile *file, uint8_t *data, int64_t page) {
  const platform::FileIo &io = platform::file_io();
  auto size = static_cast<std::size_t>(file->page_size);
  int64_t offset = page * file->page_size;
  std::size_t got = 0;
  while (got < size) {
    platform::clear_error();
    int64_t n = io.read_at(file->descriptor, data + got, size - got,
                           offset + static_cast<int64_t>(got));
    if (n < 0) {
      std::memset(data, 0, size);
      return failure(DOF_READ_ERR, file);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  std::memset(data + got, 0, size - got);
  file->position = offset + static_cast<int64_t>(got);
  ++file->physical_reads;
  return kOk;
}

}  // namespace

bool page_index_create(DofFile *file) {
  // Counted in 64 bits: twice a buffer count near 2^31 would wrap a 32-bit count (and the doubling
  // would never end). Slot numbers are 32-bit, so larger counts cannot be indexed.
  uint64_t slots = 4;
  int32_t bits = 2;
  while (slots < 2 * static_cast<uint64_t>(file->buffer_count)) {
    slots *= 2;
    ++bits;
  }
  if (slots > kMostSlots) return false;
  auto *index = static_cast<DofPageIndex *>(
      std::malloc(sizeof(DofPageIndex) + sizeof(int32_t) * static_cast<std::size_t>(slots)));
  if (index == nullptr) return false;
  index->mask = static_cast<uint32_t>(slots - 1);
  index->shift = 64 - bits;
  index->slots = reinterpret_cast<int32_t *>(index + 1);
  for (uint64_t i = 0; i < slots; ++i) index->slots[i] = -1;
  file->page_index = index;
  return true;
}

void page_index_destroy(DofFile *file) {
  std::free(file->page_index);
  file->page_index = nullptr;
}

namespace {

// The clock hand's choice of a victim (see the notes above).
int32_t choose_victim(DofFile *file) {
  DofPageBuffer *buffers = file->buffers;
  const auto count = static_cast<uint32_t>(file->buffer_count);
  if (file->hand >= count) file->hand = 0;
  for (;;) {
    uint32_t i = file->hand;
    file->hand = i + 1 == count ? 0 : i + 1;
    if (buffers[i].page < 0 || buffers[i].weight <= 0) return static_cast<int32_t>(i);
    --buffers[i].weight;
  }
}

}  // namespace

Failure get_page(DofFile *file, int64_t page, bool load_page, DofPageBuffer **out) {
  ++file->page_requests;
  ++file->clock;
  DofPageBuffer *buffers = file->buffers;

  if (page < file->page_count) {
    int32_t hit = index_find(file, page);
    if (hit >= 0) {
      if (buffers[hit].weight < kMostWeight) ++buffers[hit].weight;
      buffers[hit].last_use = file->clock;
      ++file->page_hits;
      *out = &buffers[hit];
      return kOk;
    }
  } else if (read_only(file)) {
    return failure(DOF_WRITE_ERR, file);
  }

  const int32_t victim = choose_victim(file);
  DofPageBuffer *buffer = &buffers[victim];
  if (buffer->dirty) {
    if (Failure f = write_back_run(file, victim)) return f;
  }
  if (buffer->page >= 0) index_drop(file, buffer->page);
  buffer->page = -1;
  buffer->weight = 0;

  if (page < file->page_count) {
    if (load_page) {
      if (Failure f = read_page(file, buffer->data, page)) return f;
    }
  } else {
    if (load_page) std::memset(buffer->data, 0, static_cast<std::size_t>(file->page_size));
    file->page_count = page + 1;
    buffer->dirty = 1;
  }
  buffer->weight = 1;
  buffer->last_use = file->clock;
  buffer->page = page;
  index_add(file, victim);
  *out = buffer;
  return kOk;
}

namespace {

// The transfer behind dof_ReadWrite, without counting a request or checking its arguments.
Failure transfer(DofFile *file, int32_t direction, uint32_t count, int64_t offset, void *buffer) {
  const int64_t size = file->page_size;
  int64_t page = offset / size;
  int64_t start = offset % size;
  auto *bytes = static_cast<uint8_t *>(buffer);
  int64_t remaining = count;
  while (remaining > 0) {
    int64_t chunk = remaining + start < size ? remaining : size - start;
    bool whole = chunk == size;
    auto n = static_cast<std::size_t>(chunk);
    if (whole && direction == DOF_READ && page < file->page_count && index_find(file, page) < 0) {
      // A whole page that no buffer holds goes straight to the caller: no copy, and no buffer
      // given up for a page that a scan reads once.
      ++file->page_requests;
      ++file->clock;
      if (Failure f = read_page(file, bytes, page)) return f;
      remaining -= chunk;
      bytes += n;
      ++page;
      continue;
    }
    DofPageBuffer *held = nullptr;
    if (Failure f = get_page(file, page, !(whole && direction == DOF_WRITE), &held)) return f;
    if (direction == DOF_WRITE) {
      std::memcpy(held->data + start, bytes, n);
      held->dirty = 1;
    } else {
      std::memcpy(bytes, held->data + start, n);
    }
    remaining -= chunk;
    bytes += n;
    ++page;
    start = 0;
  }
  return kOk;
}

}  // namespace

namespace {

// Writes `pages` whole pages from `data` at page `first`, continuing short writes.
Failure write_pages(DofFile *file, const uint8_t *data, int64_t first, int32_t pages) {
  const platform::FileIo &io = platform::file_io();
  const auto size = static_cast<std::size_t>(file->page_size) * static_cast<std::size_t>(pages);
  const int64_t offset = first * file->page_size;
  std::size_t written = 0;
  while (written < size) {
    platform::clear_error();
    int64_t n = io.write_at(file->descriptor, data + written, size - written,
                            offset + static_cast<int64_t>(written));
    if (n <= 0) return failure(DOF_WRITE_ERR, file);  // an error, or no progress (a full disk)
    written += static_cast<std::size_t>(n);
  }
  file->position = offset + static_cast<int64_t>(size);
  file->physical_writes += static_cast<uint32_t>(pages);
  return kOk;
}

}  // namespace

Failure flush(DofFile *file, DofPageBuffer *buffer) {
  if (buffer->page < 0) return kOk;
  if (read_only(file)) return failure(DOF_WRITE_ERR, file);
  if (Failure f = write_pages(file, buffer->data, buffer->page, 1)) return f;
  buffer->dirty = 0;
  return kOk;
}

Failure write_back_run(DofFile *file, int32_t first) {
  DofPageBuffer *buffers = file->buffers;
  if (buffers[first].page < 0) return kOk;
  if (read_only(file)) return failure(DOF_WRITE_ERR, file);
  const int64_t most = std::max<int64_t>(1, kMostRunBytes / file->page_size);
  int32_t pages = 1;
  while (first + pages < file->buffer_count && pages < most) {
    const DofPageBuffer &next = buffers[first + pages];
    if (!next.dirty || next.page != buffers[first].page + pages) break;
    ++pages;
  }
  if (Failure f = write_pages(file, buffers[first].data, buffers[first].page, pages)) return f;
  for (int32_t i = 0; i < pages; ++i) buffers[first + i].dirty = 0;
  return kOk;
}

Failure read_write(int32_t direction, DofFile *file, uint32_t count, int64_t offset, void *buffer) {
  if (file == nullptr || (direction != DOF_READ && direction != DOF_WRITE))
    return failure(DOF_BAD_SLOT, nullptr);
  if (direction == DOF_WRITE)
    ++file->write_requests;
  else
    ++file->read_requests;
  int64_t limit = offset_limit(file);
  if (offset < 0 || offset > limit || static_cast<int64_t>(count) > limit - offset)
    return failure(DOF_BAD_OFFSET, file);
  if (count == 0) return kOk;
  if (buffer == nullptr) return failure(DOF_BAD_SLOT, nullptr);
  if (direction == DOF_WRITE && read_only(file)) return failure(DOF_WRITE_ERR, file);
  return transfer(file, direction, count, offset, buffer);
}

}  // namespace tesmar::dof

using namespace tesmar::dof;

extern "C" {

mpm_Status dof_GetPage(DofFile *file, int64_t page, DofPageBuffer **buffer) {
  if (file == nullptr || buffer == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  *buffer = nullptr;
  if (page < 0 || page >= offset_limit(file) / file->page_size)
    return issue(failure(DOF_BAD_OFFSET, file));
  return issue(get_page(file, page, true, buffer));
}

mpm_Status dof_FlushBuffer(DofFile *file, DofPageBuffer *buffer) {
  if (file == nullptr || buffer == nullptr || buffer < file->buffers ||
      buffer >= file->buffers + file->buffer_count)
    return issue(failure(DOF_BAD_SLOT, nullptr));
  return issue(flush(file, buffer));
}

mpm_Status dof_ReadWrite(int32_t direction, DofFile *file, uint32_t count, int64_t offset,
                         void *buffer) {
  return issue(read_write(direction, file, count, offset, buffer));
}

}  // extern "C"
