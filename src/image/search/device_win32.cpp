#include "image/search/device_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quenthar::image {
namespace {

bool Geometry(HANDLE h, std::uint64_t& size, unsigned& sector_size) {
  GET_LENGTH_INFORMATION length{};
  DISK_GEOMETRY_EX geometry{};
  DWORD got = 0;
  if (!DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &got,
                       nullptr)) {
    return false;
  }
  size = static_cast<std::uint64_t>(length.Length.QuadPart);
  sector_size = 512;
  if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry,
                      &got, nullptr) &&
      geometry.Geometry.BytesPerSector >= 512 && geometry.Geometry.BytesPerSector % 512 == 0) {
    sector_size = geometry.Geometry.BytesPerSector;
  }
  return true;
}

// A device is read in whole sectors at sector offsets: the bytes asked for
// come out of the sectors that hold them.
bool ReadSectors(HANDLE h, unsigned sector, std::uint64_t offset, std::uint8_t* into,
                 std::size_t n) {
  const std::uint64_t first = offset / sector * sector;
  const std::uint64_t end = (offset + n + sector - 1) / sector * sector;
  std::vector<std::uint8_t> sectors(static_cast<std::size_t>(end - first));
  for (std::uint64_t at = 0; at < sectors.size();) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(first + at);
    where.OffsetHigh = static_cast<DWORD>((first + at) >> 32);
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::uint64_t>(sectors.size() - at, 1 << 20));
    if (!ReadFile(h, sectors.data() + at, want, &got, &where) || got == 0) return false;
    at += got;
  }
  std::memcpy(into, sectors.data() + (offset - first), n);
  return true;
}

}  // namespace

std::optional<ByteSource> OpenDevice(void* handle) {
  std::uint64_t size = 0;
  unsigned sector = 512;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !Geometry(handle, size, sector)) {
    return std::nullopt;
  }
  return ByteSource{size, sector,
                    [handle, sector](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
                      return ReadSectors(handle, sector, offset, into, n);
                    }};
}

}  // namespace quenthar::image
