#include "report/text_forms.h"

#include "platform/platform.h"

namespace quenthar {

namespace {

// Appends `digits` hexadecimal digits of v, most significant first.
void AppendHex(std::u16string& out, std::uint32_t v, int digits, bool upper) {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out.push_back(static_cast<char16_t>(symbols[(v >> shift) & 0xF]));
  }
}

}  // namespace

// Same text as "{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}", without
// the cost of a formatted print per entry.
std::u16string FormatGuid(const Guid& g) {
  std::u16string text;
  text.reserve(38);
  text.push_back(u'{');
  AppendHex(text, g.data1, 8, true);
  text.push_back(u'-');
  AppendHex(text, g.data2, 4, true);
  text.push_back(u'-');
  AppendHex(text, g.data3, 4, false);
  text.push_back(u'-');
  for (std::size_t i = 0; i < g.data4.size(); ++i) {
    if (i == 2) text.push_back(u'-');
    AppendHex(text, g.data4[i], 2, true);
  }
  text.push_back(u'}');
  return text;
}

std::optional<std::string> ToNarrowText(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  return platform::NarrowText(text);
}

}  // namespace quenthar
