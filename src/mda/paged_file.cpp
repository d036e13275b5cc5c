// The paged file behind a disk-backed model: a temporary file with a free list, named by the
// library's temporary names and deleted when it is closed.
#include "mda/mda_internal.h"
#include "tesmar/dof.h"

namespace tesmar::mda {

Result open_paged_file(mda_ModelRec *rec) {
  uint32_t flags = DOF_FREE_LIST | DOF_TEMPORARY;
  if (rec->statistics != 0) flags |= DOF_STATISTICS;
  // Sizes beyond what the paged file takes fall back to its defaults rather than wrapping negative.
  int32_t buffers = rec->buffer_count <= INT32_MAX ? static_cast<int32_t>(rec->buffer_count) : 0;
  int32_t page = rec->page_size <= INT32_MAX ? static_cast<int32_t>(rec->page_size) : 0;
  rec->file = nullptr;
  return dof_OpenFile(flags, nullptr, buffers, page, &rec->file);
}

Result close_paged_file(struct DofFile *file) {
  if (file == nullptr) return 0;
  return dof_CloseFile(0, file);
}

}  // namespace tesmar::mda
