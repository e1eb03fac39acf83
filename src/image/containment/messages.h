// What crosses the channel between the output process and a worker: frames
// of a kind and a body, the body a sequence of little-endian integers,
// strings and byte strings. Each message kind is one struct below, with its
// encoding and decoding side by side; both ends use them, on every platform.
// Decoding checks every length, count and cap against what is there; what
// the values say together (their order, offsets inside the image) is checked
// by the output process's search (image_search.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/secrets.h"
#include "log/image_records.h"

namespace quenthar::image {

enum class MessageKind : std::uint8_t {
  // To a worker that is a program of its own (Windows): its job, alone.
  kJob = 1,
  // A worker that cannot be sandboxed, as its only message.
  kSandboxRefused,
  // A listing worker: the image, not opened, or opened and then its
  // volumes, in order, and the end of the listing;
  kImageNotOpened,
  kImageOpened,
  kImageIncomplete,
  kVolumeListed,
  kListingDone,
  // or, for an image that needs a backing file it was not given, its name,
  // last;
  kBackingFile,
  // then for each volume to search, in the listing's order (a worker that
  // takes over after one that failed sends only these): its encryption, its
  // file system, its logs in address order, the volumes found inside it
  // (which join the listing right after it), and what the search saw, last;
  // while it walks a file system, how far it has come.
  kEncryption,
  kFileSystem,
  kProgress,
  kLogFound,
  kVolumeSearched,
};

/// The longest text of each kind a worker sends (it shortens its own to
/// fit); longer, its data does not hold together.
inline constexpr std::size_t kMaxName = 256;      // a partition's description, a file system's type
inline constexpr std::size_t kMaxPath = 8192;     // a path from the root
inline constexpr std::size_t kMaxProblem = 2048;  // a problem, a library's error
/// The longest name of an image a job carries (a Windows path may be 32,767
/// UTF-16 units).
inline constexpr std::size_t kMaxImageName = 1u << 17;
/// The most volumes a job carries, and layers a volume has.
inline constexpr std::size_t kMaxJobVolumes = 1u << 14;
inline constexpr std::size_t kMaxLayers = 2;
/// The most secrets a job carries, the longest secret (a startup key file
/// is a few hundred bytes), and the deepest chain of backing files.
inline constexpr std::size_t kMaxSecrets = 256;
inline constexpr std::size_t kMaxSecret = 4096;
inline constexpr std::size_t kMaxBackingFiles = 16;
/// No frame is longer: a job, or a log of the longer form with its path.
inline constexpr std::size_t kMaxFrame = 512u << 10;

/// `text` cut to at most `max` bytes at a character's end, "..." in place
/// of what is left out: its end, or for a path its beginning.
std::string FitText(std::string_view text, std::size_t max);
std::string FitPath(std::string_view path, std::size_t max);

/// A body being put together.
class MessageWriter {
 public:
  MessageWriter& U8(std::uint8_t v);
  MessageWriter& U32(std::uint32_t v);
  MessageWriter& U64(std::uint64_t v);
  MessageWriter& Flag(bool v) { return U8(v ? 1 : 0); }
  MessageWriter& Text(std::string_view text);                           // u32 length, bytes
  MessageWriter& OptionalText(const std::optional<std::string>& text);  // u8 present, then Text
  MessageWriter& Bytes(const std::vector<std::uint8_t>& bytes);         // u32 length, bytes
  [[nodiscard]] const std::vector<std::uint8_t>& Body() const { return body_; }

 private:
  std::vector<std::uint8_t> body_;
};

/// Reads a body; after the first read past its end, or of a value out of
/// bounds, every read fails and leaves its target as it was.
class MessageReader {
 public:
  MessageReader(const std::uint8_t* body, std::size_t n) : at_(body), end_(body + n) {}
  bool U8(std::uint8_t& v);
  bool U32(std::uint32_t& v);
  bool U64(std::uint64_t& v);
  bool Flag(bool& v);  // a u8 that must be 0 or 1
  /// UTF-8 text of at most `max` bytes without NUL; anything else fails.
  bool Text(std::string& text, std::size_t max);
  bool OptionalText(std::optional<std::string>& text, std::size_t max);
  /// At most `max` bytes.
  bool Bytes(std::vector<std::uint8_t>& bytes, std::size_t max);
  /// A count of at most `max` items, each of at least `item_size` bytes that
  /// must still be there.
  bool Count(std::uint32_t& n, std::size_t max, std::size_t item_size);
  /// True when every read succeeded and the body is used up.
  [[nodiscard]] bool Done() const { return ok_ && at_ == end_; }

 private:
  bool Take(std::size_t n, const std::uint8_t*& p);
  const std::uint8_t* at_;
  const std::uint8_t* end_;
  bool ok_ = true;
};

/// One layer a volume lies inside, after its partition.
enum class LayerKind : std::uint8_t {
  kBitLocker = 1,  // an unlocked BitLocker volume; `index`: the secret that opened it
  kStore,          // a shadow-copy store; `index`: its number, from 1, oldest first
};

struct VolumeLayer {
  LayerKind kind = LayerKind::kBitLocker;
  std::uint32_t index = 0;
  bool operator==(const VolumeLayer&) const = default;
};

/// Where a volume lies, so that any worker can open it again: its first
/// byte in the image (a partition's, or 0), then the layers inside it.
struct VolumeChain {
  std::uint64_t offset = 0;
  std::vector<VolumeLayer> layers;
  bool operator==(const VolumeChain&) const = default;
};

// Each message: its kind, its fields, and their encoding and decoding. A
// Decode that returns false leaves its message half read, never used.

/// What a worker does: list the image's volumes and search them all, or
/// search `volumes` only (what is left after a worker that failed); with
/// the secrets that may open its encrypted volumes, and the backing files
/// found for the image (names in its folder, the nearest first).
struct JobMessage {
  static constexpr MessageKind kKind = MessageKind::kJob;
  std::string image;  // the path as the libraries open it: bytes on Linux, UTF-8 on Windows
  bool list = true;
  std::vector<VolumeChain> volumes;
  bool shadow_copies = true;
  std::vector<Secret> secrets;
  std::vector<std::string> backing_files;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const JobMessage&) const = default;
};

