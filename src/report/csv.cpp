#include "report/csv.h"

#include "report/text_forms.h"

namespace quenthar {
namespace {

enum Column {
  kSource,
  kRecord,
  kOffset,
  kBoot,
  kBootTimestamp,
  kTime,
  kGuid,
  kSize,
  kSeverity,
  kSeverityName,
  kId,
  kEvent,
  kStart,
  kAppGuid,
  kPath,
  kTimestamp,
  kStrings,
  kProblem,
  kVersion,
  kHeaderSize,
  kDataSize,
  kDataSizeExceedsFile,
  kReason,
  kPayload,
  kColumns,
};

constexpr std::string_view kHeaderRow =
    "source,record,offset,boot,boot_timestamp,time,guid,size,severity,severity_name,id,event,start,"
    "app_guid,path,"
    "timestamp,strings,problem,version,header_size,data_size,data_size_exceeds_file,reason,"
    "payload\r\n";

// A row written cell by cell, left to right; the cells not named stay empty.
class Row {
 public:
  Row(Output& out, const std::string& source_cell, std::string_view record) : out_(out) {
    out_.Put(source_cell);
    At(kRecord);
    out_.Put(record);
  }

  /// Ends the row after its last column.
  void End() {
    At(kColumns - 1);
    out_.Put("\r\n");
  }

  /// Moves to column c, which lies right of every cell written so far.
  Output& At(int c) {
    for (; column_ < c; ++column_) out_.Put(",");
    return out_;
  }

 private:
  Output& out_;
  int column_ = kSource;
};

// A text cell, quoted only when it holds a comma, a double quote, CR or LF.
// Text from outside (the log or the command line) that a spreadsheet would
// take for a formula gets a leading apostrophe.
void PutTextCell(Output& out, std::string_view text, bool from_outside) {
  const bool formula = from_outside && !text.empty() &&
                       std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quoted) out.Put("\"");
  if (formula) out.Put("'");
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t quote = text.find('"', at);
    if (quote == std::string_view::npos) {
      out.Put(text.substr(at));
      break;
    }
    out.Put(text.substr(at, quote + 1 - at));
    out.Put("\"");
    at = quote + 1;
  }
  if (quoted) out.Put("\"");
}

void AppendUtf8(std::string& into, const Utf16View& text) {
  const std::size_t at = into.size();
  into.resize(at + kMaxUtf8PerUnit * text.units);
  char* begin = into.data() + at;
  into.resize(at + static_cast<std::size_t>(EncodeUtf8(text, begin) - begin));
}

// The payload's cells.
struct PayloadCells {
  Row& row;
  const EventKind* event;
  std::string& scratch;

  void operator()(const NoPayload& /*none*/) const {}

  void operator()(const PayloadTooShort& /*too_short*/) const {
    PutTextCell(row.At(kProblem), event->problem, false);
  }

  void operator()(const InitPayload& p) const { PutIsoTimestamp(row.At(kTimestamp), p); }

  void operator()(const LaunchPayload& p) const {
    row.At(kStart).PutDecimal(p.start);
    row.At(kAppGuid).Put(FormatGuidLowercase(p.app_guid));
    scratch.clear();
    AppendUtf8(scratch, p.path);
    PutTextCell(row.At(kPath), scratch, true);
  }

  void operator()(const ReturnPayload& p) const {
    row.At(kAppGuid).Put(FormatGuidLowercase(p.app_guid));
  }

  // Joined with " | ": JSON Lines keeps the strings apart without loss.
  void operator()(const U50Payload& p) const {
    scratch.clear();
    bool first = true;
    p.ForEachString([this, &first](const Utf16View& s) {
      if (!first) scratch += " | ";
      first = false;
      AppendUtf8(scratch, s);
    });
    PutTextCell(row.At(kStrings), scratch, true);
  }
};

}  // namespace

void WriteCsvHeader(Output& out) { out.Put(kHeaderRow); }

std::string CsvSourceCell(std::string_view source) {
  Output cell;
  PutTextCell(cell, source, true);
  return std::string(cell.Text());
}

void WriteCsv(Output& out, const std::string& source_cell, const HeaderRecord& record) {
  const LogHeader& h = record.header;
  Row row(out, source_cell, "header");
  row.At(kOffset).PutUnsigned(record.offset);
  row.At(kVersion).PutUnsigned(h.ver);
  row.At(kHeaderSize).PutUnsigned(h.hdr_size);
  row.At(kDataSize).PutUnsigned(h.data_size);
  row.At(kDataSizeExceedsFile).Put(record.data_size_exceeds_file ? "true" : "false");
  row.End();
}

void WriteCsv(Output& out, const std::string& source_cell, const EntryRecord& record,
              std::string& scratch) {
  const EntryHeader& h = record.header;
  Row row(out, source_cell, "entry");
  row.At(kOffset).PutUnsigned(record.offset);
  row.At(kBoot).PutUnsigned(record.boot->number);
  if (record.boot->date_time) PutIsoTimestamp(row.At(kBootTimestamp), *record.boot->date_time);
  row.At(kTime).PutDecimal(h.time);
  row.At(kGuid).Put(FormatGuidLowercase(h.guid));
  row.At(kSize).PutUnsigned(h.size);
  row.At(kSeverity).PutUnsigned(h.severity);
  row.At(kSeverityName).Put(SeverityName(h.severity));
  row.At(kId).PutDecimal(static_cast<std::int32_t>(h.id));
  if (record.event != nullptr) {
    row.At(kEvent).Put(record.event->name);
    std::visit(PayloadCells{row, record.event, scratch}, record.payload);
  }
  row.At(kPayload).PutHexBytes(record.stepped_payload, record.stepped_payload_length);
  row.End();
}

void WriteCsv(Output& out, const std::string& source_cell, const EndRecord& record) {
  Row row(out, source_cell, "end");
  row.At(kOffset).PutUnsigned(record.offset);
  row.At(kReason).Put(ReasonName(record.reason));
  row.End();
}

void WriteCsv(Output& out, const std::string& source_cell, Problem problem) {
  WriteCsvError(out, source_cell, TextOf(problem).problem);
}

void WriteCsvError(Output& out, const std::string& source_cell, std::string_view problem) {
  Row row(out, source_cell, "error");
  PutTextCell(row.At(kProblem), problem, false);
  row.End();
}

}  // namespace quenthar
