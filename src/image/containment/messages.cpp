#include "image/containment/messages.h"

#include "log/records.h"
#include "text/utf16.h"

namespace quenthar::image {
namespace {

constexpr std::string_view kLeftOut = "...";

// Whether byte c starts a character (is no UTF-8 continuation byte).
bool Starts(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// The longest bytes a log found carries: the longer form, whole.
constexpr auto kMaxLogBytes = static_cast<std::size_t>(kSystemLog.file_size);

// Non-empty text, when there is any, and its kind: none without a problem,
// one a worker can tell with one (time and crashes are the output
// process's to tell).
bool OptionalProblem(MessageReader& r, std::optional<std::string>& problem, NotSearched& kind) {
  std::uint8_t k = 0;
  if (!r.OptionalText(problem, kMaxProblem) || (problem && problem->empty()) || !r.U8(k))
    return false;
  kind = static_cast<NotSearched>(k);
  return problem ? k != 0 && k <= static_cast<std::uint8_t>(NotSearched::kRepeated) : k == 0;
}

void EncodeProblem(MessageWriter& w, const std::optional<std::string>& problem, NotSearched kind) {
  w.OptionalText(problem).U8(static_cast<std::uint8_t>(kind));
}

// A file's time: UTC, or a local time of a zone the worker cannot know.
void EncodeTime(MessageWriter& w, const std::optional<Moment>& t) {
  w.Flag(t.has_value());
  if (t) w.U64(static_cast<std::uint64_t>(t->reading)).Flag(t->zone == Moment::Zone::kUnknown);
}

bool DecodeTime(MessageReader& r, std::optional<Moment>& t) {
  bool present = false;
  std::uint64_t reading = 0;
  bool local = false;
  t.reset();
  if (!r.Flag(present)) return false;
  if (!present) return true;
  if (!r.U64(reading) || !r.Flag(local)) return false;
  t = Moment{static_cast<std::int64_t>(reading),
             local ? Moment::Zone::kUnknown : Moment::Zone::kUtc, 0};
  return true;
}

void EncodeChain(MessageWriter& w, const VolumeChain& chain) {
  w.U64(chain.offset).U32(static_cast<std::uint32_t>(chain.layers.size()));
  for (const VolumeLayer& layer : chain.layers) {
    w.U8(static_cast<std::uint8_t>(layer.kind)).U32(layer.index);
  }
}

bool DecodeChain(MessageReader& r, VolumeChain& chain) {
  std::uint32_t layers = 0;
  if (!r.U64(chain.offset) || !r.Count(layers, kMaxLayers, 5)) return false;
  chain.layers.resize(layers);
  for (VolumeLayer& layer : chain.layers) {
    std::uint8_t kind = 0;
    if (!r.U8(kind) || kind < static_cast<std::uint8_t>(LayerKind::kBitLocker) ||
        kind > static_cast<std::uint8_t>(LayerKind::kStore) || !r.U32(layer.index)) {
      return false;
    }
    layer.kind = static_cast<LayerKind>(kind);
  }
  return true;
}

}  // namespace

std::string FitText(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max - kLeftOut.size();
  while (end > 0 && !Starts(text[end])) --end;
  return std::string(text.substr(0, end)).append(kLeftOut);
}

std::string FitPath(std::string_view path, std::size_t max) {
  if (path.size() <= max) return std::string(path);
  std::size_t begin = path.size() - (max - kLeftOut.size());
  while (begin < path.size() && !Starts(path[begin])) ++begin;
  return std::string(kLeftOut).append(path.substr(begin));
}

MessageWriter& MessageWriter::U8(std::uint8_t v) {
  body_.push_back(v);
  return *this;
}

MessageWriter& MessageWriter::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) body_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

MessageWriter& MessageWriter::U64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) body_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

MessageWriter& MessageWriter::Text(std::string_view text) {
  U32(static_cast<std::uint32_t>(text.size()));
  body_.insert(body_.end(), text.begin(), text.end());
  return *this;
}

MessageWriter& MessageWriter::OptionalText(const std::optional<std::string>& text) {
  Flag(text.has_value());
  return text ? Text(*text) : *this;
}

MessageWriter& MessageWriter::Bytes(const std::vector<std::uint8_t>& bytes) {
  U32(static_cast<std::uint32_t>(bytes.size()));
  body_.insert(body_.end(), bytes.begin(), bytes.end());
  return *this;
}

bool MessageReader::Take(std::size_t n, const std::uint8_t*& p) {
  if (!ok_ || n > static_cast<std::size_t>(end_ - at_)) return ok_ = false;
  p = at_;
  at_ += n;
  return true;
}

