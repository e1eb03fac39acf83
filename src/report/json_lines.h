// JSON Lines: one compact object per record, UTF-8, each ended by "\n".
// Every string escapes the control characters (C0, DEL and C1) and the line
// separators U+2028 and U+2029: the same bytes go to a file and to a
// terminal, which no text of the evidence reaches raw.
#pragma once

#include <string>
#include <string_view>

#include "log/image_records.h"
#include "log/log_records.h"
#include "report/local_clock.h"
#include "report/output.h"

namespace quenthar {

/// What every object of one log starts with: its source (the path as given,
/// UTF-8) and the "record" key, up to the record's name.
std::string JsonSourcePrefix(std::string_view source);

void WriteJson(Output& out, const std::string& prefix, const HeaderRecord& record);
/// An entry; its boot's date and time, and a LogInit's, with their offset
/// where the clock's zone is known.
void WriteJson(Output& out, const std::string& prefix, const EntryRecord& record,
               LocalClock& clock);
void WriteJson(Output& out, const std::string& prefix, const EndRecord& record);
/// An error record.
void WriteJsonError(Output& out, const std::string& prefix, std::string_view problem);

/// The records of the image search: where a log lies (with its log's prefix),
/// and what the search of a volume saw.
void WriteJson(Output& out, const std::string& prefix, const LogLocation& log, LocalClock& clock);
void WriteJson(Output& out, const VolumeRecord& volume);
void WriteJson(Output& out, const ImageRecord& image);

/// The Timesketch form: a JSON line for each entry alone, that Timesketch
/// takes as it is. Its `message` (the event and what its payload tells),
/// `datetime` (the boot's start in UTC; where the firmware clock's zone is
/// not known its reading is taken for UTC; an entry with no boot's start
/// gets the epoch) and `timestamp_desc` (which clock, and why a time is
/// missing), then the log's provenance and the entry's keys.

/// The provenance of a log's lines: its source (UTF-8), and its image,
/// partition_offset, partition, store and sha256 (null for a loose log).
std::string TimesketchProvenance(std::string_view source, const LogLocation* log);

void WriteTimesketch(Output& out, const std::string& provenance, const EntryRecord& record,
                     LocalClock& clock, std::string& scratch);

}  // namespace quenthar
