#include "report/json_lines.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "report/fields.h"
#include "report/text_forms.h"
#include "report/visit.h"
#include "time/clock_zone.h"

namespace quenthar {
namespace {

// Each ASCII character in a JSON string: its short escape, or "\u00XX" for
// the other control characters and DEL; empty for those that stand as they
// are.
constexpr auto kJsonEscapes = [] {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::array<Literal<6>, 0x80> escapes{};
  for (std::size_t c = 0; c < 0x80; ++c) {
    if (c >= 0x20 && c != 0x7F) continue;
    escapes[c].Append("\\u00");
    escapes[c].Append(kDigits.substr(c >> 4, 1));
    escapes[c].Append(kDigits.substr(c & 0xF, 1));
  }
  constexpr std::pair<char, std::string_view> kShort[] = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
      {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"}};
  for (const auto& [c, escape] : kShort) {
    auto& at = escapes[static_cast<unsigned char>(c)];
    at = {};
    at.Append(escape);
  }
  return escapes;
}();

// The characters escaped beyond ASCII: the C1 control characters, which a
// terminal may act on, and the line separators, which are legal in a JSON
// string but where a reader that splits lines the Unicode way would cut the
// record: U+0085 (a C1 character too), U+2028 and U+2029. c is U+0080 or
// above.
bool EscapedBeyondAscii(char32_t c) { return c <= 0x9F || c == 0x2028 || c == 0x2029; }

// Most bytes a character takes in a JSON string: "\u2028".
constexpr std::size_t kMaxJsonPerChar = 6;

// Writes c as a JSON string holds it, escaped where it must be, and returns
// the end.
char* EncodeJsonChar(char32_t c, char* out) {
  if (c < 0x80) {
    const auto& escape = kJsonEscapes[c];
    if (escape.size == 0) {
      *out = static_cast<char>(c);
      return out + 1;
    }
    std::memcpy(out, escape.chars.data(), kMaxJsonPerChar);  // a fixed length copies fastest
    return out + escape.size;
  }
  if (!EscapedBeyondAscii(c)) return EncodeUtf8(c, out);
  static constexpr char kDigits[] = "0123456789abcdef";
  *out++ = '\\';
  *out++ = 'u';
  for (int shift = 12; shift >= 0; shift -= 4) *out++ = kDigits[(c >> shift) & 0xF];
  return out;
}

// A JSON string of UTF-8 text; a byte outside well-formed UTF-8 becomes
// U+FFFD.
void PutJsonString(Output& out, std::string_view utf8) {
  char* at = out.Reserve(2 + kMaxJsonPerChar * utf8.size());
  char* end = at;
  *end++ = '"';
  for (std::size_t i = 0; i < utf8.size();) end = EncodeJsonChar(NextCodePoint(utf8, i), end);
  *end++ = '"';
  out.Commit(static_cast<std::size_t>(end - at));
}

// A JSON string of the log's text; an unpaired surrogate becomes U+FFFD.
void PutJsonString(Output& out, const Utf16View& text) {
  char* at = out.Reserve(2 + kMaxJsonPerChar * text.units);
  char* end = at;
  *end++ = '"';
  for (std::size_t i = 0; i < text.units;) end = EncodeJsonChar(NextCodePoint(text, i), end);
  *end++ = '"';
  out.Commit(static_cast<std::size_t>(end - at));
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
// The local times are written with their offset where `clock` knows its
// zone (none: the zone is not known).
class JsonForm {
 public:
  JsonForm(Output& out, const std::string& prefix, Kind kind, LocalClock* clock = nullptr)
      : out_(out), clock_(clock) {
    out_.Put(prefix);
    out_.Put(kRecordNames[static_cast<std::size_t>(kind)].View());
  }
  // A line whose keys before the visit's the caller has written, its "{" too.
  JsonForm(Output& out, LocalClock* clock) : out_(out), clock_(clock) {}
  ~JsonForm() {
    if (open_) out_.Put("}\n");
  }
  // Ends the keys without ending the line.
  void Close() { open_ = false; }
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
  void Time(Key k, const Moment& moment) {
    out_.Put(kQuotedKeys[Index(k)].View());
    PutMoment(out_, clock_ != nullptr ? clock_->Resolve(moment) : moment);
    out_.Put("\"");
  }
  void Timestamp(Key k, const InitPayload& date_time) {
    out_.Put(kQuotedKeys[Index(k)].View());
    PutIsoTimestamp(out_, date_time,
                    clock_ != nullptr ? clock_->OffsetOf(date_time) : std::nullopt);
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
  LocalClock* clock_;
  bool open_ = true;
};

// The same fields, a visit of its own: with one caller each, each visit is
// inlined into its line's writer (two callers of one cost JSON Lines 6 % of
// its run on the densest log).
class TimesketchForm : public JsonForm {
 public:
  using JsonForm::JsonForm;
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

void WriteJson(Output& out, const std::string& prefix, const EntryRecord& record,
               LocalClock& clock) {
  JsonForm f(out, prefix, Kind::kEntry, &clock);
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

void WriteJson(Output& out, const std::string& prefix, const LogLocation& log, LocalClock& clock) {
  JsonForm f(out, prefix, Kind::kLog, &clock);
  VisitLog(f, log);
}

void WriteJson(Output& out, const VolumeRecord& volume) {
  JsonForm f(out, JsonSourcePrefix(volume.volume.Source()), Kind::kVolume);
  VisitVolume(f, volume);
}

namespace {

// The readable line of an entry: its event (or "ID n"), what its payload
// tells, and its severity where that is not Information.
void AppendMessage(std::string& m, const EntryRecord& r) {
  const auto append_text = [&m](const Utf16View& text) {
    const std::size_t at = m.size();
    m.resize(at + kMaxUtf8PerUnit * text.units);
    char* begin = m.data() + at;
    m.resize(at + static_cast<std::size_t>(EncodeUtf8(text, begin) - begin));
  };
  if (r.event != nullptr) {
    m += r.event->name;
  } else {
    m += "ID ";
    m += std::to_string(static_cast<std::int32_t>(r.header.id));
  }
  if (const auto* init = std::get_if<InitPayload>(&r.payload)) {
    Output text;
    PutIsoTimestamp(text, *init);
    m += ": boot ";
    m += std::to_string(r.boot->number);
    m += " starts, firmware clock ";
    m += text.Text();
  } else if (const auto* launch = std::get_if<LaunchPayload>(&r.payload)) {
    m += " ";
    append_text(launch->path);
    m += " (";
    m += FormatGuidLowercase(launch->app_guid);
    m += ")";
  } else if (const auto* back = std::get_if<ReturnPayload>(&r.payload)) {
    m += " ";
    m += FormatGuidLowercase(back->app_guid);
  } else if (const auto* u50 = std::get_if<U50Payload>(&r.payload)) {
    const char* separator = ": ";
    u50->ForEachString([&](const Utf16View& text) {
      m += separator;
      separator = ", ";
      append_text(text);
    });
  } else if (std::holds_alternative<PayloadTooShort>(r.payload)) {
    m += ": ";
    m += TooShortProblem(r.header.id);
  }
  if (r.header.severity != 1) {
    m += " (";
    m += SeverityName(r.header.severity);
    m += ")";
  }
}

}  // namespace

std::string TimesketchProvenance(std::string_view source, const LogLocation* log) {
  Output text;
  text.Put(kKeys[Index(Key::kSource)].View());
  PutJsonString(text, source);
  if (log == nullptr) {
    for (const Key k :
         {Key::kImage, Key::kPartitionOffset, Key::kPartition, Key::kStore, Key::kSha256}) {
      text.Put(kNulls[Index(k)].View());
    }
    return std::string(text.Text());
  }
  JsonForm f(text, nullptr);
  f.Text(Key::kImage, std::string_view(log->volume.image));
  f.Unsigned(Key::kPartitionOffset, log->volume.partition_offset);
  OptionalText(f, Key::kPartition, log->volume.partition);
  OptionalUnsigned(f, Key::kStore, log->volume.store);
  if (log->sha256) {
    f.Hex(Key::kSha256, log->sha256->data(), log->sha256->size());
  } else {
    f.Null(Key::kSha256);
  }
  f.Close();
  return std::string(text.Text());
}

// The first and last second of the years 1 to 9999.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

void WriteTimesketch(Output& out, const std::string& provenance, const EntryRecord& record,
                     LocalClock& clock, std::string& scratch) {
  scratch.clear();
  AppendMessage(scratch, record);
  out.Put("{\"message\":");
  PutJsonString(out, scratch);
  // The boot's start in UTC; an entry without one at the epoch, so that the
  // line is still taken, its description saying why.
  std::optional<std::int64_t> utc;
  std::string_view why = "No time: the entry comes before the log's first LogInit";
  if (record.boot->date_time) {
    const auto& v = record.boot->date_time->date_time;
    utc = SecondsOfCivil(v[0], v[1], v[2], v[3], v[4], v[5]);
    const std::optional<std::int32_t> offset = clock.OffsetOf(*record.boot->date_time);
    if (!utc) {
      why = "No time: its boot's date and time is no real date";
    } else if (offset) {
      *utc -= *offset;
      // Readers of ISO 8601 take the years 1 to 9999 alone.
      if (*utc < kFirstSecond || *utc > kLastSecond) {
        utc.reset();
        why = "No time: its boot's start in UTC falls outside the years 1 to 9999";
      }
    }
  } else if (record.boot->number != 0) {
    why = "No time: its boot's LogInit is too short";
  }
  out.Put(",\"datetime\":\"");
  PutMoment(out, Moment{utc.value_or(0), Moment::Zone::kOffset, 0});
  out.Put("\",\"timestamp_desc\":");
  if (!utc) {
    PutJsonString(out, why);
  } else if (clock.Known()) {
    scratch = "Boot start, firmware clock in ";
    scratch += clock.Name();
    PutJsonString(out, scratch);
  } else {
    PutJsonString(out, "Boot start, firmware clock read as UTC (no --clock-zone given)");
  }
  out.Put(provenance);
  TimesketchForm f(out, &clock);
  VisitEntry(f, record);
}

void WriteJson(Output& out, const ImageRecord& image) {
  JsonForm f(out, JsonSourcePrefix(image.image), Kind::kImage);
  VisitImage(f, image);
}

}  // namespace quenthar
