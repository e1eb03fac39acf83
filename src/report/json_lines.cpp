#include "report/json_lines.h"

#include <array>
#include <cstddef>

#include "report/fields.h"
#include "report/text_forms.h"
#include "report/visit.h"

namespace quenthar {
namespace {

// Puts one character of a JSON string: the short escapes, \u00XX for the
// other control characters, everything else as it is.
void PutJsonChar(Output& out, char c) {
  switch (c) {
    case '"': return out.Put("\\\"");
    case '\\': return out.Put("\\\\");
    case '\b': return out.Put("\\b");
    case '\f': return out.Put("\\f");
    case '\n': return out.Put("\\n");
    case '\r': return out.Put("\\r");
    case '\t': return out.Put("\\t");
    default: break;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const char escaped[] = {'\\', 'u', '0', '0', kDigits[(c >> 4) & 0xF], kDigits[c & 0xF]};
    return out.Put({escaped, sizeof escaped});
  }
  out.Put({&c, 1});
}

// The line separators beyond the control characters: legal in a JSON string,
// but a reader that splits lines the Unicode way would cut the record there.
bool IsLineSeparator(char32_t c) { return c == 0x85 || c == 0x2028 || c == 0x2029; }

void PutEscapedSeparator(Output& out, char32_t c) {
  out.Put(c == 0x85 ? "\\u0085" : c == 0x2028 ? "\\u2028" : "\\u2029");
}

// A JSON string of UTF-8 text.
void PutJsonString(Output& out, std::string_view utf8) {
  out.Put("\"");
  const auto byte = [utf8](std::size_t k) {
    return k < utf8.size() ? static_cast<unsigned char>(utf8[k]) : 0U;
  };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    // U+0085 is C2 85; U+2028 and U+2029 are E2 80 A8 and E2 80 A9.
    if (byte(i) == 0xC2 && byte(i + 1) == 0x85) {
      PutEscapedSeparator(out, 0x85);
      i += 1;
    } else if (byte(i) == 0xE2 && byte(i + 1) == 0x80 &&
               (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9)) {
      PutEscapedSeparator(out, byte(i + 2) == 0xA8 ? 0x2028 : 0x2029);
      i += 2;
    } else {
      PutJsonChar(out, utf8[i]);
    }
  }
  out.Put("\"");
}

// A JSON string of the log's text; an unpaired surrogate becomes U+FFFD.
void PutJsonString(Output& out, const Utf16View& text) {
  out.Put("\"");
  for (std::size_t i = 0; i < text.units;) {
    const char32_t c = NextCodePoint(text, i);
    if (c < 0x80) {
      PutJsonChar(out, static_cast<char>(c));
    } else if (IsLineSeparator(c)) {
      PutEscapedSeparator(out, c);
    } else {
      char* at = out.Reserve(4);
      out.Commit(static_cast<std::size_t>(EncodeUtf8(c, at) - at));
    }
  }
  out.Put("\"");
}

// ,"name": and ,"name":" for each key, and ,"name":null.
template <std::size_t N>
constexpr auto KeyLiterals(std::string_view after) {
  std::array<Literal<N>, kKeyCount> keys{};
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    keys[i].Append(",\"");
    keys[i].Append(kKeyNames[i]);
    keys[i].Append("\":");
    keys[i].Append(after);
  }
  return keys;
}
constexpr auto kKeys = KeyLiterals<40>("");
constexpr auto kQuotedKeys = KeyLiterals<40>("\"");
constexpr auto kNulls = KeyLiterals<48>("null");

// Every run of payload keys from one to another, all null: one piece each.
constexpr std::size_t kFirstPayloadKey = Index(Key::kStart);
constexpr std::size_t kPayloadKeys = Index(Key::kProblem) - kFirstPayloadKey + 1;
constexpr auto kNullRuns = [] {
  std::array<std::array<Literal<160>, kPayloadKeys>, kPayloadKeys> runs{};
  for (std::size_t first = 0; first < kPayloadKeys; ++first) {
    for (std::size_t last = first; last < kPayloadKeys; ++last) {
      for (std::size_t k = first; k <= last; ++k) {
        runs[first][last].Append(kNulls[kFirstPayloadKey + k].View());
      }
    }
  }
  return runs;
}();

