// The zones the program carries, for a system whose own zone names are not
// IANA's.
#include "time/carried_zones.h"
#include "time/tzif.h"
#include "time/zone_source.h"

namespace quenthar {

std::variant<ClockZone, std::string> LoadNamedZone(std::string_view name) {
  for (const CarriedZone& zone : CarriedZones()) {
    if (zone.name != name) continue;
    std::variant<ClockZone, std::string> found =
        ParseTzif(CarriedZoneBytes().subspan(zone.offset, zone.size));
    if (auto* why = std::get_if<std::string>(&found)) {
      return "the program's copy of the zone is " + *why;
    }
    return found;
  }
  return "no such zone among the IANA zones the program carries (tzdata " +
         std::string(CarriedZonesVersion()) + ")";
}

}  // namespace quenthar
