// The one way report text leaves the program.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace quenthar {

/// Collects report text and writes it to a C stream in large writes, so that
/// the stream's text mode still turns "\n" into the platform's line end; or,
/// for a console, hands the text, UTF-8, to platform::WriteToConsole. A write
/// only ever holds whole pieces, so it never splits a character. Without a
/// stream every piece stays in memory (tests, fuzzing).
class Output {
 public:
  explicit Output(std::FILE* sink = nullptr, bool console = false);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  /// Any text, an empty or null view too.
  void Put(std::string_view text) {
    char* at = Room(text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    used_ += text.size();
  }

  /// Signed decimal, as "%d" prints it.
  void PutDecimal(std::int32_t value) {
    char* at = Room(kMaxDigits);
    used_ += static_cast<std::size_t>(std::to_chars(at, at + kMaxDigits, value).ptr - at);
  }

  /// Unsigned decimal.
  void PutUnsigned(std::uint64_t value) {
    char* at = Room(kMaxDigits64);
    used_ += static_cast<std::size_t>(std::to_chars(at, at + kMaxDigits64, value).ptr - at);
  }

  /// Unsigned decimal of at least `width` digits, zero-filled, as "%4.4d"
  /// prints a widened u16.
  void PutZeroFilled(std::uint32_t value, std::size_t width);

  /// Lowercase hexadecimal without prefix or leading zeros, as "%x".
  void PutHex(std::uint32_t value);

  /// Two lowercase hexadecimal digits per byte.
  void PutHexBytes(const std::uint8_t* bytes, std::size_t n);

  /// Room for up to n bytes written in place; Commit(k) then keeps the first k.
  [[nodiscard]] char* Reserve(std::size_t n) { return Room(n); }
  void Commit(std::size_t k) { used_ += k; }

  /// Writes the text held so far to the stream. Returns false once any write
  /// has failed; text put after a failure is dropped.
  bool Flush();

  /// Drops the text held, keeping the room it took: an Output without a
  /// stream used again.
  void Clear() {
    used_ = 0;
    last_ = 0;
  }

  /// The last byte put, or 0 before the first.
  [[nodiscard]] char Last() const { return used_ != 0 ? buffer_[used_ - 1] : last_; }

  /// The text held and not yet written: all of it when there is no stream.
  [[nodiscard]] std::string_view Text() const { return {buffer_.get(), used_}; }

 private:
  static constexpr std::size_t kMaxDigits = 11;    // "-2147483648"
  static constexpr std::size_t kMaxDigits64 = 20;  // "18446744073709551615"

  // Where the next n bytes go; makes room by writing out, or by growing.
  char* Room(std::size_t n) {
    if (capacity_ - used_ < n) MakeRoom(n);
    return buffer_.get() + used_;
  }
  void MakeRoom(std::size_t n);

  std::FILE* sink_;
  bool console_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;  // not zeroed: only the used part is ever read
  std::size_t used_ = 0;
  char last_ = 0;  // the last byte written out
  bool failed_ = false;
};

}  // namespace quenthar
