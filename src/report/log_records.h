// What a run tells about a log, decoded once: the records that every output
// form renders, and the names they share.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "log/records.h"
#include "log/walk.h"
#include "report/payloads.h"

namespace quenthar {

/// An event ID with a name, and its payload's decoder where it has a layout.
struct EventKind {
  std::uint32_t id;
  std::string_view name;
  Payload (*decode)(EntryCursor& payload);  // nullptr: no payload layout
  std::string_view too_short;               // the report's message for a payload too short for it
  std::string_view problem;                 // the same, as the structured forms name it
};

inline constexpr EventKind kEvents[] = {
    {1, "LogInit", DecodeInitPayload, "Invliad InitEntry\n", "Invalid InitEntry"},
    {17, "BootApp Launch", DecodeLaunchPayload, "Invalid LaunchEntry\n", "Invalid LaunchEntry"},
    {18, "BootApp return", DecodeReturnPayload, "Invalid ReturnEntry\n", "Invalid ReturnEntry"},
    {19, "BootApp load failed", nullptr, {}, {}},
    {20, "BCD Failure", nullptr, {}, {}},
    {21, "No Valid Entry", nullptr, {}, {}},
    {22, "General Failure", nullptr, {}, {}},
    {50, "50Error", DecodeU50Payload, "Invalid U50Entry\n", "Invalid U50Entry"},
};

/// Where each ID below kIdLimit stands in kEvents, or -1: one look-up per entry.
inline constexpr std::uint32_t kIdLimit = 51;
inline constexpr auto kEventIndex = [] {
  std::array<int, kIdLimit> index{};
  index.fill(-1);
  for (std::size_t i = 0; i < std::size(kEvents); ++i) index[kEvents[i].id] = static_cast<int>(i);
  return index;
}();

/// The kind of an event ID, or nullptr for an ID without a name.
inline const EventKind* FindEvent(std::uint32_t id) {
  if (id >= kIdLimit || kEventIndex[id] < 0) return nullptr;
  return &kEvents[kEventIndex[id]];
}

/// "Information", "Error" or "Unknown".
inline std::string_view SeverityName(std::uint32_t severity) {
  switch (severity) {
    case 1: return "Information";
    case 3: return "Error";
    default: return "Unknown";
  }
}

struct HeaderRecord {
  std::uint64_t offset;  // of the LogHeader in the file
  LogHeader header;
  bool data_size_exceeds_file;
};

struct EntryRecord {
  std::uint64_t offset;  // of the entry's first byte in the file
  EntryHeader header;
  const EventKind* event;  // nullptr for an ID without a name
  Payload payload;
  // The bytes after the header that the walk steps over (none when it reads on
  // right after the header), so that each byte reaches the output once.
  const std::uint8_t* stepped_payload;
  std::size_t stepped_payload_length;
};

/// "region_end", "stopped" or "short_tail".
std::string_view ReasonName(WalkEnd reason);

struct EndRecord {
  WalkEnd reason;
  std::uint64_t offset;  // region's end, the entry that stopped the walk, or the short tail
  int position;          // the same offset, counted from the first entry
};

/// Why a log could not be reported.
enum class Problem {
  kCantOpenInput,
  kInvalidSize,
  kCantOpenOutput,
  kCantReadHeader,
  kCantReadData
};

struct ProblemText {
  std::string_view report;   // as the report prints it, line end and all
  std::string_view problem;  // as the structured forms name it
};

ProblemText TextOf(Problem problem);

}  // namespace quenthar
