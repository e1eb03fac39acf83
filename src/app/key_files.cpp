#include "app/key_files.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

#include "log/records.h"
#include "text/utf16.h"

namespace quenthar {
namespace {

// No key file is longer; what is read of one is wiped when let go.
constexpr std::size_t kMaxKeyFile = 1u << 20;
constexpr std::size_t kStartupKeyHeader = 48;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The file's bytes, or why they cannot be had.
std::variant<image::SecretBytes, std::string> ReadWhole(const platform::ArgChar* path) {
  errno = 0;
  const platform::Input input = platform::OpenForReading(path, kMaxKeyFile + 1);
  if (input.stream == nullptr) {
    return std::string(errno == ENOENT   ? "no such file"
                       : errno == EACCES ? "permission denied"
                                         : "cannot be read");
  }
  const std::unique_ptr<std::FILE, FileCloser> stream(input.stream);
  std::vector<std::uint8_t> bytes(kMaxKeyFile + 1);
  const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), stream.get());
  const bool failed = std::ferror(stream.get()) != 0;
  bytes.resize(n);
  image::SecretBytes read(std::move(bytes));
  if (failed) return std::string("cannot be read");
  if (n > kMaxKeyFile) return std::string("is too large to be a key file");
  return read;
}

// A startup key file: its header gives its own length twice, version 1 and
// a header of 48 bytes.
bool IsStartupKey(const std::vector<std::uint8_t>& b) {
  if (b.size() < kStartupKeyHeader) return false;
  const std::uint32_t size = LoadU32LE(b.data());
  return size == b.size() && LoadU32LE(b.data() + 4) == 1 &&
         LoadU32LE(b.data() + 8) == kStartupKeyHeader && LoadU32LE(b.data() + 12) == size;
}

// Whether a line has a recovery password's shape, and whether its check
// digits hold: each group is a multiple of 11 below 720,896 (65,536 times 11).
bool RecoveryShape(std::string_view line) {
  if (line.size() != 55) return false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const bool hyphen = i % 7 == 6;
    if (hyphen ? line[i] != '-' : (line[i] < '0' || line[i] > '9')) return false;
  }
  return true;
}

bool RecoveryChecks(std::string_view line) {
  for (std::size_t group = 0; group < 8; ++group) {
    unsigned value = 0;
    for (std::size_t i = 0; i < 6; ++i)
      value = value * 10 + static_cast<unsigned>(line[group * 7 + i] - '0');
    if (value % 11 != 0 || value / 11 >= 65536) return false;
  }
  return true;
}

image::SecretBytes BytesOf(std::string_view text) {
  return image::SecretBytes(std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace

std::variant<std::vector<image::KeySecret>, std::string> ReadKeyFiles(
    const std::vector<const platform::ArgChar*>& files) {
  std::vector<image::KeySecret> keys;
  const auto add = [&keys](image::SecretKind kind, image::SecretBytes value, std::string label) {
    keys.push_back(
        {{static_cast<std::uint32_t>(keys.size()), kind, std::move(value)}, std::move(label)});
  };
  for (const platform::ArgChar* path : files) {
    const std::string name = platform::ArgumentText(path);
    const std::string where = "--key-file " + name + ": ";
    std::variant<image::SecretBytes, std::string> read = ReadWhole(path);
    if (const std::string* why = std::get_if<std::string>(&read)) return where + *why;
    const image::SecretBytes& bytes = std::get<image::SecretBytes>(read);
    const std::size_t before = keys.size();
    if (IsStartupKey(bytes.Bytes())) {
      add(image::SecretKind::kStartupKey, bytes, "startup key (" + name + ")");
      continue;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.Bytes().data()),
                          bytes.Bytes().size());
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    if (!IsValidUtf8(text) || text.find('\0') != std::string_view::npos) {
      return where + "is neither a startup key nor UTF-8 text";
    }
    std::size_t number = 0;
    while (!text.empty()) {
      ++number;
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (line.empty()) continue;
      const std::string at = " (" + name + ", line " + std::to_string(number) + ")";
      if (!RecoveryShape(line)) {
        add(image::SecretKind::kPassword, BytesOf(line), "password" + at);
      } else if (RecoveryChecks(line)) {
        add(image::SecretKind::kRecoveryPassword, BytesOf(line), "recovery password" + at);
      } else {
        return where + "line " + std::to_string(number) +
               " is no recovery password: its check digits are wrong";
      }
    }
    if (keys.size() == before) return where + "holds no key";
  }
  return keys;
}

}  // namespace quenthar
