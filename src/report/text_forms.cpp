#include "report/text_forms.h"

#include "platform/platform.h"

namespace quenthar {
namespace {

// Writes `digits` hexadecimal digits of v at `at`, most significant first;
// returns the position after them.
char* HexDigits(char* at, std::uint32_t v, int digits, bool upper) {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *at++ = symbols[(v >> shift) & 0xF];
  return at;
}

}  // namespace

GuidText FormatGuid(const Guid& g) {
  GuidText text{};
  char* at = text.chars.data();
  *at++ = '{';
  at = HexDigits(at, g.data1, 8, true);
  *at++ = '-';
  at = HexDigits(at, g.data2, 4, true);
  *at++ = '-';
  at = HexDigits(at, g.data3, 4, false);
  *at++ = '-';
  for (std::size_t i = 0; i < g.data4.size(); ++i) {
    if (i == 2) *at++ = '-';
    at = HexDigits(at, g.data4[i], 2, true);
  }
  *at = '}';
  return text;
}

std::optional<std::string> ToNarrowText(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  return platform::NarrowText(text);
}

}  // namespace quenthar
