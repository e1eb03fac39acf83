#include "log/walk.h"

namespace quenthar {

WalkEnd WalkEntries(EntryCursor& region, const EntryStep& step) {
  const auto region_length = static_cast<std::uint64_t>(region.end - region.begin);
  while (true) {
    const auto entry_start = static_cast<std::uint64_t>(region.position - region.begin);
    EntryHeader header{};
    if (!ReadRecord(region, header)) return WalkEnd::kShortTail;
    const std::int64_t payload_length =
        std::int64_t{header.size} - std::int64_t{EntryHeader::kSize};
    if (step(header, region, payload_length) == kStop) return WalkEnd::kStopped;

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
