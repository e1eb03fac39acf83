#include "report/entry_line.h"

#include <cstdio>

#include "log/walk.h"
#include "report/payloads.h"
#include "report/text_forms.h"

namespace quenthar {
namespace {

const char* SeverityName(std::uint32_t severity) {
  switch (severity) {
    case 1: return "Information,";
    case 3: return "Error,";
    default: return "Unknown,";
  }
}

using Decoder = int (*)(EntryCursor& payload, std::int64_t payload_length);

struct EventKind {
  std::uint32_t id;
  const char* name;
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

int ReportEntry(const EntryHeader& header, const EntryCursor& walk, std::int64_t payload_length,
                const std::uint8_t* loaded_end) {
  std::printf("Time=%d,GUID=%s,Severity=%sID=", static_cast<int>(header.time),
              PrintableText(GuidText(header.guid)), SeverityName(header.severity));
  EntryCursor payload = PayloadCursor(walk, payload_length, loaded_end);
  for (const EventKind& kind : kEvents) {
    if (kind.id != header.id) continue;
    std::printf("%s", kind.name);
    return kind.decoder ? kind.decoder(payload, payload_length) : kGoOn;
  }
  std::printf("%d\n", static_cast<int>(header.id));
  return kGoOn;
}

}  // namespace quenthar
