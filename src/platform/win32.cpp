#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace quenthar::platform {

std::optional<std::string> NarrowText(const char16_t* text) {
  // WideCharToMultiByte takes wchar_t: copy the units into an aligned wide string.
  std::wstring wide;
  for (const char16_t* p = text; *p != 0; ++p) wide.push_back(static_cast<wchar_t>(*p));
  const int n = lstrlenW(wide.c_str());
  if (static_cast<std::uint64_t>(n) + 1 > kMaxTextUnits) return std::nullopt;

  // Ask for the room first: a fixed room would drop text whose narrow form is long.
  const int needed =
      WideCharToMultiByte(CP_THREAD_ACP, 0, wide.c_str(), n + 1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, wide.c_str(), n + 1, out.data(), needed, nullptr,
                          nullptr) != needed) {
    return std::nullopt;
  }
  out.pop_back();  // the converted terminating NUL
  return out;
}

// By its UTF-16 name: a detour through the ANSI code page could lose
// characters or, by best fit, name another file. Every input is sized by
// seeking here; Windows has no FIFOs that could hold the open.
std::FILE* OpenForReading(const ArgChar* path, std::size_t /*stream_limit*/) {
  return _wfopen(path, L"rb");
}

std::FILE* CreateEmptyFile(const char* name) {
  const std::wstring wide(name, name + std::strlen(name));  // an ASCII name
  // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself
  // instead of what it points to; the checks below then refuse it. The file is
  // emptied only once it is known to be a plain disk file with one name.
  HANDLE file =
      CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & refused) != 0 || info.nNumberOfLinks != 1 || !SetEndOfFile(file)) {
    CloseHandle(file);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) _close(fd);
  return stream;
}

std::int64_t StreamLength(std::FILE* stream) {
  if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
  return _ftelli64(stream);
}

}  // namespace quenthar::platform
