#define LIBBDE_HAVE_BFIO
#include "image/search/bitlocker.h"

#include <libbde.h>

#include <memory>

#include "image/search/bfio_source.h"

namespace quenthar::image {
namespace {

struct VolumeCloser {
  void operator()(libbde_volume_t* v) const {
    libbde_volume_close(v, nullptr);
    libbde_volume_free(&v, nullptr);
  }
};
using Volume = std::unique_ptr<libbde_volume_t, VolumeCloser>;

// A volume opened with one secret (or none): the volume, which stays locked
// when the secret does not open it; null when the library refuses the volume.
struct Opened {
  BfioHandle bytes;  // the volume reads through it: it goes after the volume
  Volume volume;
};

bool Offer(libbde_volume_t* v, const Secret& secret) {
  const std::vector<std::uint8_t>& value = secret.value.Bytes();
  switch (secret.kind) {
    case SecretKind::kRecoveryPassword:
      return libbde_volume_set_utf8_recovery_password(v, value.data(), value.size(), nullptr) == 1;
    case SecretKind::kPassword:
      return libbde_volume_set_utf8_password(v, value.data(), value.size(), nullptr) == 1;
    case SecretKind::kStartupKey: {
      const BfioHandle key = MemoryBfio(value);
      return key != nullptr &&
             libbde_volume_read_startup_key_file_io_handle(v, key.get(), nullptr) == 1;
    }
  }
  return false;
}

Opened Open(const ByteSource& volume, const Secret* secret) {
  Opened o;
  libbde_volume_t* raw = nullptr;
  if (libbde_volume_initialize(&raw, nullptr) != 1) return o;
  Volume v(raw);
  o.bytes = OpenBfio(volume);
  if (o.bytes == nullptr || (secret != nullptr && !Offer(v.get(), *secret)) ||
      libbde_volume_open_file_io_handle(v.get(), o.bytes.get(), LIBBDE_OPEN_READ, nullptr) != 1) {
    return {};
  }
  o.volume = std::move(v);
  return o;
}

constexpr const char* kEncrypted = "This volume is encrypted with BitLocker; ";

}  // namespace

bool IsBitLocker(const ByteSource& volume) {
  const BfioHandle bytes = OpenBfio(volume);
  return bytes != nullptr &&
         libbde_check_volume_signature_file_io_handle(bytes.get(), nullptr) == 1;
}

Unlocked UnlockBitLocker(const ByteSource& volume, const std::vector<Secret>& secrets) {
  bool refused = true;  // by the library, whatever the secret
  if (secrets.empty()) refused = Open(volume, nullptr).volume == nullptr;
  for (const Secret& secret : secrets) {
    Opened o = Open(volume, &secret);
    if (o.volume == nullptr) continue;
    refused = false;
    if (libbde_volume_is_locked(o.volume.get(), nullptr) != 0) continue;
    size64_t size = 0;
    if (libbde_volume_get_size(o.volume.get(), &size, nullptr) != 1) continue;
    // The volume's bytes read through the library, which lives as long as they.
    auto opened = std::make_shared<Opened>(std::move(o));
    return {ByteSource{size, 512,
                       [opened](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
                         return libbde_volume_read_buffer_at_offset(
                                    opened->volume.get(), into, n, static_cast<off64_t>(offset),
                                    nullptr) == static_cast<ssize_t>(n);
                       }},
            secret.number,
            {}};
  }
  if (refused) {
    return {std::nullopt, 0,
            std::string(kEncrypted) +
                "this build cannot open it (its protector or cipher is not supported)"};
  }
  if (secrets.empty()) {
    return {std::nullopt, 0,
            std::string(kEncrypted) + "give its recovery password with --key-file"};
  }
  return {std::nullopt, 0, std::string(kEncrypted) + "none of the keys given opens it"};
}

}  // namespace quenthar::image
