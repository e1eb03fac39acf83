// The plain-text report: comma-separated name=value pieces, byte for byte as
// the tool has always printed them.
#pragma once

#include "log/log_records.h"
#include "report/output.h"
#include "report/problems.h"
#include "report/text_forms.h"

namespace quenthar {

/// "Ver=%x,HdrSize=%x, DataSize=%x\n", and "Invalid data size\n" after it
/// when DataSize exceeds the file.
void ReportLogHeader(Output& out, const HeaderRecord& record);

/// The entry's time, GUID, severity and event name, then its payload's text:
/// the date, launch or return values or strings and a line end, the payload's
/// message when it is too short, nothing more for IDs 19 to 22 (so the next
/// entry follows on the same line), or the unnamed ID and a line end.
void ReportEntry(Output& out, const EntryRecord& record, TextEncoding encoding);

/// "Invalid Hdr,pos=%d" for a short tail; a walk that ended otherwise adds nothing.
void ReportEnd(Output& out, const EndRecord& record);

/// The problem's message.
void ReportProblem(Output& out, Problem problem);

}  // namespace quenthar
