// The one narrow interface between the layers of an image's search: bytes
// that a layer reads at offsets (a disk, a decrypted volume, a shadow-copy
// store), whoever turns them into what the next layer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quenthar::image {

struct ByteSource {
  std::uint64_t size = 0;
  unsigned sector_size = 512;
  /// Reads n bytes at offset (offset + n within size); false when it cannot,
  /// with nothing promised of `into`.
  std::function<bool(std::uint64_t offset, std::uint8_t* into, std::size_t n)> read;
};

}  // namespace quenthar::image
