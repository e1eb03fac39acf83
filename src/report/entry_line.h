// The report line of one entry, and the report of all entries of a region.
#pragma once

#include <cstdint>

#include "log/entry_cursor.h"
#include "log/records.h"
#include "report/output.h"

namespace quenthar {

/// Puts the entry's common fields, severity and event name, then hands the
/// payload to the decoder of its ID. The payload cursor starts at the walk
/// cursor's position and spans payload_length bytes, clipped at loaded_end
/// (the end of the bytes loaded from the file, which may lie past the walk's
/// region); a negative payload_length gives no payload bytes. The walk cursor
/// is not moved. Returns kGoOn, or kStop when a decoder finds its payload too short.
int ReportEntry(Output& out, const EntryHeader& header, const EntryCursor& walk,
                std::int64_t payload_length, const std::uint8_t* loaded_end);

/// Reports every entry of the region; a tail too short for an entry header
/// (the empty region too) ends the report with "Invalid Hdr,pos=%d", its
/// offset from region.begin.
void ReportEntries(Output& out, EntryCursor region, const std::uint8_t* loaded_end);

}  // namespace quenthar
