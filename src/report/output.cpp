#include "report/output.h"

#include <algorithm>

#include "platform/platform.h"

namespace quenthar {
namespace {

// One write per this many bytes of report text.
constexpr std::size_t kChunk = std::size_t{1} << 16;

}  // namespace

Output::Output(std::FILE* sink, bool console)
    : sink_(sink),
      console_(console),
      capacity_(sink != nullptr ? kChunk : 4096),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

Output::~Output() { Flush(); }

void Output::PutZeroFilled(std::uint32_t value, std::size_t width) {
  char digits[10];
  const std::size_t n =
      static_cast<std::size_t>(std::to_chars(digits, digits + 10, value).ptr - digits);
  const std::size_t zeros = width > n ? width - n : 0;
  char* at = Room(zeros + n);
  std::memset(at, '0', zeros);
  std::memcpy(at + zeros, digits, n);
  used_ += zeros + n;
}

void Output::PutHex(std::uint32_t value) {
  char* at = Room(8);
  used_ += static_cast<std::size_t>(std::to_chars(at, at + 8, value, 16).ptr - at);
}

void Output::PutHexBytes(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  // In slices, so that a long payload needs no room beyond a chunk.
  constexpr std::size_t kSlice = 4096;
  while (n != 0) {
    const std::size_t take = n < kSlice ? n : kSlice;
    char* at = Room(2 * take);
    for (std::size_t i = 0; i < take; ++i) {
      *at++ = kDigits[bytes[i] >> 4];
      *at++ = kDigits[bytes[i] & 0xF];
    }
    used_ += 2 * take;
    bytes += take;
    n -= take;
  }
}

bool Output::Flush() {
  if (sink_ == nullptr) return true;
  if (used_ != 0) last_ = buffer_[used_ - 1];
  if (!failed_ && used_ != 0) {
    failed_ = console_ ? !platform::WriteToConsole(sink_, {buffer_.get(), used_})
                       : std::fwrite(buffer_.get(), 1, used_, sink_) != used_;
  }
  used_ = 0;
  return !failed_;
}

void Output::MakeRoom(std::size_t n) {
  Flush();
  // Only a piece longer than a chunk, or text kept in memory, gets here with
  // too little room still.
  if (capacity_ - used_ >= n) return;
  const std::size_t grown = std::max(2 * capacity_, used_ + n);
  auto larger = std::make_unique_for_overwrite<char[]>(grown);
  std::memcpy(larger.get(), buffer_.get(), used_);
  buffer_ = std::move(larger);
  capacity_ = grown;
}

}  // namespace quenthar
