// What differs between the Linux and the Windows build. Each build compiles
// exactly one implementation of these declarations (posix.cpp or win32.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf16.h"

namespace quenthar::platform {

#if defined(_WIN32)
using ArgChar = wchar_t;  // arguments arrive as UTF-16
inline constexpr bool kNarrowIsUtf8 = false;
#else
using ArgChar = char;  // arguments arrive as narrow text and name the file as they stand
inline constexpr bool kNarrowIsUtf8 = true;  // NarrowText is EncodeUtf8
#endif

/// Most bytes of narrow text that one UTF-16 unit takes, in any code page.
inline constexpr std::size_t kMaxNarrowPerUnit = 4;

/// Longest text, in UTF-16 units with a terminating NUL, that is converted.
inline constexpr std::uint64_t kMaxTextUnits = 0x3FFFFFFF;

/// Writes the narrow text of `text` at out, which has room for
/// kMaxNarrowPerUnit bytes per unit: the thread's ANSI code page on Windows
/// (best fit, else the code page's default character), UTF-8 elsewhere (an
/// unpaired surrogate becomes U+FFFD). Returns the bytes written, or nullopt
/// when the conversion fails.
std::optional<std::size_t> NarrowText(const Utf16View& text, char* out);

/// The argument as UTF-8, to name it in the output: on Linux a byte that is
/// not part of UTF-8 becomes U+FFFD, on Windows an unpaired surrogate does.
std::string ArgumentText(const ArgChar* arg);

/// The argument as the image libraries open it: its bytes on Linux, UTF-8 on
/// Windows.
std::string ArgumentPath(const ArgChar* arg);

/// What tells files apart: device and inode on Linux; volume serial number
/// and file id on Windows. Unknown for bytes that are no file on disk.
struct FileIdentity {
  std::array<std::uint64_t, 4> parts{};
  bool known = false;
};

/// True only when both identities are known and name the same file.
inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.parts == b.parts;
}

struct Input {
  std::FILE* stream = nullptr;  // nullptr when the input cannot be opened
  FileIdentity identity;
};

/// Opens the named input for binary reading, without waiting for a writer (a
/// FIFO), and takes its identity. A directory is refused. On Linux an input
/// that cannot seek (a pipe, a FIFO, a character device) is read up to
/// stream_limit bytes, and the stream returned holds those bytes, so that its
/// length is what was read; on Windows every input is sized by seeking.
Input OpenForReading(const ArgChar* path, std::size_t stream_limit);

/// Creates the named file in the current directory, or empties it, and opens
/// it for binary writing. Refuses, changing nothing, anything but a regular
/// file with no other name: a symbolic link (not followed), a FIFO (without
/// blocking), a device, a directory, a file with a second hard link, or the
/// file `input` is. nullptr when refused or when it cannot be created.
std::FILE* CreateEmptyFile(const char* name, const FileIdentity& input);

/// Seeks to the end and returns the position there as a 64-bit length, or -1
/// when the stream cannot tell.
std::int64_t StreamLength(std::FILE* stream);

/// Makes the stream write bytes as they are: no CR before LF on Windows.
void SetBinaryMode(std::FILE* stream);

/// True when the stream is a console that takes UTF-16 text (on Windows:
/// GetConsoleMode succeeds on its handle). Never on Linux, where a terminal
/// takes the UTF-8 bytes it gets.
bool IsConsole(std::FILE* stream);

/// True when the stream is a terminal that a person reads, which may act on
/// the control characters it is given: a terminal device on Linux (isatty),
/// a console on Windows (as IsConsole). Not a file, a pipe or a device such
/// as /dev/null or NUL.
bool IsTerminal(std::FILE* stream);

/// Writes UTF-8 text to the console that IsConsole found, as UTF-16, each "\n"
/// starting a new line. The caller never splits a UTF-8 sequence between two
/// calls. False when a write fails.
bool WriteToConsole(std::FILE* stream, std::string_view utf8);

/// Runs the program `name` that is installed with this one (in
/// ../lib/quenthar/ from this program's folder, or in the same folder) in this
/// process's place, with the same arguments. Returns only when it cannot,
/// with the places it looked (UTF-8); on Windows it always returns, with none.
std::vector<std::string> ExecCompanion(const char* name, const ArgChar* const* argv);

/// The times the system keeps of an open file, seconds since 1970 (UTC):
/// its creation (where the file system keeps it), its last change, last
/// access and last change of its metadata; nullopt for each one not kept.
struct FileTimes {
  std::optional<std::int64_t> created;
  std::optional<std::int64_t> modified;
  std::optional<std::int64_t> accessed;
  std::optional<std::int64_t> changed;
};
FileTimes TimesOfFile(std::FILE* stream);

/// Appends what a console is given for UTF-8 text: its UTF-16 units, with CR
/// LF for each line feed not already after a CR, as text mode writes a file.
template <typename Units>
void AppendConsoleUnits(std::string_view utf8, Units& out) {
  for (std::size_t at = 0; at <= utf8.size();) {
    const std::size_t lf = std::min(utf8.find('\n', at), utf8.size());
    AppendUtf16(utf8.substr(at, lf - at), out);
    if (lf == utf8.size()) return;
    if (lf == 0 || utf8[lf - 1] != '\r') out.push_back('\r');
    out.push_back('\n');
    at = lf + 1;
  }
}

}  // namespace quenthar::platform
