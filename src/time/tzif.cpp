#include "time/tzif.h"

#include <array>
#include <utility>
#include <vector>

namespace quenthar {
namespace {

constexpr std::size_t kHeaderSize = 44;
// Offsets outside a day and a bit either way are no zone's; bounding them
// keeps every sum of the engine far from overflow.
constexpr std::int32_t kMaxOffset = 26 * 3600;

// Big-endian reads at a position known to be inside the bytes.
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
         (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}
std::uint64_t U64(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint64_t{U32(b, at)} << 32) | U32(b, at + 4);
}
// Two's complement by value: no cast of a large unsigned to a signed type.
std::int32_t I32(std::span<const std::uint8_t> b, std::size_t at) {
  const std::uint32_t u = U32(b, at);
  return u < 0x80000000u ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}
std::int64_t I64(std::span<const std::uint8_t> b, std::size_t at) {
  const std::uint64_t u = U64(b, at);
  return u < (std::uint64_t{1} << 63) ? static_cast<std::int64_t>(u)
                                      : -static_cast<std::int64_t>(~u) - 1;
}

struct Header {
  std::uint8_t version;
  // The counts as stored: each array's length follows from them.
  std::uint32_t isut, isstd, leap, times, types, chars;
};

std::optional<Header> ReadHeader(std::span<const std::uint8_t> file, std::size_t at) {
  if (file.size() - at < kHeaderSize) return std::nullopt;
  if (file[at] != 'T' || file[at + 1] != 'Z' || file[at + 2] != 'i' || file[at + 3] != 'f') {
    return std::nullopt;
  }
  return Header{file[at + 4],       U32(file, at + 20), U32(file, at + 24), U32(file, at + 28),
                U32(file, at + 32), U32(file, at + 36), U32(file, at + 40)};
}

// Bytes of the data block after a header, for 4- or 8-byte times. The counts
// are 32-bit, so the sum cannot overflow 64 bits.
std::uint64_t BlockSize(const Header& h, std::uint64_t time_size) {
  return std::uint64_t{h.times} * (time_size + 1) + std::uint64_t{h.types} * 6 + h.chars +
         std::uint64_t{h.leap} * (time_size + 4) + h.isstd + h.isut;
}

// The transitions and the offset before them from the data block at `at`.
std::variant<ClockZone, std::string> ReadBlock(std::span<const std::uint8_t> file, std::size_t at,
                                               const Header& h, std::size_t time_size,
                                               std::optional<ZoneRule> rule) {
  if (h.leap != 0) return "a TZif file that counts leap seconds (name the zone without \"right/\")";
  if (h.types == 0 || h.types > 256 || h.chars == 0 || (h.isstd != 0 && h.isstd != h.types) ||
      (h.isut != 0 && h.isut != h.types)) {
    return "a damaged TZif file (its counts do not agree)";
  }
  const std::size_t index_at = at + h.times * time_size;
  const std::size_t types_at = index_at + h.times;

  std::vector<std::int32_t> offsets(h.types);
  for (std::size_t i = 0; i < h.types; ++i) {
    const std::size_t type_at = types_at + 6 * i;
    const std::int32_t offset = I32(file, type_at);
    if (offset <= -kMaxOffset || offset >= kMaxOffset || file[type_at + 4] > 1 ||
        file[type_at + 5] >= h.chars) {
      return "a damaged TZif file (a local time type out of range)";
    }
    offsets[i] = offset;
  }

  std::vector<ClockZone::Transition> transitions;
  transitions.reserve(h.times);
  for (std::size_t i = 0; i < h.times; ++i) {
    const std::size_t time_at = at + i * time_size;
    const std::int64_t when = time_size == 8 ? I64(file, time_at) : I32(file, time_at);
    const std::uint8_t type = file[index_at + i];
    if (type >= h.types) return "a damaged TZif file (a transition to no local time type)";
    if (!transitions.empty() && when <= transitions.back().at) {
      return "a damaged TZif file (its transitions are out of order)";
    }
    transitions.push_back({when, offsets[type]});
  }
  return ClockZone(offsets[0], std::move(transitions), rule);
}

// A run of 1 to `most` digits at text[at], as a number; at moves past it.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t most) {
  int value = 0;
  std::size_t n = 0;
  while (at < text.size() && n < most && text[at] >= '0' && text[at] <= '9') {
    value = value * 10 + (text[at] - '0');
    ++at;
    ++n;
  }
  if (n == 0 || (at < text.size() && text[at] >= '0' && text[at] <= '9')) return std::nullopt;
  return value;
}

// "[+-]hh[:mm[:ss]]", hours up to max_hours, as seconds.
std::optional<std::int32_t> Duration(std::string_view text, std::size_t& at, int max_hours) {
  int sign = 1;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    if (text[at] == '-') sign = -1;
    ++at;
  }
  const std::optional<int> hours = Digits(text, at, 3);
  if (!hours || *hours > max_hours) return std::nullopt;
  std::int32_t seconds = *hours * 3600;
  for (const int scale : {60, 1}) {
    if (at >= text.size() || text[at] != ':') break;
    ++at;
    const std::optional<int> part = Digits(text, at, 2);
    if (!part || *part > 59) return std::nullopt;
    seconds += *part * scale;
  }
  return sign * seconds;
}

