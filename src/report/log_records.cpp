#include "report/log_records.h"

#include <array>
#include <iterator>

namespace quenthar {
namespace {

constexpr EventKind kEvents[] = {
    {1, "LogInit", DecodeInitPayload, "Invliad InitEntry\n", "Invalid InitEntry"},
    {17, "BootApp Launch", DecodeLaunchPayload, "Invalid LaunchEntry\n", "Invalid LaunchEntry"},
    {18, "BootApp return", DecodeReturnPayload, "Invalid ReturnEntry\n", "Invalid ReturnEntry"},
    {19, "BootApp load failed", nullptr, {}, {}},
    {20, "BCD Failure", nullptr, {}, {}},
    {21, "No Valid Entry", nullptr, {}, {}},
    {22, "General Failure", nullptr, {}, {}},
    {50, "50Error", DecodeU50Payload, "Invalid U50Entry\n", "Invalid U50Entry"},
};

// Where each ID below kIdLimit stands in kEvents, or -1: one look-up per entry.
constexpr std::uint32_t kIdLimit = 51;
constexpr auto kEventIndex = [] {
  std::array<int, kIdLimit> index{};
  index.fill(-1);
  for (std::size_t i = 0; i < std::size(kEvents); ++i) index[kEvents[i].id] = static_cast<int>(i);
  return index;
}();

}  // namespace

const EventKind* FindEvent(std::uint32_t id) {
  if (id >= kIdLimit || kEventIndex[id] < 0) return nullptr;
  return &kEvents[kEventIndex[id]];
}

std::string_view ReasonName(EndReason reason) {
  switch (reason) {
    case EndReason::kRegionEnd: return "region_end";
    case EndReason::kStopped: return "stopped";
    case EndReason::kShortTail: return "short_tail";
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
