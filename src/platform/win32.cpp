#include <windows.h>

#include <cstdio>
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
// characters or, by best fit, name another file.
std::FILE* OpenForReading(const ArgChar* path) { return _wfopen(path, L"rb"); }

std::int64_t StreamLength(std::FILE* stream) {
  if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
  return _ftelli64(stream);
}

}  // namespace quenthar::platform
