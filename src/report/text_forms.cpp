#include "report/text_forms.h"

#include "time/clock_zone.h"

namespace quenthar {
namespace {

constexpr const char* kUpperDigits = "0123456789ABCDEF";
constexpr const char* kLowerDigits = "0123456789abcdef";

// Writes `digits` hexadecimal digits of v at `at`, most significant first;
// returns the position after them.
char* HexDigits(char* at, std::uint32_t v, int digits, const char* symbols) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *at++ = symbols[(v >> shift) & 0xF];
  return at;
}

// Constant digits let each form be compiled on its own: GUIDs are on every line.
template <bool kUpper>
GuidText GuidTextOf(const Guid& g) {
  const char* upper = kUpper ? kUpperDigits : kLowerDigits;
  GuidText text{};
  char* at = text.chars.data();
  *at++ = '{';
  at = HexDigits(at, g.data1, 8, upper);
  *at++ = '-';
  at = HexDigits(at, g.data2, 4, upper);
  *at++ = '-';
  at = HexDigits(at, g.data3, 4, kLowerDigits);
  *at++ = '-';
  for (std::size_t i = 0; i < g.data4.size(); ++i) {
    if (i == 2) *at++ = '-';
    at = HexDigits(at, g.data4[i], 2, upper);
  }
  *at = '}';
  return text;
}

// Writes c as UTF-8, or as its escape when it is a control character.
char* EncodeEscaped(char32_t c, char* out) {
  if (!IsControl(c)) return EncodeUtf8(c, out);
  *out++ = '\\';
  if (c < 0x80) {
    *out++ = 'x';
    return HexDigits(out, c, 2, kLowerDigits);
  }
  *out++ = 'u';
  return HexDigits(out, c, 4, kLowerDigits);
}

}  // namespace

GuidText FormatGuid(const Guid& guid) { return GuidTextOf<true>(guid); }

GuidText FormatGuidLowercase(const Guid& guid) { return GuidTextOf<false>(guid); }

std::optional<std::string_view> ToNarrowText(const Utf16View& text, char* scratch) {
  if (text.units + 1 > platform::kMaxTextUnits) return std::nullopt;
  const std::optional<std::size_t> n = platform::NarrowText(text, scratch);
  if (!n) return std::nullopt;
  return std::string_view(scratch, *n);
}

void PutNarrowText(Output& out, const Utf16View& text) {
  char* scratch = out.Reserve(platform::kMaxNarrowPerUnit * text.units);
  const std::optional<std::string_view> narrow = ToNarrowText(text, scratch);
  if (narrow) {
    out.Commit(narrow->size());
  } else {
    out.Put("(null)");
  }
}

char* EncodeEscaped(const Utf16View& text, char* out) {
  for (std::size_t i = 0; i < text.units;) out = EncodeEscaped(NextCodePoint(text, i), out);
  return out;
}

char* EncodeEscaped(std::string_view utf8, char* out) {
  for (std::size_t i = 0; i < utf8.size();) out = EncodeEscaped(NextCodePoint(utf8, i), out);
  return out;
}

void PutEscaped(Output& out, const Utf16View& text) {
  char* at = out.Reserve(kMaxEscapedPerUnit * text.units);
  out.Commit(static_cast<std::size_t>(EncodeEscaped(text, at) - at));
}

void PutEscaped(Output& out, std::string_view utf8) {
  char* at = out.Reserve(kMaxEscapedPerByte * utf8.size());
  out.Commit(static_cast<std::size_t>(EncodeEscaped(utf8, at) - at));
}

void PutMoment(Output& out, const Moment& moment) {
  const CivilTime civil = CivilOfSeconds(moment.reading);
  if (civil.year < 0) out.Put("-");
  out.PutZeroFilled(static_cast<std::uint32_t>(civil.year < 0 ? -civil.year : civil.year), 4);
  const int parts[] = {civil.month, civil.day, civil.hour, civil.minute, civil.second};
  constexpr std::string_view kSeparators = "--T::";
  for (std::size_t i = 0; i < kSeparators.size(); ++i) {
    out.Put(kSeparators.substr(i, 1));
    out.PutZeroFilled(static_cast<std::uint32_t>(parts[i]), 2);
  }
  switch (moment.zone) {
    case Moment::Zone::kUtc: return out.Put("Z");
    case Moment::Zone::kUnknown: return;
    case Moment::Zone::kOffset: return out.Put(FormatOffset(moment.offset));
  }
}

void PutIsoTimestamp(Output& out, const InitPayload& date_time,
                     std::optional<std::int32_t> offset) {
  const auto& v = date_time.date_time;
  out.PutZeroFilled(v[0], 4);
  constexpr std::string_view kSeparators = "--T::";
  for (std::size_t i = 0; i < kSeparators.size(); ++i) {
    out.Put(kSeparators.substr(i, 1));
    out.PutZeroFilled(v[i + 1], 2);
  }
  if (offset) out.Put(FormatOffset(*offset));
}

}  // namespace quenthar
