// What differs between the Linux and the Windows build. Each build compiles
// exactly one implementation of these declarations (posix.cpp or win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace quenthar::platform {

#if defined(_WIN32)
using ArgChar = wchar_t;  // arguments arrive as UTF-16
#else
using ArgChar = char;  // arguments arrive as narrow text and name the file as they stand
#endif

/// Converts NUL-terminated UTF-16 text into the narrow text the report prints:
/// the thread's ANSI code page on Windows, UTF-8 elsewhere (an unpaired
/// surrogate becomes U+FFFD there). The result gets the room it needs.
/// Returns nullopt when the text is too long or the conversion fails.
std::optional<std::string> NarrowText(const char16_t* text);

/// Opens the named input for binary reading without waiting for a writer (a
/// FIFO). Where the input cannot seek (a pipe, a FIFO, a character device), it
/// is read up to stream_limit bytes and the stream returned holds those bytes,
/// so that its length is what was read. nullptr when it cannot be opened.
std::FILE* OpenForReading(const ArgChar* path, std::size_t stream_limit);

/// Creates the named file in the current directory, or empties it, and opens
/// it for binary writing. Refuses, changing nothing, anything but a regular
/// file with no other name: a symbolic link (not followed), a FIFO (without
/// blocking), a device, a directory, or a file with a second hard link.
/// nullptr when refused or when it cannot be created.
std::FILE* CreateEmptyFile(const char* name);

/// Seeks to the end and returns the position there as a 64-bit length, or -1
/// when the stream cannot tell.
std::int64_t StreamLength(std::FILE* stream);

/// Longest text, in UTF-16 units with the terminating NUL, that NarrowText takes.
inline constexpr std::uint64_t kMaxTextUnits = 0x3FFFFFFF;

}  // namespace quenthar::platform
