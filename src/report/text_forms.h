// The two text forms every printed piece goes through.
#pragma once

#include <optional>
#include <string>

#include "log/records.h"

namespace quenthar {

/// The one text form of a GUID, as UTF-16:
/// "{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}" (the third group lowercase).
std::u16string FormatGuid(const Guid& guid);

/// Narrow text of NUL-terminated UTF-16 text, ready for "%s"; nullopt for
/// absent text (nullptr) or text that cannot be converted.
std::optional<std::string> ToNarrowText(const char16_t* text);

inline std::optional<std::string> ToNarrowText(const std::u16string& text) {
  return ToNarrowText(text.c_str());
}

/// Narrow form of the GUID's text.
inline std::optional<std::string> GuidText(const Guid& guid) {
  return ToNarrowText(FormatGuid(guid));
}

/// What "%s" prints for a narrow text: the text, or "(null)" when absent.
inline const char* PrintableText(const std::optional<std::string>& narrow) {
  return narrow ? narrow->c_str() : "(null)";
}

}  // namespace quenthar
