// Bytes of any layer as an image of The Sleuth Kit's library, through its
// interface for images of a caller's own: the one way a layer's bytes reach
// its partition tables and file systems.
#pragma once

#include "image/search/byte_source.h"
#include "image/search/tsk_library.h"

namespace quenthar::image {

/// An image that reads `source`, which it keeps; null, with the library's
/// error set, when it cannot be made.
ImageHandle OpenAsImage(ByteSource source);

/// The bytes of `img` from `offset` to its end, read through the library.
ByteSource WindowOf(TSK_IMG_INFO* img, std::uint64_t offset);

}  // namespace quenthar::image
