// What a worker sends the output process: frames of a kind and a body, the
// body a sequence of little-endian integers, strings and byte strings. The
// reader checks every length against the bytes that are there; the output
// process checks what the values say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenthar::image {

enum class MessageKind : std::uint8_t {
  // A worker that cannot be sandboxed, as its only message.
  kSandboxRefused = 1,  // text: why the sandbox cannot be set up
  // An image's worker lists its volumes, in this order,
  kImageNotOpened,    // u8 why (below), text: the library's error, or the system's
  kImageOpened,       // u64: the image's size in bytes
  kImageIncomplete,   // segments of the image are missing or damaged
  kVolumeToSearch,    // u64 offset, optional text: the partition's description
  kVolumeUnsearched,  // u64 offset, optional text, text: problem, u8 1 when a failure
  kVolumesListed,     // last
  // then for each volume to search, in the listing's order (a worker that
  // takes over after one that failed sends only these):
  kFileSystem,      // text: the library's name of its type
  kLog,             // text path, u64 address, u8 allocated, u64 size, bytes (whole, or its header)
  kVolumeSearched,  // u64 files, u64 candidates, u64 logs, optional text: problem, u8 failed; last
};

/// Why an image was not opened.
inline constexpr std::uint8_t kLibraryRefused = 0;
inline constexpr std::uint8_t kOutOfMemory = 1;
inline constexpr std::uint8_t kCannotOpen = 2;  // the worker cannot open its file

/// The longest text of each kind a worker sends (it shortens its own to
/// fit); longer, its data does not hold together.
inline constexpr std::size_t kMaxName = 256;      // a partition's description, a file system's type
inline constexpr std::size_t kMaxPath = 8192;     // a path from the root
inline constexpr std::size_t kMaxProblem = 2048;  // a problem, a library's error
/// No frame is longer: a log of the longer form with its path, and room
/// (a job on Windows, with the offsets of an image's volumes).
inline constexpr std::size_t kMaxFrame = 256u << 10;

/// `text` cut to at most `max` bytes at a character's end, "..." in place
/// of what is left out: its end, or for a path its beginning.
std::string FitText(std::string_view text, std::size_t max);
std::string FitPath(std::string_view path, std::size_t max);

/// One frame being put together: u32 length of what follows, u8 kind, body.
class MessageWriter {
 public:
  explicit MessageWriter(MessageKind kind);
  MessageWriter& U8(std::uint8_t v);
  MessageWriter& U64(std::uint64_t v);
  MessageWriter& Text(std::string_view text);                           // u32 length, bytes
  MessageWriter& OptionalText(const std::optional<std::string>& text);  // u8 present, then Text
  MessageWriter& Bytes(const std::uint8_t* p, std::size_t n);           // u32 length, bytes
  /// The whole frame, its length filled in.
  const std::vector<std::uint8_t>& Frame();

 private:
  std::vector<std::uint8_t> frame_;
};

/// Reads a body; after the first read past its end every read fails and
/// leaves its target as it was.
class MessageReader {
 public:
  MessageReader(const std::uint8_t* body, std::size_t n) : at_(body), end_(body + n) {}
  bool U8(std::uint8_t& v);
  bool Flag(bool& v);  // a u8 that must be 0 or 1
  bool U64(std::uint64_t& v);
  /// UTF-8 text of at most `max` bytes without NUL; anything else fails.
  bool Text(std::string& text, std::size_t max);
  bool OptionalText(std::optional<std::string>& text, std::size_t max);
  bool Bytes(std::vector<std::uint8_t>& bytes);
  /// True when every read succeeded and the body is used up.
  [[nodiscard]] bool Done() const { return ok_ && at_ == end_; }

 private:
  bool Take(std::size_t n, const std::uint8_t*& p);
  const std::uint8_t* at_;
  const std::uint8_t* end_;
  bool ok_ = true;
};

/// A frame taken off the channel.
struct Message {
  MessageKind kind;
  const std::uint8_t* body;
  std::size_t size;
};

/// Cuts frames out of the bytes that arrive, in any pieces.
class FrameBuffer {
 public:
  void Append(const std::uint8_t* p, std::size_t n);
  /// The next whole frame, valid until the next Append; nullopt when none is
  /// whole yet. Sets `broken` for a frame that cannot be one (too long, empty).
  std::optional<Message> Next(bool& broken);
  /// True when no byte of a frame is left over.
  [[nodiscard]] bool Empty() const { return used_ == bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

}  // namespace quenthar::image
