#include "image/containment/image_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace quenthar::image {
namespace {

namespace fs = std::filesystem;

bool EndsWith(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(),
                    name.end() - static_cast<std::ptrdiff_t>(suffix.size()), [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

bool EndsWithAny(std::string_view name, std::initializer_list<std::string_view> suffixes) {
  return std::any_of(suffixes.begin(), suffixes.end(),
                     [name](std::string_view s) { return EndsWith(name, s); });
}

std::string Number(unsigned value, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*u", width, value);
  return digits;
}

// Counts `letters` characters at the end of `name` on by n, each from the
// letter it is ("aa" + 27 is "bb"); nullopt past the last ("zz").
std::optional<std::string> Letters(std::string name, std::size_t letters, unsigned n) {
  for (std::size_t i = 0; i < letters; ++i) {
    char& c = name[name.size() - 1 - i];
    c = static_cast<char>(c + static_cast<char>(n % 26));
    n /= 26;
  }
  if (n != 0) return std::nullopt;
  return name;
}

// The name of segment `n` (from 2) of a split raw image, as the file-system
// library names it from the first; nullopt when the name has no counter.
std::optional<std::string> RawSegment(const std::string& first, unsigned n) {
  const std::string_view name = first;
  const auto cut = [&first](std::size_t k) { return first.substr(0, first.size() - k); };
  if (EndsWith(name, ".dmg")) return cut(3) + Number(n, 3) + ".dmgpart";
  if (EndsWithAny(name, {".001", "_001"})) return cut(3) + Number(n, 3);
  if (EndsWithAny(name, {".000", "_000"})) return cut(3) + Number(n - 1, 3);
  if (EndsWithAny(name, {".01", "_01"})) return cut(2) + Number(n, 2);
  if (EndsWithAny(name, {".00", "_00"})) return cut(2) + Number(n - 1, 2);
  if (EndsWithAny(name, {".aaa", "xaaa", "_aaa"})) return Letters(first, 3, n - 1);
  if (EndsWithAny(name, {".aa", "xaa", "_aa"})) return Letters(first, 2, n - 1);
  if (EndsWith(name, ".bin")) return cut(4) + "(" + std::to_string(n) + ").bin";
  return std::nullopt;
}

// The extension of segment `n` (from 1) of an E01 set whose extension starts
// with `letter`: the letter and 01 to 99, then three letters from the same
// letter on, "AA" to "ZZ" after it; nullopt past "ZZZ".
std::optional<std::string> EwfExtension(char letter, unsigned n) {
  const bool lower = std::islower(static_cast<unsigned char>(letter)) != 0;
  if (n <= 99) return letter + Number(n, 2);
  unsigned rest = n - 100;
  const char a = lower ? 'a' : 'A';
  std::string ext(3, a);
  ext[2] = static_cast<char>(a + static_cast<char>(rest % 26));
  rest /= 26;
  ext[1] = static_cast<char>(a + static_cast<char>(rest % 26));
  rest /= 26;
  const int first = (letter - a) + static_cast<int>(rest);
  if (first >= 26) return std::nullopt;
  ext[0] = static_cast<char>(a + first);
  return ext;
}

bool IsFile(const std::string& name) {
  std::error_code error;
  return fs::is_regular_file(fs::path(name), error);
}

class Collected {
 public:
  void Add(const std::string& name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
  }
  std::vector<std::string> Take() { return std::move(names_); }

 private:
  std::vector<std::string> names_;
};

// The largest number of segments followed: more than any acquisition makes.
constexpr unsigned kMaxSegments = 1u << 16;

}  // namespace

std::vector<std::string> ImageFiles(const std::string& path) {
  Collected files;
  files.Add(path);
  for (unsigned n = 2; n < kMaxSegments; ++n) {
    const std::optional<std::string> segment = RawSegment(path, n);
    if (!segment || !IsFile(*segment)) break;
    files.Add(*segment);
  }
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return files.Take();
  const std::string stem = path.substr(0, dot);
  const std::string_view ext = std::string_view(path).substr(dot + 1);
  if (ext.size() == 3 && std::isalpha(static_cast<unsigned char>(ext[0])) != 0 &&
      std::isdigit(static_cast<unsigned char>(ext[1])) != 0 &&
      std::isdigit(static_cast<unsigned char>(ext[2])) != 0) {
    for (unsigned n = 1; n < kMaxSegments; ++n) {
      const std::optional<std::string> segment = EwfExtension(ext[0], n);
      if (!segment || !IsFile(stem + "." + *segment)) break;
      files.Add(stem + "." + *segment);
    }
  }
  if (EndsWith(ext, "vmdk")) {
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix = stem.substr(slash == std::string::npos ? 0 : slash + 1);
    std::error_code error;
    std::vector<std::string> extents;
    for (fs::directory_iterator entry(fs::path(folder), error), end; !error && entry != end;
         entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      if (name.starts_with(prefix) && entry->is_regular_file(error)) {
        extents.push_back(slash == std::string::npos ? name : folder + name);
      }
    }
    std::sort(extents.begin(), extents.end());
    for (const std::string& extent : extents) files.Add(extent);
  }
  return files.Take();
}

}  // namespace quenthar::image
