// The walk over the entries of the data region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "log/entry_cursor.h"
#include "log/records.h"

namespace quenthar {

inline constexpr int kGoOn = 1;
inline constexpr int kStop = 0;

/// How a walk ended.
enum class WalkEnd {
  kRegionEnd,  // an entry ended exactly at region.end
  kStopped,    // the step returned kStop
  kShortTail,  // fewer than 40 bytes were left at region.position (the empty region too)
};

/// How many payload bytes the walk steps over after an entry's header:
/// Size - 40 when it steps by Size, none when Size is below 40 or when it reads
/// on right after the header (Size 0, or a Size that leaves the region).
/// `at_payload` and `payload_length` are what the step is given.
inline std::size_t SteppedPayloadLength(const EntryCursor& at_payload,
                                        std::int64_t payload_length) {
  if (payload_length < 0) return 0;
  const auto length = static_cast<std::uint64_t>(payload_length);
  return length <= Remaining(at_payload) ? static_cast<std::size_t>(length) : 0;
}

/// Steps through the region entry by entry and tells how it ended. The cursor
/// is left where it ended: at region.end, on the first byte of the entry whose
/// step stopped the walk, or on the short tail. `step` is called once per
/// entry as step(header, at_payload, payload_length): a copy of its header, the
/// walk cursor (on the first payload byte; the step must not move it) and
/// Size - 40, negative exactly when Size is below 40. It returns kGoOn or kStop.
template <typename Step>
[[nodiscard]] WalkEnd WalkEntries(EntryCursor& region, Step&& step) {
  const auto region_length = static_cast<std::uint64_t>(region.end - region.begin);
  while (true) {
    const auto entry_start = static_cast<std::uint64_t>(region.position - region.begin);
    EntryHeader header{};
    if (!ReadRecord(region, header)) return WalkEnd::kShortTail;
    const std::int64_t payload_length =
        std::int64_t{header.size} - std::int64_t{EntryHeader::kSize};
    if (step(header, std::as_const(region), payload_length) == kStop) {
      region.position = region.begin + entry_start;
      return WalkEnd::kStopped;
    }

    // 64-bit sum: a Size near 4 GiB must not wrap the walk backwards. A Size
    // that leaves the region, or a Size of 0 that would report this entry
    // forever, reads on right after the header instead.
    const std::uint64_t next = entry_start + header.size;
    if (header.size != 0 && next <= region_length) {
      region.position = region.begin + next;
    }
    if (region.position == region.end) return WalkEnd::kRegionEnd;
  }
}

}  // namespace quenthar
