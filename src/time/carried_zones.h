// The IANA zones the Windows build carries, whose own zone names are others:
// made at build time from the build machine's zone files by
// cmake/zone_table.cmake, as TZif files of their transitions from 1970 on.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quenthar {

/// A zone's name and where its TZif file lies in CarriedZoneBytes(); a link
/// (US/Eastern) shares its zone's file.
struct CarriedZone {
  std::string_view name;
  std::uint32_t offset;
  std::uint32_t size;
};

/// Every zone named in the build machine's tzdata.zi, zones and links, in its
/// order.
std::span<const CarriedZone> CarriedZones();

/// The TZif files, back to back.
std::span<const std::uint8_t> CarriedZoneBytes();

/// The release of the zone database they come from, such as "2025b".
std::string_view CarriedZonesVersion();

}  // namespace quenthar
