// Invariant checks of the library's data structures.
//
// A module that keeps a structure with invariants (the trees, the lists, memory-block chains, the
// entity cache, the paged file's free index) has a checker: a function that returns null when the
// structure is sound and otherwise a text naming the first fault it found. Builds without NDEBUG
// (the asan preset) run the checkers after every change of state, so that every test, fuzz run
// and stress run checks the invariants as it goes; a broken invariant aborts with its text. The
// tests call the same checkers. Where a full check would make a long run quadratic, the library
// checks what the change touched (the search path of a tree, the neighbours of a list node) once
// the structure has grown past a small size, and the whole structure below it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tesmar {

// How large a structure may grow before the checks after a change look only at what it touched.
inline constexpr long kFullCheckLimit = 64;

[[noreturn]] inline void invariant_broken(const char *fault, const char *check, const char *file,
                                          int line) {
  std::fprintf(stderr, "%s:%d: invariant broken (%s): %s\n", file, line, check, fault);
  std::abort();
}

}  // namespace tesmar

#ifdef NDEBUG
#define TESMAR_CHECK_INVARIANT(check) ((void)0)
#else
#define TESMAR_CHECK_INVARIANT(check)                                              \
  do {                                                                             \
    if (const char *tesmar_fault_ = (check); tesmar_fault_ != nullptr)             \
      ::tesmar::invariant_broken(tesmar_fault_, #check, __FILE__, __LINE__);       \
  } while (0)
#endif