bool MessageReader::U8(std::uint8_t& v) {
  const std::uint8_t* p = nullptr;
  if (!Take(1, p)) return false;
  v = *p;
  return true;
}

bool MessageReader::U32(std::uint32_t& v) {
  const std::uint8_t* p = nullptr;
  if (!Take(4, p)) return false;
  v = LoadU32LE(p);
  return true;
}

bool MessageReader::U64(std::uint64_t& v) {
  const std::uint8_t* p = nullptr;
  if (!Take(8, p)) return false;
  v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return true;
}

bool MessageReader::Flag(bool& v) {
  std::uint8_t b = 0;
  if (!U8(b) || b > 1) return ok_ = false;
  v = b == 1;
  return true;
}

bool MessageReader::Count(std::uint32_t& n, std::size_t max, std::size_t item_size) {
  std::uint32_t count = 0;
  if (!U32(count)) return false;
  if (count > max || count > static_cast<std::size_t>(end_ - at_) / item_size) return ok_ = false;
  n = count;
  return true;
}

bool MessageReader::Bytes(std::vector<std::uint8_t>& bytes, std::size_t max) {
  std::uint32_t n = 0;
  const std::uint8_t* p = nullptr;
  if (!U32(n)) return false;
  if (n > max || !Take(n, p)) return ok_ = false;
  bytes.assign(p, p + n);
  return true;
}

bool MessageReader::Text(std::string& text, std::size_t max) {
  std::uint32_t n = 0;
  const std::uint8_t* p = nullptr;
  if (!U32(n)) return false;
  if (n > max || !Take(n, p)) return ok_ = false;
  const std::string_view bytes(reinterpret_cast<const char*>(p), n);
  if (bytes.find('\0') != std::string_view::npos || !IsValidUtf8(bytes)) return ok_ = false;
  text.assign(bytes);
  return true;
}

bool MessageReader::OptionalText(std::optional<std::string>& text, std::size_t max) {
  bool present = false;
  if (!Flag(present)) return false;
  if (!present) {
    text.reset();
    return true;
  }
  std::string s;
  if (!Text(s, max)) return false;
  text = std::move(s);
  return true;
}

void JobMessage::Encode(MessageWriter& w) const {
  w.Text(image).Flag(list).Flag(shadow_copies).U32(static_cast<std::uint32_t>(volumes.size()));
  for (const VolumeChain& chain : volumes) EncodeChain(w, chain);
  w.U32(static_cast<std::uint32_t>(secrets.size()));
  for (const Secret& secret : secrets) {
    w.U32(secret.number).U8(static_cast<std::uint8_t>(secret.kind)).Bytes(secret.value.Bytes());
  }
  w.U32(static_cast<std::uint32_t>(backing_files.size()));
  for (const std::string& name : backing_files) w.Text(name);
}

bool JobMessage::Decode(MessageReader& r) {
  std::uint32_t n = 0;
  if (!r.Text(image, kMaxImageName) || image.empty() || !r.Flag(list) || !r.Flag(shadow_copies) ||
      !r.Count(n, kMaxJobVolumes, 12)) {
    return false;
  }
  volumes.resize(n);
  for (VolumeChain& chain : volumes) {
    if (!DecodeChain(r, chain)) return false;
  }
  if (!r.Count(n, kMaxSecrets, 9)) return false;
  secrets.resize(n);
  for (Secret& secret : secrets) {
    std::uint8_t kind = 0;
    std::vector<std::uint8_t> value;
    if (!r.U32(secret.number) || !r.U8(kind) ||
        kind > static_cast<std::uint8_t>(SecretKind::kStartupKey) || !r.Bytes(value, kMaxSecret)) {
      SecretBytes wiped(std::move(value));
      return false;
    }
    secret.kind = static_cast<SecretKind>(kind);
    secret.value = SecretBytes(std::move(value));
  }
  if (!r.Count(n, kMaxBackingFiles, 4)) return false;
  backing_files.resize(n);
  for (std::string& name : backing_files) {
    if (!r.Text(name, kMaxName) || name.empty()) return false;
  }
  return true;
}

void SandboxRefusedMessage::Encode(MessageWriter& w) const { w.Text(why); }

bool SandboxRefusedMessage::Decode(MessageReader& r) { return r.Text(why, kMaxProblem); }

void ImageNotOpenedMessage::Encode(MessageWriter& w) const {
  w.U8(static_cast<std::uint8_t>(why)).Text(error);
}

