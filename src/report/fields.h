// The fields of every record kind, described once: each key's name, the kind
// of its value and whether it may be null, and each record kind's keys in
// order. JSON Lines writes a record's keys in that order; CSV's columns are
// the keys of the kinds it has rows for, in Key's order, `payload` last;
// doc/records.schema.json is checked against these tables by a test, and the
// tests take their columns from the schema.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

namespace quenthar {

enum class Key : std::uint8_t {
  // CSV's columns, in their order.
  kSource,
  kRecord,
  kOffset,
  kBoot,
  kBootTimestamp,
  kTime,
  kGuid,
  kSize,
  kSeverity,
  kSeverityName,
  kId,
  kEvent,
  kStart,
  kAppGuid,
  kPath,
  kTimestamp,
  kStrings,
  kProblem,
  kVersion,
  kHeaderSize,
  kDataSize,
  kDataSizeExceedsFile,
  kReason,
  kSameAs,
  kFormat,
  kImageSize,
  kVolumes,
  kVolumesSearched,
  kVolumesNotSearched,
  kEncrypted,
  kTimedOut,
  kCrashed,
  kDamaged,
  kNoFileSystem,
  kRepeated,
  kStoresSearched,
  kLogs,
  kDeletedLogs,
  kStoreLogs,
  kMilliseconds,
  kPayload,
  // Only in the image search's records, which CSV has no rows for (but a
  // store's copy).
  kImage,
  kPartitionOffset,
  kPartition,
  kStore,
  kStoreCreated,
  kFileSystem,
  kEncryption,
  kUnlockedWith,
  kAddress,
  kAllocated,
  kSha256,
  kFileCreated,
  kFileModified,
  kFileAccessed,
  kFileChanged,
  kFiles,
  kCandidates,
  // Only in the Timesketch form's lines.
  kMessage,
  kDatetime,
  kTimestampDesc,
};

inline constexpr std::string_view kKeyNames[] = {
    "source",
    "record",
    "offset",
    "boot",
    "boot_timestamp",
    "time",
    "guid",
    "size",
    "severity",
    "severity_name",
    "id",
    "event",
    "start",
    "app_guid",
    "path",
    "timestamp",
    "strings",
    "problem",
    "version",
    "header_size",
    "data_size",
    "data_size_exceeds_file",
    "reason",
    "same_as",
    "format",
    "image_size",
    "volumes",
    "volumes_searched",
    "volumes_not_searched",
    "encrypted",
    "timed_out",
    "crashed",
    "damaged",
    "no_file_system",
    "repeated",
    "stores_searched",
    "logs",
    "deleted_logs",
    "store_logs",
    "milliseconds",
    "payload",
    "image",
    "partition_offset",
    "partition",
    "store",
    "store_created",
    "file_system",
    "encryption",
    "unlocked_with",
    "address",
    "allocated",
    "sha256",
    "file_created",
    "file_modified",
    "file_accessed",
    "file_changed",
    "files",
    "candidates",
    "message",
    "datetime",
    "timestamp_desc",
};
inline constexpr std::size_t kKeyCount = std::size(kKeyNames);
static_assert(kKeyCount == static_cast<std::size_t>(Key::kTimestampDesc) + 1);
inline constexpr std::size_t kCsvColumns = static_cast<std::size_t>(Key::kPayload) + 1;

constexpr std::size_t Index(Key key) { return static_cast<std::size_t>(key); }

/// What a value is, as the schema states it.
enum class Value : std::uint8_t {
  kText,      // a string
  kName,      // one of a fixed set of words
  kUnsigned,  // an integer from 0
  kSigned,    // a 32-bit signed integer
  kBoolean,
  kGuid,       // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lowercase
  kTimestamp,  // "YYYY-MM-DDThh:mm:ss", then "+hh:mm" where the zone is known
  kTime,       // "YYYY-MM-DDThh:mm:ss", then "Z" or "+hh:mm" where the zone is known
  kHex,        // lowercase hexadecimal digits, two per byte
  kTextList,   // an array of strings
};

struct Field {
  Key key;
  Value value;
  bool nullable = false;
};

inline constexpr Field kHeaderFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kOffset, Value::kUnsigned},
    {Key::kVersion, Value::kUnsigned},
    {Key::kHeaderSize, Value::kUnsigned},
    {Key::kDataSize, Value::kUnsigned},
    {Key::kDataSizeExceedsFile, Value::kBoolean},
};

inline constexpr Field kEntryFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kOffset, Value::kUnsigned},
    {Key::kBoot, Value::kUnsigned},
    {Key::kBootTimestamp, Value::kTimestamp, true},
    {Key::kTime, Value::kSigned},
    {Key::kGuid, Value::kGuid},
    {Key::kSize, Value::kUnsigned},
    {Key::kSeverity, Value::kUnsigned},
    {Key::kSeverityName, Value::kName},
    {Key::kId, Value::kSigned},
    {Key::kEvent, Value::kName, true},
    {Key::kStart, Value::kSigned, true},
    {Key::kAppGuid, Value::kGuid, true},
    {Key::kPath, Value::kText, true},
    {Key::kTimestamp, Value::kTimestamp, true},
    {Key::kStrings, Value::kTextList, true},
    {Key::kProblem, Value::kName, true},
    {Key::kPayload, Value::kHex},
};

