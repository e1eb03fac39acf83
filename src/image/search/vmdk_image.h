// A VMDK of one file read from itself: such a file (a sparse or
// stream-optimised disk) holds its descriptor, which names the file as it was
// made, and the library opens its data by that name, which for a copy
// renamed, as evidence often is, is not the file's own. Linux only: the
// Windows build's libvmdk carries a libbfio of its own.
#pragma once

#include <optional>
#include <string>

#include "image/search/byte_source.h"

namespace quenthar::image {

/// The disk of the VMDK at `path`, which must begin with a sparse extent's
/// header (the file holds its data), when its descriptor names one extent:
/// its data is read from `path` itself, whatever name the descriptor gives.
std::optional<ByteSource> OpenOneFileVmdk(const std::string& path);

}  // namespace quenthar::image
