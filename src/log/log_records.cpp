#include "log/log_records.h"

namespace quenthar {

EntryRecord DecodeEntry(const LoadedLog& log, const EntryHeader& header, const EntryCursor& walk,
                        std::int64_t payload_length) {
  const auto loaded = static_cast<std::uint64_t>(log.bytes + log.size - walk.position);
  const std::uint64_t wanted = payload_length < 0 ? 0 : static_cast<std::uint64_t>(payload_length);
  EntryCursor payload =
      MakeCursor(walk.position, walk.position + (wanted < loaded ? wanted : loaded));

  const EventKind* event = FindEvent(header.id);
  return {FileOffset(log, walk.position - EntryHeader::kSize),
          header,
          {},
          event,
          event != nullptr && event->decode != nullptr ? event->decode(payload) : NoPayload{},
          walk.position,
          SteppedPayloadLength(walk, payload_length)};
}

std::string_view ReasonName(WalkEnd reason) {
  switch (reason) {
    case WalkEnd::kRegionEnd: return "region_end";
    case WalkEnd::kStopped: return "stopped";
    case WalkEnd::kShortTail: return "short_tail";
  }
  return {};
}

ProblemText TextOf(Problem problem) {
  switch (problem) {
    case Problem::kCantOpenInput: return {"can't open input file\n", "can't open input file"};
    case Problem::kInvalidSize:
      return {"Invalid size, must be 67584", "Invalid size, must be 67584"};
    case Problem::kCantOpenOutput: return {"can't open output file\n", "can't open output file"};
    case Problem::kCantReadHeader: return {"Can't read header", "Can't read header"};
    case Problem::kCantReadData: return {"Can't read data", "Can't read data"};
  }
  return {};
}

}  // namespace quenthar
