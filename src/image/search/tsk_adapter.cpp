#include "image/search/tsk_adapter.h"

#include <new>
#include <utility>

// The library's own allocation of an image, which an image of the caller's
// own must come from (not in its public headers).
extern "C" {
void* tsk_img_malloc(size_t);
void tsk_img_free(void*);
}

namespace quenthar::image {
namespace {

// The library takes a SourceImage for its own image: its first member.
struct SourceImage {
  TSK_IMG_INFO img;
  ByteSource* source;
};

ssize_t ReadSource(TSK_IMG_INFO* img, TSK_OFF_T offset, char* into, size_t n) {
  const auto* image = reinterpret_cast<SourceImage*>(img);
  const ByteSource& source = *image->source;
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= source.size) return -1;
  const std::uint64_t left = source.size - static_cast<std::uint64_t>(offset);
  const std::size_t length = n < left ? n : static_cast<std::size_t>(left);
  if (!source.read(static_cast<std::uint64_t>(offset), reinterpret_cast<std::uint8_t*>(into),
                   length)) {
    tsk_error_reset();
    tsk_error_set_errno(TSK_ERR_IMG_READ);
    tsk_error_set_errstr("tsk_img_read: the bytes at %lld cannot be read",
                         static_cast<long long>(offset));
    return -1;
  }
  return static_cast<ssize_t>(length);
}

void CloseSource(TSK_IMG_INFO* img) {
  auto* image = reinterpret_cast<SourceImage*>(img);
  delete image->source;
  tsk_img_free(image);
}

void NoStat(TSK_IMG_INFO* /*img*/, FILE* /*out*/) {}

}  // namespace

ImageHandle OpenAsImage(ByteSource source) {
  auto* image = static_cast<SourceImage*>(tsk_img_malloc(sizeof(SourceImage)));
  if (image == nullptr) return nullptr;
  image->source = new (std::nothrow) ByteSource(std::move(source));
  if (image->source == nullptr) {
    tsk_img_free(image);
    return nullptr;
  }
  const auto size = static_cast<TSK_OFF_T>(image->source->size);
  TSK_IMG_INFO* img = tsk_img_open_external(image, size, image->source->sector_size, ReadSource,
                                            CloseSource, NoStat);
  if (img == nullptr) {
    delete image->source;
    tsk_img_free(image);
  }
  return ImageHandle(img);
}

ByteSource WindowOf(TSK_IMG_INFO* img, std::uint64_t offset) {
  const auto size = static_cast<std::uint64_t>(img->size);
  return {offset < size ? size - offset : 0, img->sector_size,
          [img, offset](std::uint64_t at, std::uint8_t* into, std::size_t n) {
            while (n != 0) {
              const ssize_t got = tsk_img_read(img, static_cast<TSK_OFF_T>(offset + at),
                                               reinterpret_cast<char*>(into), n);
              if (got <= 0) return false;
              at += static_cast<std::uint64_t>(got);
              into += got;
              n -= static_cast<std::size_t>(got);
            }
            return true;
          }};
}

}  // namespace quenthar::image
