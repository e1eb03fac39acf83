// What differs between the Linux and the Windows build. Each build compiles
// exactly one implementation of these declarations (posix.cpp or win32.cpp).
#pragma once

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

/// Opens the named file for binary reading; nullptr when it cannot be opened.
std::FILE* OpenForReading(const ArgChar* path);

/// Seeks to the end and returns the position there as a 64-bit length, or -1
/// when the stream cannot tell.
std::int64_t StreamLength(std::FILE* stream);

/// Longest text, in UTF-16 units with the terminating NUL, that NarrowText takes.
inline constexpr std::uint64_t kMaxTextUnits = 0x3FFFFFFF;

}  // namespace quenthar::platform
