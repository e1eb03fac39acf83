// Partition tables (DOS, GPT and the others The Sleuth Kit's library reads):
// an image's volumes.
#pragma once

#include <vector>

#include "image/containment/channel.h"
#include "image/search/tsk_library.h"

namespace quenthar::image {

/// A volume the listing sends to be searched, with its file system when the
/// listing had to open it to tell.
struct Planned {
  VolumeChain chain;
  FileSystem fs;
};

/// Sends the image's volumes: every allocated partition (each offset once),
/// or the whole image when it has no table or is a BitLocker volume, each to
/// be searched or with why it is not; then the end of the listing. Returns
/// those to search, in order.
std::vector<Planned> ListVolumes(TSK_IMG_INFO* img, const WorkerChannel& out);

}  // namespace quenthar::image
