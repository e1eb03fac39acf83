#include <sys/types.h>

#include <cstdio>

#include "platform/platform.h"

namespace quenthar::platform {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::optional<std::string> NarrowText(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  if (n + 1 > kMaxTextUnits) return std::nullopt;

  std::string out;
  out.reserve(3 * n);  // no UTF-16 unit takes more than 3 UTF-8 bytes
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = text[i];
    if (IsHighSurrogate(u) && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::FILE* OpenForReading(const ArgChar* path) { return std::fopen(path, "rb"); }

std::int64_t StreamLength(std::FILE* stream) {
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(ftello(stream));
}

}  // namespace quenthar::platform
