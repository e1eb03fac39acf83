// Writes a boot log file from a short text description read on standard
// input, up to the first line that starts with "==".
//
//   make_log OUT < description
//
// The image starts as 67,584 zero bytes with the write position at 2,064,
// right after the log header. One directive per line; '#' starts a comment:
//   form boot-partition             (first) the boot partition's form instead:
//                                   65,536 zero bytes, the header at 0, the
//                                   position at 16
//   filesize N                      length of the written file (default 67584)
//   header ver=V hdrsize=H datasize=D [reserved=R]
//                                   16 bytes at the header's offset (2048); the
//                                   position moves to right after them; R is
//                                   65536 unless given, as in every real log
//   at OFFSET                       moves the position to a file offset
//   entry [time=T] [guid=HEX32] [size=S] [severity=V] [id=I] [r0=X] [r1=X]
//                                   a 40-byte entry header (defaults 0, size 40, severity 1)
//   u16 V...  u32 V...              little-endian values (u32 takes negative values too)
//   guid HEX32                      16 stored bytes, in order
//   bytes HH...                     raw bytes
//   zeros N                         N zero bytes
//   utf16 "TEXT"                    TEXT (UTF-8 here) as UTF-16LE, no NUL added;
//                                   \uXXXX is one raw unit (lone surrogates too), \\ and \" escape
//   repeat N DIRECTIVE              the directive N times
// Numbers are decimal or 0x-prefixed hexadecimal. Writing past the end of
// the image grows it; filesize still decides the written length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Image {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(67584, 0);
  std::size_t header_at = 2048;
  std::size_t pos = 2064;
  std::size_t file_size = 67584;

  void Put(std::uint8_t b) {
    if (pos >= bytes.size()) bytes.resize(pos + 1, 0);
    bytes[pos++] = b;
  }
  void PutU16(std::uint32_t v) {
    Put(static_cast<std::uint8_t>(v));
    Put(static_cast<std::uint8_t>(v >> 8));
  }
  void PutU32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Put(static_cast<std::uint8_t>(v >> (8 * i)));
  }
};

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::uint64_t ParseUnsigned(const std::string& s) {
  std::size_t used = 0;
  const unsigned long long v = std::stoull(s, &used, 0);
  if (used != s.size()) Fail("bad number: " + s);
  return v;
}

std::uint32_t ParseU32(const std::string& s) {
  if (!s.empty() && s[0] == '-') {
    std::size_t used = 0;
    const long long v = std::stoll(s, &used, 0);
    if (used != s.size() || v < INT32_MIN) Fail("bad number: " + s);
    return static_cast<std::uint32_t>(v);
  }
  const std::uint64_t v = ParseUnsigned(s);
  if (v > UINT32_MAX) Fail("number too large: " + s);
  return static_cast<std::uint32_t>(v);
}

