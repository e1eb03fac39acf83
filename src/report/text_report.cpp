#include "report/text_report.h"

#include <string_view>

namespace quenthar {
namespace {

// The text each payload ends the entry's line with.
struct PayloadText {
  Output& out;
  const EventKind& event;
  TextEncoding encoding;

  void operator()(const NoPayload& /*none*/) const {}  // IDs 19 to 22: no line end

  void operator()(const PayloadTooShort& /*too_short*/) const { out.Put(event.too_short); }

  // ReportInitEntry: "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\n"
  void operator()(const InitPayload& p) const {
    const auto& v = p.date_time;
    out.PutZeroFilled(v[0], 4);
    TwoDigits("-", v[1]);
    TwoDigits("-", v[2]);
    TwoDigits(" ", v[3]);
    TwoDigits(":", v[4]);
    TwoDigits(":", v[5]);
    out.Put("\n");
  }

  // ReportLaunchEntry: "Start=%d,GUID=%s" then "Path=%s\n", nothing between
  // the GUID and "Path=".
  void operator()(const LaunchPayload& p) const {
    out.Put("Start=");
    out.PutDecimal(p.start);
    out.Put(",GUID=");
    out.Put(FormatGuid(p.app_guid));
    out.Put("Path=");
    PutLogText(out, p.path, encoding);
    out.Put("\n");
  }

  // ReportReturnEntry: "GUID=%s\n"
  void operator()(const ReturnPayload& p) const {
    out.Put("GUID=");
    out.Put(FormatGuid(p.app_guid));
    out.Put("\n");
  }

  // ReportU50Entry: "%s," for each string, then "\n".
  void operator()(const U50Payload& p) const {
    p.ForEachString([this](const Utf16View& s) {
      PutLogText(out, s, encoding);
      out.Put(",");
    });
    out.Put("\n");
  }

  void TwoDigits(std::string_view before, std::uint16_t value) const {
    out.Put(before);
    out.PutZeroFilled(value, 2);
  }
};

}  // namespace

void ReportLogHeader(Output& out, const HeaderRecord& record) {
  const LogHeader& h = record.header;
  out.Put("Ver=");
  out.PutHex(h.ver);
  out.Put(",HdrSize=");
  out.PutHex(h.hdr_size);
  out.Put(", DataSize=");
  out.PutHex(h.data_size);
  out.Put("\n");
  if (record.data_size_exceeds_file) out.Put("Invalid data size\n");
}

void ReportEntry(Output& out, const EntryRecord& record, TextEncoding encoding) {
  const EntryHeader& h = record.header;
  out.Put("Time=");
  out.PutDecimal(h.time);
  out.Put(",GUID=");
  out.Put(FormatGuid(h.guid));
  out.Put(",Severity=");
  out.Put(SeverityName(h.severity));
  out.Put(",ID=");
  if (record.event == nullptr) {
    out.PutDecimal(static_cast<std::int32_t>(h.id));
    out.Put("\n");
    return;
  }
  out.Put(record.event->name);
  out.Put(",");
  std::visit(PayloadText{out, *record.event, encoding}, record.payload);
}

void ReportEnd(Output& out, const EndRecord& record) {
  if (record.reason != EndReason::kShortTail) return;
  out.Put("Invalid Hdr,pos=");
  out.PutDecimal(record.position);
}

void ReportProblem(Output& out, Problem problem) { out.Put(TextOf(problem).report); }

}  // namespace quenthar
