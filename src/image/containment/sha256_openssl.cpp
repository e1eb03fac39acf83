#include <openssl/evp.h>

#include "image/containment/sha256.h"

namespace quenthar::image {

std::optional<std::array<std::uint8_t, 32>> Sha256(const std::vector<std::uint8_t>& bytes) {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace quenthar::image