// A zone abbreviation: three or more letters, or "<...>" of letters, digits,
// '+' and '-'. Only its extent matters.
bool SkipName(std::string_view text, std::size_t& at) {
  const auto is_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  std::size_t n = 0;
  if (at < text.size() && text[at] == '<') {
    ++at;
    while (at < text.size() && text[at] != '>') {
      const char c = text[at];
      if (!is_letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-') return false;
      ++at;
      ++n;
    }
    if (at == text.size()) return false;
    ++at;
  } else {
    while (at < text.size() && is_letter(text[at])) {
      ++at;
      ++n;
    }
  }
  return n >= 3;
}

// ",date[/time]" of the rule.
std::optional<ZoneRuleDate> RuleDate(std::string_view text, std::size_t& at) {
  if (at >= text.size() || text[at] != ',') return std::nullopt;
  ++at;
  ZoneRuleDate date;
  if (at < text.size() && text[at] == 'J') {
    ++at;
    date.kind = ZoneRuleDate::Kind::kJulian;
    const std::optional<int> day = Digits(text, at, 3);
    if (!day || *day < 1 || *day > 365) return std::nullopt;
    date.day = *day;
  } else if (at < text.size() && text[at] == 'M') {
    ++at;
    date.kind = ZoneRuleDate::Kind::kMonthWeekDay;
    const std::optional<int> month = Digits(text, at, 2);
    if (!month || *month < 1 || *month > 12 || at >= text.size() || text[at] != '.') {
      return std::nullopt;
    }
    ++at;
    const std::optional<int> week = Digits(text, at, 1);
    if (!week || *week < 1 || *week > 5 || at >= text.size() || text[at] != '.') {
      return std::nullopt;
    }
    ++at;
    const std::optional<int> weekday = Digits(text, at, 1);
    if (!weekday || *weekday > 6) return std::nullopt;
    date.month = *month;
    date.week = *week;
    date.day = *weekday;
  } else {
    date.kind = ZoneRuleDate::Kind::kDayOfYear;
    const std::optional<int> day = Digits(text, at, 3);
    if (!day || *day > 365) return std::nullopt;
    date.day = *day;
  }
  if (at < text.size() && text[at] == '/') {
    ++at;
    const std::optional<std::int32_t> time = Duration(text, at, 167);
    if (!time) return std::nullopt;
    date.time = *time;
  }
  return date;
}

}  // namespace

std::optional<ZoneRule> ParsePosixRule(std::string_view text) {
  std::size_t at = 0;
  ZoneRule rule;
  if (!SkipName(text, at)) return std::nullopt;
  // POSIX counts hours west of Greenwich: the negation of the offset.
  const std::optional<std::int32_t> west = Duration(text, at, 24);
  if (!west) return std::nullopt;
  rule.standard_offset = -*west;
  if (at == text.size()) return rule;

  if (!SkipName(text, at)) return std::nullopt;
  std::int32_t daylight_offset = rule.standard_offset + 3600;
  if (at < text.size() && text[at] != ',') {
    const std::optional<std::int32_t> daylight_west = Duration(text, at, 24);
    if (!daylight_west) return std::nullopt;
    daylight_offset = -*daylight_west;
  }
  // The dates are the footer's to give: POSIX leaves a rule without them to
  // each system, and no TZif writer leaves them out.
  const std::optional<ZoneRuleDate> start = RuleDate(text, at);
  if (!start) return std::nullopt;
  const std::optional<ZoneRuleDate> end = RuleDate(text, at);
  if (!end || at != text.size()) return std::nullopt;
  rule.daylight = ZoneRule::Daylight{daylight_offset, *start, *end};
  return rule;
}

std::variant<ClockZone, std::string> ParseTzif(std::span<const std::uint8_t> file) {
  if (file.size() > kMaxTzifSize) return "not a TZif zone file (larger than any)";
  const std::optional<Header> first = ReadHeader(file, 0);
  if (!first) return "not a TZif zone file";
  if (first->version != 0 && first->version < '2') return "a TZif file of an unknown version";
  const std::uint64_t first_size = BlockSize(*first, 4);
  if (first_size > file.size() - kHeaderSize) return "a TZif file cut short";
  const std::size_t first_at = kHeaderSize;
  if (first->version == 0) return ReadBlock(file, first_at, *first, 4, std::nullopt);

  // Version 2 and later: a second header and block of 64-bit times, then the
  // footer's rule for the times after the last transition, between newlines.
  const std::size_t second_header_at = first_at + static_cast<std::size_t>(first_size);
  const std::optional<Header> second = ReadHeader(file, second_header_at);
  if (!second) return "a TZif file cut short";
  const std::size_t second_at = second_header_at + kHeaderSize;
  const std::uint64_t second_size = BlockSize(*second, 8);
  if (second_size > file.size() - second_at) return "a TZif file cut short";
  const std::size_t footer_at = second_at + static_cast<std::size_t>(second_size);
  if (file.size() - footer_at < 2 || file[footer_at] != '\n' || file.back() != '\n') {
    return "a TZif file cut short";
  }
  std::string footer;
  for (std::size_t i = footer_at + 1; i + 1 < file.size(); ++i) {
    footer.push_back(static_cast<char>(file[i]));
  }
  std::optional<ZoneRule> rule;
  if (!footer.empty()) {
    rule = ParsePosixRule(footer);
    if (!rule) return "a TZif file whose closing rule cannot be read";
  }
  return ReadBlock(file, second_at, *second, 8, rule);
}

}  // namespace quenthar
