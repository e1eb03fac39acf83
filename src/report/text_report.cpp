#include "report/text_report.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace quenthar {
namespace {

// The report's own messages, as it prints them, line ends and all.
struct TooShortReport {
  std::uint32_t id;
  std::string_view report;
};

// A payload too short for its event's layout, by event ID. "Invliad" is the
// report's own spelling, kept on purpose: stored reports and the scripts that
// read them match it.
constexpr TooShortReport kTooShortTexts[] = {{1, "Invliad InitEntry\n"},
                                             {17, "Invalid LaunchEntry\n"},
                                             {18, "Invalid ReturnEntry\n"},
                                             {50, "Invalid U50Entry\n"}};

// Each problem, in Problem's order.
constexpr std::string_view kProblemTexts[] = {
    "can't open input file\n",
    "Invalid size, must be 67584",
    "can't open output file\n",
    "Can't read header",
    "Can't read data",
    "No log found\n",
    "Segment files of the image are missing or damaged\n",
};
static_assert(std::size(kProblemTexts) == std::size(kProblemNames));

std::string_view TooShortText(std::uint32_t id) {
  for (const auto& t : kTooShortTexts) {
    if (t.id == id) return t.report;
  }
  return {};
}

// "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\n"
void ReportInitEntry(Output& out, const InitPayload& p) {
  const auto two_digits = [&out](std::string_view before, std::uint16_t value) {
    out.Put(before);
    out.PutZeroFilled(value, 2);
  };
  const auto& v = p.date_time;
  out.PutZeroFilled(v[0], 4);
  two_digits("-", v[1]);
  two_digits("-", v[2]);
  two_digits(" ", v[3]);
  two_digits(":", v[4]);
  two_digits(":", v[5]);
  out.Put("\n");
}

// "Start=%d,GUID=%s" then "Path=%s\n": nothing between the GUID and "Path=".
void ReportLaunchEntry(Output& out, const LaunchPayload& p, TextEncoding encoding) {
  out.Put("Start=");
  out.PutDecimal(p.start);
  out.Put(",GUID=");
  out.Put(FormatGuid(p.app_guid));
  out.Put("Path=");
  PutLogText(out, p.path, encoding);
  out.Put("\n");
}

// "GUID=%s\n"
void ReportReturnEntry(Output& out, const ReturnPayload& p) {
  out.Put("GUID=");
  out.Put(FormatGuid(p.app_guid));
  out.Put("\n");
}

// "%s," for each string, then "\n".
template <TextEncoding kEncoding>
void ReportU50Strings(Output& out, const U50Payload& p) {
  p.ForEachString([&out](const Utf16View& s) {
    PutLogText(out, s, kEncoding);
    out.Put(",");
  });
  out.Put("\n");
}

// The encoding is chosen once, not for each string of a packed entry.
void ReportU50Entry(Output& out, const U50Payload& p, TextEncoding encoding) {
  if (encoding == TextEncoding::kNarrow) return ReportU50Strings<TextEncoding::kNarrow>(out, p);
  ReportU50Strings<TextEncoding::kUtf8Escaped>(out, p);
}

// The text each payload ends the entry's line with.
struct PayloadText {
  Output& out;
  const EventKind& event;
  TextEncoding encoding;

  void operator()(const NoPayload& /*none*/) const {}  // IDs 19 to 22: no line end
  void operator()(const PayloadTooShort& /*too_short*/) const { out.Put(TooShortText(event.id)); }
  void operator()(const InitPayload& p) const { ReportInitEntry(out, p); }
  void operator()(const LaunchPayload& p) const { ReportLaunchEntry(out, p, encoding); }
  void operator()(const ReturnPayload& p) const { ReportReturnEntry(out, p); }
  void operator()(const U50Payload& p) const { ReportU50Entry(out, p, encoding); }
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
  if (record.reason != WalkEnd::kShortTail) return;
  out.Put("Invalid Hdr,pos=");
  out.PutDecimal(record.position);
}

void ReportProblem(Output& out, Problem problem) {
  out.Put(kProblemTexts[static_cast<std::size_t>(problem)]);
}

}  // namespace quenthar
