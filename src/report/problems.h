// Why a log, or an image, could not be reported, and the names the
// structured forms give the problems (the text report's own wording is beside
// its renderer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace quenthar {

enum class Problem {
  kCantOpenInput,
  kInvalidSize,
  kCantOpenOutput,
  kCantReadHeader,
  kCantReadData,
  kNoLogFound,       // an image holds no log
  kImageIncomplete,  // segments of an image are missing or damaged
};

/// The `problem` of each, in Problem's order.
inline constexpr std::string_view kProblemNames[] = {
    "can't open input file",
    "Invalid size, must be 67584",
    "can't open output file",
    "Can't read header",
    "Can't read data",
    "No log found",
    "Segment files of the image are missing or damaged",
};
static_assert(std::size(kProblemNames) == static_cast<std::size_t>(Problem::kImageIncomplete) + 1);

inline std::string_view ProblemName(Problem problem) {
  return kProblemNames[static_cast<std::size_t>(problem)];
}

struct TooShortName {
  std::uint32_t id;
  std::string_view problem;
};

/// The `problem` of an entry whose payload is too short for its event's layout.
inline constexpr TooShortName kTooShortNames[] = {{1, "Invalid InitEntry"},
                                                  {17, "Invalid LaunchEntry"},
                                                  {18, "Invalid ReturnEntry"},
                                                  {50, "Invalid U50Entry"}};

inline std::string_view TooShortProblem(std::uint32_t id) {
  for (const TooShortName& t : kTooShortNames) {
    if (t.id == id) return t.problem;
  }
  return "";
}

}  // namespace quenthar
