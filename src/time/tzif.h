// Zone files in the TZif form the IANA database is compiled to, and the POSIX
// TZ string at their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "time/clock_zone.h"

namespace quenthar {

/// Larger than any zone file; a larger file is none.
inline constexpr std::size_t kMaxTzifSize = std::size_t{1} << 20;

/// The zone a TZif file (version 1, 2, 3 or 4) describes: the 64-bit data
/// and the footer's rule where the file has them. When the bytes are no such
/// file: why, as what the file "is" ("not a TZif zone file", ...).
std::variant<ClockZone, std::string> ParseTzif(std::span<const std::uint8_t> file);

/// The rule of a POSIX TZ string as TZif footers write it ("CET-1CEST,M3.5.0,
/// M10.5.0/3", "<+0545>-5:45"), with the extensions of version 3 (transition
/// hours from -167 to 167); nullopt when it is none. A zone with daylight
/// saving time must say when it is in force.
std::optional<ZoneRule> ParsePosixRule(std::string_view text);

}  // namespace quenthar
