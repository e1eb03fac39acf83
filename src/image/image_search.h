// Finds the logs in a disk image: every allocated partition (or the whole
// image without a partition table), every file system in them, allocated and
// deleted files. Everything of the disk-image library stays behind this
// header: the rest of the program gets a log's place and its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "log/image_records.h"

namespace quenthar::image {

/// A log found: where it lies, and its bytes (the whole file). When they could
/// not all be read, only its header is there.
struct FoundLog {
  LogLocation location;
  std::vector<std::uint8_t> bytes;  // of a log length
  bool read_whole = false;
};

struct SearchEvents {
  std::function<void(const FoundLog&)> log;         // each log, in the order found
  std::function<void(const VolumeRecord&)> volume;  // each volume, after its logs
};

struct SearchResult {
  bool opened = false;      // false: not a regular file or block device, or no image
  bool failed = false;      // a read, a table or a walk failed somewhere
  bool incomplete = false;  // segments of the image are missing or damaged
  std::uint64_t logs = 0;
};

/// Searches the image at `path`, named `name` (UTF-8) in what it reports.
/// Only a regular file or a block device is opened.
SearchResult SearchImage(const std::string& name, const char* path, const SearchEvents& events);

}  // namespace quenthar::image
