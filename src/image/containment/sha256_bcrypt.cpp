#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "image/containment/sha256.h"

namespace quenthar::image {

std::optional<std::array<std::uint8_t, 32>> Sha256(const std::vector<std::uint8_t>& bytes) {
  std::array<std::uint8_t, 32> digest{};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    return std::nullopt;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
  // The input is never written; the call takes a plain pointer.
  done = done && BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                                static_cast<ULONG>(bytes.size()), 0) >= 0;
  done = done && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) return std::nullopt;
  return digest;
}

}  // namespace quenthar::image
