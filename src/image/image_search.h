// Finds the logs in a disk image: every allocated partition (or the whole
// image without a partition table), every file system in them, allocated and
// deleted files. The image libraries run only in workers (image/worker.h),
// one to list the image's volumes and one per volume; this side checks all
// they send and hands the rest of the program a log's place and its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/worker.h"
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
  bool opened = false;                 // false: not a regular file or block device, or no image
  bool failed = false;                 // a read, a table, a walk or a worker failed somewhere
  bool incomplete = false;             // segments of the image are missing or damaged
  std::optional<std::string> failure;  // why the image's volumes could not be listed
  std::uint64_t logs = 0;
};

/// Searches the image at `path`, named `name` (UTF-8) in what it reports,
/// each worker under `limits`. Only a regular file or a block device is
/// opened.
SearchResult SearchImage(const std::string& name, const std::string& path,
                         const WorkerLimits& limits, const SearchEvents& events);

}  // namespace quenthar::image
