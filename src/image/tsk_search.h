// The two jobs of the workers, the only code that hands image bytes to the
// libraries. Each opens the image itself and sends what it finds as
// messages (image/messages.h), in the order given there.
#pragma once

#include <cstdint>
#include <vector>

#include "image/worker.h"

namespace quenthar::image {

/// Opens the image and its partition table and sends its volumes (every
/// allocated partition, or the whole image when it has no table); then
/// searches each volume to be searched, in that order, sending every log in
/// it, allocated or deleted, then what the search saw.
void SearchImage(const char* path, std::intptr_t device, WorkerChannel& out);

/// Searches the volumes at these offsets of the image as SearchImage does,
/// without the listing: what is left of an image whose worker failed.
void SearchVolumes(const char* path, std::intptr_t device,
                   const std::vector<std::uint64_t>& offsets, WorkerChannel& out);

/// A worker's job: one of the two above.
inline void RunJob(const WorkerJob& job, WorkerChannel& out) {
  if (job.list) return SearchImage(job.image.c_str(), job.device, out);
  SearchVolumes(job.image.c_str(), job.device, job.offsets, out);
}

}  // namespace quenthar::image
