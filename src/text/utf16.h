// UTF-16LE text as the log stores it, read in place, and its conversions to
// and from UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenthar {

/// Little-endian UTF-16 units inside loaded bytes, at any alignment; only
/// ever read a byte at a time.
struct Utf16View {
  const std::uint8_t* bytes = nullptr;
  std::size_t units = 0;

  [[nodiscard]] std::uint16_t Unit(std::size_t i) const {
    const std::uint8_t* p = bytes + 2 * i;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
};

/// Text scanned from stored bytes, and the bytes it covers (its NUL unit
/// included when there is one).
struct ScannedText {
  Utf16View text;
  std::size_t span;
};

/// The units at p before the first NUL unit, or all whole units of the n bytes
/// when none comes (a final odd byte is no unit).
inline ScannedText ScanUtf16Le(const std::uint8_t* p, std::size_t n) {
  const std::uint8_t* const last = p + (n & ~std::size_t{1});
  const std::uint8_t* q = p;
  while (q != last && (q[0] | q[1]) != 0) q += 2;
  const auto units = static_cast<std::size_t>(q - p) / 2;
  return {{p, units}, 2 * units + (q != last ? 2 : 0)};
}

inline bool IsHighSurrogate(std::uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(std::uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

/// The code point that starts at unit i, which moves past it; an unpaired
/// surrogate reads as U+FFFD.
inline char32_t NextCodePoint(const Utf16View& text, std::size_t& i) {
  const std::uint16_t u = text.Unit(i++);
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (IsHighSurrogate(u) && i < text.units && IsLowSurrogate(text.Unit(i))) {
    return 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text.Unit(i++)} - 0xDC00);
  }
  return 0xFFFD;
}

/// No UTF-16 unit takes more than 3 bytes of UTF-8 (a pair takes 4).
inline constexpr std::size_t kMaxUtf8PerUnit = 3;

/// Writes the UTF-8 form of c at out and returns the end of it.
inline char* EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

/// Writes the UTF-8 form of the text at out, which has room for
/// kMaxUtf8PerUnit bytes per unit, and returns the end of it.
inline char* EncodeUtf8(const Utf16View& text, char* out) {
  for (std::size_t i = 0; i < text.units;) {
    const std::uint16_t u = text.Unit(i);
    if (u < 0x80) {  // most of any log's text
      *out++ = static_cast<char>(u);
      ++i;
    } else {
      out = EncodeUtf8(NextCodePoint(text, i), out);
    }
  }
  return out;
}

/// The code point of the UTF-8 sequence at byte i, which moves past it; a byte
/// that does not start a well-formed sequence (overlong, surrogate, past
/// U+10FFFF, cut) reads as U+FFFD and is passed alone.
inline char32_t NextCodePoint(std::string_view utf8, std::size_t& i) {
  const auto byte = [&utf8, i](std::size_t k) -> unsigned {
    return i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) : 0u;
  };
  const auto in = [](unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
  const unsigned lead = byte(0);
  if (lead < 0x80) {
    i += 1;
    return lead;
  }
  if (in(lead, 0xC2, 0xDF) && in(byte(1), 0x80, 0xBF)) {
    i += 2;
    return ((lead & 0x1F) << 6) | (byte(1) & 0x3F);
  }
  if (in(lead, 0xE0, 0xEF) && in(byte(1), lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF) &&
      in(byte(2), 0x80, 0xBF)) {
    i += 3;
    return ((lead & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
  }
  if (in(lead, 0xF0, 0xF4) && in(byte(1), lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF) &&
      in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF)) {
    i += 4;
    return ((lead & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
           (byte(3) & 0x3F);
  }
  i += 1;
  return 0xFFFD;
}

/// Whether every byte is part of well-formed UTF-8.
inline bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t at = i;
    if (NextCodePoint(bytes, i) == 0xFFFD && i == at + 1) return false;
  }
  return true;
}

/// The text with every byte that is not part of well-formed UTF-8 as U+FFFD.
inline std::string ValidUtf8(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size();) {
    char at[4];
    text.append(at, EncodeUtf8(NextCodePoint(bytes, i), at));
  }
  return text;
}

/// Appends the UTF-16 units of UTF-8 text to `out` (a string of 16-bit units).
template <typename Units>
void AppendUtf16(std::string_view utf8, Units& out) {
  using Unit = typename Units::value_type;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, i);
    if (c < 0x10000) {
      out.push_back(static_cast<Unit>(c));
    } else {
      out.push_back(static_cast<Unit>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<Unit>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
}

}  // namespace quenthar
