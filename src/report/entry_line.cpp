#include "report/entry_line.h"

#include <string_view>

#include "log/walk.h"
#include "report/payloads.h"
#include "report/text_forms.h"

namespace quenthar {
namespace {

std::string_view SeverityName(std::uint32_t severity) {
  switch (severity) {
    case 1: return "Information,";
    case 3: return "Error,";
    default: return "Unknown,";
  }
}

using Decoder = int (*)(Output& out, EntryCursor& payload, std::int64_t payload_length);

struct EventKind {
  std::uint32_t id;
  std::string_view name;
  Decoder decoder;  // nullptr: the entry's text ends with its name, with no line end
};

constexpr EventKind kEvents[] = {
    {1, "LogInit,", ReportInitEntry},
    {17, "BootApp Launch,", ReportLaunchEntry},
    {18, "BootApp return,", ReportReturnEntry},
    {19, "BootApp load failed,", nullptr},
    {20, "BCD Failure,", nullptr},
    {21, "No Valid Entry,", nullptr},
    {22, "General Failure,", nullptr},
    {50, "50Error,", ReportU50Entry},
};

EntryCursor PayloadCursor(const EntryCursor& walk, std::int64_t payload_length,
                          const std::uint8_t* loaded_end) {
  const auto loaded = static_cast<std::uint64_t>(loaded_end - walk.position);
  const std::uint64_t wanted = payload_length < 0 ? 0 : static_cast<std::uint64_t>(payload_length);
  return MakeCursor(walk.position, walk.position + (wanted < loaded ? wanted : loaded));
}

}  // namespace

int ReportEntry(Output& out, const EntryHeader& header, const EntryCursor& walk,
                std::int64_t payload_length, const std::uint8_t* loaded_end) {
  out.Put("Time=");
  out.PutDecimal(header.time);
  out.Put(",GUID=");
  out.Put(FormatGuid(header.guid));
  out.Put(",Severity=");
  out.Put(SeverityName(header.severity));
  out.Put("ID=");
  EntryCursor payload = PayloadCursor(walk, payload_length, loaded_end);
  for (const EventKind& kind : kEvents) {
    if (kind.id != header.id) continue;
    out.Put(kind.name);
    return kind.decoder ? kind.decoder(out, payload, payload_length) : kGoOn;
  }
  out.PutDecimal(static_cast<std::int32_t>(header.id));
  out.Put("\n");
  return kGoOn;
}

void ReportEntries(Output& out, EntryCursor region, const std::uint8_t* loaded_end) {
  const WalkEnd end = WalkEntries(
      region, [&out, loaded_end](const EntryHeader& header, const EntryCursor& at_payload,
                                 std::int64_t payload_length) {
        return ReportEntry(out, header, at_payload, payload_length, loaded_end);
      });
  if (end == WalkEnd::kShortTail) {
    out.Put("Invalid Hdr,pos=");
    out.PutDecimal(OffsetOf(region));
  }
}

}  // namespace quenthar
