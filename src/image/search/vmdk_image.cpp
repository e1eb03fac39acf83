#define LIBVMDK_HAVE_BFIO 1
#include "image/search/vmdk_image.h"

#include <libbfio.h>
#include <libvmdk.h>

#include <memory>

namespace quenthar::image {
namespace {

struct PoolCloser {
  void operator()(libbfio_pool_t* p) const { libbfio_pool_free(&p, nullptr); }
};
struct HandleCloser {
  void operator()(libvmdk_handle_t* h) const {
    libvmdk_handle_close(h, nullptr);
    libvmdk_handle_free(&h, nullptr);
  }
};

// The disk and the files it reads: the disk, declared last, is closed first.
struct Disk {
  std::unique_ptr<libbfio_pool_t, PoolCloser> files;
  std::unique_ptr<libvmdk_handle_t, HandleCloser> handle;
};

// The file at `path` as the pool's one file.
bool AddFile(libbfio_pool_t* pool, const std::string& path) {
  libbfio_handle_t* file = nullptr;
  if (libbfio_file_initialize(&file, nullptr) != 1) return false;
  const bool named = libbfio_file_set_name(file, path.c_str(), path.size(), nullptr) == 1;
  int entry = 0;
  if (!named || libbfio_pool_append_handle(pool, &entry, file, LIBBFIO_OPEN_READ, nullptr) != 1) {
    libbfio_handle_free(&file, nullptr);
    return false;
  }
  return true;  // the pool's now
}

}  // namespace

std::optional<ByteSource> OpenOneFileVmdk(const std::string& path) {
  auto disk = std::make_shared<Disk>();
  libvmdk_handle_t* raw = nullptr;
  if (libvmdk_handle_initialize(&raw, nullptr) != 1) return std::nullopt;
  disk->handle.reset(raw);
  const int opened = libvmdk_handle_open(raw, path.c_str(), LIBVMDK_OPEN_READ, nullptr);
  int extents = 0;
  if (opened != 1 || libvmdk_handle_get_number_of_extents(raw, &extents, nullptr) != 1 ||
      extents != 1) {
    return std::nullopt;
  }
  libbfio_pool_t* pool = nullptr;
  if (libbfio_pool_initialize(&pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) !=
      1) {
    return std::nullopt;
  }
  disk->files.reset(pool);
  size64_t size = 0;
  if (!AddFile(pool, path) ||
      libvmdk_handle_open_extent_data_files_file_io_pool(raw, pool, nullptr) != 1 ||
      libvmdk_handle_get_media_size(raw, &size, nullptr) != 1) {
    return std::nullopt;
  }
  return ByteSource{
      size, 512, [disk, raw](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
        return libvmdk_handle_read_buffer_at_offset(raw, into, n, static_cast<off64_t>(offset),
                                                    nullptr) == static_cast<ssize_t>(n);
      }};
}

}  // namespace quenthar::image
