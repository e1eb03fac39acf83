// The SHA-256 of a found log's bytes, computed by the output process, with
// the system's own library on each platform (libcrypto on Linux, CNG on
// Windows).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace quenthar::image {

/// The digest, or nullopt when it cannot be computed: never a digest of a
/// failed computation.
std::optional<std::array<std::uint8_t, 32>> Sha256(const std::vector<std::uint8_t>& bytes);

}  // namespace quenthar::image
