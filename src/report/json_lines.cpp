#include "report/json_lines.h"

#include <optional>

#include "report/text_forms.h"

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

// A string, or null.
void PutJsonString(Output& out, const std::optional<std::string>& text) {
  if (text) return PutJsonString(out, std::string_view(*text));
  out.Put("null");
}

// The keys every image record has after source and record.
void PutVolumePlace(Output& out, const VolumePlace& place) {
  out.Put(",\"image\":");
  PutJsonString(out, std::string_view(place.image));
  out.Put(",\"partition_offset\":");
  out.PutUnsigned(place.partition_offset);
  out.Put(",\"partition\":");
  PutJsonString(out, place.partition);
  out.Put(",\"file_system\":");
  PutJsonString(out, place.file_system);
}

void PutGuid(Output& out, std::string_view key, const Guid& guid) {
  out.Put(key);
  out.Put("\"");
  out.Put(FormatGuidLowercase(guid));
  out.Put("\"");
}

// The payload keys of every entry, in order: start, app_guid, path,
// timestamp, strings and problem, each null where the payload has no such value.
struct PayloadKeys {
  Output& out;
  const EventKind* event;

  void operator()(const NoPayload& /*none*/) const {
    out.Put(
        ",\"start\":null,\"app_guid\":null,\"path\":null,\"timestamp\":null,"
        "\"strings\":null,\"problem\":null");
  }

  void operator()(const PayloadTooShort& /*too_short*/) const {
    out.Put(
        ",\"start\":null,\"app_guid\":null,\"path\":null,\"timestamp\":null,"
        "\"strings\":null,\"problem\":");
    PutJsonString(out, event->problem);
  }

  void operator()(const InitPayload& p) const {
    out.Put(",\"start\":null,\"app_guid\":null,\"path\":null,\"timestamp\":\"");
    PutIsoTimestamp(out, p);
    out.Put("\",\"strings\":null,\"problem\":null");
  }

  void operator()(const LaunchPayload& p) const {
    out.Put(",\"start\":");
    out.PutDecimal(p.start);
    PutGuid(out, ",\"app_guid\":", p.app_guid);
    out.Put(",\"path\":");
    PutJsonString(out, p.path);
    out.Put(",\"timestamp\":null,\"strings\":null,\"problem\":null");
  }

  void operator()(const ReturnPayload& p) const {
    PutGuid(out, ",\"start\":null,\"app_guid\":", p.app_guid);
    out.Put(",\"path\":null,\"timestamp\":null,\"strings\":null,\"problem\":null");
  }

  void operator()(const U50Payload& p) const {
    out.Put(",\"start\":null,\"app_guid\":null,\"path\":null,\"timestamp\":null,\"strings\":[");
    bool first = true;
    p.ForEachString([this, &first](const Utf16View& s) {
      if (!first) out.Put(",");
      first = false;
      PutJsonString(out, s);
    });
    out.Put("],\"problem\":null");
  }
};

}  // namespace

std::string JsonSourcePrefix(std::string_view source) {
  Output text;
  text.Put("{\"source\":");
  PutJsonString(text, source);
  text.Put(",\"record\":\"");
  return std::string(text.Text());
}

void WriteJson(Output& out, const std::string& prefix, const HeaderRecord& record) {
  const LogHeader& h = record.header;
  out.Put(prefix);
  out.Put("header\",\"offset\":");
  out.PutUnsigned(record.offset);
  out.Put(",\"version\":");
  out.PutUnsigned(h.ver);
  out.Put(",\"header_size\":");
  out.PutUnsigned(h.hdr_size);
  out.Put(",\"data_size\":");
  out.PutUnsigned(h.data_size);
  out.Put(record.data_size_exceeds_file ? ",\"data_size_exceeds_file\":true}\n"
                                        : ",\"data_size_exceeds_file\":false}\n");
}

void WriteJson(Output& out, const std::string& prefix, const EntryRecord& record) {
  const EntryHeader& h = record.header;
  out.Put(prefix);
  out.Put("entry\",\"offset\":");
  out.PutUnsigned(record.offset);
  out.Put(",\"boot\":");
  out.PutUnsigned(record.boot->number);
  if (record.boot->date_time) {
    out.Put(",\"boot_timestamp\":\"");
    PutIsoTimestamp(out, *record.boot->date_time);
    out.Put("\",\"time\":");
  } else {
    out.Put(",\"boot_timestamp\":null,\"time\":");
  }
  out.PutDecimal(h.time);
  PutGuid(out, ",\"guid\":", h.guid);
  out.Put(",\"size\":");
  out.PutUnsigned(h.size);
  out.Put(",\"severity\":");
  out.PutUnsigned(h.severity);
  out.Put(",\"severity_name\":\"");
  out.Put(SeverityName(h.severity));
  out.Put("\",\"id\":");
  out.PutDecimal(static_cast<std::int32_t>(h.id));
  if (record.event == nullptr) {
    out.Put(",\"event\":null");
  } else {
    out.Put(",\"event\":\"");
    out.Put(record.event->name);
    out.Put("\"");
  }
  std::visit(PayloadKeys{out, record.event}, record.payload);
  out.Put(",\"payload\":\"");
  out.PutHexBytes(record.stepped_payload, record.stepped_payload_length);
  out.Put("\"}\n");
}

void WriteJson(Output& out, const std::string& prefix, const EndRecord& record) {
  out.Put(prefix);
  out.Put("end\",\"offset\":");
  out.PutUnsigned(record.offset);
  out.Put(",\"reason\":\"");
  out.Put(ReasonName(record.reason));
  out.Put("\"}\n");
}

void WriteJson(Output& out, const std::string& prefix, const LogLocation& log) {
  out.Put(prefix);
  out.Put("log\"");
  PutVolumePlace(out, log.volume);
  out.Put(",\"path\":");
  PutJsonString(out, std::string_view(log.path));
  out.Put(",\"address\":");
  out.PutUnsigned(log.address);
  out.Put(log.allocated ? ",\"allocated\":true,\"size\":" : ",\"allocated\":false,\"size\":");
  out.PutUnsigned(log.size);
  if (log.sha256) {
    out.Put(",\"sha256\":\"");
    out.PutHexBytes(log.sha256->data(), log.sha256->size());
    out.Put("\"}\n");
  } else {
    out.Put(",\"sha256\":null}\n");
  }
}

void WriteJson(Output& out, const VolumeRecord& volume) {
  out.Put(JsonSourcePrefix(volume.volume.Source()));
  out.Put("volume\"");
  PutVolumePlace(out, volume.volume);
  out.Put(",\"files\":");
  out.PutUnsigned(volume.files);
  out.Put(",\"candidates\":");
  out.PutUnsigned(volume.candidates);
  out.Put(",\"logs\":");
  out.PutUnsigned(volume.logs);
  out.Put(",\"problem\":");
  PutJsonString(out, volume.problem);
  out.Put("}\n");
}

void WriteJson(Output& out, const std::string& prefix, Problem problem) {
  WriteJsonError(out, prefix, TextOf(problem).problem);
}

void WriteJsonError(Output& out, const std::string& prefix, std::string_view problem) {
  out.Put(prefix);
  out.Put("error\",\"problem\":");
  PutJsonString(out, problem);
  out.Put("}\n");
}

}  // namespace quenthar
