#include "image/search/volume_system.h"

#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/search/bitlocker.h"
#include "image/search/file_system.h"
#include "image/search/tsk_adapter.h"
#include "text/utf16.h"

namespace quenthar::image {
namespace {

void Unsearched(const WorkerChannel& out, std::uint64_t offset,
                const std::optional<std::string>& partition, const Unopened& why) {
  out.Send(VolumeListedMessage{
      {offset, {}}, partition, FitText(why.problem, kMaxProblem), why.failed, why.kind, {}});
}

// The partition table of the image, as detection finds it, or none.
VolumeSystem OpenVolumeSystem(TSK_IMG_INFO* img, std::vector<std::string>& errors) {
  tsk_error_reset();
  if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, TSK_VS_TYPE_DETECT)) return VolumeSystem(vs);
  const Error error = LastError();
  if (IsReadFailure(error)) errors.push_back(error.text);
  return nullptr;
}

// Sets the image's size for as long as it lives, then puts the real one back.
class ImageSizeOverride {
 public:
  ImageSizeOverride(TSK_IMG_INFO* img, TSK_OFF_T size) : img_(img), size_(img->size) {
    img->size = size;
  }
  ~ImageSizeOverride() { img_->size = size_; }
  ImageSizeOverride(const ImageSizeOverride&) = delete;
  ImageSizeOverride& operator=(const ImageSizeOverride&) = delete;

 private:
  TSK_IMG_INFO* img_;
  TSK_OFF_T size_;
};

// A DOS or GPT partition table asked for by its kind: detection turns a table
// down without a word when one of its partitions lies past the image's end.
// Collects the errors of tables that are there but cannot be read.
VolumeSystem OpenVolumeSystemOfKind(TSK_IMG_INFO* img, std::vector<std::string>& errors) {
  for (const TSK_VS_TYPE_ENUM type : {TSK_VS_TYPE_DOS, TSK_VS_TYPE_GPT}) {
    tsk_error_reset();
    if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, type)) return VolumeSystem(vs);
    const Error error = LastError();
    if (error.number == TSK_ERR_VS_BLK_NUM) {
      // A partition lies past the image's end, and the library refuses the
      // whole table for it: its table readers check each partition against
      // the image's `size` field, and read only the table itself. Read as if
      // the image were long enough, the table gives its partitions, and each
      // is checked against the real end.
      const ImageSizeOverride longer(img, std::numeric_limits<TSK_OFF_T>::max() / 2);
      tsk_error_reset();
      if (TSK_VS_INFO* vs = tsk_vs_open(img, 0, type)) return VolumeSystem(vs);
    }
    if (error.number != TSK_ERR_VS_MAGIC && error.number != TSK_ERR_VS_UNKTYPE) {
      errors.push_back(error.text);
    }
  }
  return nullptr;
}

void SendPartitions(const TSK_IMG_INFO* img, const TSK_VS_INFO* vs, const WorkerChannel& out,
                    std::vector<Planned>& planned) {
  const auto image_size = static_cast<std::uint64_t>(img->size);
  // The partition searched at each offset, by its number in the listing: a
  // file system is opened by its offset, so a table that repeats one costs
  // one search.
  std::map<std::uint64_t, std::string> searched;
  std::size_t number = 0;
  for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
    if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) continue;
    ++number;
    // A table's numbers are the image's: a product past 64 bits lies past its end.
    std::uint64_t start = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    const bool beyond =
        __builtin_mul_overflow(std::uint64_t{part->start}, vs->block_size, &start) ||
        __builtin_add_overflow(start, static_cast<std::uint64_t>(vs->offset), &offset);
    const bool too_long = __builtin_mul_overflow(std::uint64_t{part->len}, vs->block_size, &length);
    std::optional<std::string> partition;
    if (part->desc != nullptr && part->desc[0] != '\0') {
      partition = FitText(ValidUtf8(part->desc), kMaxName);
    }
    const auto repeated = searched.find(offset);
    if (beyond || offset >= image_size) {
      Unsearched(out, offset, partition,
                 {"Partition starts past the end of the image", true, NotSearched::kDamaged});
    } else if (too_long || length > image_size - offset) {
      Unsearched(out, offset, partition,
                 {"Partition ends past the end of the image", true, NotSearched::kDamaged});
    } else if (repeated != searched.end()) {
      Unsearched(
          out, offset, partition,
          {"Same start as " + repeated->second + ", searched once", false, NotSearched::kRepeated});
    } else {
      std::string name = "partition " + std::to_string(number);
      if (partition) name += " (" + *partition + ")";
      searched.emplace(offset, FitText(name, kMaxName));
      out.Send(
          VolumeListedMessage{{offset, {}}, partition, std::nullopt, false, NotSearched::kNo, {}});
      planned.push_back({{offset, {}}, nullptr});
    }
  }
}

}  // namespace

std::vector<Planned> ListVolumes(TSK_IMG_INFO* img, const WorkerChannel& out) {
  std::vector<Planned> planned;
  const ListingDoneMessage listed;
  // A BitLocker volume as the whole image: its header would read as a
  // partition table.
  if (IsBitLocker(WindowOf(img, 0))) {
    out.Send(VolumeListedMessage{});
    planned.push_back({{}, nullptr});
    out.Send(listed);
    return planned;
  }
  std::vector<std::string> table_errors;
  VolumeSystem vs = OpenVolumeSystem(img, table_errors);
  if (vs == nullptr && table_errors.empty()) {
    // No table: one file system over the whole image, when there is one.
    Error error;
    FileSystem fs = OpenFileSystem(img, 0, error);
    if (fs != nullptr || IsReadFailure(error)) {
      out.Send(VolumeListedMessage{});
      planned.push_back({{}, std::move(fs)});
      out.Send(listed);
      return planned;
    }
    vs = OpenVolumeSystemOfKind(img, table_errors);
    if (vs == nullptr && table_errors.empty()) {
      Unsearched(out, 0, std::nullopt, ExplainUnopened(error));
      out.Send(listed);
      return planned;
    }
  }
  if (vs == nullptr) {
    std::string problem;
    for (const std::string& e : table_errors) problem += (problem.empty() ? "" : "; ") + e;
    Unsearched(out, 0, std::nullopt, {problem, true, NotSearched::kDamaged});
  } else {
    SendPartitions(img, vs.get(), out, planned);
  }
  out.Send(listed);
  return planned;
}

}  // namespace quenthar::image
