// What a run tells about a log, decoded once: the records that every output
// form renders, the names they share, and the walk that makes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <variant>

#include "log/loaded_log.h"
#include "log/payloads.h"
#include "log/records.h"
#include "log/walk.h"

namespace quenthar {

/// An event ID with a name, and its payload's decoder where it has a layout.
struct EventKind {
  std::uint32_t id;
  std::string_view name;
  Payload (*decode)(EntryCursor& payload);  // nullptr: no payload layout
};

inline constexpr EventKind kEvents[] = {
    {1, "LogInit", DecodeInitPayload},
    {17, "BootApp Launch", DecodeLaunchPayload},
    {18, "BootApp return", DecodeReturnPayload},
    {19, "BootApp load failed", nullptr},
    {20, "BCD Failure", nullptr},
    {21, "No Valid Entry", nullptr},
    {22, "General Failure", nullptr},
    {50, "50Error", DecodeU50Payload},
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

struct SeverityKind {
  std::uint32_t severity;
  std::string_view name;
};

/// The severities with a name; every other is "Unknown".
inline constexpr SeverityKind kSeverities[] = {{1, "Information"}, {3, "Error"}};

inline std::string_view SeverityName(std::uint32_t severity) {
  for (const SeverityKind& s : kSeverities) {
    if (s.severity == severity) return s.name;
  }
  return "Unknown";
}

struct HeaderRecord {
  std::uint64_t offset;  // of the LogHeader in the file
  LogHeader header;
  bool data_size_exceeds_file;
};

/// The boot an entry belongs to. A log is a sequence of boots, each opened by
/// a LogInit entry; the entries up to the next LogInit belong to it.
struct Boot {
  std::uint32_t number = 0;  // LogInit entries walked so far, this one included; 0 before the first
  std::optional<InitPayload> date_time;  // its LogInit's; none for boot 0 or a LogInit too short
};

inline constexpr std::uint32_t kLogInitId = 1;

struct EntryRecord {
  std::uint64_t offset;  // of the entry's first byte in the file
  EntryHeader header;
  const Boot* boot;        // the walk's, valid while the record is visited
  const EventKind* event;  // nullptr for an ID without a name
  Payload payload;
  // The bytes after the header that the walk steps over (none when it reads on
  // right after the header), so that each byte reaches the output once.
  const std::uint8_t* stepped_payload;
  std::size_t stepped_payload_length;
};

/// How a walk ended, by name, in WalkEnd's order.
inline constexpr std::string_view kReasonNames[] = {"region_end", "stopped", "short_tail"};

static_assert(std::size(kReasonNames) == static_cast<std::size_t>(WalkEnd::kShortTail) + 1);

inline std::string_view ReasonName(WalkEnd reason) {
  return kReasonNames[static_cast<std::size_t>(reason)];
}

struct EndRecord {
  WalkEnd reason;
  std::uint64_t offset;  // region's end, the entry that stopped the walk, or the short tail
  int position;          // the same offset, counted from the first entry
};

/// The header record of a loaded log.
inline HeaderRecord HeaderOf(const LogForm& form, const LogHeader& header) {
  return {static_cast<std::uint64_t>(form.header_offset), header,
          DataSizeExceedsFile(form, header)};
}

/// The record of the entry whose header the walk has just read; `walk` is on
/// its first payload byte. The record points at `boot`, the walk's boot, which
/// a LogInit entry moves on before it is visited. Decodes its payload, when
/// its ID has a layout, from a cursor of Size - 40 bytes clipped where the
/// loaded bytes end (which may lie past the region's end); a Size below 40
/// gives it no bytes.
inline EntryRecord DecodeEntry(const LoadedLog& log, const EntryHeader& header,
                               const EntryCursor& walk, std::int64_t payload_length,
                               const Boot& boot) {
  const auto loaded = static_cast<std::uint64_t>(log.bytes + log.size - walk.position);
  const std::uint64_t wanted = payload_length < 0 ? 0 : static_cast<std::uint64_t>(payload_length);
  EntryCursor payload =
      MakeCursor(walk.position, walk.position + (wanted < loaded ? wanted : loaded));

  const EventKind* event = FindEvent(header.id);
  return {FileOffset(log, walk.position - EntryHeader::kSize),
          header,
          &boot,
          event,
          event != nullptr && event->decode != nullptr ? event->decode(payload) : NoPayload{},
          walk.position,
          SteppedPayloadLength(walk, payload_length)};
}

/// The boot a LogInit entry opens, after the boot `before`.
inline Boot NextBoot(const Boot& before, const Payload& log_init) {
  const auto* date_time = std::get_if<InitPayload>(&log_init);
  return {before.number + 1,
          date_time != nullptr ? std::optional<InitPayload>(*date_time) : std::nullopt};
}

/// Walks the log's entries in file order, calling visit(const EntryRecord&)
/// for each, and returns how the walk ended. A payload too short for its
/// layout ends the walk on its entry.
template <typename Visit>
EndRecord DecodeEntries(const LoadedLog& log, Visit&& visit) {
  EntryCursor region = DataRegion(log);
  Boot boot;
  const WalkEnd end = WalkEntries(
      region, [&](const EntryHeader& header, const EntryCursor& walk, std::int64_t payload_length) {
        EntryRecord record = DecodeEntry(log, header, walk, payload_length, boot);
        if (header.id == kLogInitId) boot = NextBoot(boot, record.payload);
        visit(std::as_const(record));
        return std::holds_alternative<PayloadTooShort>(record.payload) ? kStop : kGoOn;
      });
  // The walk leaves its cursor where it ended, which is what the end record names.
  return {end, FileOffset(log, region.position), OffsetOf(region)};
}

}  // namespace quenthar
