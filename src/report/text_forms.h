// The text forms every printed piece goes through: GUID text, and the log's
// UTF-16 text as the output needs it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "log/image_records.h"
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
/// zero-filled numbers as the report's "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d",
/// then its UTC offset where the clock's zone is known ("+01:00").
void PutIsoTimestamp(Output& out, const InitPayload& date_time,
                     std::optional<std::int32_t> offset = std::nullopt);

/// A moment as "YYYY-MM-DDThh:mm:ss" (the proleptic Gregorian calendar, any
/// year the count reaches), then "Z" for UTC, "+hh:mm" for a known offset,
/// ("+hh:mm:ss" for one of seconds, as some zones had before 1900)
/// nothing for a local time of a zone not known.
void PutMoment(Output& out, const Moment& moment);

/// How the report writes the log's text: narrow, as a file or pipe gets it,
/// or, for a terminal (a console on Windows), UTF-8 with every control
/// character escaped, so that no text of the evidence steers the terminal.
enum class TextEncoding { kNarrow, kUtf8Escaped };

/// Puts the UTF-8 form of the log's text.
inline void PutUtf8(Output& out, const Utf16View& text) {
  char* at = out.Reserve(kMaxUtf8PerUnit * text.units);
  out.Commit(static_cast<std::size_t>(EncodeUtf8(text, at) - at));
}

/// Puts the narrow text of the log's text as "%s" prints it: "(null)" when it
/// cannot be had.
void PutNarrowText(Output& out, const Utf16View& text);

/// Whether a terminal may act on c: a C0 control character (TAB, CR and LF
/// too), DEL, or a C1 one (U+0080 to U+009F).
constexpr bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

/// Most bytes escaped text takes per UTF-16 unit ("\u009b"), and per byte of
/// UTF-8 ("\x1b").
inline constexpr std::size_t kMaxEscapedPerUnit = 6;
inline constexpr std::size_t kMaxEscapedPerByte = 4;

/// Writes the text at out as UTF-8, each control character as an escape that
/// a terminal shows as it is: "\x1b" for C0 and DEL, "\u009b" for C1, in
/// lowercase. A backslash stays as it is (paths are full of them), so the
/// escaping is for reading and cannot be undone. Returns the end. The log's
/// text needs room for kMaxEscapedPerUnit bytes per unit (an unpaired
/// surrogate becomes U+FFFD); UTF-8 text kMaxEscapedPerByte per byte (a byte
/// outside well-formed UTF-8 becomes U+FFFD).
char* EncodeEscaped(const Utf16View& text, char* out);
char* EncodeEscaped(std::string_view utf8, char* out);

/// Puts the text escaped as EncodeEscaped writes it.
void PutEscaped(Output& out, const Utf16View& text);
void PutEscaped(Output& out, std::string_view utf8);

/// Puts the log's text in the encoding asked for. Where narrow text is UTF-8,
/// it is made in place, without the platform's call.
inline void PutLogText(Output& out, const Utf16View& text, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8Escaped) return PutEscaped(out, text);
  if (platform::kNarrowIsUtf8) return PutUtf8(out, text);
  PutNarrowText(out, text);
}

}  // namespace quenthar