struct SandboxRefusedMessage {
  static constexpr MessageKind kKind = MessageKind::kSandboxRefused;
  std::string why;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const SandboxRefusedMessage&) const = default;
};

/// Why an image was not opened.
enum class NotOpened : std::uint8_t {
  kLibraryRefused,  // no image library takes it: `error` is the library's
  kOutOfMemory,     // the library ran out of memory (--memory-limit)
  kCannotOpen,      // the worker cannot open its file: `error` is the system's
  kDamaged,         // its format is known, and its library refuses it: `error` is the library's
};

struct ImageNotOpenedMessage {
  static constexpr MessageKind kKind = MessageKind::kImageNotOpened;
  NotOpened why = NotOpened::kLibraryRefused;
  std::string error;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const ImageNotOpenedMessage&) const = default;
};

struct ImageOpenedMessage {
  static constexpr MessageKind kKind = MessageKind::kImageOpened;
  std::uint64_t size = 0;  // in bytes
  std::string format;      // raw, split raw, E01, VHD, VHDX, VMDK, QCOW2, AFF, disk
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const ImageOpenedMessage&) const = default;
};

/// Segments of the image are missing or damaged.
struct ImageIncompleteMessage {
  static constexpr MessageKind kKind = MessageKind::kImageIncomplete;
  static void Encode(MessageWriter& /*w*/) {}
  static bool Decode(MessageReader& /*r*/) { return true; }
  bool operator==(const ImageIncompleteMessage&) const = default;
};

/// A volume: to be searched, or with why it is not.
struct VolumeListedMessage {
  static constexpr MessageKind kKind = MessageKind::kVolumeListed;
  VolumeChain chain;
  std::optional<std::string> partition;  // the partition table's description
  std::optional<std::string> problem;    // not searched, for this reason
  bool failed = false;                   // the problem is a failure, not a fact
  NotSearched kind = NotSearched::kNo;   // of the problem
  std::optional<std::uint64_t> created;  // a shadow-copy store's creation, a FILETIME
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const VolumeListedMessage&) const = default;
};

struct ListingDoneMessage {
  static constexpr MessageKind kKind = MessageKind::kListingDone;
  static void Encode(MessageWriter& /*w*/) {}
  static bool Decode(MessageReader& /*r*/) { return true; }
  bool operator==(const ListingDoneMessage&) const = default;
};

/// The image needs a backing file it was not given: its name, as the image
/// stores it.
struct BackingFileMessage {
  static constexpr MessageKind kKind = MessageKind::kBackingFile;
  std::string name;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const BackingFileMessage&) const = default;
};

/// The volume is encrypted with BitLocker: opened by the secret of that
/// number, or still locked (its problem says why).
struct EncryptionMessage {
  static constexpr MessageKind kKind = MessageKind::kEncryption;
  std::optional<std::uint32_t> opened_by;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const EncryptionMessage&) const = default;
};

struct FileSystemMessage {
  static constexpr MessageKind kKind = MessageKind::kFileSystem;
  std::string type;  // the library's name of it
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const FileSystemMessage&) const = default;
};

/// A file that passed the log's signature test: all its bytes, or only its
/// 16-byte header when the rest could not be read.
struct LogFoundMessage {
  static constexpr MessageKind kKind = MessageKind::kLogFound;
  std::string path;  // from the root, '/'-separated
  std::uint64_t address = 0;
  bool allocated = true;
  std::uint64_t size = 0;
  std::vector<std::uint8_t> bytes;
  FileTimes times;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const LogFoundMessage&) const = default;
};

/// What the search of a volume saw: its last message.
struct VolumeSearchedMessage {
  static constexpr MessageKind kKind = MessageKind::kVolumeSearched;
  std::uint64_t files = 0;
  std::uint64_t candidates = 0;
  std::uint64_t logs = 0;
  std::optional<std::string> problem;
  bool failed = false;
  NotSearched kind = NotSearched::kNo;  // of the problem
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const VolumeSearchedMessage&) const = default;
};

/// How many file entries the search of a volume has looked at so far.
struct ProgressMessage {
  static constexpr MessageKind kKind = MessageKind::kProgress;
  std::uint64_t files = 0;
  void Encode(MessageWriter& w) const;
  bool Decode(MessageReader& r);
  bool operator==(const ProgressMessage&) const = default;
};

/// A frame taken off the channel: its kind and its body.
struct Message {
  MessageKind kind;
  const std::uint8_t* body;
  std::size_t size;
};

/// The frame of a message: u32 length of what follows, u8 kind, body.
template <typename M>
std::vector<std::uint8_t> Frame(const M& message) {
  MessageWriter w;
  message.Encode(w);
  const std::vector<std::uint8_t>& body = w.Body();
  const auto length = static_cast<std::uint32_t>(body.size() + 1);
  std::vector<std::uint8_t> frame;
  frame.reserve(5 + body.size());
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  frame.push_back(static_cast<std::uint8_t>(M::kKind));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

/// The message of kind M, when `m` is one and holds together.
template <typename M>
std::optional<M> DecodeAs(const Message& m) {
  if (m.kind != M::kKind) return std::nullopt;
  MessageReader r(m.body, m.size);
  M message;
  if (!message.Decode(r) || !r.Done()) return std::nullopt;
  return message;
}

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
