#include "time/clock_zone.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "time/carried_zones.h"
#include "time/tzif.h"
#include "time/zone_source.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace quenthar {
namespace {

constexpr std::int32_t kHour = 3600;

struct Civil {
  int year, month, day, hour, minute, second;
};

std::optional<std::int32_t> Offset(const ClockZone& zone, const Civil& c) {
  return OffsetOfLocal(zone, c.year, c.month, c.day, c.hour, c.minute, c.second);
}

// The zone, or a test failure that says why there is none.
ClockZone Zone(std::string_view name) {
  std::variant<ClockZone, std::string> found = FindZone(name);
  if (const auto* why = std::get_if<std::string>(&found)) {
    ADD_FAILURE() << name << ": " << *why;
    return ClockZone(0);
  }
  return std::get<ClockZone>(std::move(found));
}

TEST(OffsetOfLocal, IanaZonesAcrossTheirChanges) {
  struct Case {
    const char* zone;
    Civil local;
    std::int32_t offset;
  };
  const Case cases[] = {
      {"Europe/Berlin", {2026, 1, 15, 12, 0, 0}, 1 * kHour},
      {"Europe/Berlin", {2026, 7, 15, 12, 0, 0}, 2 * kHour},
      {"Europe/Berlin", {2026, 12, 9, 7, 30, 15}, 1 * kHour},
      // 29 March 2026: 02:00 becomes 03:00; the skipped half hour is read in winter time.
      {"Europe/Berlin", {2026, 3, 29, 1, 59, 59}, 1 * kHour},
      {"Europe/Berlin", {2026, 3, 29, 2, 30, 0}, 1 * kHour},
      {"Europe/Berlin", {2026, 3, 29, 3, 0, 0}, 2 * kHour},
      // 25 October 2026: 03:00 becomes 02:00; the repeated hour is read in summer time.
      {"Europe/Berlin", {2026, 10, 25, 1, 59, 59}, 2 * kHour},
      {"Europe/Berlin", {2026, 10, 25, 2, 30, 0}, 2 * kHour},
      {"Europe/Berlin", {2026, 10, 25, 3, 0, 0}, 1 * kHour},
      // No summer time in 1970; 2040 is the footer's alone.
      {"Europe/Berlin", {1970, 6, 1, 12, 0, 0}, 1 * kHour},
      {"Europe/Berlin", {2040, 3, 25, 2, 30, 0}, 1 * kHour},
      {"Europe/Berlin", {2040, 3, 25, 3, 30, 0}, 2 * kHour},
      {"Europe/Berlin", {2040, 10, 28, 2, 30, 0}, 2 * kHour},
      {"Europe/Berlin", {2040, 10, 28, 3, 0, 0}, 1 * kHour},
      {"America/New_York", {2026, 1, 15, 12, 0, 0}, -5 * kHour},
      {"America/New_York", {2026, 7, 4, 12, 0, 0}, -4 * kHour},
      {"America/New_York", {2026, 3, 8, 2, 30, 0}, -5 * kHour},
      {"America/New_York", {2026, 11, 1, 1, 30, 0}, -4 * kHour},
      {"US/Eastern", {2026, 7, 4, 12, 0, 0}, -4 * kHour},  // a link
      // Half an hour of summer time: 02:00 becomes 01:30 on 5 April 2026.
      {"Australia/Lord_Howe", {2026, 1, 15, 12, 0, 0}, 11 * kHour},
      {"Australia/Lord_Howe", {2026, 7, 15, 12, 0, 0}, 10 * kHour + 1800},
      {"Australia/Lord_Howe", {2026, 4, 5, 1, 45, 0}, 11 * kHour},
      {"Australia/Lord_Howe", {2026, 4, 5, 2, 0, 0}, 10 * kHour + 1800},
      {"Asia/Kathmandu", {2026, 6, 1, 0, 0, 0}, 5 * kHour + 2700},
      {"Asia/Kathmandu", {1985, 6, 1, 0, 0, 0}, 5 * kHour + 1800},
      // The south: summer across the new year, also in the footer's years.
      {"Australia/Sydney", {2026, 1, 15, 12, 0, 0}, 11 * kHour},
      {"Australia/Sydney", {2026, 7, 15, 12, 0, 0}, 10 * kHour},
      {"Australia/Sydney", {2040, 1, 15, 0, 0, 0}, 11 * kHour},
      {"Australia/Sydney", {2040, 4, 1, 2, 30, 0}, 11 * kHour},
      {"Australia/Sydney", {2040, 10, 7, 2, 30, 0}, 10 * kHour},
      {"America/Sao_Paulo", {2018, 1, 15, 12, 0, 0}, -2 * kHour},
      {"America/Sao_Paulo", {2026, 1, 15, 12, 0, 0}, -3 * kHour},
      {"Etc/UTC", {2026, 7, 1, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    const ClockZone zone = Zone(c.zone);
    EXPECT_EQ(Offset(zone, c.local), c.offset)
        << c.zone << " " << c.local.year << "-" << c.local.month << "-" << c.local.day << " "
        << c.local.hour << ":" << c.local.minute;
  }
}

TEST(OffsetOfLocal, UtcAndFixedOffsetsNeedNoDatabase) {
  struct Case {
    const char* name;
    std::int32_t offset;
  };
  const Case cases[] = {
      {"UTC", 0},          {"+00:00", 0},          {"-00:00", 0},
      {"+01:00", kHour},   {"-05:00", -5 * kHour}, {"+05:45", 5 * kHour + 2700},
      {"-03:30", -12600},  {"+14:00", 14 * kHour}, {"-14:00", -14 * kHour},
      {"+00:59", 59 * 60},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Offset(Zone(c.name), {2026, 7, 1, 12, 0, 0}), c.offset) << c.name;
  }
}

TEST(OffsetOfLocal, NoOffsetForFieldsThatAreNoDateOrTime) {
  const ClockZone zone(kHour);
  const Civil bad[] = {{2026, 2, 29, 0, 0, 0}, {2026, 13, 1, 0, 0, 0}, {2026, 0, 1, 0, 0, 0},
                       {2026, 4, 31, 0, 0, 0}, {2026, 1, 1, 24, 0, 0}, {2026, 1, 1, 0, 60, 0},
                       {2026, 1, 1, 0, 0, 60}, {0, 1, 1, 0, 0, 0},     {10000, 1, 1, 0, 0, 0},
                       {2026, 1, 0, 0, 0, 0},  {2026, 1, 1, -1, 0, 0}};
  for (const Civil& c : bad) EXPECT_EQ(Offset(zone, c), std::nullopt) << c.year << "-" << c.month;
  EXPECT_EQ(Offset(zone, {2024, 2, 29, 23, 59, 59}), kHour);
}

TEST(SecondsOfCivil, TheMomentALocalTimeStandsFor) {
  // The LogInit date of the example log, in Berlin: 2026-12-09T06:30:15Z.
  const std::optional<std::int64_t> local = SecondsOfCivil(2026, 12, 9, 7, 30, 15);
  const std::optional<std::int32_t> offset =
      OffsetOfLocal(Zone("Europe/Berlin"), 2026, 12, 9, 7, 30, 15);
  ASSERT_TRUE(local && offset);
  EXPECT_EQ(*local - *offset, 1796797815);
  EXPECT_EQ(SecondsOfCivil(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(SecondsOfCivil(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(SecondsOfCivil(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(SecondsOfCivil(1, 1, 1, 0, 0, 0), -62135596800);
  EXPECT_EQ(SecondsOfCivil(9999, 12, 31, 23, 59, 59), 253402300799);
}

TEST(CivilOfSeconds, UndoesSecondsOfCivil) {
  const CivilTime dates[] = {{1970, 1, 1, 0, 0, 0},   {1969, 12, 31, 23, 59, 59},
                             {2000, 2, 29, 12, 0, 0}, {2100, 3, 1, 0, 0, 1},
                             {1, 1, 1, 0, 0, 0},      {9999, 12, 31, 23, 59, 59},
                             {1600, 2, 29, 6, 30, 15}};
  for (const CivilTime& d : dates) {
    const std::optional<std::int64_t> seconds =
        SecondsOfCivil(static_cast<int>(d.year), d.month, d.day, d.hour, d.minute, d.second);
    ASSERT_TRUE(seconds);
    const CivilTime back = CivilOfSeconds(*seconds);
    EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
              std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second))
        << *seconds;
  }
}

TEST(FindZone, RefusesWhatNamesNoZone) {
  struct Case {
    const char* name;
    const char* why;  // a part of the reason
  };
  const Case cases[] = {
      {"", "an empty name"},
      {"Europe/Nowhere", "no such zone"},
      {"../etc/passwd", "not a zone name"},
      {"Europe/../Europe/Berlin", "not a zone name"},
      {"/etc/passwd", "not a zone name"},
      {"Europe//Berlin", "not a zone name"},
      {"Europe/Berlin/", "not a zone name"},
      {"Europe\\Berlin", "not a zone name"},
      {"Europe/Berlin ", "not a zone name"},
      {"zone.tab", "not a zone name"},
      {"+25:00", "more than 14 hours"},
      {"+14:30", "more than 14 hours"},
      {"-01:60", "minutes"},
      {"+1:00", "+HH:MM"},
      {"+01", "+HH:MM"},
      {"+01:00x", "+HH:MM"},
  };
  for (const Case& c : cases) {
    const std::variant<ClockZone, std::string> found = FindZone(c.name);
    const auto* why = std::get_if<std::string>(&found);
    ASSERT_NE(why, nullptr) << c.name;
    EXPECT_NE(why->find(c.why), std::string::npos) << c.name << ": " << *why;
  }
#ifndef _WIN32
  // A folder of the database, and a file of it that is no zone.
  for (const char* name : {"Europe", "leapseconds"}) {
    const std::variant<ClockZone, std::string> found = FindZone(name);
    const auto* why = std::get_if<std::string>(&found);
    ASSERT_NE(why, nullptr) << name;
    EXPECT_NE(why->find("is not a"), std::string::npos) << *why;
  }
#endif
}

// A TZif file of the version given: times, each one's local time type, the
// types' offsets, and the footer; in version 2 and later the first part is a
// slim file's.
std::vector<std::uint8_t> MakeTzif(char version, const std::vector<std::int64_t>& times,
                                   const std::vector<std::uint8_t>& index,
                                   const std::vector<std::int32_t>& offsets,
                                   const std::string& footer) {
  std::vector<std::uint8_t> out;
  const auto put = [&](std::uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
      out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  };
  const auto header = [&](std::size_t time_count, std::size_t type_count, std::size_t chars) {
    for (const char c : {'T', 'Z', 'i', 'f'}) out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(version));
    out.resize(out.size() + 15);
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{0}, std::size_t{0}, time_count, type_count, chars}) {
      put(count, 4);
    }
  };
  const auto body = [&](int time_size) {
    for (const std::int64_t t : times) put(static_cast<std::uint64_t>(t), time_size);
    for (const std::uint8_t i : index) out.push_back(i);
    for (const std::int32_t offset : offsets) {
      put(static_cast<std::uint32_t>(offset), 4);
      out.push_back(0);  // isdst
      out.push_back(0);  // the empty abbreviation
    }
    out.push_back(0);
  };
  if (version == '\0') {
    header(times.size(), offsets.size(), 1);
    body(4);
    return out;
  }
  header(0, 1, 1);
  out.resize(out.size() + 7);
  header(times.size(), offsets.size(), 1);
  body(8);
  out.push_back('\n');
  for (const char c : footer) out.push_back(static_cast<std::uint8_t>(c));
  out.push_back('\n');
  return out;
}

TEST(ParseTzif, ReadsEachVersionWithItsFooter) {
  // Offsets +1 until 2000-01-01, then +3 (the footer carries on).
  const std::vector<std::int64_t> times = {946684800 - kHour};
  for (const char version : {'\0', '2', '3', '4'}) {
    const std::string footer = version == '\0' ? "" : "<+03>-3";
    const std::variant<ClockZone, std::string> parsed =
        ParseTzif(MakeTzif(version, times, {1}, {kHour, 3 * kHour}, footer));
    const auto* zone = std::get_if<ClockZone>(&parsed);
    ASSERT_NE(zone, nullptr) << std::get<std::string>(parsed);
    EXPECT_EQ(Offset(*zone, {1999, 12, 31, 23, 59, 59}), kHour);
    EXPECT_EQ(Offset(*zone, {2000, 1, 1, 0, 0, 0}), kHour);  // skipped to 02:00
    EXPECT_EQ(Offset(*zone, {2000, 1, 1, 2, 0, 0}), 3 * kHour);
    EXPECT_EQ(Offset(*zone, {2060, 1, 1, 2, 0, 0}), 3 * kHour);
    EXPECT_EQ(Offset(*zone, {1901, 1, 1, 0, 0, 0}), kHour);
  }
}

TEST(ParseTzif, RefusesWhatIsNoTzifFileWholeAndSound) {
  const std::string text = "# not a zone\n";
  const std::vector<std::uint8_t> not_tzif(text.begin(), text.end());
  const std::vector<std::uint8_t> good =
      MakeTzif('2', {0, 86400}, {1, 0}, {0, kHour}, "CET-1CEST,M3.5.0,M10.5.0/3");
  ASSERT_TRUE(std::holds_alternative<ClockZone>(ParseTzif(good)));

  std::vector<std::vector<std::uint8_t>> bad = {
      not_tzif,
      {},
      MakeTzif('2', {86400, 0}, {1, 0}, {0, kHour}, ""),        // out of order
      MakeTzif('2', {0}, {2}, {0, kHour}, ""),                  // no such type
      MakeTzif('2', {0}, {1}, {0, 27 * kHour}, ""),             // no zone's offset
      MakeTzif('2', {0}, {1}, {0, kHour}, "CET-1CEST"),         // summer time, but when?
      MakeTzif('2', {0}, {1}, {0, kHour}, "CET-1CEST,M3.5.0"),  // no end
      MakeTzif('1', {0}, {1}, {0, kHour}, ""),                  // no such version
  };
  // Cut short anywhere.
  for (std::size_t size = 0; size < good.size(); ++size) {
    bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
  }
  // A huge count in each header field: the file is too short for it.
  for (const std::size_t header : {std::size_t{0}, std::size_t{51}}) {
    for (std::size_t field = 20; field < 44; field += 4) {
      std::vector<std::uint8_t> huge = good;
      for (std::size_t i = 0; i < 4; ++i) huge[header + field + i] = 0xFF;
      bad.push_back(huge);
    }
  }
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseTzif(bad[i]))) << "case " << i;
  }
  const std::variant<ClockZone, std::string> refused = ParseTzif(not_tzif);
  EXPECT_EQ(std::get<std::string>(refused), "not a TZif zone file");
}

