// Per-type entity lists: for each type form of a model's schema, its live entities newest first.
//
// Design. One links table (mda_PtrTable of mda_TypeLink) gives every listed entity its newer and
// older neighbour and the list that holds it (TFI + 1; 0 for none); per TFI the lists keep the
// oldest and newest entries, the second newest (the newest's older neighbour), the iteration
// cursor and the count. Invariants per TFI:
//   - count 0: oldest, newest, second newest and cursor are 0;
//   - otherwise the newest has newer 0, the oldest older 0, and following older links from the
//     newest reaches the oldest in count steps, every entry on the way naming this list;
//   - an entity is in at most one list, the one its record names.
// The list field is what tells membership: a one-entry list's only entry has no links, and a
// handle in the middle of another type's list has both, so links alone cannot say which list, if
// any, holds a handle. Adding a listed handle is refused (no entry can link to itself); removing a
// handle from a list that does not hold it leaves every list alone.
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

mda_TypeLink read_link(mda_TypeLists *lists, db_ptr ptr) {
  mda_TypeLink link{};
  if (const void *stored = table_record(lists->links, number_of(ptr)))
    std::memcpy(&link, stored, sizeof link);
  return link;
}

Result write_link(mda_TypeLists *lists, db_ptr ptr, const mda_TypeLink &link) {
  void *stored = nullptr;
  Result status = table_record_for_write(lists->links, number_of(ptr), &stored);
  if (status == 0) std::memcpy(stored, &link, sizeof link);
  return status;
}

bool in_range(const mda_TypeLists *lists, int32_t tfi) {
  return tfi >= 0 && static_cast<uint32_t>(tfi) < lists->tf_count;
}

}  // namespace

Result create_type_lists(int32_t model, int32_t tf_count, mda_TypeLists **out) {
  *out = nullptr;
  if (tf_count < 0) return MDA_INVALID_ARG;
  const std::size_t n = static_cast<std::size_t>(tf_count);
  auto *lists = static_cast<mda_TypeLists *>(std::calloc(1, sizeof(mda_TypeLists)));
  // The five arrays share one block: four of handles, then the counts.
  void *block = std::calloc(1, n * (4 * sizeof(db_ptr) + sizeof(uint32_t)) + 1);
  if (lists == nullptr || block == nullptr) {
    std::free(lists);
    std::free(block);
    return MDA_MALLOC_ERR;
  }
  auto *handles = static_cast<db_ptr *>(block);
  lists->oldest = handles;
  lists->cursor = handles + n;
  lists->second_newest = handles + 2 * n;
  lists->newest = handles + 3 * n;
  lists->count = reinterpret_cast<uint32_t *>(handles + 4 * n);
  lists->tf_count = static_cast<uint32_t>(tf_count);
  Result status = create_table(MDA_PTRTABLE_ZERO, sizeof(mda_TypeLink), model, &lists->links);
  if (status != 0) {
    std::free(block);
    std::free(lists);
    return status;
  }
  *out = lists;
  return 0;
}

void free_type_lists(mda_TypeLists *lists) {
  if (lists == nullptr) return;
  free_table(lists->links);
  std::free(lists->oldest);
  std::free(lists);
}

Result add_to_type_list(mda_TypeLists *lists, int32_t tfi, db_ptr ptr) {
  if (lists == nullptr) return MDA_NULL_MEMPTR;
  if (!in_range(lists, tfi)) return MDA_INVALID_ARG;
  if (number_of(ptr) == 0) return MDA_INVALID_PTR;
  Result status = check_table_handle(lists->links, ptr);
  if (status != 0) return status;
  if (read_link(lists, ptr).list != 0) {
    return fail(MDA_DUPLICATE_ENTLIST_ENTRY).with(ptr).with(ptr);
  }
  const db_ptr previous = lists->newest[tfi];
  status = write_link(lists, ptr, mda_TypeLink{0, previous, tfi + 1, 0});
  if (status != 0) return status;
  if (lists->count[tfi]++ == 0) {
    lists->oldest[tfi] = ptr;
    lists->cursor[tfi] = ptr;
  } else {
    // The previous newest's page was written when it was added: this write cannot fail.
    write_link(lists, previous, mda_TypeLink{ptr, lists->second_newest[tfi], tfi + 1, 0});
  }
  lists->second_newest[tfi] = previous;
  lists->newest[tfi] = ptr;
  return 0;
}

Result remove_from_type_list(mda_TypeLists *lists, int32_t tfi, db_ptr ptr) {
  if (lists == nullptr) return MDA_NULL_MEMPTR;
  if (!in_range(lists, tfi)) return MDA_INVALID_ARG;
  if (lists->count[tfi] == 0 || number_of(ptr) == 0 ||
      check_table_handle(lists->links, ptr) != 0)
    return 0;
  const mda_TypeLink link = read_link(lists, ptr);
  if (link.list != tfi + 1) return 0;  // not in this list
  mda_TypeLink older{};
  if (lists->cursor[tfi] == ptr) lists->cursor[tfi] = link.newer;
  if (link.older != 0) {
    older = read_link(lists, link.older);
    older.newer = link.newer;
    write_link(lists, link.older, older);
  } else {
    lists->oldest[tfi] = link.newer;
  }
  if (link.newer != 0) {
    mda_TypeLink newer = read_link(lists, link.newer);
    newer.older = link.older;
    write_link(lists, link.newer, newer);
    if (lists->second_newest[tfi] == ptr) lists->second_newest[tfi] = link.older;
  } else {
    lists->newest[tfi] = link.older;
    lists->second_newest[tfi] = link.older != 0 ? older.older : 0;
  }
  write_link(lists, ptr, mda_TypeLink{});
  --lists->count[tfi];
  return 0;
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_AddToTypeList(mda_TypeLists *lists, int32_t tfi, db_ptr ptr) {
  return report(add_to_type_list(lists, tfi, ptr));
}

mpm_Status mda_RemoveFromTypeList(mda_TypeLists *lists, int32_t tfi, db_ptr ptr) {
  return report(remove_from_type_list(lists, tfi, ptr));
}

mpm_Status mda_NextOfType(mda_TypeLists *lists, int32_t tfi, db_ptr *ptr) {
  if (lists == nullptr || ptr == nullptr) return report(MDA_NULL_MEMPTR);
  if (!in_range(lists, tfi)) return report(MDA_INVALID_ARG);
  const db_ptr current = lists->cursor[tfi];
  *ptr = current;
  if (current == 0) return MDA_END_OF_LIST;
  lists->cursor[tfi] = read_link(lists, current).newer;
  return 0;
}

}  // extern "C"
