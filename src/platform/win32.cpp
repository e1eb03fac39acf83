#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quenthar::platform {
namespace {

// The C runtime's handle of a stream.
HANDLE HandleOf(std::FILE* stream) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the handle is an integer there
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

FileIdentity IdentityOf(HANDLE file) {
  // The 128-bit id where the file system has it; else the 64-bit file index.
  // The first part tells which, so that the two kinds never compare equal.
  FILE_ID_INFO id{};
  if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
    std::array<std::uint64_t, 2> halves{};
    static_assert(sizeof halves == sizeof id.FileId.Identifier);
    std::memcpy(halves.data(), id.FileId.Identifier, sizeof halves);
    return {{1, id.VolumeSerialNumber, halves[0], halves[1]}, true};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return {};
  return {{2, info.dwVolumeSerialNumber,
           (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, 0},
          true};
}

}  // namespace

std::optional<std::size_t> NarrowText(const Utf16View& text, char* out) {
  if (text.units == 0) return 0;  // WideCharToMultiByte takes no empty text
  // It takes aligned wchar_t: copy the units, on the stack when they are few.
  std::array<wchar_t, 256> few;
  std::wstring many;
  wchar_t* wide = few.data();
  if (text.units > few.size()) {
    many.resize(text.units);
    wide = many.data();
  }
  for (std::size_t i = 0; i < text.units; ++i) wide[i] = static_cast<wchar_t>(text.Unit(i));
  const int n =
      WideCharToMultiByte(CP_THREAD_ACP, 0, wide, static_cast<int>(text.units), out,
                          static_cast<int>(kMaxNarrowPerUnit * text.units), nullptr, nullptr);
  if (n <= 0) return std::nullopt;
  return static_cast<std::size_t>(n);
}

std::string ArgumentText(const ArgChar* arg) {
  const std::size_t units = std::wcslen(arg);
  std::vector<std::uint8_t> le(2 * units);  // the units as stored text, for the one converter
  for (std::size_t i = 0; i < units; ++i) {
    le[2 * i] = static_cast<std::uint8_t>(arg[i] & 0xFF);
    le[2 * i + 1] = static_cast<std::uint8_t>((arg[i] >> 8) & 0xFF);
  }
  std::string text(kMaxUtf8PerUnit * units, '\0');
  const Utf16View view{le.data(), units};
  text.resize(static_cast<std::size_t>(EncodeUtf8(view, text.data()) - text.data()));
  return text;
}

// With '\\' between names: the EWF library's Windows path code finds no
// segment of a split image named with '/'.
std::string ArgumentPath(const ArgChar* arg) {
  std::string path = ArgumentText(arg);
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// By its UTF-16 name: a detour through the ANSI code page could lose
// characters or, by best fit, name another file. Every input is sized by
// seeking here; a directory cannot be opened this way.
Input OpenForReading(const ArgChar* path, std::size_t /*stream_limit*/) {
  std::FILE* stream = _wfopen(path, L"rb");
  if (stream == nullptr) return {};
  return {stream, IdentityOf(HandleOf(stream))};
}

std::FILE* CreateEmptyFile(const char* name, const FileIdentity& input) {
  const std::wstring wide(name, name + std::strlen(name));  // an ASCII name
  // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself
  // instead of what it points to; the checks below then refuse it. The file is
  // emptied only once it is known to be a plain disk file with one name, and
  // not the log being read.
  HANDLE file =
      CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & refused) != 0 || info.nNumberOfLinks != 1 ||
      SameFile(IdentityOf(file), input) || !SetEndOfFile(file)) {
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

void SetBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool IsConsole(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

// _isatty would take the NUL device for one: only a console is read.
bool IsTerminal(std::FILE* stream) { return IsConsole(stream); }

bool WriteToConsole(std::FILE* stream, std::string_view utf8) {
  HANDLE const console = HandleOf(stream);
  std::wstring units;
  AppendConsoleUnits(utf8, units);
  // In slices a console takes whole, never between the two halves of a pair.
  constexpr std::size_t kSlice = 8192;
  for (std::size_t at = 0; at < units.size();) {
    std::size_t n = std::min(kSlice, units.size() - at);
    if (at + n < units.size() && IsLowSurrogate(static_cast<std::uint16_t>(units[at + n]))) --n;
    DWORD written = 0;
    if (!WriteConsoleW(console, units.data() + at, static_cast<DWORD>(n), &written, nullptr) ||
        written == 0) {
      return false;
    }
    at += written;
  }
  return true;
}

std::vector<std::string> ExecCompanion(const char* /*name*/, const ArgChar* const* /*argv*/) {
  return {};
}

FileTimes TimesOfFile(std::FILE* stream) {
  HANDLE const file = HandleOf(stream);
  FILE_BASIC_INFO info{};
  FileTimes times;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) return times;
  // FILETIMEs: 100 ns since 1601.
  const auto seconds = [](LARGE_INTEGER t) -> std::optional<std::int64_t> {
    if (t.QuadPart == 0) return std::nullopt;
    return t.QuadPart / 10000000 - 11644473600LL;
  };
  times.created = seconds(info.CreationTime);
  times.modified = seconds(info.LastWriteTime);
  times.accessed = seconds(info.LastAccessTime);
  times.changed = seconds(info.ChangeTime);
  return times;
}

}  // namespace quenthar::platform
