// CSV (RFC 4180): one header row per run, one row per record, UTF-8, rows
// ended by CR LF. With `terminal` (standard output is a terminal) every text
// cell has its control characters escaped (text_forms.h), so that no text of
// the evidence reaches it raw; otherwise every value is exact.
#pragma once

#include <string>
#include <string_view>

#include "log/image_records.h"
#include "log/log_records.h"
#include "report/local_clock.h"
#include "report/output.h"

namespace quenthar {

/// The header row.
void WriteCsvHeader(Output& out);

/// The source cell (the path as given, UTF-8) that starts every row of one log.
std::string CsvSourceCell(std::string_view source, bool terminal);

/// Rows; `scratch` holds a cell's text while it is put together. A header or
/// an end row holds no text beyond its source cell.
void WriteCsv(Output& out, const std::string& source_cell, const HeaderRecord& record,
              std::string& scratch);
/// An entry's row: its boot's date and time, and a LogInit's, with their
/// offset where the clock's zone is known.
void WriteCsv(Output& out, const std::string& source_cell, const EntryRecord& record,
              std::string& scratch, bool terminal, LocalClock& clock);
void WriteCsv(Output& out, const std::string& source_cell, const EndRecord& record,
              std::string& scratch);
void WriteCsvError(Output& out, const std::string& source_cell, std::string_view problem,
                   std::string& scratch, bool terminal);
/// The row of an image's account; its text cells hold only fixed words.
void WriteCsv(Output& out, const std::string& source_cell, const ImageRecord& image,
              std::string& scratch);
/// The row of a store's log whose bytes were reported before: its `same_as`.
void WriteCsvCopy(Output& out, const std::string& source_cell, const LogLocation& log,
                  std::string& scratch, bool terminal);

}  // namespace quenthar
