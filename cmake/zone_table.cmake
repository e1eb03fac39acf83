# Writes the C++ source of the IANA zones a build carries (src/time/carried_zones.h)
# from a zone folder of TZif files:
#   cmake -DZONEINFO=/usr/share/zoneinfo -DOUTPUT=zone_table.cpp -P zone_table.cmake
# Every zone and link that the folder's tzdata.zi names, each file once. A
# file keeps its 64-bit data from 1970 on, the transition before 1970 moved to
# the earliest time a TZif file writes so that its local time type holds for
# every earlier moment, and its footer; its 32-bit data is left as short as a
# slim file's. Only CMake is needed, as for the rest of the build.
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${ZONEINFO}/tzdata.zi")
  message(FATAL_ERROR "No ${ZONEINFO}/tzdata.zi: the zones carried come from the zone files of "
                      "Debian's tzdata package (or set QUENTHAR_ZONEINFO to a folder like it)")
endif()

# The unsigned big-endian number of `bytes` bytes at byte `at` of the hex text.
function(read_number hex at bytes out)
  math(EXPR start "${at} * 2")
  math(EXPR length "${bytes} * 2")
  string(SUBSTRING "${hex}" ${start} ${length} digits)
  math(EXPR value "0x${digits}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# A 32-bit count as 8 hex digits.
function(hex_count value out)
  math(EXPR digits "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${digits}" 2 -1 digits)
  string(LENGTH "${digits}" length)
  math(EXPR pad "8 - ${length}")
  string(REPEAT "0" ${pad} zeros)
  set(${out} "${zeros}${digits}" PARENT_SCOPE)
endfunction()

# The counts of the header at byte `at`: isut isstd leap time type char.
function(read_counts hex at out)
  set(counts)
  foreach(i RANGE 0 5)
    math(EXPR field "${at} + 20 + 4 * ${i}")
    read_number("${hex}" ${field} 4 count)
    list(APPEND counts ${count})
  endforeach()
  set(${out} ${counts} PARENT_SCOPE)
endfunction()

# The carried form of one zone file, as hex text.
function(carried_form path out)
  file(READ "${path}" hex HEX)
  string(SUBSTRING "${hex}" 0 10 magic)
  if(NOT magic MATCHES "^545a6966(32|33|34)$")
    message(FATAL_ERROR "${path} is not a TZif file of version 2 or later")
  endif()
  read_counts("${hex}" 0 v1)
  list(GET v1 0 isut)
  list(GET v1 1 isstd)
  list(GET v1 2 leap)
  list(GET v1 3 times)
  list(GET v1 4 types)
  list(GET v1 5 chars)
  math(EXPR header2 "44 + ${times} * 5 + ${types} * 6 + ${chars} + ${leap} * 8 + ${isstd} + ${isut}")
  read_counts("${hex}" ${header2} v2)
  list(GET v2 0 isut)
  list(GET v2 1 isstd)
  list(GET v2 2 leap)
  list(GET v2 3 times)
  list(GET v2 4 types)
  list(GET v2 5 chars)
  if(NOT leap EQUAL 0)
    message(FATAL_ERROR "${path} counts leap seconds")
  endif()
  math(EXPR data "(${header2} + 44) * 2")

  # Transitions before 1970 are those with the sign bit set.
  set(first 0)
  while(first LESS times)
    math(EXPR at "${data} + ${first} * 16")
    string(SUBSTRING "${hex}" ${at} 1 top)
    if(NOT top MATCHES "[89a-f]")
      break()
    endif()
    math(EXPR first "${first} + 1")
  endwhile()
  set(early "")
  if(first GREATER 0)
    math(EXPR first "${first} - 1")
    set(early "f800000000000000")  # -2^59, the earliest time zone files write
  endif()
  math(EXPR kept "${times} - ${first}")

  math(EXPR times_at "${data} + ${first} * 16")
  math(EXPR times_length "${kept} * 16")
  string(SUBSTRING "${hex}" ${times_at} ${times_length} kept_times)
  if(early)
    string(SUBSTRING "${kept_times}" 16 -1 kept_times)
    set(kept_times "${early}${kept_times}")
  endif()
  math(EXPR index_at "${data} + ${times} * 16 + ${first} * 2")
  math(EXPR index_length "${kept} * 2")
  string(SUBSTRING "${hex}" ${index_at} ${index_length} kept_index)
  # Types, abbreviations, the standard and UT indicators, and the footer as they are.
  math(EXPR rest_at "${data} + ${times} * 18")
  string(SUBSTRING "${hex}" ${rest_at} -1 rest)

  string(SUBSTRING "${hex}" 8 2 version)
  string(REPEAT "00" 15 reserved)
  hex_count(${isut} isut_hex)
  hex_count(${isstd} isstd_hex)
  hex_count(${kept} kept_hex)
  hex_count(${types} types_hex)
  hex_count(${chars} chars_hex)
  # A slim file's first part: no transitions, one local time type of UTC, an
  # empty abbreviation.
  set(v1 "545a6966${version}${reserved}00000000000000000000000000000000" "00000001" "00000001"
         "000000000000" "00")
  string(JOIN "" v1 ${v1})
  set(v2 "545a6966${version}${reserved}${isut_hex}${isstd_hex}00000000${kept_hex}${types_hex}")
  string(APPEND v2 "${chars_hex}${kept_times}${kept_index}${rest}")
  set(${out} "${v1}${v2}" PARENT_SCOPE)
endfunction()

file(STRINGS "${ZONEINFO}/tzdata.zi" lines REGEX "^(# version |Z |L )")
set(version "")
set(names)
foreach(line IN LISTS lines)
  if(line MATCHES "^# version ([^ ]+)")
    set(version "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^Z ([^ ]+)")
    list(APPEND names "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^L [^ ]+ ([^ ]+)")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT names OR version STREQUAL "")
  message(FATAL_ERROR "${ZONEINFO}/tzdata.zi names no zones or no version")
endif()

set(all "")
set(size 0)
set(entries "")
foreach(name IN LISTS names)
  if(NOT name MATCHES "^[A-Za-z0-9_+-]+(/[A-Za-z0-9_+-]+)*$")
    message(FATAL_ERROR "Unexpected zone name ${name} in ${ZONEINFO}/tzdata.zi")
  endif()
  carried_form("${ZONEINFO}/${name}" form)
  string(SHA256 key "${form}")
  if(NOT DEFINED offset_${key})
    set(offset_${key} ${size})
    string(LENGTH "${form}" length)
    math(EXPR length_${key} "${length} / 2")
    math(EXPR size "${size} + ${length_${key}}")
    string(APPEND all "${form}")
  endif()
  string(APPEND entries "    {\"${name}\", ${offset_${key}}, ${length_${key}}},\n")
endforeach()

string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${all}")
string(REGEX REPLACE "((0x..,){20})" "\\1\n" bytes "${bytes}")
list(LENGTH names count)
file(WRITE "${OUTPUT}.new" "// Made by cmake/zone_table.cmake from the zone files of tzdata ${version}.
#include <array>

#include \"time/carried_zones.h\"

namespace quenthar {
namespace {

constexpr std::array<CarriedZone, ${count}> kZones = {{
${entries}}};

constexpr std::array<std::uint8_t, ${size}> kBytes = {{
${bytes}}};

}  // namespace

std::span<const CarriedZone> CarriedZones() { return kZones; }
std::span<const std::uint8_t> CarriedZoneBytes() { return kBytes; }
std::string_view CarriedZonesVersion() { return \"${version}\"; }

}  // namespace quenthar
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
