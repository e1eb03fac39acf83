// Where a log was found in a disk image, and what the search of each volume
// of the image saw: the records the image search adds to a log's own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace quenthar {

/// A moment as a clock showed it: its reading (seconds since 1970, counted
/// as if the clock kept UTC), and what that reading is: UTC, a local time of
/// a known offset from UTC, or a local time of a zone not known.
struct Moment {
  enum class Zone : std::uint8_t { kUtc, kOffset, kUnknown };
  std::int64_t reading = 0;
  Zone zone = Zone::kUtc;
  std::int32_t offset = 0;  // seconds east of UTC, for kOffset
  bool operator==(const Moment&) const = default;
};

/// A file's own times from its file system, where it keeps them. FAT keeps
/// local times.
struct FileTimes {
  std::optional<Moment> created;
  std::optional<Moment> modified;
  std::optional<Moment> accessed;
  std::optional<Moment> changed;
  bool operator==(const FileTimes&) const = default;
};

/// A volume of an image: an allocated partition, or the whole image when it
/// has no partition table; or a shadow-copy store of one.
struct VolumePlace {
  std::string image;                       // as named on the command line, UTF-8
  std::uint64_t partition_offset = 0;      // its first byte in the image
  std::optional<std::string> partition;    // the partition table's description of it
  std::optional<std::uint32_t> store;      // its shadow-copy store, from 1, oldest first
  std::optional<Moment> store_created;     // the store's creation, UTC
  std::optional<std::string> file_system;  // the library's name of its type

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
  // A store's copy: the source of the same bytes, reported before.
  std::optional<std::string> same_as;
  FileTimes times;

  /// "IMAGE@OFFSET:PATH", and " (deleted, entry N)" for a deleted file.
  [[nodiscard]] std::string Source() const {
    std::string source = volume.Source() + ":" + path;
    if (!allocated) source += " (deleted, entry " + std::to_string(address) + ")";
    return source;
  }
};

/// Why a volume was not searched (whole), by kind, for the image's account.
enum class NotSearched : std::uint8_t {
  kNo,            // searched whole
  kNoFileSystem,  // none that the library opens (a fact)
  kEncrypted,     // a locked BitLocker volume, one the library calls encrypted or guesses is
  kDamaged,       // a read or a table failed, a partition lies past the end
  kRepeated,      // a partition at an offset already searched (a fact)
  kTimedOut,      // its search, or the image's, ran out of time
  kCrashed,       // its search crashed, was stopped or sent nonsense
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
  NotSearched not_searched = NotSearched::kNo;
};

/// What an image's search found, searched and did not: the `image` record,
/// its last.
struct ImageRecord {
  std::string image;                  // as named on the command line, UTF-8
  std::optional<std::string> format;  // raw, split raw, E01, VHD, VHDX, VMDK, QCOW2, AFF, disk
  std::optional<std::uint64_t> size;  // in bytes
  std::uint64_t volumes = 0;          // listed, shadow-copy stores included
  std::uint64_t searched = 0;         // whole
  std::uint64_t not_searched = 0;     // not whole, of these kinds:
  std::uint64_t encrypted = 0;
  std::uint64_t timed_out = 0;
  std::uint64_t crashed = 0;
  std::uint64_t damaged = 0;
  std::uint64_t no_file_system = 0;
  std::uint64_t repeated = 0;
  std::uint64_t stores_searched = 0;
  std::uint64_t logs = 0;  // every log reported, copies included
  std::uint64_t deleted_logs = 0;
  std::uint64_t store_logs = 0;    // in shadow-copy stores
  std::uint64_t milliseconds = 0;  // the search's, output included

  /// Counts a volume's record in.
  void Count(const VolumeRecord& v) {
    ++volumes;
    if (v.not_searched == NotSearched::kNo) {
      ++searched;
      if (v.volume.store) ++stores_searched;
      return;
    }
    ++not_searched;
    switch (v.not_searched) {
      case NotSearched::kNo: break;
      case NotSearched::kNoFileSystem: ++no_file_system; break;
      case NotSearched::kEncrypted: ++encrypted; break;
      case NotSearched::kDamaged: ++damaged; break;
      case NotSearched::kRepeated: ++repeated; break;
      case NotSearched::kTimedOut: ++timed_out; break;
      case NotSearched::kCrashed: ++crashed; break;
    }
  }

  /// Counts a log found in.
  void Count(const LogLocation& l) {
    ++logs;
    if (!l.allocated) ++deleted_logs;
    if (l.volume.store) ++store_logs;
  }
};

}  // namespace quenthar