bool ImageNotOpenedMessage::Decode(MessageReader& r) {
  std::uint8_t reason = 0;
  if (!r.U8(reason) || reason > static_cast<std::uint8_t>(NotOpened::kDamaged)) return false;
  why = static_cast<NotOpened>(reason);
  return r.Text(error, kMaxProblem);
}

void ImageOpenedMessage::Encode(MessageWriter& w) const { w.U64(size).Text(format); }

bool ImageOpenedMessage::Decode(MessageReader& r) {
  return r.U64(size) && r.Text(format, kMaxName) && !format.empty();
}

void VolumeListedMessage::Encode(MessageWriter& w) const {
  EncodeChain(w, chain);
  w.OptionalText(partition);
  EncodeProblem(w, problem, kind);
  w.Flag(failed).Flag(created.has_value());
  if (created) w.U64(*created);
}

bool VolumeListedMessage::Decode(MessageReader& r) {
  bool has_created = false;
  // Only a volume that is not searched can be a failure.
  if (!DecodeChain(r, chain) || !r.OptionalText(partition, kMaxName) ||
      !OptionalProblem(r, problem, kind) || !r.Flag(failed) || (failed && !problem) ||
      !r.Flag(has_created)) {
    return false;
  }
  created.reset();
  if (!has_created) return true;
  std::uint64_t t = 0;
  if (!r.U64(t)) return false;
  created = t;
  return true;
}

void BackingFileMessage::Encode(MessageWriter& w) const { w.Text(name); }

bool BackingFileMessage::Decode(MessageReader& r) {
  return r.Text(name, kMaxName) && !name.empty();
}

void EncryptionMessage::Encode(MessageWriter& w) const {
  w.Flag(opened_by.has_value());
  if (opened_by) w.U32(*opened_by);
}

bool EncryptionMessage::Decode(MessageReader& r) {
  bool opened = false;
  if (!r.Flag(opened)) return false;
  opened_by.reset();
  if (!opened) return true;
  std::uint32_t number = 0;
  if (!r.U32(number)) return false;
  opened_by = number;
  return true;
}

void FileSystemMessage::Encode(MessageWriter& w) const { w.Text(type); }

bool FileSystemMessage::Decode(MessageReader& r) { return r.Text(type, kMaxName) && !type.empty(); }

void LogFoundMessage::Encode(MessageWriter& w) const {
  w.Text(path).U64(address).Flag(allocated).U64(size).Bytes(bytes);
  for (const auto* t : {&times.created, &times.modified, &times.accessed, &times.changed}) {
    EncodeTime(w, *t);
  }
}

bool LogFoundMessage::Decode(MessageReader& r) {
  if (!r.Text(path, kMaxPath) || !r.U64(address) || !r.Flag(allocated) || !r.U64(size) ||
      !r.Bytes(bytes, kMaxLogBytes)) {
    return false;
  }
  for (auto* t : {&times.created, &times.modified, &times.accessed, &times.changed}) {
    if (!DecodeTime(r, *t)) return false;
  }
  return true;
}

void VolumeSearchedMessage::Encode(MessageWriter& w) const {
  w.U64(files).U64(candidates).U64(logs);
  EncodeProblem(w, problem, kind);
  w.Flag(failed);
}

bool VolumeSearchedMessage::Decode(MessageReader& r) {
  return r.U64(files) && r.U64(candidates) && r.U64(logs) && OptionalProblem(r, problem, kind) &&
         r.Flag(failed);
}

void ProgressMessage::Encode(MessageWriter& w) const { w.U64(files); }

bool ProgressMessage::Decode(MessageReader& r) { return r.U64(files); }

void FrameBuffer::Append(const std::uint8_t* p, std::size_t n) {
  // The frames taken so far are no longer needed.
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(used_));
  used_ = 0;
  bytes_.insert(bytes_.end(), p, p + n);
}

std::optional<Message> FrameBuffer::Next(bool& broken) {
  const std::size_t left = bytes_.size() - used_;
  if (left < 4) return std::nullopt;
  const std::uint32_t length = LoadU32LE(bytes_.data() + used_);
  if (length == 0 || length > kMaxFrame) {
    broken = true;
    return std::nullopt;
  }
  if (left - 4 < length) return std::nullopt;
  const std::uint8_t* frame = bytes_.data() + used_ + 4;
  used_ += 4 + length;
  return Message{static_cast<MessageKind>(frame[0]), frame + 1, length - 1};
}

}  // namespace quenthar::image
