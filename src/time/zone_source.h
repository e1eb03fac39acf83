// Where IANA zones come from: the system's zone files on Linux, the zones
// the program carries on Windows. Each build compiles one of
// zone_source_files.cpp and zone_source_carried.cpp.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "time/clock_zone.h"

namespace quenthar {

/// The IANA zone of a name already checked to be one (parts of letters,
/// digits, '_', '-' and '+' joined by '/'); when there is none, why, as
/// FindZone gives it.
std::variant<ClockZone, std::string> LoadNamedZone(std::string_view name);

}  // namespace quenthar
