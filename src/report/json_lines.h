// JSON Lines: one compact object per record, UTF-8, each ended by "\n".
// Every string escapes the control characters (C0, DEL and C1) and the line
// separators U+2028 and U+2029: the same bytes go to a file and to a
// terminal, which no text of the evidence reaches raw.
#pragma once

#include <string>
#include <string_view>

#include "log/image_records.h"
#include "log/log_records.h"
#include "report/output.h"

namespace quenthar {

/// What every object of one log starts with: its source (the path as given,
/// UTF-8) and the "record" key, up to the record's name.
std::string JsonSourcePrefix(std::string_view source);

void WriteJson(Output& out, const std::string& prefix, const HeaderRecord& record);
void WriteJson(Output& out, const std::string& prefix, const EntryRecord& record);
void WriteJson(Output& out, const std::string& prefix, const EndRecord& record);
/// An error record.
void WriteJsonError(Output& out, const std::string& prefix, std::string_view problem);

/// The records of the image search: where a log lies (with its log's prefix),
/// and what the search of a volume saw.
void WriteJson(Output& out, const std::string& prefix, const LogLocation& log);
void WriteJson(Output& out, const VolumeRecord& volume);
void WriteJson(Output& out, const ImageRecord& image);

}  // namespace quenthar