inline constexpr Field kEndFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kOffset, Value::kUnsigned},
    {Key::kReason, Value::kName},
};

inline constexpr Field kErrorFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kProblem, Value::kText},
};

inline constexpr Field kLogFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kImage, Value::kText},
    {Key::kPartitionOffset, Value::kUnsigned},
    {Key::kPartition, Value::kText, true},
    {Key::kStore, Value::kUnsigned, true},
    {Key::kStoreCreated, Value::kTime, true},
    {Key::kFileSystem, Value::kText, true},
    {Key::kPath, Value::kText},
    {Key::kAddress, Value::kUnsigned},
    {Key::kAllocated, Value::kBoolean},
    {Key::kSize, Value::kUnsigned},
    {Key::kSha256, Value::kHex, true},
    {Key::kFileCreated, Value::kTime, true},
    {Key::kFileModified, Value::kTime, true},
    {Key::kFileAccessed, Value::kTime, true},
    {Key::kFileChanged, Value::kTime, true},
    {Key::kSameAs, Value::kText, true},
};

inline constexpr Field kVolumeFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kImage, Value::kText},
    {Key::kPartitionOffset, Value::kUnsigned},
    {Key::kPartition, Value::kText, true},
    {Key::kStore, Value::kUnsigned, true},
    {Key::kStoreCreated, Value::kTime, true},
    {Key::kFileSystem, Value::kText, true},
    {Key::kEncryption, Value::kName, true},
    {Key::kUnlockedWith, Value::kText, true},
    {Key::kFiles, Value::kUnsigned},
    {Key::kCandidates, Value::kUnsigned},
    {Key::kLogs, Value::kUnsigned},
    {Key::kProblem, Value::kText, true},
};

// What an image's search found, searched and did not: its last record.
inline constexpr Field kImageFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kFormat, Value::kName, true},
    {Key::kImageSize, Value::kUnsigned, true},
    {Key::kVolumes, Value::kUnsigned},
    {Key::kVolumesSearched, Value::kUnsigned},
    {Key::kVolumesNotSearched, Value::kUnsigned},
    {Key::kEncrypted, Value::kUnsigned},
    {Key::kTimedOut, Value::kUnsigned},
    {Key::kCrashed, Value::kUnsigned},
    {Key::kDamaged, Value::kUnsigned},
    {Key::kNoFileSystem, Value::kUnsigned},
    {Key::kRepeated, Value::kUnsigned},
    {Key::kStoresSearched, Value::kUnsigned},
    {Key::kLogs, Value::kUnsigned},
    {Key::kDeletedLogs, Value::kUnsigned},
    {Key::kStoreLogs, Value::kUnsigned},
    {Key::kMilliseconds, Value::kUnsigned},
};

// A store's log of the same bytes as one reported before, in CSV: the log
// record's `same_as` on a row of its own (JSON Lines has the log record).
inline constexpr Field kCopyFields[] = {
    {Key::kSource, Value::kText},
    {Key::kRecord, Value::kName},
    {Key::kSameAs, Value::kText},
};

struct RecordKind {
  std::string_view name;  // the value of `record`
  std::span<const Field> fields;
  bool csv_rows;  // whether CSV has rows of this kind
};

enum class Kind : std::uint8_t { kHeader, kEntry, kEnd, kError, kLog, kVolume, kCopy, kImage };

inline constexpr RecordKind kRecordKinds[] = {
    {"header", kHeaderFields, true}, {"entry", kEntryFields, true},
    {"end", kEndFields, true},       {"error", kErrorFields, true},
    {"log", kLogFields, false},      {"volume", kVolumeFields, false},
    {"copy", kCopyFields, true},     {"image", kImageFields, true},
};

constexpr const RecordKind& KindOf(Kind kind) {
  return kRecordKinds[static_cast<std::size_t>(kind)];
}

// Every kind starts with source and record; a kind with CSV rows keeps its
// keys in column order, so that a row is written left to right.
static_assert([] {
  for (const RecordKind& kind : kRecordKinds) {
    if (kind.fields.size() < 2 || kind.fields[0].key != Key::kSource ||
        kind.fields[1].key != Key::kRecord) {
      return false;
    }
    for (std::size_t i = 1; kind.csv_rows && i < kind.fields.size(); ++i) {
      if (Index(kind.fields[i].key) <= Index(kind.fields[i - 1].key) ||
          Index(kind.fields[i].key) >= kCsvColumns) {
        return false;
      }
    }
  }
  return true;
}());

/// Text put together at compile time.
template <std::size_t N>
struct Literal {
  std::array<char, N> chars{};
  std::size_t size = 0;

  constexpr void Append(std::string_view s) {
    for (const char c : s) chars[size++] = c;
  }
  constexpr std::string_view View() const { return {chars.data(), size}; }
};

/// CSV's header row, CR LF included.
inline constexpr auto kCsvHeaderRow = [] {
  Literal<1024> row;
  for (std::size_t i = 0; i < kCsvColumns; ++i) {
    if (i != 0) row.Append(",");
    row.Append(kKeyNames[i]);
  }
  row.Append("\r\n");
  return row;
}();

}  // namespace quenthar
