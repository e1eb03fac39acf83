// The payloads whose layout is known, decoded into plain values. A decoder
// first checks that the payload holds its fixed part; when it does not, it
// says so (PayloadTooShort) and leaves the cursor alone. Text stays a view of the
// loaded bytes.
#pragma once

#include <array>
#include <cstdint>
#include <variant>

#include "log/entry_cursor.h"
#include "log/records.h"
#include "text/utf16.h"

namespace quenthar {

/// ID 1: year, month, day, hour, minute and second, as stored.
struct InitPayload {
  std::array<std::uint16_t, 6> date_time;
};

/// ID 17.
struct LaunchPayload {
  std::int32_t start;
  Guid app_guid;
  Utf16View path;  // the rest of the payload, up to its first NUL unit
};

/// ID 18.
struct ReturnPayload {
  Guid app_guid;
};

/// ID 50: up to `count` NUL-ended strings back to back in [at, end). No string
/// is taken once fewer than 2 bytes remain, so a huge count ends with the payload.
struct U50Payload {
  const std::uint8_t* at;
  const std::uint8_t* end;
  std::uint32_t count;

  template <typename Visit>
  void ForEachString(Visit&& visit) const {
    const std::uint8_t* p = at;
    for (std::uint32_t i = 0; i < count && end - p >= 2; ++i) {
      const ScannedText s = ScanUtf16Le(p, static_cast<std::size_t>(end - p));
      visit(s.text);
      p += s.span;
    }
  }
};

/// An ID without a payload layout.
struct NoPayload {};
/// A payload too short for its layout's fixed part; the walk stops there.
struct PayloadTooShort {};

using Payload =
    std::variant<NoPayload, PayloadTooShort, InitPayload, LaunchPayload, ReturnPayload, U50Payload>;

/// The decoders of the four layouts, given the payload's cursor: the value,
/// or PayloadTooShort when the payload does not hold the fixed part.
Payload DecodeInitPayload(EntryCursor& payload);
Payload DecodeLaunchPayload(EntryCursor& payload);
Payload DecodeReturnPayload(EntryCursor& payload);
Payload DecodeU50Payload(EntryCursor& payload);

}  // namespace quenthar
