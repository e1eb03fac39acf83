#include "report/text_forms.h"

#include <cstdio>

#include "platform/platform.h"

namespace quenthar {

std::u16string FormatGuid(const Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.data1), static_cast<unsigned>(g.data2),
                static_cast<unsigned>(g.data3), static_cast<unsigned>(g.data4[0]),
                static_cast<unsigned>(g.data4[1]), static_cast<unsigned>(g.data4[2]),
                static_cast<unsigned>(g.data4[3]), static_cast<unsigned>(g.data4[4]),
                static_cast<unsigned>(g.data4[5]), static_cast<unsigned>(g.data4[6]),
                static_cast<unsigned>(g.data4[7]));
  return std::u16string(text, text + 38);  // ASCII only: each char widens to one unit
}

std::optional<std::string> ToNarrowText(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  return platform::NarrowText(text);
}

}  // namespace quenthar
