#include "log/payloads.h"

namespace quenthar {

Payload DecodeInitPayload(EntryCursor& payload) {
  InitEntry e{};
  if (!ReadRecord(payload, e)) return PayloadTooShort{};
  return InitPayload{e.values};
}

Payload DecodeLaunchPayload(EntryCursor& payload) {
  LaunchEntry e{};
  if (!ReadRecord(payload, e)) return PayloadTooShort{};
  // The path is the rest of the payload: the payload cursor already ends
  // Size - 40 bytes in, or where the loaded bytes end.
  const ScannedText path = ScanUtf16Le(payload.position, Remaining(payload));
  return LaunchPayload{e.start, e.guid, path.text};
}

Payload DecodeReturnPayload(EntryCursor& payload) {
  ReturnEntry e{};
  if (!ReadRecord(payload, e)) return PayloadTooShort{};
  return ReturnPayload{e.guid};
}

Payload DecodeU50Payload(EntryCursor& payload) {
  U50Entry e{};
  if (!ReadRecord(payload, e)) return PayloadTooShort{};
  // The strings are read in place, where they lie.
  return U50Payload{payload.position, payload.end, e.count};
}

}  // namespace quenthar