TEST(ParsePosixRule, FootersOfEveryKindOfRule) {
  struct Case {
    const char* rule;
    Civil local;
    std::int32_t offset;
  };
  const Case cases[] = {
      {"<+0545>-5:45", {2026, 7, 1, 0, 0, 0}, 5 * kHour + 2700},
      {"EST5", {2026, 7, 1, 0, 0, 0}, -5 * kHour},
      // Daylight saving time one hour on by default.
      {"EST5EDT,M3.2.0,M11.1.0", {2026, 7, 1, 0, 0, 0}, -4 * kHour},
      {"EST5EDT,M3.2.0,M11.1.0", {2026, 3, 8, 2, 30, 0}, -5 * kHour},
      // Hours past 24: Friday 02:00 before the last Sunday of March.
      {"IST-2IDT,M3.4.4/26,M10.5.0", {2026, 3, 27, 1, 59, 59}, 2 * kHour},
      {"IST-2IDT,M3.4.4/26,M10.5.0", {2026, 3, 27, 2, 30, 0}, 2 * kHour},
      {"IST-2IDT,M3.4.4/26,M10.5.0", {2026, 3, 27, 3, 0, 0}, 3 * kHour},
      // Negative hours: 23:00 on the Saturday before the last Sunday of March.
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", {2026, 3, 28, 22, 59, 59}, -2 * kHour},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", {2026, 3, 29, 0, 0, 0}, -1 * kHour},
      // Summer time all year.
      {"EST5EDT,0/0,J365/25", {2026, 1, 1, 0, 30, 0}, -4 * kHour},
      {"EST5EDT,0/0,J365/25", {2026, 12, 31, 23, 30, 0}, -4 * kHour},
      {"EST5EDT,0/0,J365/25", {2026, 7, 1, 0, 0, 0}, -4 * kHour},
      // "n" counts 29 February, "Jn" never does.
      {"AAA0BBB,59/0,300", {2028, 2, 28, 23, 30, 0}, 0},
      {"AAA0BBB,59/0,300", {2028, 2, 29, 1, 30, 0}, kHour},
      {"AAA0BBB,J60/0,300", {2028, 2, 29, 12, 0, 0}, 0},
      {"AAA0BBB,J60/0,300", {2028, 3, 1, 1, 30, 0}, kHour},
      // Week 5 is the last, even in a month with four of that weekday.
      {"AAA0BBB,M2.5.0/0,M11.1.0", {2026, 2, 22, 1, 0, 0}, kHour},
      {"AAA0BBB,M2.5.0/0,M11.1.0", {2026, 2, 21, 23, 30, 0}, 0},
      // The south: summer from October to April, 30 minutes of it.
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {2026, 1, 1, 0, 0, 0}, 11 * kHour},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {2026, 6, 1, 0, 0, 0}, 10 * kHour + 1800},
  };
  for (const Case& c : cases) {
    const std::optional<ZoneRule> rule = ParsePosixRule(c.rule);
    ASSERT_TRUE(rule.has_value()) << c.rule;
    EXPECT_EQ(Offset(ClockZone(0, {}, rule), c.local), c.offset)
        << c.rule << " " << c.local.year << "-" << c.local.month << "-" << c.local.day << " "
        << c.local.hour << ":" << c.local.minute;
  }
  for (const char* bad :
       {"", "AB-1", "<+03-3", "<+0 3>-3", "CET", "CET-25", "CET-1CEST", "CET-1CEST,M3.5.0",
        "CET-1CEST,M13.1.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0",
        "CET-1CEST,J366,M10.5.0", "CET-1CEST,J0,M10.5.0", "CET-1CEST,366,M10.5.0",
        "CET-1CEST,M3.5.0/168,M10.5.0", "CET-1CEST,M3.5.0,M10.5.0x", "CET-1:60",
        "CET-1CEST,M3.5.0,M10.5.0/3:00:60", "CET-0001"}) {
    EXPECT_EQ(ParsePosixRule(bad), std::nullopt) << bad;
  }
}

