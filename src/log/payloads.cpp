#include "log/payloads.h"

namespace quenthar {
namespace {

template <typename Record>
std::optional<Record> ReadFixedPart(EntryCursor& payload) {
  Record record{};
  if (!ReadRecord(payload, record)) return std::nullopt;
  return record;
}

// A decoder's value, or the mark of a payload too short for it.
template <typename Value>
Payload Decoded(const std::optional<Value>& value) {
  if (!value) return PayloadTooShort{};
  return *value;
}

}  // namespace

std::optional<InitPayload> DecodeInitEntry(EntryCursor& payload) {
  const auto e = ReadFixedPart<InitEntry>(payload);
  if (!e) return std::nullopt;
  return InitPayload{e->values};
}

std::optional<LaunchPayload> DecodeLaunchEntry(EntryCursor& payload) {
  const auto e = ReadFixedPart<LaunchEntry>(payload);
  if (!e) return std::nullopt;
  // The path is the rest of the payload: the payload cursor already ends
  // Size - 40 bytes in, or where the loaded bytes end.
  const ScannedText path = ScanUtf16Le(payload.position, Remaining(payload));
  SkipClamped(payload, Remaining(payload));
  return LaunchPayload{e->start, e->guid, path.text};
}

std::optional<ReturnPayload> DecodeReturnEntry(EntryCursor& payload) {
  const auto e = ReadFixedPart<ReturnEntry>(payload);
  if (!e) return std::nullopt;
  return ReturnPayload{e->guid};
}

std::optional<U50Payload> DecodeU50Entry(EntryCursor& payload) {
  const auto e = ReadFixedPart<U50Entry>(payload);
  if (!e) return std::nullopt;
  // The strings are read in place, where they lie.
  return U50Payload{payload.position, payload.end, e->count};
}

Payload DecodeInitPayload(EntryCursor& payload) { return Decoded(DecodeInitEntry(payload)); }
Payload DecodeLaunchPayload(EntryCursor& payload) { return Decoded(DecodeLaunchEntry(payload)); }
Payload DecodeReturnPayload(EntryCursor& payload) { return Decoded(DecodeReturnEntry(payload)); }
Payload DecodeU50Payload(EntryCursor& payload) { return Decoded(DecodeU50Entry(payload)); }

}  // namespace quenthar
