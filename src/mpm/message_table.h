// Message tables as data.
//
// Each module writes its table once, as rows {symbolic name, kind, text}; MessageTable lays the rows
// out as the two parallel arrays (texts and names) that a module descriptor points at, at compile
// time, so the table costs nothing at start-up and its row count cannot drift from its rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tesmar/mpm.h"

namespace tesmar {

struct MessageRow {
  const char *name;
  uint32_t kind;
  const char *text;
};

template <std::size_t N>
struct MessageTable {
  const char *texts[N];
  mpm_MsgName names[N];
  mpm_ModuleDesc desc;

  constexpr MessageTable(uint16_t module_id, const char *module_name, const MessageRow (&rows)[N])
      : texts{}, names{}, desc{module_id, static_cast<uint16_t>(N), module_name, texts, names} {
    for (std::size_t i = 0; i < N; ++i) {
      texts[i] = rows[i].text;
      names[i] = mpm_MsgName{rows[i].name, rows[i].kind, static_cast<int32_t>(i)};
    }
  }
};

// Exception keys used as row kinds.
inline constexpr uint32_t kOrdinary = 1;
inline constexpr uint32_t kMemory = 2;
inline constexpr uint32_t kFileIo = 3;

}  // namespace tesmar
