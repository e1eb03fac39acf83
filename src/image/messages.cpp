#include "image/messages.h"

#include <cstring>

#include "log/records.h"
#include "text/utf16.h"

namespace quenthar::image {

MessageWriter::MessageWriter(MessageKind kind) : frame_(5, 0) {
  frame_[4] = static_cast<std::uint8_t>(kind);
}

MessageWriter& MessageWriter::U8(std::uint8_t v) {
  frame_.push_back(v);
  return *this;
}

MessageWriter& MessageWriter::U64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) frame_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

MessageWriter& MessageWriter::Bytes(const std::uint8_t* p, std::size_t n) {
  const auto length = static_cast<std::uint32_t>(n);
  for (int i = 0; i < 4; ++i) frame_.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  frame_.insert(frame_.end(), p, p + n);
  return *this;
}

MessageWriter& MessageWriter::Text(std::string_view text) {
  return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

MessageWriter& MessageWriter::OptionalText(const std::optional<std::string>& text) {
  U8(text ? 1 : 0);
  return text ? Text(*text) : *this;
}

const std::vector<std::uint8_t>& MessageWriter::Frame() {
  const auto length = static_cast<std::uint32_t>(frame_.size() - 4);
  for (std::size_t i = 0; i < 4; ++i) frame_[i] = static_cast<std::uint8_t>(length >> (8 * i));
  return frame_;
}

namespace {

constexpr std::string_view kLeftOut = "...";

// Whether byte c starts a character (is no UTF-8 continuation byte).
bool Starts(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

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

bool MessageReader::Flag(bool& v) {
  std::uint8_t b = 0;
  if (!U8(b) || b > 1) return ok_ = false;
  v = b == 1;
  return true;
}

bool MessageReader::U64(std::uint64_t& v) {
  const std::uint8_t* p = nullptr;
  if (!Take(8, p)) return false;
  v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return true;
}

bool MessageReader::Bytes(std::vector<std::uint8_t>& bytes) {
  const std::uint8_t* p = nullptr;
  if (!Take(4, p)) return false;
  const std::uint32_t n = LoadU32LE(p);
  if (!Take(n, p)) return false;
  bytes.assign(p, p + n);
  return true;
}

bool MessageReader::Text(std::string& text, std::size_t max) {
  const std::uint8_t* p = nullptr;
  if (!Take(4, p)) return false;
  const std::uint32_t n = LoadU32LE(p);
  if (n > max || !Take(n, p)) return ok_ = false;
  const std::string_view bytes(reinterpret_cast<const char*>(p), n);
  if (bytes.find('\0') != std::string_view::npos || ValidUtf8(bytes) != bytes) return ok_ = false;
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
