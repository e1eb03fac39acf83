// Fuzz target over the whole path from the file's bytes to the report text:
// the input is the log file (cut or zero-padded to its fixed length).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/driver.h"
#include "log/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quenthar;
  const auto file_size = static_cast<std::size_t>(kLogFileSize);
  std::vector<std::uint8_t> image(data, data + std::min(size, file_size));
  image.resize(file_size, 0);

  const auto header_at = image.begin() + kLogHeaderOffset;
  // The report is formatted in full, into memory.
  Output out;
  const LogHeader header = LogHeader::Decode(&*header_at);
  ReportLogHeader(out, header);
  // Its own allocation of exactly the loaded size, as in the program, so
  // that AddressSanitizer catches any read past it.
  const auto loaded_at = header_at + LogHeader::kSize;
  const std::vector<std::uint8_t> loaded(
      loaded_at, loaded_at + static_cast<std::ptrdiff_t>(LoadedCapacity(header)));
  ReportLoadedRegion(out, header, loaded.data(), loaded.size());
  return 0;
}
