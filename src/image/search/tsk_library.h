// What every layer built on The Sleuth Kit's library shares: an owner for
// each of its handles, and its errors as values.
#pragma once

#include <tsk/libtsk.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quenthar::image {

struct ImageCloser {
  void operator()(TSK_IMG_INFO* p) const { tsk_img_close(p); }
};
struct VolumeSystemCloser {
  void operator()(TSK_VS_INFO* p) const { tsk_vs_close(p); }
};
struct FileSystemCloser {
  void operator()(TSK_FS_INFO* p) const { tsk_fs_close(p); }
};
struct FileCloser {
  void operator()(TSK_FS_FILE* p) const { tsk_fs_file_close(p); }
};
using ImageHandle = std::unique_ptr<TSK_IMG_INFO, ImageCloser>;
using VolumeSystem = std::unique_ptr<TSK_VS_INFO, VolumeSystemCloser>;
using FileSystem = std::unique_ptr<TSK_FS_INFO, FileSystemCloser>;
using File = std::unique_ptr<TSK_FS_FILE, FileCloser>;

/// The library's last error, as it words it (valid UTF-8, no blank at its
/// end), and its number.
struct Error {
  std::string text;
  std::uint32_t number = 0;
};
Error LastError();

/// Whether the error tells of a failed read: the image is damaged or
/// incomplete, which must never pass for a volume without a file system.
bool IsReadFailure(const Error& e);

}  // namespace quenthar::image
