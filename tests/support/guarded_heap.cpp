#include "support/guarded_heap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tesmar::test {

GuardedHeap::~GuardedHeap() {
  hdb_Block *block = hdb_head;
  while (block != nullptr) {
    hdb_Block *next = block->next;
    std::free(block);
    block = next;
  }
  hdb_head = hdb_tail = nullptr;
}

hdb_Block *GuardedHeap::new_block(uint64_t size, const char *file, int32_t line, bool zero) {
  auto *block = static_cast<hdb_Block *>(std::malloc(HDB_BLOCK_BYTES(size)));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, sizeof *block);
  block->size = size;
  block->request = ++hdb_request;
  block->file = file != nullptr ? file : hdb_default_owner;
  block->line = line;
  block->start_marker[0] = block->start_marker[1] = HDB_START_MARKER;
  auto *data = static_cast<unsigned char *>(HDB_USER_DATA(block));
  for (uint64_t i = 0; i < size; ++i) data[i] = zero ? 0 : static_cast<unsigned char>(i * 7 + 3);
  data[size] = data[size + 1] = HDB_END_MARKER;
  hdb_total_bytes += size;
  hdb_total_blocks += 1;
  if (hdb_total_bytes > hdb_max_bytes) {
    hdb_max_bytes = hdb_total_bytes;
    hdb_max_blocks = hdb_total_blocks;
  }
  hdb_max_block_count = std::max(hdb_max_block_count, hdb_total_blocks);
  if (hdb_breakpoint != 0 && block->request == hdb_breakpoint) hdb_Breakpoint(file, line, "alloc");
  return hdb_LinkBlock(block);
}

void *GuardedHeap::allocate(uint64_t size, const char *file, int32_t line, bool zero) {
  hdb_Block *block = new_block(size, file, line, zero);
  if (block == nullptr) return nullptr;
  (zero ? hdb_callocs : hdb_mallocs) += 1;
  return HDB_USER_DATA(block);
}

char *GuardedHeap::duplicate(const char *text, const char *file, int32_t line) {
  std::size_t n = std::strlen(text) + 1;
  hdb_Block *block = new_block(n, file, line, false);
  if (block == nullptr) return nullptr;
  hdb_strdups += 1;
  std::memcpy(HDB_USER_DATA(block), text, n);
  return static_cast<char *>(HDB_USER_DATA(block));
}

void GuardedHeap::release(void *user, bool deferred) {
  hdb_Block *block = HDB_BLOCK_OF(user);
  hdb_frees += 1;
  hdb_total_bytes -= block->size;
  hdb_total_blocks -= 1;
  if (deferred) {
    block->flags |= HDB_FREED;
    block->checksum = hdb_Checksum(block);
    return;
  }
  hdb_UnlinkBlock(block);
  std::free(block);
}

ReportCapture::ReportCapture() : saved_(hdb_report_stream) {
  stream_ = open_memstream(&buffer_, &size_);
  hdb_report_stream = stream_;
}

ReportCapture::~ReportCapture() {
  hdb_report_stream = saved_;
  if (stream_ != nullptr) std::fclose(stream_);
  std::free(buffer_);
}

std::string ReportCapture::text() {
  if (stream_ == nullptr) return {};
  std::fflush(stream_);
  return std::string(buffer_, size_);
}

void ReportCapture::clear() {
  if (stream_ != nullptr) std::fclose(stream_);
  std::free(buffer_);
  buffer_ = nullptr;
  size_ = 0;
  stream_ = open_memstream(&buffer_, &size_);
  hdb_report_stream = stream_;
}

std::string hex(const void *pointer) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)));
  return buffer;
}

std::string normalise(std::string text,
                      std::initializer_list<std::pair<const void *, const char *>> pointers) {
  std::vector<std::pair<std::string, std::string>> forms;
  for (const auto &[pointer, name] : pointers) forms.emplace_back(hex(pointer), name);
  std::sort(forms.begin(), forms.end(),
            [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
  for (const auto &[form, name] : forms)
    for (std::size_t at = 0; (at = text.find(form, at)) != std::string::npos; at += name.size())
      text.replace(at, form.size(), name);
  return text;
}

}  // namespace tesmar::test