void PutGuid(Image& img, const std::string& hex) {
  if (hex.size() != 32) Fail("a guid is 32 hex digits: " + hex);
  for (std::size_t i = 0; i < 32; i += 2) {
    img.Put(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
}

std::map<std::string, std::string> ParseFields(std::istringstream& in) {
  std::map<std::string, std::string> fields;
  std::string item;
  while (in >> item) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) Fail("expected name=value: " + item);
    fields[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return fields;
}

std::string Take(std::map<std::string, std::string>& fields, const std::string& name,
                 const std::string& fallback) {
  const auto it = fields.find(name);
  if (it == fields.end()) return fallback;
  std::string v = it->second;
  fields.erase(it);
  return v;
}

void NoneLeft(const std::map<std::string, std::string>& fields) {
  if (!fields.empty()) Fail("unknown field: " + fields.begin()->first);
}

// Decodes one UTF-8 sequence starting at s[i]; advances i.
std::uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  int extra = b0 < 0x80 ? 0 : b0 < 0xE0 ? 1 : b0 < 0xF0 ? 2 : 3;
  std::uint32_t cp = extra == 0 ? b0 : b0 & (0x3F >> extra);
  for (; extra > 0; --extra) {
    if (i >= s.size()) Fail("truncated UTF-8");
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

void PutUtf16(Image& img, const std::string& rest) {
  const auto open = rest.find('"');
  const auto close = rest.rfind('"');
  if (open == std::string::npos || close == open) Fail("utf16 takes a quoted text");
  const std::string text = rest.substr(open + 1, close - open - 1);
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'u') {
      img.PutU16(static_cast<std::uint32_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
      i += 6;
      continue;
    }
    if (text[i] == '\\') ++i;
    const std::uint32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      img.PutU16(0xD800 + ((cp - 0x10000) >> 10));
      img.PutU16(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      img.PutU16(cp);
    }
  }
}

void Apply(Image& img, const std::string& line) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word)) return;
  if (word == "repeat") {
    std::string count;
    in >> count;
    std::string rest;
    std::getline(in, rest);
    for (std::uint64_t n = ParseUnsigned(count); n > 0; --n) Apply(img, rest);
  } else if (word == "form") {
    in >> word;
    if (word != "boot-partition") Fail("unknown form: " + word);
    img.bytes.assign(65536, 0);
    img.header_at = 0;
    img.pos = 16;
    img.file_size = 65536;
  } else if (word == "filesize") {
    in >> word;
    img.file_size = static_cast<std::size_t>(ParseUnsigned(word));
  } else if (word == "at") {
    in >> word;
    img.pos = static_cast<std::size_t>(ParseUnsigned(word));
  } else if (word == "header") {
    auto f = ParseFields(in);
    img.pos = img.header_at;
    img.PutU32(ParseU32(Take(f, "ver", "3")));
    img.PutU32(ParseU32(Take(f, "hdrsize", "0x10")));
    img.PutU32(ParseU32(Take(f, "reserved", "65536")));
    img.PutU32(ParseU32(Take(f, "datasize", "0x10")));
    NoneLeft(f);
  } else if (word == "entry") {
    auto f = ParseFields(in);
    img.PutU32(ParseU32(Take(f, "time", "0")));
    img.PutU32(ParseU32(Take(f, "r0", "0")));
    PutGuid(img, Take(f, "guid", std::string(32, '0')));
    img.PutU32(ParseU32(Take(f, "size", "40")));
    img.PutU32(ParseU32(Take(f, "severity", "1")));
    img.PutU32(ParseU32(Take(f, "r1", "0")));
    img.PutU32(ParseU32(Take(f, "id", "0")));
    NoneLeft(f);
  } else if (word == "u16" || word == "u32") {
    const bool wide = word == "u32";
    while (in >> word) {
      const std::uint32_t v = ParseU32(word);
      if (!wide && v > 0xFFFF) Fail("u16 value too large: " + word);
      wide ? img.PutU32(v) : img.PutU16(v);
    }
  } else if (word == "guid") {
    in >> word;
    PutGuid(img, word);
  } else if (word == "bytes") {
    while (in >> word) img.Put(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  } else if (word == "zeros") {
    in >> word;
    for (std::uint64_t n = ParseUnsigned(word); n > 0; --n) img.Put(0);
  } else if (word == "utf16") {
    std::string rest;
    std::getline(in, rest);
    PutUtf16(img, rest);
  } else {
    Fail("unknown directive: " + word);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_log OUT < description\n");
    return 2;
  }
  Image img;
  std::string line;
  int line_no = 0;
  try {
    while (std::getline(std::cin, line)) {
      ++line_no;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("==", 0) == 0) break;
      // A '#' starts a comment unless a quoted text came first.
      const auto hash = line.find('#');
      Apply(img, hash < line.find('"') ? line.substr(0, hash) : line);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_log: line %d: %s\n", line_no, e.what());
    return 2;
  }
  img.bytes.resize(img.file_size, 0);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr ||
      std::fwrite(img.bytes.data(), 1, img.bytes.size(), out) != img.bytes.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  return 0;
}