TEST(FormatOffset, SignHoursMinutesAndZuluWhereAsked) {
  struct Case {
    std::int32_t seconds;
    ZeroOffset zero;
    const char* text;
  };
  const Case cases[] = {
      {kHour, ZeroOffset::kNumeric, "+01:00"},
      {-5 * kHour, ZeroOffset::kNumeric, "-05:00"},
      {0, ZeroOffset::kNumeric, "+00:00"},
      {0, ZeroOffset::kZuluForZero, "Z"},
      {kHour, ZeroOffset::kZuluForZero, "+01:00"},
      {5 * kHour + 2700, ZeroOffset::kNumeric, "+05:45"},
      {-9 * kHour - 1800, ZeroOffset::kNumeric, "-09:30"},
      {14 * kHour, ZeroOffset::kNumeric, "+14:00"},
      {-2670, ZeroOffset::kNumeric, "-00:44:30"},  // Monrovia until 1972
  };
  for (const Case& c : cases) EXPECT_EQ(std::string_view(FormatOffset(c.seconds, c.zero)), c.text);
}

#ifndef _WIN32
TEST(ZoneFiles, TzdirNamesTheFolder) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("quenthar-zones-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "Test");
  const auto write = [](const std::filesystem::path& path, const std::vector<std::uint8_t>& b) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  };
  write(folder / "Test" / "Zone", MakeTzif('2', {}, {}, {-3 * kHour}, "<-03>3"));
  write(folder / "Junk", {'#', '\n'});
  const char* before = std::getenv("TZDIR");
  const std::string saved = before != nullptr ? before : "";
  setenv("TZDIR", folder.c_str(), 1);

  EXPECT_EQ(Offset(Zone("Test/Zone"), {2026, 1, 1, 0, 0, 0}), -3 * kHour);
  const std::variant<ClockZone, std::string> junk = FindZone("Junk");
  ASSERT_TRUE(std::holds_alternative<std::string>(junk));
  EXPECT_EQ(std::get<std::string>(junk), (folder / "Junk").string() + " is not a TZif zone file");
  const std::variant<ClockZone, std::string> berlin = FindZone("Europe/Berlin");
  ASSERT_TRUE(std::holds_alternative<std::string>(berlin));
  EXPECT_EQ(std::get<std::string>(berlin), "no such zone in " + folder.string());

  if (before != nullptr) {
    setenv("TZDIR", saved.c_str(), 1);
  } else {
    unsetenv("TZDIR");
  }
  std::filesystem::remove_all(folder);
}

