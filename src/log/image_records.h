// Where a log was found in a disk image, and what the search of each volume
// of the image saw: the records the image search adds to a log's own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace quenthar {

/// A volume of an image: an allocated partition, or the whole image when it
/// has no partition table; or a shadow-copy store of one.
struct VolumePlace {
  std::string image;                          // as named on the command line, UTF-8
  std::uint64_t partition_offset = 0;         // its first byte in the image
  std::optional<std::string> partition;       // the partition table's description of it
  std::optional<std::uint32_t> store;         // its shadow-copy store, from 1, oldest first
  std::optional<std::int64_t> store_created;  // the store's creation, seconds since 1970 (UTC)
  std::optional<std::string> file_system;     // the library's name of its type

  /// "IMAGE@OFFSET", and " (store N)" for a store.
  [[nodiscard]] std::string Source() const {
    std::string source = image + "@" + std::to_string(partition_offset);
    if (store) source += " (store " + std::to_string(*store) + ")";
    return source;
  }
};

/// A log found in a volume: the `log` record.
struct LogLocation {
  VolumePlace volume;
  std::string path;           // from the file system's root, '/'-separated, UTF-8
  std::uint64_t address = 0;  // of its metadata entry
  bool allocated = true;
  std::uint64_t size = 0;
  std::optional<std::array<std::uint8_t, 32>> sha256;  // of its bytes, when read whole
  std::optional<std::string>
      same_as;  // a store's copy: the source of the same bytes, reported before

  /// "IMAGE@OFFSET:PATH", and " (deleted, entry N)" for a deleted file.
  [[nodiscard]] std::string Source() const {
    std::string source = volume.Source() + ":" + path;
    if (!allocated) source += " (deleted, entry " + std::to_string(address) + ")";
    return source;
  }
};

/// What the search of one volume saw: the `volume` record.
struct VolumeRecord {
  VolumePlace volume;
  std::optional<std::string> encryption;     // "bitlocker"
  std::optional<std::string> unlocked_with;  // what opened it, never the secret itself
  std::uint64_t files = 0;                   // file entries examined
  std::uint64_t candidates = 0;              // regular files of either log length
  std::uint64_t logs = 0;                    // logs found
  std::optional<std::string> problem;        // why it was not searched whole
  bool failed = false;         // the problem is a failure (a read, a damaged table), not a fact
  bool search_failed = false;  // the search itself failed: it crashed, stalled or sent nonsense
};

}  // namespace quenthar
