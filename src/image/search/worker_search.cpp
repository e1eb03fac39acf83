#include "image/search/worker_search.h"

#include <vector>

#include "image/search/file_system.h"
#include "image/search/image_formats.h"
#include "image/search/volume_system.h"

namespace quenthar::image {
namespace {

// Searches one volume: its file system, in the image or in the layers its
// chain names inside it.
void SearchVolume(TSK_IMG_INFO* img, Planned volume, const WorkerChannel& out) {
  if (!volume.chain.layers.empty()) {
    out.Send(VolumeSearchedMessage{0, 0, 0, "This build cannot open the volume's layers", true});
    return;
  }
  SearchFileSystem(img, volume.chain.offset, std::move(volume.fs), out);
}

}  // namespace

void RunJob(const JobMessage& job, const WorkerChannel& out, const ByteSource* opened) {
  const ImageHandle img = OpenImage(job.image, opened);
  if (img == nullptr) {
    const Error error = LastError();
    if (job.list) {
      out.Send(ImageNotOpenedMessage{
          error.number == TSK_ERR_AUX_MALLOC ? NotOpened::kOutOfMemory : NotOpened::kLibraryRefused,
          FitText(error.text, kMaxProblem)});
      return;
    }
    // Each volume left fails as the image does.
    for (std::size_t i = 0; i < job.volumes.size(); ++i) {
      out.Send(VolumeSearchedMessage{0, 0, 0, FitText(error.text, kMaxProblem), true});
    }
    return;
  }
  std::vector<Planned> volumes;
  if (job.list) {
    out.Send(ImageOpenedMessage{static_cast<std::uint64_t>(img->size)});
    if (SegmentsMissing(img.get(), job.image)) out.Send(ImageIncompleteMessage{});
    volumes = ListVolumes(img.get(), out);
  } else {
    for (const VolumeChain& chain : job.volumes) volumes.push_back({chain, nullptr});
  }
  for (Planned& volume : volumes) SearchVolume(img.get(), std::move(volume), out);
}

}  // namespace quenthar::image
