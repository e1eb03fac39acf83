// The walk over the entries of the data region.
#pragma once

#include <cstdint>
#include <functional>

#include "log/entry_cursor.h"
#include "log/records.h"

namespace quenthar {

inline constexpr int kGoOn = 1;
inline constexpr int kStop = 0;

/// Called once per entry with a copy of its header, the walk cursor (on the
/// first payload byte; the step must not move it) and the payload length,
/// Size - 40, negative exactly when Size is below 40. Returns kGoOn or kStop.
using EntryStep = std::function<int(const EntryHeader& header, const EntryCursor& at_payload,
                                    std::int64_t payload_length)>;

/// How a walk ended.
enum class WalkEnd {
  kRegionEnd,  // an entry ended exactly at region.end
  kStopped,    // the step returned kStop
  kShortTail,  // fewer than 40 bytes were left at region.position (the empty region too)
};

/// Steps through the region entry by entry, calling `step` for each, and
/// tells how it ended; on kShortTail the cursor is left on the short tail.
[[nodiscard]] WalkEnd WalkEntries(EntryCursor& region, const EntryStep& step);

}  // namespace quenthar
