// A worker's job, the only code that hands image bytes to the libraries: it
// opens the image itself and sends what it finds as messages, in the order
// containment/messages.h gives.
#pragma once

#include "image/containment/channel.h"
#include "image/containment/messages.h"
#include "image/search/byte_source.h"

namespace quenthar::image {

/// Lists the image's volumes and searches each one to be searched, in that
/// order; or, without the listing, searches the volumes the job names (what
/// is left of an image whose worker failed). The image is `job.image`, or
/// `opened` where the caller opened it.
void RunJob(const JobMessage& job, const WorkerChannel& out, const ByteSource* opened);

}  // namespace quenthar::image
