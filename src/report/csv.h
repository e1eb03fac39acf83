// CSV (RFC 4180): one header row per run, one row per record, UTF-8, rows
// ended by CR LF.
#pragma once

#include <string>
#include <string_view>

#include "log/log_records.h"
#include "report/output.h"

namespace quenthar {

/// The header row.
void WriteCsvHeader(Output& out);

/// The source cell (the path as given, UTF-8) that starts every row of one log.
std::string CsvSourceCell(std::string_view source);

/// Rows; `scratch` holds a cell's text while it is put together.
void WriteCsv(Output& out, const std::string& source_cell, const HeaderRecord& record,
              std::string& scratch);
void WriteCsv(Output& out, const std::string& source_cell, const EntryRecord& record,
              std::string& scratch);
void WriteCsv(Output& out, const std::string& source_cell, const EndRecord& record,
              std::string& scratch);
void WriteCsvError(Output& out, const std::string& source_cell, std::string_view problem,
                   std::string& scratch);

}  // namespace quenthar
