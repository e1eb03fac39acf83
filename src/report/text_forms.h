// The text forms every printed piece goes through: GUID text, and the log's
// UTF-16 text as the output needs it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "log/payloads.h"
#include "log/records.h"
#include "platform/platform.h"
#include "report/output.h"
#include "text/utf16.h"

namespace quenthar {

/// The 38 characters of a GUID's text form, without a terminating NUL.
struct GuidText {
  std::array<char, 38> chars;
  operator std::string_view() const { return {chars.data(), chars.size()}; }
};

/// The report's one text form of a GUID:
/// "{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}" (the third group
/// lowercase). It is ASCII, which every narrow code page writes with the same
/// bytes, so it is made narrow directly instead of through ToNarrowText.
GuidText FormatGuid(const Guid& guid);

/// The structured forms' text of a GUID: the same groups, all lowercase, as the
/// boot configuration tools show identifiers.
GuidText FormatGuidLowercase(const Guid& guid);

/// The narrow text of `text` (the thread's ANSI code page on Windows, UTF-8
/// elsewhere), written into `scratch`, which has room for
/// platform::kMaxNarrowPerUnit bytes per unit; nullopt when the text cannot be
/// converted.
std::optional<std::string_view> ToNarrowText(const Utf16View& text, char* scratch);

/// The LogInit date and time as "YYYY-MM-DDThh:mm:ss", from the same
/// zero-filled numbers as the report's "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d".
void PutIsoTimestamp(Output& out, const InitPayload& date_time);

/// How the report writes the log's text: narrow, as a file or pipe gets it, or
/// UTF-8 for a sink that takes every character.
enum class TextEncoding { kNarrow, kUtf8 };

/// Puts the UTF-8 form of the log's text.
inline void PutUtf8(Output& out, const Utf16View& text) {
  char* at = out.Reserve(kMaxUtf8PerUnit * text.units);
  out.Commit(static_cast<std::size_t>(EncodeUtf8(text, at) - at));
}

/// Puts the narrow text of the log's text as "%s" prints it: "(null)" when it
/// cannot be had.
void PutNarrowText(Output& out, const Utf16View& text);

/// Puts the log's text in the encoding asked for. Where narrow text is UTF-8,
/// it is made in place, without the platform's call.
inline void PutLogText(Output& out, const Utf16View& text, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8 || platform::kNarrowIsUtf8) return PutUtf8(out, text);
  PutNarrowText(out, text);
}

}  // namespace quenthar