// The zones the Windows build carries say what the system's do from 1970 on.
TEST(CarriedZones, AgreeWithTheSystemsFromNineteenSeventyOn) {
  ASSERT_GT(CarriedZones().size(), 400u);
  for (const CarriedZone& carried : CarriedZones()) {
    const std::variant<ClockZone, std::string> copy =
        ParseTzif(CarriedZoneBytes().subspan(carried.offset, carried.size));
    ASSERT_TRUE(std::holds_alternative<ClockZone>(copy)) << carried.name;
    const ClockZone& ours = std::get<ClockZone>(copy);
    std::variant<ClockZone, std::string> loaded = LoadNamedZone(carried.name);
    ASSERT_TRUE(std::holds_alternative<ClockZone>(loaded)) << carried.name;
    const ClockZone& system = std::get<ClockZone>(loaded);
    EXPECT_EQ(ours.Rule(), system.Rule()) << carried.name;
    const auto from_1970 = [](const ClockZone& zone) {
      std::vector<ClockZone::Transition> kept;
      std::int32_t at_1970 = zone.InitialOffset();
      for (const ClockZone::Transition& t : zone.Transitions()) {
        if (t.at <= 0) at_1970 = t.offset;
        if (t.at > 0) kept.push_back(t);
      }
      return std::pair(at_1970, kept);
    };
    EXPECT_EQ(from_1970(ours), from_1970(system)) << carried.name;
  }
}
#endif

}  // namespace
}  // namespace quenthar
