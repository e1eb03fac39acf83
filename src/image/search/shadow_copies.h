// Volume Shadow Copy stores of an NTFS volume, read with libvshadow: each the
// volume as it was when the store was made.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/search/byte_source.h"

namespace quenthar::image {

/// The creation times (FILETIME) of the volume's stores, oldest first; none
/// where it has no store, or they cannot be read.
std::vector<std::uint64_t> StoreTimes(const ByteSource& volume);

/// Store `number` (from 1, oldest first): the volume as it was then.
std::optional<ByteSource> OpenStore(const ByteSource& volume, std::uint32_t number);

}  // namespace quenthar::image
