// Record layouts of the boot log file, decoded field by field from
// little-endian bytes. A record type holds its fields in stored order and
// nothing else; kSize is its length on disk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quenthar {

/// Where the LogHeader lies in a log of a given length. The log comes in two
/// forms, told apart by length alone.
struct LogForm {
  std::int64_t file_size;
  std::int64_t header_offset;
};

/// The log in the system folder; its first 2,048 bytes are not read.
inline constexpr LogForm kSystemLog{67584, 2048};
/// The boot partition's copy of the same log: header at the start, same entries.
inline constexpr LogForm kBootPartitionLog{65536, 0};

/// The form of a log of this many bytes; nullopt for any other length.
inline std::optional<LogForm> FormOfLength(std::int64_t length) {
  for (const LogForm& form : {kSystemLog, kBootPartitionLog}) {
    if (length == form.file_size) return form;
  }
  return std::nullopt;
}

inline std::uint16_t LoadU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t LoadU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t LoadI32LE(const std::uint8_t* p) {
  return static_cast<std::int32_t>(LoadU32LE(p));  // two's complement, defined since C++20
}

struct Guid {
  static constexpr std::size_t kSize = 16;
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;

  static Guid Decode(const std::uint8_t* p) {
    Guid g{LoadU32LE(p), LoadU16LE(p + 4), LoadU16LE(p + 6), {}};
    for (std::size_t i = 0; i < g.data4.size(); ++i) g.data4[i] = p[8 + i];
    return g;
  }
};

struct LogHeader {
  static constexpr std::size_t kSize = 16;
  std::uint32_t ver;
  std::uint32_t hdr_size;  // printed; decides where the entries begin when plausible
  std::uint32_t reserved;
  std::uint32_t data_size;  // counted from the start of this header, its 16 bytes included

  static LogHeader Decode(const std::uint8_t* p) {
    return {LoadU32LE(p), LoadU32LE(p + 4), LoadU32LE(p + 8), LoadU32LE(p + 12)};
  }
};

/// Whether a header is a log's, as a search of a disk image tells one from
/// any other file of the same length: its third field is 65,536 and its Ver
/// is 1 to 255.
inline bool HasLogSignature(const LogHeader& header) {
  return header.reserved == 65536 && header.ver >= 1 && header.ver <= 255;
}

struct EntryHeader {
  static constexpr std::size_t kSize = 40;
  std::int32_t time;
  std::uint32_t reserved0;
  Guid guid;
  std::uint32_t size;  // whole entry, this header included
  std::uint32_t severity;
  std::uint32_t reserved1;
  std::uint32_t id;

  static EntryHeader Decode(const std::uint8_t* p) {
    return {LoadI32LE(p),      LoadU32LE(p + 4),  Guid::Decode(p + 8), LoadU32LE(p + 24),
            LoadU32LE(p + 28), LoadU32LE(p + 32), LoadU32LE(p + 36)};
  }
};

/// Payload of ID 1: six date and time values, then 12 bytes not interpreted.
struct InitEntry {
  static constexpr std::size_t kSize = 24;
  std::array<std::uint16_t, 6> values;
  std::array<std::uint8_t, 12> reserved;

  static InitEntry Decode(const std::uint8_t* p) {
    InitEntry e{};
    for (std::size_t i = 0; i < e.values.size(); ++i) e.values[i] = LoadU16LE(p + 2 * i);
    for (std::size_t i = 0; i < e.reserved.size(); ++i) e.reserved[i] = p[12 + i];
    return e;
  }
};

/// Fixed part of the payload of ID 17; the UTF-16LE path follows it.
struct LaunchEntry {
  static constexpr std::size_t kSize = 20;
  Guid guid;
  std::int32_t start;

  static LaunchEntry Decode(const std::uint8_t* p) { return {Guid::Decode(p), LoadI32LE(p + 16)}; }
};

/// Payload of ID 18.
struct ReturnEntry {
  static constexpr std::size_t kSize = 20;
  Guid guid;
  std::uint32_t reserved;

  static ReturnEntry Decode(const std::uint8_t* p) { return {Guid::Decode(p), LoadU32LE(p + 16)}; }
};

/// Fixed part of the payload of ID 50; `count` NUL-ended UTF-16LE strings follow it.
struct U50Entry {
  static constexpr std::size_t kSize = 12;
  std::uint32_t reserved0;
  std::uint32_t count;
  std::uint32_t reserved1;

  static U50Entry Decode(const std::uint8_t* p) {
    return {LoadU32LE(p), LoadU32LE(p + 4), LoadU32LE(p + 8)};
  }
};

}  // namespace quenthar