// The record's name, closing the "record" value the source prefix opens.
constexpr auto kRecordNames = [] {
  std::array<Literal<16>, std::size(kRecordKinds)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) {
    names[i].Append(kRecordKinds[i].name);
    names[i].Append("\"");
  }
  return names;
}();

// Writes each field as `,"key":value`, in the order the visit gives them.
class JsonForm {
 public:
  JsonForm(Output& out, const std::string& prefix, Kind kind) : out_(out) {
    out_.Put(prefix);
    out_.Put(kRecordNames[static_cast<std::size_t>(kind)].View());
  }
  ~JsonForm() { out_.Put("}\n"); }
  JsonForm(const JsonForm&) = delete;
  JsonForm& operator=(const JsonForm&) = delete;

  void Unsigned(Key k, std::uint64_t v) {
    out_.Put(kKeys[Index(k)].View());
    out_.PutUnsigned(v);
  }
  void Signed(Key k, std::int32_t v) {
    out_.Put(kKeys[Index(k)].View());
    out_.PutDecimal(v);
  }
  void Boolean(Key k, bool v) {
    out_.Put(kKeys[Index(k)].View());
    out_.Put(v ? "true" : "false");
  }
  void Guid(Key k, const quenthar::Guid& guid) {
    out_.Put(kQuotedKeys[Index(k)].View());
    out_.Put(FormatGuidLowercase(guid));
    out_.Put("\"");
  }
  void Timestamp(Key k, const InitPayload& date_time) {
    out_.Put(kQuotedKeys[Index(k)].View());
    PutIsoTimestamp(out_, date_time);
    out_.Put("\"");
  }
  void Hex(Key k, const std::uint8_t* bytes, std::size_t n) {
    out_.Put(kQuotedKeys[Index(k)].View());
    out_.PutHexBytes(bytes, n);
    out_.Put("\"");
  }
  // A fixed word: nothing in it needs escaping.
  void Name(Key k, std::string_view name) {
    out_.Put(kQuotedKeys[Index(k)].View());
    out_.Put(name);
    out_.Put("\"");
  }
  template <typename Chars>
  void Text(Key k, const Chars& text) {
    out_.Put(kKeys[Index(k)].View());
    PutJsonString(out_, text);
  }
  void TextList(Key k, const U50Payload& p) {
    out_.Put(kKeys[Index(k)].View());
    out_.Put("[");
    bool first = true;
    p.ForEachString([this, &first](const Utf16View& s) {
      if (!first) out_.Put(",");
      first = false;
      PutJsonString(out_, s);
    });
    out_.Put("]");
  }
  void Null(Key k) { out_.Put(kNulls[Index(k)].View()); }
  // Only runs of the payload keys come together.
  void Nulls(Key first, Key last) {
    out_.Put(kNullRuns[Index(first) - kFirstPayloadKey][Index(last) - kFirstPayloadKey].View());
  }

 private:
  Output& out_;
};

}  // namespace

std::string JsonSourcePrefix(std::string_view source) {
  Output text;
  text.Put("{");
  text.Put(kKeys[Index(Key::kSource)].View().substr(1));  // the first key: no comma
  PutJsonString(text, source);
  text.Put(kQuotedKeys[Index(Key::kRecord)].View());
  return std::string(text.Text());
}

void WriteJson(Output& out, const std::string& prefix, const HeaderRecord& record) {
  JsonForm f(out, prefix, Kind::kHeader);
  VisitHeader(f, record);
}

void WriteJson(Output& out, const std::string& prefix, const EntryRecord& record) {
  JsonForm f(out, prefix, Kind::kEntry);
  VisitEntry(f, record);
}

void WriteJson(Output& out, const std::string& prefix, const EndRecord& record) {
  JsonForm f(out, prefix, Kind::kEnd);
  VisitEnd(f, record);
}

void WriteJsonError(Output& out, const std::string& prefix, std::string_view problem) {
  JsonForm f(out, prefix, Kind::kError);
  VisitError(f, problem);
}

void WriteJson(Output& out, const std::string& prefix, const LogLocation& log) {
  JsonForm f(out, prefix, Kind::kLog);
  VisitLog(f, log);
}

void WriteJson(Output& out, const VolumeRecord& volume) {
  JsonForm f(out, JsonSourcePrefix(volume.volume.Source()), Kind::kVolume);
  VisitVolume(f, volume);
}

}  // namespace quenthar
