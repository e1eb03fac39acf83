#include "report/payloads.h"

#include <string_view>

#include "log/records.h"
#include "log/walk.h"
#include "report/text_forms.h"

namespace quenthar {
namespace {

// Copies out the decoder's fixed part, or puts its message when the payload
// is too short for it.
template <typename Record>
bool ReadFixedPart(Output& out, EntryCursor& payload, Record& record, std::string_view message) {
  if (ReadRecord(payload, record)) return true;
  out.Put(message);
  return false;
}

}  // namespace

int ReportInitEntry(Output& out, EntryCursor& payload, std::int64_t /*payload_length*/) {
  InitEntry e{};
  if (!ReadFixedPart(out, payload, e, "Invliad InitEntry\n")) return kStop;
  // "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\n"
  const auto two_digits = [&out](std::string_view before, std::uint16_t value) {
    out.Put(before);
    out.PutZeroFilled(value, 2);
  };
  const auto& v = e.values;
  out.PutZeroFilled(v[0], 4);
  two_digits("-", v[1]);
  two_digits("-", v[2]);
  two_digits(" ", v[3]);
  two_digits(":", v[4]);
  two_digits(":", v[5]);
  out.Put("\n");
  return kGoOn;
}

int ReportLaunchEntry(Output& out, EntryCursor& payload, std::int64_t /*payload_length*/) {
  LaunchEntry e{};
  if (!ReadFixedPart(out, payload, e, "Invalid LaunchEntry\n")) return kStop;
  out.Put("Start=");
  out.PutDecimal(e.start);
  out.Put(",GUID=");
  out.Put(FormatGuid(e.guid));

  // The path is the rest of the payload: the payload cursor already ends
  // payload_length bytes in, or where the loaded bytes end.
  const Utf16Text path = DecodeUtf16Le(payload.position, Remaining(payload));
  SkipClamped(payload, Remaining(payload));
  out.Put("Path=");
  out.Put(PrintableText(ToNarrowText(path.units)));
  out.Put("\n");
  return kGoOn;
}

int ReportReturnEntry(Output& out, EntryCursor& payload, std::int64_t /*payload_length*/) {
  ReturnEntry e{};
  if (!ReadFixedPart(out, payload, e, "Invalid ReturnEntry\n")) return kStop;
  out.Put("GUID=");
  out.Put(FormatGuid(e.guid));
  out.Put("\n");
  return kGoOn;
}

int ReportU50Entry(Output& out, EntryCursor& payload, std::int64_t /*payload_length*/) {
  U50Entry e{};
  if (!ReadFixedPart(out, payload, e, "Invalid U50Entry\n")) return kStop;
  for (std::uint32_t i = 0; i < e.count && Remaining(payload) >= 2; ++i) {
    const Utf16Text s = DecodeUtf16Le(payload.position, Remaining(payload));
    out.Put(PrintableText(ToNarrowText(s.units)));
    out.Put(",");
    SkipClamped(payload, s.span);
  }
  out.Put("\n");
  return kGoOn;
}

}  // namespace quenthar
