#include "report/payloads.h"

#include <cstdio>

#include "log/records.h"
#include "log/walk.h"
#include "report/text_forms.h"

namespace quenthar {
namespace {

// Copies out the decoder's fixed part, or prints its message when the payload
// is too short for it.
template <typename Record>
bool ReadFixedPart(EntryCursor& payload, Record& out, const char* message) {
  if (ReadRecord(payload, out)) return true;
  std::printf("%s", message);
  return false;
}

}  // namespace

int ReportInitEntry(EntryCursor& payload, std::int64_t /*payload_length*/) {
  InitEntry e{};
  if (!ReadFixedPart(payload, e, "Invliad InitEntry\n")) return kStop;
  const auto& v = e.values;
  std::printf("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\n", int{v[0]}, int{v[1]}, int{v[2]}, int{v[3]},
              int{v[4]}, int{v[5]});
  return kGoOn;
}

int ReportLaunchEntry(EntryCursor& payload, std::int64_t /*payload_length*/) {
  LaunchEntry e{};
  if (!ReadFixedPart(payload, e, "Invalid LaunchEntry\n")) return kStop;
  std::printf("Start=%d,GUID=%s", static_cast<int>(e.start), PrintableText(GuidText(e.guid)));

  // The path is the rest of the payload: the payload cursor already ends
  // payload_length bytes in, or where the loaded bytes end.
  const Utf16Text path = DecodeUtf16Le(payload.position, Remaining(payload));
  SkipClamped(payload, Remaining(payload));
  std::printf("Path=%s\n", PrintableText(ToNarrowText(path.units)));
  return kGoOn;
}

int ReportReturnEntry(EntryCursor& payload, std::int64_t /*payload_length*/) {
  ReturnEntry e{};
  if (!ReadFixedPart(payload, e, "Invalid ReturnEntry\n")) return kStop;
  std::printf("GUID=%s\n", PrintableText(GuidText(e.guid)));
  return kGoOn;
}

int ReportU50Entry(EntryCursor& payload, std::int64_t /*payload_length*/) {
  U50Entry e{};
  if (!ReadFixedPart(payload, e, "Invalid U50Entry\n")) return kStop;
  for (std::uint32_t i = 0; i < e.count && Remaining(payload) >= 2; ++i) {
    const Utf16Text s = DecodeUtf16Le(payload.position, Remaining(payload));
    std::printf("%s,", PrintableText(ToNarrowText(s.units)));
    SkipClamped(payload, s.span);
  }
  std::printf("\n");
  return kGoOn;
}

}  // namespace quenthar
