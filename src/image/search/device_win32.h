// A disk on Windows (\\.\PhysicalDriveN, \\.\C:), opened by the output
// process, which has the rights, and read by a worker, which has not.
#pragma once

#include <optional>
#include <string>

#include "image/search/byte_source.h"

namespace quenthar::image {

/// Whether the path names a device rather than a file.
inline bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

/// The bytes of the device behind `handle` (a HANDLE open for reading),
/// read in whole sectors; nullopt when its size cannot be had.
std::optional<ByteSource> OpenDevice(void* handle);

}  // namespace quenthar::image
