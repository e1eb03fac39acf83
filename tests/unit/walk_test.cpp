#include "log/walk.h"

#include <gtest/gtest.h>

#include <vector>

namespace quenthar {
namespace {

struct Seen {
  int start;
  std::int64_t payload_length;
  bool operator==(const Seen&) const = default;
};

std::vector<std::uint8_t> Region(const std::vector<std::uint32_t>& sizes, std::size_t length) {
  std::vector<std::uint8_t> bytes(length, 0);
  std::size_t at = 0;
  for (std::uint32_t size : sizes) {
    for (std::size_t i = 0; i < 4; ++i)
      bytes[at + 24 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    at += size;
  }
  return bytes;
}

struct WalkCase {
  const char* name;
  std::vector<std::uint32_t> sizes;  // Size of each entry laid back to back
  std::size_t length;
  std::vector<Seen> seen;
  int short_tail_at;  // -1: the walk ends at the region's end
};

TEST(WalkEntries, StepsBySizeAndEndsAsTheRegionDoes) {
  const WalkCase cases[] = {
      {"empty region", {}, 0, {}, 0},
      {"tail under 40 bytes", {}, 39, {}, 0},
      {"exact fit", {40, 64}, 104, {{0, 0}, {40, 24}}, -1},
      {"ten spare bytes", {48}, 58, {{0, 8}}, 48},
      // Size 0 and a Size past the end read on right after the header.
      {"size 0", {0}, 80, {{0, -40}, {40, -40}}, -1},
      {"size past the end", {0x100000}, 90, {{0, 0x100000 - 40}, {40, -40}}, 80},
      {"size 0xFFFFFFFF", {0xFFFFFFFF}, 40, {{0, 0xFFFFFFFFll - 40}}, -1},
      // Size 1 to 39 moves on by Size only: the next header overlaps this one.
      {"size below 40", {4}, 44, {{0, -36}, {4, -40}}, -1},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = Region(c.sizes, c.length);
    EntryCursor region = MakeCursor(bytes.data(), bytes.data() + bytes.size());
    std::vector<Seen> seen;
    const WalkEnd end =
        WalkEntries(region, [&](const EntryHeader&, const EntryCursor& at, std::int64_t len) {
          seen.push_back({OffsetOf(at) - 40, len});
          return seen.size() < 10 ? kGoOn : kStop;
        });
    EXPECT_EQ(seen, c.seen);
    if (c.short_tail_at < 0) {
      EXPECT_EQ(end, WalkEnd::kRegionEnd);
    } else {
      EXPECT_EQ(end, WalkEnd::kShortTail);
      EXPECT_EQ(OffsetOf(region), c.short_tail_at);
    }
  }
}

TEST(WalkEntries, StopEndsAtOnce) {
  std::vector<std::uint8_t> bytes = Region({40, 40, 40}, 120);
  EntryCursor region = MakeCursor(bytes.data(), bytes.data() + bytes.size());
  int calls = 0;
  const WalkEnd end =
      WalkEntries(region, [&](const EntryHeader&, const EntryCursor&, std::int64_t) {
        ++calls;
        return kStop;
      });
  EXPECT_EQ(end, WalkEnd::kStopped);
  EXPECT_EQ(calls, 1);

  // The cursor is left on the first byte of the entry that stopped the walk.
  region = MakeCursor(bytes.data(), bytes.data() + bytes.size());
  calls = 0;
  static_cast<void>(WalkEntries(region, [&](const EntryHeader&, const EntryCursor&, std::int64_t) {
    return ++calls == 2 ? kStop : kGoOn;
  }));
  EXPECT_EQ(OffsetOf(region), 40);
}

}  // namespace
}  // namespace quenthar
