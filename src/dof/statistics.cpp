// The statistics report of a paged file.
#include <cstdio>

#include "dof/dof_internal.h"

namespace tesmar::dof {
namespace {
constexpr const char *kDoubleRule =
    "========================================================================================\n";
constexpr const char *kSingleRule =
    "----------------------------------------------------------------------------------------\n";
}  // namespace

void write_statistics(std::FILE *stream, const DofFile *file) {
  // The report's format takes `long` for its counters; they are 32-bit counts and sums of two.
  auto l = [](int64_t v) { return static_cast<long>(v); };
  std::fprintf(stream, "\n\nStatistics for file %s:\n", file->name != nullptr ? file->name : "");
  std::fputs(kDoubleRule, stream);
  std::fputs("Page Buffer Stats:\n", stream);
  std::fputs("     buffer     buffer       read      write      total       phsy       phsy      total\n",
             stream);
  std::fputs("      count       size      rqsts      rqsts      rqsts      reads     writes        r/w\n",
             stream);
  std::fputs(kSingleRule, stream);
  std::fprintf(stream, " %10d %10ld %10ld %10ld %10ld %10ld %10ld %10ld\n", file->buffer_count,
               l(file->page_size), l(file->read_requests), l(file->write_requests),
               l(int64_t{file->read_requests} + file->write_requests), l(file->physical_reads),
               l(file->physical_writes), l(int64_t{file->physical_reads} + file->physical_writes));
  std::fputs(kDoubleRule, stream);
  std::fputs("       page       page      hit       file\n", stream);
  std::fputs("      rqsts       hits    ratio       size\n", stream);
  std::fputs(kSingleRule, stream);
  float ratio = file->page_requests != 0 ? static_cast<float>(file->page_hits) /
                                               static_cast<float>(file->page_requests) * 100.0f
                                         : 0.0f;
  std::fprintf(stream, " %10ld %10ld %8.2f %10ld\n", l(file->page_requests), l(file->page_hits),
               static_cast<double>(ratio), l(file->page_count * file->page_size));
  const DofFreeList *list = file->free_list;
  if (list == nullptr) return;
  std::fputs(kDoubleRule, stream);
  std::fputs("Free List Stats:\n", stream);
  std::fputs("             alloc       free      avg     free\n", stream);
  std::fputs("             rqsts      rqsts     size     blocks\n", stream);
  std::fputs(kSingleRule, stream);
  float average = list->allocation_requests != 0
                      ? list->requested_bytes / static_cast<float>(list->allocation_requests)
                      : 0.0f;
  std::fprintf(stream, "Totals: %10ld %10ld %8.2f %10d\n", l(list->allocation_requests),
               l(list->free_requests), static_cast<double>(average),
               static_cast<int>(list->free_blocks));
}

}  // namespace tesmar::dof

extern "C" void dof_DumpStatistics(DofFile *file) {
  if (file != nullptr) tesmar::dof::write_statistics(stdout, file);
}
