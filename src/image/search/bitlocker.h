// BitLocker volumes, read with libbde: told by their own header, wherever
// they stand (a partition, or the whole image), and opened with a secret.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/search/byte_source.h"
#include "image/secrets.h"

namespace quenthar::image {

/// Whether the volume is a BitLocker volume (BitLocker To Go included: it
/// begins like FAT, and says what it is further on).
bool IsBitLocker(const ByteSource& volume);

/// A BitLocker volume tried with secrets: its bytes as they were before
/// encryption and the secret that opened it, or why it stays locked.
struct Unlocked {
  std::optional<ByteSource> volume;
  std::uint32_t secret = 0;
  std::string problem;  // when it stays locked
};

/// Tries each secret in turn until one opens the volume; the library is
/// handed a startup key from memory.
Unlocked UnlockBitLocker(const ByteSource& volume, const std::vector<Secret>& secrets);

}  // namespace quenthar::image
