#include "report/csv.h"

#include <cstddef>

#include "report/fields.h"
#include "report/text_forms.h"
#include "report/visit.h"

namespace quenthar {
namespace {

// A row written cell by cell, left to right; the cells not named stay empty.
class Row {
 public:
  Row(Output& out, const std::string& source_cell, std::string_view record) : out_(out) {
    out_.Put(source_cell);
    At(Key::kRecord);
    out_.Put(record);
  }

  /// Ends the row after its last column.
  void End() {
    At(Key::kPayload);
    out_.Put("\r\n");
  }

  /// Moves to the column of `key`, which lies right of every cell written so
  /// far.
  Output& At(Key key) {
    static constexpr auto kCommas = [] {
      Literal<kCsvColumns> commas;
      for (std::size_t i = 0; i < kCsvColumns; ++i) commas.Append(",");
      return commas;
    }();
    out_.Put(kCommas.View().substr(0, Index(key) - column_));
    column_ = Index(key);
    return out_;
  }

 private:
  Output& out_;
  std::size_t column_ = 0;
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

// Appends the log's text as UTF-8, for a terminal with its control
// characters escaped.
void AppendText(std::string& into, const Utf16View& text, bool terminal) {
  const std::size_t at = into.size();
  into.resize(at + (terminal ? kMaxEscapedPerUnit : kMaxUtf8PerUnit) * text.units);
  char* begin = into.data() + at;
  char* end = terminal ? EncodeEscaped(text, begin) : EncodeUtf8(text, begin);
  into.resize(at + static_cast<std::size_t>(end - begin));
}

// Appends UTF-8 text with its control characters escaped.
void AppendEscaped(std::string& into, std::string_view utf8) {
  const std::size_t at = into.size();
  into.resize(at + kMaxEscapedPerByte * utf8.size());
  char* begin = into.data() + at;
  into.resize(at + static_cast<std::size_t>(EncodeEscaped(utf8, begin) - begin));
}

// Writes each field into its column; a null one leaves its cell empty.
class CsvForm {
 public:
  CsvForm(Output& out, const std::string& source_cell, Kind kind, std::string& scratch,
          bool terminal, LocalClock* clock = nullptr)
      : row_(out, source_cell, KindOf(kind).name),
        scratch_(scratch),
        terminal_(terminal),
        clock_(clock) {}
  ~CsvForm() { row_.End(); }
  CsvForm(const CsvForm&) = delete;
  CsvForm& operator=(const CsvForm&) = delete;

  void Unsigned(Key k, std::uint64_t v) { row_.At(k).PutUnsigned(v); }
  void Signed(Key k, std::int32_t v) { row_.At(k).PutDecimal(v); }
  void Boolean(Key k, bool v) { row_.At(k).Put(v ? "true" : "false"); }
  void Guid(Key k, const quenthar::Guid& guid) { row_.At(k).Put(FormatGuidLowercase(guid)); }
  void Timestamp(Key k, const InitPayload& date_time) {
    PutIsoTimestamp(row_.At(k), date_time,
                    clock_ != nullptr ? clock_->OffsetOf(date_time) : std::nullopt);
  }
  void Time(Key k, const Moment& moment) {
    PutMoment(row_.At(k), clock_ != nullptr ? clock_->Resolve(moment) : moment);
  }
  void Hex(Key k, const std::uint8_t* bytes, std::size_t n) { row_.At(k).PutHexBytes(bytes, n); }
  void Name(Key k, std::string_view name) { row_.At(k).Put(name); }
  // The program's own text, or a library's.
  void Text(Key k, std::string_view text) {
    if (terminal_) {
      scratch_.clear();
      AppendEscaped(scratch_, text);
      text = scratch_;
    }
    PutTextCell(row_.At(k), text, false);
  }
  // The log's text: from outside.
  void Text(Key k, const Utf16View& text) {
    scratch_.clear();
    AppendText(scratch_, text, terminal_);
    PutTextCell(row_.At(k), scratch_, true);
  }
  // Joined with " | ": JSON Lines keeps the strings apart without loss.
  void TextList(Key k, const U50Payload& p) {
    scratch_.clear();
    bool first = true;
    p.ForEachString([this, &first](const Utf16View& s) {
      if (!first) scratch_ += " | ";
      first = false;
      AppendText(scratch_, s, terminal_);
    });
    PutTextCell(row_.At(k), scratch_, true);
  }
  void Null(Key /*k*/) {}
  void Nulls(Key /*first*/, Key /*last*/) {}

 private:
  Row row_;
  std::string& scratch_;
  bool terminal_;
  LocalClock* clock_;  // where a local time's zone may be known
};

}  // namespace

void WriteCsvHeader(Output& out) { out.Put(kCsvHeaderRow.View()); }

std::string CsvSourceCell(std::string_view source, bool terminal) {
  std::string escaped;
  if (terminal) {
    AppendEscaped(escaped, source);
    source = escaped;
  }
  Output cell;
  PutTextCell(cell, source, true);
  return std::string(cell.Text());
}

// A header or an end row holds no text beyond its source cell.
void WriteCsv(Output& out, const std::string& source_cell, const HeaderRecord& record,
              std::string& scratch) {
  CsvForm f(out, source_cell, Kind::kHeader, scratch, false);
  VisitHeader(f, record);
}

void WriteCsv(Output& out, const std::string& source_cell, const EntryRecord& record,
              std::string& scratch, bool terminal, LocalClock& clock) {
  CsvForm f(out, source_cell, Kind::kEntry, scratch, terminal, &clock);
  VisitEntry(f, record);
}

void WriteCsv(Output& out, const std::string& source_cell, const EndRecord& record,
              std::string& scratch) {
  CsvForm f(out, source_cell, Kind::kEnd, scratch, false);
  VisitEnd(f, record);
}

void WriteCsvError(Output& out, const std::string& source_cell, std::string_view problem,
                   std::string& scratch, bool terminal) {
  CsvForm f(out, source_cell, Kind::kError, scratch, terminal);
  VisitError(f, problem);
}

void WriteCsv(Output& out, const std::string& source_cell, const ImageRecord& image,
              std::string& scratch) {
  CsvForm f(out, source_cell, Kind::kImage, scratch, false);
  VisitImage(f, image);
}

void WriteCsvCopy(Output& out, const std::string& source_cell, const LogLocation& log,
                  std::string& scratch, bool terminal) {
  CsvForm f(out, source_cell, Kind::kCopy, scratch, terminal);
  VisitCopy(f, log);
}

}  // namespace quenthar
