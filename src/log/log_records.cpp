#include "log/log_records.h"

namespace quenthar {

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
    case Problem::kNoLogFound: return {"No log found\n", "No log found"};
    case Problem::kImageIncomplete:
      return {"Segment files of the image are missing or damaged\n",
              "Segment files of the image are missing or damaged"};
  }
  return {};
}

}  // namespace quenthar
