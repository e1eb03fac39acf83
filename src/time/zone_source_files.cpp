// The system's zone database: TZif files under $TZDIR, else
// /usr/share/zoneinfo.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "time/tzif.h"
#include "time/zone_source.h"

namespace quenthar {

std::variant<ClockZone, std::string> LoadNamedZone(std::string_view name) {
  const char* tzdir = std::getenv("TZDIR");
  const std::string folder = tzdir != nullptr && *tzdir != '\0' ? tzdir : "/usr/share/zoneinfo";
  const std::string path = folder + "/" + std::string(name);

  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return "no such zone in " + folder;
  if (!std::filesystem::is_regular_file(status)) return path + " is not a zone file";

  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) return "cannot open " + path;
  // One byte more than the largest zone file tells a larger one.
  std::vector<std::uint8_t> bytes(kMaxTzifSize + 1);
  const std::size_t size = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get()) != 0) return "cannot read " + path;
  bytes.resize(size);

  std::variant<ClockZone, std::string> zone = ParseTzif(bytes);
  if (auto* why = std::get_if<std::string>(&zone)) return path + " is " + *why;
  return zone;
}

}  // namespace quenthar
