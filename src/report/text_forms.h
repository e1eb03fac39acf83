// The two text forms every printed piece goes through.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "log/records.h"

namespace quenthar {

/// The 38 characters of a GUID's one text form, without a terminating NUL.
struct GuidText {
  std::array<char, 38> chars;
  operator std::string_view() const { return {chars.data(), chars.size()}; }
};

/// The one text form of a GUID:
/// "{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}" (the third group
/// lowercase). It is ASCII, which every narrow code page writes with the same
/// bytes, so it is made narrow directly instead of through ToNarrowText.
GuidText FormatGuid(const Guid& guid);

/// Narrow text of NUL-terminated UTF-16 text, ready for "%s"; nullopt for
/// absent text (nullptr) or text that cannot be converted.
std::optional<std::string> ToNarrowText(const char16_t* text);

inline std::optional<std::string> ToNarrowText(const std::u16string& text) {
  return ToNarrowText(text.c_str());
}

/// What "%s" prints for a narrow text: the text, or "(null)" when absent.
inline std::string_view PrintableText(const std::optional<std::string>& narrow) {
  return narrow ? std::string_view(*narrow) : std::string_view("(null)");
}

}  // namespace quenthar
