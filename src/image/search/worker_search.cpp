#include "image/search/worker_search.h"

#include <algorithm>
#include <vector>

#include "image/search/bitlocker.h"
#include "image/search/file_system.h"
#include "image/search/image_formats.h"
#include "image/search/shadow_copies.h"
#include "image/search/tsk_adapter.h"
#include "image/search/volume_system.h"

namespace quenthar::image {
namespace {

bool HasStore(const VolumeChain& chain) {
  return std::any_of(chain.layers.begin(), chain.layers.end(),
                     [](const VolumeLayer& l) { return l.kind == LayerKind::kStore; });
}

// A volume that could not be opened as far as its file system.
void Unopenable(const WorkerChannel& out, const std::string& problem,
                NotSearched kind = NotSearched::kDamaged) {
  out.Send(VolumeSearchedMessage{0, 0, 0, FitText(problem, kMaxProblem), true, kind});
}

// Searches one volume: opens the layers its chain names (or finds it is a
// BitLocker volume and unlocks it), searches its file system, and lists the
// shadow-copy stores in it. Returns the volumes found inside it, to be
// searched next.
std::vector<VolumeChain> SearchVolume(TSK_IMG_INFO* img, Planned planned, const JobMessage& job,
                                      const WorkerChannel& out) {
  VolumeChain chain = planned.chain;
  ByteSource bytes = WindowOf(img, chain.offset);
  if (chain.layers.empty() && planned.fs == nullptr && IsBitLocker(bytes)) {
    Unlocked unlocked = UnlockBitLocker(bytes, job.secrets);
    out.Send(EncryptionMessage{unlocked.volume ? std::optional(unlocked.secret) : std::nullopt});
    if (!unlocked.volume) {
      Unopenable(out, unlocked.problem, NotSearched::kEncrypted);
      return {};
    }
    chain.layers.push_back({LayerKind::kBitLocker, unlocked.secret});
    bytes = std::move(*unlocked.volume);
  } else {
    for (const VolumeLayer& layer : chain.layers) {
      if (layer.kind == LayerKind::kBitLocker) {
        std::vector<Secret> opener;
        for (const Secret& s : job.secrets) {
          if (s.number == layer.index) opener.push_back(s);
        }
        Unlocked unlocked = UnlockBitLocker(bytes, opener);
        if (!unlocked.volume) {
          Unopenable(out, unlocked.problem, NotSearched::kEncrypted);
          return {};
        }
        bytes = std::move(*unlocked.volume);
      } else {
        std::optional<ByteSource> store = OpenStore(bytes, layer.index);
        if (!store) {
          Unopenable(out, "The shadow-copy store cannot be read");
          return {};
        }
        bytes = std::move(*store);
      }
    }
  }
  // A volume in a layer is an image of its own to the file-system library.
  ImageHandle layered;
  TSK_IMG_INFO* at = img;
  std::uint64_t offset = chain.offset;
  if (!chain.layers.empty()) {
    layered = OpenAsImage(bytes);
    if (layered == nullptr) {
      Unopenable(out, LastError().text);
      return {};
    }
    at = layered.get();
    offset = 0;
  }
  FileSystemSeen searched = SearchFileSystem(at, offset, std::move(planned.fs), out);
  std::vector<VolumeChain> inside;
  if (job.shadow_copies && searched.ntfs && !HasStore(chain)) {
    const std::vector<std::uint64_t> times = StoreTimes(bytes);
    for (std::uint32_t number = 1; number <= times.size(); ++number) {
      VolumeChain store = chain;
      store.layers.push_back({LayerKind::kStore, number});
      out.Send(VolumeListedMessage{store, std::nullopt, std::nullopt, false, NotSearched::kNo,
                                   times[number - 1]});
      inside.push_back(std::move(store));
    }
  }
  out.Send(searched.seen);
  return inside;
}

// Searches a volume, then each found inside it, in the order they were listed.
void SearchAll(TSK_IMG_INFO* img, Planned volume, const JobMessage& job, const WorkerChannel& out) {
  for (VolumeChain& inside : SearchVolume(img, std::move(volume), job, out)) {
    SearchAll(img, {std::move(inside), nullptr}, job, out);
  }
}

}  // namespace

void RunJob(const JobMessage& job, const WorkerChannel& out, const ByteSource* opened) {
  OpenedImage image = OpenImage(job.image, job.backing_files, opened);
  if (image.img == nullptr) {
    if (job.list) {
      if (image.needs_backing_file) {
        out.Send(BackingFileMessage{FitText(*image.needs_backing_file, kMaxName)});
      } else {
        out.Send(*image.not_opened);
      }
      return;
    }
    // Each volume left fails as the image does.
    const std::string why =
        image.not_opened ? image.not_opened->error : "The image's backing files changed";
    for (std::size_t i = 0; i < job.volumes.size(); ++i) Unopenable(out, why);
    return;
  }
  std::vector<Planned> volumes;
  if (job.list) {
    out.Send(ImageOpenedMessage{static_cast<std::uint64_t>(image.img->size), image.format});
    if (SegmentsMissing(image.img.get(), job.image)) out.Send(ImageIncompleteMessage{});
    volumes = ListVolumes(image.img.get(), out);
  } else {
    for (const VolumeChain& chain : job.volumes) volumes.push_back({chain, nullptr});
  }
  for (Planned& volume : volumes) SearchAll(image.img.get(), std::move(volume), job, out);
}

}  // namespace quenthar::image
