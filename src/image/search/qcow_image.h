// QCOW2 images (KVM, Proxmox, OpenStack), read with libqcow, compressed
// clusters and backing files included.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/search/byte_source.h"

namespace quenthar::image {

/// Whether the file at `path` is a QCOW image, by its first bytes.
bool IsQcow(const std::string& path);

/// The image's bytes; or the bare name of the backing file it needs beyond
/// `backing_files` (names beside it, the nearest first); or why it cannot be
/// read.
struct QcowImage {
  std::optional<ByteSource> bytes;
  std::optional<std::string> needs;
  std::string error;
};
QcowImage OpenQcow(const std::string& path, const std::vector<std::string>& backing_files);

}  // namespace quenthar::image
