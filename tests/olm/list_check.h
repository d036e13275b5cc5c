// The list's invariants for the OLM tests: the library's own checker, and the records in order.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "olm/olm_internal.h"

namespace tesmar::test {

// The list's invariants (olm::check_list); *records (when given) receives the record pointers
// head to tail.
inline ::testing::AssertionResult list_ok(const olm_List *list,
                                          std::vector<void *> *records = nullptr) {
  if (const char *fault = olm::check_list(list)) return ::testing::AssertionFailure() << fault;
  if (records != nullptr) {
    records->clear();
    for (olm_Node *node = list->head; node != nullptr; node = node->next)
      records->push_back(olm::record_of(node));
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tesmar::test
