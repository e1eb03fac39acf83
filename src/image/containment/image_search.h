// Finds the logs in a disk image, on the output process's side: every
// allocated partition (or the whole image without a partition table), every
// file system in them, allocated and deleted files. The image libraries run
// only in workers (worker.h), one to list the image's volumes and search
// them, and one more for what is left after each that fails; this side
// checks all they send and hands the rest of the program a log's place and
// its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/containment/worker.h"
#include "log/image_records.h"
#include "log/records.h"

namespace quenthar::image {

/// A log found: where it lies, and its bytes as a report loads them.
struct FoundLog {
  LogLocation location;
  LogForm form;
  LogHeader header;
  /// The bytes after the header that a report of the file loads
  /// (LoadedCapacity of them); nullopt when the file could not be read whole.
  std::optional<std::vector<std::uint8_t>> loaded;
};

struct SearchEvents {
  std::function<void(const FoundLog&)> log;         // each log, in the order found
  std::function<void(const VolumeRecord&)> volume;  // each volume, after its logs
  // Where the search is, as it goes: a volume begun, and the file entries
  // looked at in it so far. Either may be left empty.
  std::function<void(const VolumePlace&)> volume_begun;
  std::function<void(std::uint64_t files)> progress;
};

struct SearchResult {
  bool opened = false;                 // false: not a regular file or block device, or no image
  bool failed = false;                 // a read, a table, a walk or a worker failed somewhere
  bool incomplete = false;             // segments of the image are missing or damaged
  std::optional<std::string> failure;  // why the image's volumes could not be listed
  std::uint64_t logs = 0;
  std::string format;                 // as the worker found it, once the image opened
  std::optional<std::uint64_t> size;  // in bytes, once the image opened
};

/// How a worker is run: RunWorker, or what a test puts in its place.
using WorkerRunner = std::function<WorkerOutcome(const SearchOptions&, const JobMessage&,
                                                 Duration& image_left, const OnMessage&)>;

/// Searches the image at `path`, named `name` (UTF-8) in what it reports,
/// each worker under `limits`. Only a regular file or a block device is
/// opened.
SearchResult SearchImage(const std::string& name, const std::string& path,
                         const SearchOptions& options, const SearchEvents& events,
                         const WorkerRunner& run = RunWorker);

}  // namespace quenthar::image
