// The image's own format: raw, split raw, E01, VHD, VMDK and AFF, as The
// Sleuth Kit's library detects them (with libewf, libvhdi, libvmdk and
// AFFLIB below it), QCOW2 with libqcow, or bytes the worker was handed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/containment/messages.h"
#include "image/search/byte_source.h"
#include "image/search/tsk_library.h"

namespace quenthar::image {

/// The image opened, or why not: a backing file it needs beyond those
/// given, or its format's library refusing it (with the library's reason).
struct OpenedImage {
  ImageHandle img;
  std::string format;  // raw, split raw, E01, VHD, VHDX, VMDK, QCOW2, AFF, disk
  std::optional<std::string> needs_backing_file;
  std::optional<ImageNotOpenedMessage> not_opened;
};

/// The image at `path` (with its backing files, names beside it), or
/// `opened` where the caller opened it (a disk on Windows). An image in a
/// format told by its name or its first bytes (E01 and its segments, VMDK,
/// VHD, VHDX, QCOW2) is opened as that format only: when its library refuses
/// it, it is damaged, and never read as raw bytes.
OpenedImage OpenImage(const std::string& path, const std::vector<std::string>& backing_files,
                      const ByteSource* opened);

/// Whether the image is an E01 set with segments missing or damaged: such a
/// set still opens, and reads of what is missing may give zeros without an
/// error.
bool SegmentsMissing(const TSK_IMG_INFO* img, const std::string& path);

}  // namespace quenthar::image
