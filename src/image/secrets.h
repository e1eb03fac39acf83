// Secrets that may open an encrypted volume. They are read from key files by
// the output process, handed only to the workers that need them, and wiped
// where they are let go; no record, problem or message ever shows one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quenthar::image {

/// Bytes that are wiped when they are let go. Every one alive in the process
/// is known, so that a forked worker can wipe those it was not given.
class SecretBytes {
 public:
  SecretBytes() { Live().push_back(this); }
  explicit SecretBytes(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    Live().push_back(this);
  }
  SecretBytes(const SecretBytes& other) : bytes_(other.bytes_) { Live().push_back(this); }
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {
    Live().push_back(this);
  }
  SecretBytes& operator=(const SecretBytes& other) {
    if (this != &other) {
      Wipe();
      bytes_ = other.bytes_;
    }
    return *this;
  }
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      Wipe();
      bytes_ = std::move(other.bytes_);
    }
    return *this;
  }
  ~SecretBytes() {
    Wipe();
    std::erase(Live(), this);
  }

  /// Zeroes the bytes (stores the compiler may not leave out) and drops them.
  void Wipe() {
    volatile std::uint8_t* p = bytes_.data();
    for (std::size_t i = 0; i < bytes_.size(); ++i) p[i] = 0;
    bytes_.clear();
  }

  /// Wipes every secret alive in the process but those kept.
  template <typename Keep>
  static void WipeAllBut(const Keep& keep) {
    for (SecretBytes* s : Live()) {
      if (!keep(s)) s->Wipe();
    }
  }

  [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  bool operator==(const SecretBytes& other) const { return bytes_ == other.bytes_; }

 private:
  static std::vector<SecretBytes*>& Live() {
    static std::vector<SecretBytes*> live;
    return live;
  }
  std::vector<std::uint8_t> bytes_;
};

/// What a secret is.
enum class SecretKind : std::uint8_t {
  kRecoveryPassword,  // 48 digits in eight groups of six, joined by hyphens
  kPassword,          // UTF-8
  kStartupKey,        // a startup key file's bytes
};

/// A secret, with its number in the run: what a worker says opened a volume.
struct Secret {
  std::uint32_t number = 0;
  SecretKind kind = SecretKind::kPassword;
  SecretBytes value;
  bool operator==(const Secret&) const = default;
};

/// A secret and what the records call it: its kind and where it was read
/// ("recovery password (keys.txt, line 1)").
struct KeySecret {
  Secret secret;
  std::string label;
};

}  // namespace quenthar::image
