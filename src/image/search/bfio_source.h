// Bytes of any layer as a handle of libbfio, the one file-I/O library that
// libbde and libvshadow read through.
#pragma once

#include <libbfio.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "image/search/byte_source.h"

namespace quenthar::image {

struct BfioCloser {
  void operator()(libbfio_handle_t* h) const { libbfio_handle_free(&h, nullptr); }
};
using BfioHandle = std::unique_ptr<libbfio_handle_t, BfioCloser>;

/// A handle that reads `source`, which it keeps; null when it cannot be made.
BfioHandle OpenBfio(ByteSource source);

/// A handle that reads bytes in memory (a startup key), which must outlive it.
BfioHandle MemoryBfio(const std::vector<std::uint8_t>& bytes);

}  // namespace quenthar::image
