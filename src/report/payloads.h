// Decoders of the payloads whose layout is known. Each continues the entry's
// line and ends it. Each first checks that the payload holds its fixed part;
// when it does not, it puts its message ("Invliad InitEntry\n",
// "Invalid LaunchEntry\n", ...) and returns kStop, which ends the walk.
#pragma once

#include <cstdint>

#include "log/entry_cursor.h"
#include "report/output.h"

namespace quenthar {

/// ID 1: the date and time, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\n".
int ReportInitEntry(Output& out, EntryCursor& payload, std::int64_t payload_length);

/// ID 17: "Start=%d,GUID=%s" then "Path=%s\n"; the path is the rest of the
/// payload up to its first NUL unit.
int ReportLaunchEntry(Output& out, EntryCursor& payload, std::int64_t payload_length);

/// ID 18: "GUID=%s\n".
int ReportReturnEntry(Output& out, EntryCursor& payload, std::int64_t payload_length);

/// ID 50: "%s," for each of Count strings, then "\n". Takes no more strings
/// once fewer than 2 payload bytes remain, so a huge Count ends with the payload.
int ReportU50Entry(Output& out, EntryCursor& payload, std::int64_t payload_length);

}  // namespace quenthar
