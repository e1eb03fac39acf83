#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "log/log_records.h"

namespace quenthar {
namespace {

// An entry of the data region: its ID and payload; Size is 40 + the payload.
struct Entry {
  std::uint32_t id;
  std::vector<std::uint8_t> payload;
};

std::vector<std::uint8_t> InitPayloadBytes(std::uint16_t year, std::uint16_t second) {
  std::vector<std::uint8_t> p(24, 0);
  const std::uint16_t values[6] = {year, 12, 9, 7, 30, second};
  for (std::size_t i = 0; i < 6; ++i) {
    p[2 * i] = static_cast<std::uint8_t>(values[i]);
    p[2 * i + 1] = static_cast<std::uint8_t>(values[i] >> 8);
  }
  return p;
}

std::vector<std::uint8_t> Region(const std::vector<Entry>& entries) {
  std::vector<std::uint8_t> bytes;
  for (const Entry& e : entries) {
    std::vector<std::uint8_t> header(40, 0);
    const auto size = static_cast<std::uint32_t>(40 + e.payload.size());
    for (std::size_t i = 0; i < 4; ++i) {
      header[24 + i] = static_cast<std::uint8_t>(size >> (8 * i));
      header[36 + i] = static_cast<std::uint8_t>(e.id >> (8 * i));
    }
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), e.payload.begin(), e.payload.end());
  }
  return bytes;
}

struct Seen {
  std::uint32_t boot;
  std::optional<std::uint16_t> second;  // of the boot's date-time
  bool operator==(const Seen&) const = default;
};

struct BootCase {
  const char* name;
  std::vector<Entry> entries;
  std::vector<Seen> seen;
};

TEST(DecodeEntries, CarriesEachLogInitToTheEntriesAfterIt) {
  const BootCase cases[] = {
      {"entries before any LogInit are boot 0",
       {{17, std::vector<std::uint8_t>(20, 0)}, {19, {}}, {1, InitPayloadBytes(2026, 5)}, {19, {}}},
       {{0, std::nullopt}, {0, std::nullopt}, {1, 5}, {1, 5}}},
      {"each LogInit opens the next boot, whatever its date",
       {{1, InitPayloadBytes(2026, 5)},
        {18, std::vector<std::uint8_t>(20, 0)},
        {1, InitPayloadBytes(2019, 9)},
        {20, {}},
        {1, InitPayloadBytes(2027, 1)}},
       {{1, 5}, {1, 5}, {2, 9}, {2, 9}, {3, 1}}},
      {"a LogInit too short opens a boot without a date and stops the walk",
       {{1, InitPayloadBytes(2026, 5)}, {1, std::vector<std::uint8_t>(23, 0)}, {19, {}}},
       {{1, 5}, {2, std::nullopt}}},
  };
  for (const BootCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes = Region(c.entries);
    const LogHeader header{3, 16, 0, static_cast<std::uint32_t>(16 + bytes.size())};
    const LoadedLog log{kSystemLog, header, bytes.data(), bytes.size()};
    std::vector<Seen> seen;
    DecodeEntries(log, [&seen](const EntryRecord& r) {
      const auto& date_time = r.boot->date_time;
      seen.push_back({r.boot->number, date_time
                                          ? std::optional<std::uint16_t>(date_time->date_time[5])
                                          : std::nullopt});
    });
    EXPECT_EQ(seen, c.seen);
  }
}

}  // namespace
}  // namespace quenthar
