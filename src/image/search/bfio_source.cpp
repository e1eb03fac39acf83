#include "image/search/bfio_source.h"

#include <new>
#include <utility>

namespace quenthar::image {
namespace {

// What libbfio's callbacks are handed: the bytes and where a read starts.
struct Io {
  ByteSource source;
  std::uint64_t at = 0;
};

Io* Of(intptr_t* io) { return reinterpret_cast<Io*>(io); }

int FreeIo(intptr_t** io, libbfio_error_t** /*error*/) {
  delete Of(*io);
  *io = nullptr;
  return 1;
}

int CloneIo(intptr_t** into, intptr_t* io, libbfio_error_t** /*error*/) {
  auto* copy = new (std::nothrow) Io{Of(io)->source, 0};
  *into = reinterpret_cast<intptr_t*>(copy);
  return copy != nullptr ? 1 : -1;
}

int Opened(intptr_t* /*io*/, int /*flags*/, libbfio_error_t** /*error*/) { return 1; }
int Closed(intptr_t* /*io*/, libbfio_error_t** /*error*/) { return 0; }
int Exists(intptr_t* /*io*/, libbfio_error_t** /*error*/) { return 1; }
int IsOpen(intptr_t* /*io*/, libbfio_error_t** /*error*/) { return 1; }

ssize_t Read(intptr_t* io, uint8_t* into, size_t n, libbfio_error_t** /*error*/) {
  Io& in = *Of(io);
  if (in.at >= in.source.size) return 0;
  const std::uint64_t left = in.source.size - in.at;
  const std::size_t length = n < left ? n : static_cast<std::size_t>(left);
  if (!in.source.read(in.at, into, length)) return -1;
  in.at += length;
  return static_cast<ssize_t>(length);
}

ssize_t Write(intptr_t* /*io*/, const uint8_t* /*from*/, size_t /*n*/,
              libbfio_error_t** /*error*/) {
  return -1;  // evidence is only read
}

off64_t Seek(intptr_t* io, off64_t offset, int whence, libbfio_error_t** /*error*/) {
  Io& in = *Of(io);
  const auto base = static_cast<off64_t>(whence == SEEK_CUR   ? in.at
                                         : whence == SEEK_END ? in.source.size
                                                              : 0);
  if (offset < -base) return -1;
  in.at = static_cast<std::uint64_t>(base + offset);
  return static_cast<off64_t>(in.at);
}

int Size(intptr_t* io, size64_t* size, libbfio_error_t** /*error*/) {
  *size = Of(io)->source.size;
  return 1;
}

}  // namespace

BfioHandle OpenBfio(ByteSource source) {
  auto* io = new (std::nothrow) Io{std::move(source), 0};
  if (io == nullptr) return nullptr;
  libbfio_handle_t* handle = nullptr;
  if (libbfio_handle_initialize(
          &handle, reinterpret_cast<intptr_t*>(io), FreeIo, CloneIo, Opened, Closed, Read, Write,
          Seek, Exists, IsOpen, Size,
          LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
          nullptr) != 1) {
    delete io;
    return nullptr;
  }
  return BfioHandle(handle);
}

BfioHandle MemoryBfio(const std::vector<std::uint8_t>& bytes) {
  libbfio_handle_t* handle = nullptr;
  if (libbfio_memory_range_initialize(&handle, nullptr) != 1) return nullptr;
  BfioHandle owned(handle);
  // The library only reads the range.
  auto* start = const_cast<std::uint8_t*>(bytes.data());  // NOLINT: the library's signature
  if (libbfio_memory_range_set(handle, start, bytes.size(), nullptr) != 1) return nullptr;
  return owned;
}

}  // namespace quenthar::image
