#include "time/clock_zone.h"

#include <algorithm>

#include "time/zone_source.h"

namespace quenthar {
namespace {

// Wider than any offset: a period of a zone that ends this long before a
// local time cannot hold it.
constexpr std::int64_t kSpan = std::int64_t{2} * 86400;

bool IsLeapYear(std::int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(std::int64_t year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (eras of 400 years
// that start in March, so that leap days come last).
std::int64_t DaysOfCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// 0 for Sunday; 1970-01-01 was a Thursday.
int Weekday(std::int64_t days) { return static_cast<int>(((days % 7) + 11) % 7); }

// The day, since 1970, that a rule date falls on in a year.
std::int64_t DayOfRule(const ZoneRuleDate& date, std::int64_t year) {
  const std::int64_t january_first = DaysOfCivil(year, 1, 1);
  switch (date.kind) {
    case ZoneRuleDate::Kind::kJulian:
      return january_first + date.day - 1 + (IsLeapYear(year) && date.day >= 60 ? 1 : 0);
    case ZoneRuleDate::Kind::kDayOfYear: return january_first + date.day;
    case ZoneRuleDate::Kind::kMonthWeekDay: break;
  }
  const std::int64_t first = DaysOfCivil(year, date.month, 1);
  int day = (date.day - Weekday(first) + 7) % 7 + 7 * (date.week - 1);
  while (day >= DaysInMonth(year, date.month)) day -= 7;  // week 5: the last
  return first + day;
}

// The rule's changes in the years around `year`, in order of time, and the
// offset before the first.
struct RuleSteps {
  std::int32_t before;
  std::vector<ClockZone::Transition> steps;
};
RuleSteps StepsOfRule(const ZoneRule& rule, std::int64_t year) {
  const ZoneRule::Daylight& daylight = *rule.daylight;
  RuleSteps out{rule.standard_offset, {}};
  for (std::int64_t y = year - 1; y <= year + 1; ++y) {
    // The start is given in standard time, the end in daylight saving time.
    out.steps.push_back(
        {DayOfRule(daylight.start, y) * 86400 + daylight.start.time - rule.standard_offset,
         daylight.offset});
    out.steps.push_back({DayOfRule(daylight.end, y) * 86400 + daylight.end.time - daylight.offset,
                         rule.standard_offset});
  }
  // Stable: where a year's end is the next one's start (daylight saving
  // time all year), the end stays first.
  std::stable_sort(out.steps.begin(), out.steps.end(),
                   [](const auto& a, const auto& b) { return a.at < b.at; });
  if (out.steps.front().offset == rule.standard_offset) out.before = daylight.offset;
  return out;
}

// The offset of a local time among periods of constant offset: the first that
// ends after it, read at the larger of the offsets on either side of its end.
// Where the clocks go back that is the earlier period; where they go forward
// the time of the gap belongs to the period before it.
std::int32_t PickOffset(std::int32_t before, const ClockZone::Transition* first,
                        const ClockZone::Transition* last, std::int64_t local) {
  std::int32_t offset = before;
  for (const ClockZone::Transition* t = first; t != last; ++t) {
    if (local - std::max(offset, t->offset) < t->at) return offset;
    offset = t->offset;
  }
  return offset;
}

bool IsNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '+';
}

// "+HH:MM" or "-HH:MM".
std::variant<ClockZone, std::string> FixedZone(std::string_view name) {
  const auto digit = [&](std::size_t i) { return name[i] >= '0' && name[i] <= '9'; };
  if (name.size() != 6 || !digit(1) || !digit(2) || name[3] != ':' || !digit(4) || !digit(5)) {
    return "an offset is written +HH:MM or -HH:MM";
  }
  const int hours = (name[1] - '0') * 10 + (name[2] - '0');
  const int minutes = (name[4] - '0') * 10 + (name[5] - '0');
  if (minutes > 59) return "an offset's minutes go from 00 to 59";
  if (hours * 60 + minutes > 14 * 60) return "no zone is more than 14 hours from UTC";
  const std::int32_t offset = (hours * 60 + minutes) * 60;
  return ClockZone(name[0] == '-' ? -offset : offset);
}

}  // namespace

std::variant<ClockZone, std::string> FindZone(std::string_view name) {
  if (name.empty()) {
    return "an empty name: give an IANA zone such as Europe/Berlin, UTC, or an offset such as "
           "+01:00";
  }
  if (name == "UTC") return ClockZone(0);
  if (name.front() == '+' || name.front() == '-') return FixedZone(name);
  // Parts joined by '/', and no "." or ".." among them: the name stays
  // inside the zone folder.
  constexpr std::size_t kLongestName = 255;
  bool part_start = true;
  for (const char c : name) {
    if (c == '/' ? part_start : !IsNameCharacter(c)) {
      return "not a zone name: an IANA name is parts of letters, digits, '_', '-' and '+' joined "
             "by '/', such as America/New_York";
    }
    part_start = c == '/';
  }
  if (part_start || name.size() > kLongestName) {
    return "not a zone name: an IANA name is parts of letters, digits, '_', '-' and '+' joined "
           "by '/', such as America/New_York";
  }
  return LoadNamedZone(name);
}

std::optional<std::int64_t> SecondsOfCivil(int year, int month, int day, int hour, int minute,
                                           int second) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }
  return DaysOfCivil(year, month, day) * 86400 + (hour * 3600 + minute * 60 + second);
}

std::optional<std::int32_t> OffsetOfLocal(const ClockZone& zone, int year, int month, int day,
                                          int hour, int minute, int second) {
  const std::optional<std::int64_t> local = SecondsOfCivil(year, month, day, hour, minute, second);
  if (!local) return std::nullopt;
  const std::vector<ClockZone::Transition>& all = zone.Transitions();
  const std::optional<ZoneRule>& rule = zone.Rule();

  // Well past the last transition the rule alone decides.
  if (rule && (all.empty() || *local - kSpan >= all.back().at)) {
    if (!rule->daylight) return rule->standard_offset;
    const RuleSteps steps = StepsOfRule(*rule, year);
    return PickOffset(steps.before, steps.steps.data(), steps.steps.data() + steps.steps.size(),
                      *local);
  }

  // The transitions near the local time, and the offset before them.
  const auto near = std::partition_point(all.begin(), all.end(),
                                         [&](const auto& t) { return t.at < *local - kSpan; });
  const std::int32_t before = near == all.begin() ? zone.InitialOffset() : (near - 1)->offset;
  std::vector<ClockZone::Transition> window;
  for (auto t = near; t != all.end() && t->at <= *local + kSpan; ++t) window.push_back(*t);
  // Near the last transition, the rule's changes after it follow it.
  if (rule && rule->daylight && !all.empty() && all.back().at <= *local + kSpan) {
    for (const ClockZone::Transition& t : StepsOfRule(*rule, year).steps) {
      if (t.at > all.back().at) window.push_back(t);
    }
  }
  return PickOffset(before, window.data(), window.data() + window.size(), *local);
}

CivilTime CivilOfSeconds(std::int64_t seconds) {
  // Days and the second of the day, then DaysOfCivil backwards.
  std::int64_t days = seconds / 86400;
  std::int64_t second = seconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const auto day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const auto month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0),
          month,
          day,
          static_cast<int>(second / 3600),
          static_cast<int>(second / 60 % 60),
          static_cast<int>(second % 60)};
}

OffsetText FormatOffset(std::int32_t seconds, ZeroOffset zero) {
  OffsetText text{};
  if (seconds == 0 && zero == ZeroOffset::kZuluForZero) {
    text.chars[0] = 'Z';
    text.size = 1;
    return text;
  }
  // No zone is near 100 hours: held to what two digits write.
  const std::int64_t magnitude = std::min<std::int64_t>(
      seconds < 0 ? -std::int64_t{seconds} : std::int64_t{seconds}, 99 * 3600 + 59 * 60 + 59);
  const std::int64_t parts[] = {magnitude / 3600, magnitude / 60 % 60, magnitude % 60};
  const std::size_t count = parts[2] != 0 ? 3 : 2;
  text.chars[0] = seconds < 0 ? '-' : '+';
  std::size_t at = 1;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) text.chars[at++] = ':';
    text.chars[at++] = static_cast<char>('0' + parts[i] / 10);
    text.chars[at++] = static_cast<char>('0' + parts[i] % 10);
  }
  text.size = at;
  return text;
}

}  // namespace quenthar
