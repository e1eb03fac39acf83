// A bounded read view over bytes that somebody else owns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quenthar {

/// Invariant: begin <= position <= end, and [begin, end) lies inside bytes
/// that were loaded from the file. `owns` is always false in this tool: the
/// driver owns the region buffer and every cursor only looks at it.
struct EntryCursor {
  bool owns = false;
  const std::uint8_t* begin = nullptr;
  const std::uint8_t* end = nullptr;
  const std::uint8_t* position = nullptr;
};

inline EntryCursor MakeCursor(const std::uint8_t* begin, const std::uint8_t* end) {
  return EntryCursor{false, begin, end, begin};
}

inline std::size_t Remaining(const EntryCursor& c) {
  return static_cast<std::size_t>(c.end - c.position);
}

/// Offset of the position from begin, as the report prints it.
inline int OffsetOf(const EntryCursor& c) { return static_cast<int>(c.position - c.begin); }

/// Copies n bytes at the position into dst and advances past them.
/// Returns false and leaves the cursor untouched when fewer than n remain.
[[nodiscard]] inline bool CopyOut(EntryCursor& c, void* dst, std::size_t n) {
  if (n > Remaining(c)) return false;
  if (n != 0) std::memcpy(dst, c.position, n);
  c.position += n;
  return true;
}

/// Copies one fixed-size record out of the cursor and decodes it.
/// Returns false and leaves the cursor untouched when the record does not fit.
template <typename Record>
[[nodiscard]] bool ReadRecord(EntryCursor& c, Record& out) {
  std::array<std::uint8_t, Record::kSize> raw;
  if (!CopyOut(c, raw.data(), raw.size())) return false;
  out = Record::Decode(raw.data());
  return true;
}

}  // namespace quenthar
