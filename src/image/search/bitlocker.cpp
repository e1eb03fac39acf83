#define LIBBDE_HAVE_BFIO 1
#include "image/search/bitlocker.h"

#include <libbde.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

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
// when the secret does not open it; null when it cannot be opened, `refused`
// when the library refuses the volume itself (its kind, protector or state:
// it cannot open it without a secret) or the keys the secret gave.
struct Opened {
  BfioHandle bytes;  // the volume reads through it: it goes after the volume
  Volume volume;
  bool refused = false;
};

// Whether the library's error says it cannot use the keys a secret gave:
// keys its ciphers cannot take. (Its text; where a build of the library gives
// none, the volume reads as not opened by the secret.)
bool Unsupported(libbde_error_t* error) {
  if (error == nullptr) return false;
  std::array<char, 4096> text{};
  libbde_error_backtrace_sprint(error, text.data(), text.size());
  libbde_error_free(&error);
  const std::string_view said(text.data());
  return said.find("unsupported") != std::string_view::npos ||
         said.find("unable to set keys in encryption context") != std::string_view::npos;
}

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
  if (o.bytes == nullptr || (secret != nullptr && !Offer(v.get(), *secret))) return {};
  // Opened unlocked (1), or opened and still locked (0).
  libbde_error_t* error = nullptr;
  if (libbde_volume_open_file_io_handle(v.get(), o.bytes.get(), LIBBDE_OPEN_READ, &error) < 0) {
    Opened failed;
    failed.refused = secret == nullptr || Unsupported(error);
    if (secret == nullptr) libbde_error_free(&error);
    return failed;
  }
  o.volume = std::move(v);
  return o;
}

constexpr const char* kEncrypted = "This volume is encrypted with BitLocker; ";

}  // namespace

// Told by its own header, as Windows tells it: "-FVE-FS-" where a file
// system's name would stand (whatever its state: encrypting, encrypted only
// where used), or for BitLocker To Go, a FAT header with BitLocker's
// identifier further on. The library's own check misses volumes it cannot
// open, which must not be read as partition tables either.
bool IsBitLocker(const ByteSource& volume) {
  constexpr std::string_view kSignature = "-FVE-FS-";
  constexpr std::string_view kToGo = "MSWIN4.1";
  constexpr std::size_t kToGoIdentifier = 0x1A8;
  // {4967D63B-2E29-4AD8-8399-F6A339E3D001}, as it is stored.
  constexpr std::array<std::uint8_t, 16> kIdentifier = {0x3b, 0xd6, 0x67, 0x49, 0x29, 0x2e,
                                                        0xd8, 0x4a, 0x83, 0x99, 0xf6, 0xa3,
                                                        0x39, 0xe3, 0xd0, 0x01};
  std::array<std::uint8_t, 512> header{};
  if (volume.size < header.size() || !volume.read(0, header.data(), header.size())) return false;
  const auto name = [&header](std::string_view want) {
    return std::equal(want.begin(), want.end(), header.begin() + 3,
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
  };
  return name(kSignature) ||
         (name(kToGo) && std::equal(kIdentifier.begin(), kIdentifier.end(),
                                    header.begin() + static_cast<std::ptrdiff_t>(kToGoIdentifier)));
}

Unlocked UnlockBitLocker(const ByteSource& volume, const std::vector<Secret>& secrets) {
  // Refused by the library: without a secret (a wrong secret opens it, and
  // it stays locked; a startup key that fits none of its protectors fails
  // the open), or with one that may be right.
  bool refused = Open(volume, nullptr).refused;
  for (const Secret& secret : secrets) {
    Opened o = Open(volume, &secret);
    if (o.volume == nullptr) {
      refused = refused || o.refused;
      continue;
    }
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
