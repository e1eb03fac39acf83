#define LIBVSHADOW_HAVE_BFIO 1
#include "image/search/shadow_copies.h"

#include <libvshadow.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "image/search/bfio_source.h"

namespace quenthar::image {
namespace {

struct VolumeCloser {
  void operator()(libvshadow_volume_t* v) const {
    libvshadow_volume_close(v, nullptr);
    libvshadow_volume_free(&v, nullptr);
  }
};
struct StoreCloser {
  void operator()(libvshadow_store_t* s) const { libvshadow_store_free(&s, nullptr); }
};

// The stores of a volume, and what they read through: freed in reverse.
struct Stores {
  BfioHandle bytes;
  std::unique_ptr<libvshadow_volume_t, VolumeCloser> volume;
  std::vector<std::pair<std::uint64_t, int>> by_age;  // creation time, the library's index
};

std::shared_ptr<Stores> Open(const ByteSource& source) {
  auto s = std::make_shared<Stores>();
  s->bytes = OpenBfio(source);
  libvshadow_volume_t* raw = nullptr;
  if (s->bytes == nullptr ||
      libvshadow_check_volume_signature_file_io_handle(s->bytes.get(), nullptr) != 1 ||
      libvshadow_volume_initialize(&raw, nullptr) != 1) {
    return nullptr;
  }
  s->volume.reset(raw);
  int count = 0;
  if (libvshadow_volume_open_file_io_handle(raw, s->bytes.get(), LIBVSHADOW_OPEN_READ, nullptr) !=
          1 ||
      libvshadow_volume_get_number_of_stores(raw, &count, nullptr) != 1) {
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    libvshadow_store_t* store = nullptr;
    std::uint64_t created = 0;
    if (libvshadow_volume_get_store(raw, i, &store, nullptr) != 1) return nullptr;
    const std::unique_ptr<libvshadow_store_t, StoreCloser> owned(store);
    if (libvshadow_store_get_creation_time(store, &created, nullptr) != 1) return nullptr;
    s->by_age.emplace_back(created, i);
  }
  std::stable_sort(s->by_age.begin(), s->by_age.end());
  return s;
}

}  // namespace

std::vector<std::uint64_t> StoreTimes(const ByteSource& volume) {
  const std::shared_ptr<Stores> s = Open(volume);
  std::vector<std::uint64_t> times;
  if (s != nullptr) {
    for (const auto& [created, index] : s->by_age) times.push_back(created);
  }
  return times;
}

std::optional<ByteSource> OpenStore(const ByteSource& volume, std::uint32_t number) {
  const std::shared_ptr<Stores> s = Open(volume);
  if (s == nullptr || number == 0 || number > s->by_age.size()) return std::nullopt;
  libvshadow_store_t* raw = nullptr;
  if (libvshadow_volume_get_store(s->volume.get(), s->by_age[number - 1].second, &raw, nullptr) !=
      1) {
    return std::nullopt;
  }
  // The store, and the volume it reads, live as long as its bytes.
  auto store = std::shared_ptr<libvshadow_store_t>(
      raw, [s](libvshadow_store_t* p) { libvshadow_store_free(&p, nullptr); });
  size64_t size = 0;
  if (libvshadow_store_get_volume_size(raw, &size, nullptr) != 1) return std::nullopt;
  return ByteSource{
      size, volume.sector_size, [store](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
        return libvshadow_store_read_buffer_at_offset(store.get(), into, n,
                                                      static_cast<off64_t>(offset),
                                                      nullptr) == static_cast<ssize_t>(n);
      }};
}

}  // namespace quenthar::image
