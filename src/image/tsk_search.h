// The two jobs of the workers, the only code that hands image bytes to the
// libraries. Each opens the image itself and sends what it finds as
// messages (image/messages.h), in the order given there.
#pragma once

#include <cstdint>

#include "image/worker.h"

namespace quenthar::image {

/// Opens the image and its partition table and sends its volumes: every
/// allocated partition, or the whole image when it has no table.
void ListVolumes(const char* path, WorkerChannel& out);

/// Opens the file system at `offset` of the image and sends every log in
/// it, allocated or deleted, then what the search saw.
void SearchVolume(const char* path, std::uint64_t offset, WorkerChannel& out);

}  // namespace quenthar::image
