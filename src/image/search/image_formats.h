// The image's own format: raw, split raw, E01, VHD, VMDK and AFF, as The
// Sleuth Kit's library detects them (with libewf, libvhdi, libvmdk and
// AFFLIB below it), or bytes the worker was handed.
#pragma once

#include <string>

#include "image/search/byte_source.h"
#include "image/search/tsk_library.h"

namespace quenthar::image {

/// The image at `path`, or `opened` where the caller opened it (a disk on
/// Windows); null, with the library's error set, when it cannot be opened.
ImageHandle OpenImage(const std::string& path, const ByteSource* opened);

/// Whether the image is an E01 set with segments missing or damaged: such a
/// set still opens, and reads of what is missing may give zeros without an
/// error.
bool SegmentsMissing(const TSK_IMG_INFO* img, const std::string& path);

}  // namespace quenthar::image
