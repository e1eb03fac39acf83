// The time zone of a clock that keeps local time: the firmware clock a
// LogInit entry's date and time come from, and FAT's file times.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quenthar {

/// When a zone's daylight saving time starts or ends in a year, as a POSIX TZ
/// string writes it: a day of the year and a local time of that day.
struct ZoneRuleDate {
  enum class Kind {
    kJulian,        // "Jn": day 1 to 365, 29 February never counted
    kDayOfYear,     // "n": day 0 to 365, 29 February counted
    kMonthWeekDay,  // "Mm.w.d": weekday d (0 Sunday) of week w (5 the last) of month m
  };
  Kind kind = Kind::kMonthWeekDay;
  int day = 0;               // n, or d
  int week = 0;              // w
  int month = 0;             // m
  std::int32_t time = 7200;  // seconds after the day's midnight, -167 to 167 hours
  bool operator==(const ZoneRuleDate&) const = default;
};

/// The rule of a POSIX TZ string (a TZif file's footer): a standard offset
/// and, when the zone keeps daylight saving time, the other offset and when
/// it is in force. Offsets are seconds east of UTC.
struct ZoneRule {
  std::int32_t standard_offset = 0;
  struct Daylight {
    std::int32_t offset;
    ZoneRuleDate start;  // in standard time
    ZoneRuleDate end;    // in daylight saving time
    bool operator==(const Daylight&) const = default;
  };
  std::optional<Daylight> daylight;
  bool operator==(const ZoneRule&) const = default;
};

/// A zone's rules: a fixed offset, or an IANA zone's transitions and its rule
/// for the times after them.
class ClockZone {
 public:
  /// From this moment (seconds since 1970, UTC) on, this offset.
  struct Transition {
    std::int64_t at;
    std::int32_t offset;
    bool operator==(const Transition&) const = default;
  };

  /// A zone that is always `offset` seconds east of UTC.
  explicit ClockZone(std::int32_t offset) : initial_offset_(offset) {}

  /// A zone of transitions in ascending order, the offset before the first,
  /// and the rule after the last (none: the last transition's offset stays).
  ClockZone(std::int32_t initial_offset, std::vector<Transition> transitions,
            std::optional<ZoneRule> rule)
      : initial_offset_(initial_offset), transitions_(std::move(transitions)), rule_(rule) {}

  [[nodiscard]] std::int32_t InitialOffset() const { return initial_offset_; }
  [[nodiscard]] const std::vector<Transition>& Transitions() const { return transitions_; }
  [[nodiscard]] const std::optional<ZoneRule>& Rule() const { return rule_; }

 private:
  std::int32_t initial_offset_;
  std::vector<Transition> transitions_;
  std::optional<ZoneRule> rule_;
};

/// The zone a --clock-zone argument names: "UTC", a fixed offset "+HH:MM" or
/// "-HH:MM" (east of UTC positive, up to 14:00, minutes 00 to 59), or an IANA
/// name such as "Europe/Berlin". IANA zones come from the system's TZif files
/// (under $TZDIR, else /usr/share/zoneinfo) on Linux and from the zones the
/// program carries on Windows. When the name gives no zone: why, in a form
/// fit for "quenthar: --clock-zone NAME: WHY".
std::variant<ClockZone, std::string> FindZone(std::string_view name);

/// A civil date and time as seconds since 1970 as though it were UTC; nullopt
/// when the fields are no real date or time (years 1 to 9999, no leap
/// second). The moment a local time stands for is this less its offset.
std::optional<std::int64_t> SecondsOfCivil(int year, int month, int day, int hour, int minute,
                                           int second);

/// A date and time of the proleptic Gregorian calendar.
struct CivilTime {
  std::int64_t year;
  int month, day, hour, minute, second;
};

/// The civil date and time of seconds since 1970 (SecondsOfCivil's inverse).
CivilTime CivilOfSeconds(std::int64_t seconds);

/// The UTC offset, in seconds east of UTC, of a local wall-clock time in the
/// zone (a civil date and time as stored, with no zone); nullopt when the
/// fields are no real date or time. Where the zone's clocks go back and a
/// local time happens twice, the earlier offset (the summer one in autumn);
/// where they go forward and a local time never happens, the offset before
/// the change (02:30 on a spring night that skips from 02:00 to 03:00 is
/// read in winter time, as 03:30 summer time).
std::optional<std::int32_t> OffsetOfLocal(const ClockZone& zone, int year, int month, int day,
                                          int hour, int minute, int second);

/// An offset's text for the records: "+01:00", "-05:00", "+00:00", with
/// seconds ("-00:44:30") only for an offset that has them; "Z" for a zero
/// offset when kZuluForZero is asked for.
struct OffsetText {
  std::array<char, 9> chars;
  std::size_t size;
  operator std::string_view() const { return {chars.data(), size}; }
};
enum class ZeroOffset { kNumeric, kZuluForZero };
OffsetText FormatOffset(std::int32_t seconds, ZeroOffset zero = ZeroOffset::kNumeric);

}  // namespace quenthar
