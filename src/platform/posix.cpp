#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace quenthar::platform {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// A read-only stream over bytes it owns; closing it releases them.
struct MemoryInput {
  std::vector<char> bytes;
  std::size_t position = 0;
};

ssize_t ReadMemory(void* cookie, char* into, std::size_t size) {
  auto& in = *static_cast<MemoryInput*>(cookie);
  const std::size_t n = std::min(size, in.bytes.size() - in.position);
  std::memcpy(into, in.bytes.data() + in.position, n);
  in.position += n;
  return static_cast<ssize_t>(n);
}

int SeekMemory(void* cookie, off64_t* offset, int whence) {
  auto& in = *static_cast<MemoryInput*>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<off64_t>(in.position)
                                            : static_cast<off64_t>(in.bytes.size());
  if (*offset < -base || base + *offset > static_cast<off64_t>(in.bytes.size())) return -1;
  in.position = static_cast<std::size_t>(base + *offset);
  *offset = base + *offset;
  return 0;
}

int CloseMemory(void* cookie) {
  delete static_cast<MemoryInput*>(cookie);
  return 0;
}

// Reads up to `limit` bytes, waiting for a writer that is slow to start; stops
// at the end of the stream or at a read error. Closes fd.
std::FILE* ReadIntoMemory(int fd, std::size_t limit) {
  auto in = std::make_unique<MemoryInput>();
  in->bytes.resize(limit);
  std::size_t got = 0;
  while (got < limit) {
    const ssize_t n = read(fd, in->bytes.data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  in->bytes.resize(got);
  std::FILE* stream = fopencookie(in.get(), "rb", {ReadMemory, nullptr, SeekMemory, CloseMemory});
  if (stream == nullptr) return nullptr;
  static_cast<void>(in.release());  // the stream owns the bytes now
  return stream;
}

// Opens a stream over fd, or closes fd when that fails.
std::FILE* StreamOver(int fd, const char* mode) {
  std::FILE* stream = fdopen(fd, mode);
  if (stream == nullptr) close(fd);
  return stream;
}

}  // namespace

std::optional<std::string> NarrowText(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  if (n + 1 > kMaxTextUnits) return std::nullopt;

  std::string out;
  out.reserve(3 * n);  // no UTF-16 unit takes more than 3 UTF-8 bytes
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = text[i];
    if (IsHighSurrogate(u) && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::FILE* OpenForReading(const ArgChar* path, std::size_t stream_limit) {
  // Non-blocking only while opening: a FIFO without a writer must not hold the
  // run. Its reads then block again, so a pipe whose writer starts late is read
  // whole, and a FIFO without a writer reads as empty.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return nullptr;
  }
  // Files and block devices are sized by seeking; anything else by reading it.
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return StreamOver(fd, "rb");
  return ReadIntoMemory(fd, stream_limit);
}

std::FILE* CreateEmptyFile(const char* name) {
  // Never follow a link of that name nor wait on a FIFO; empty the file only
  // once it is known to be a regular file that no other name shares.
  const int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  return StreamOver(fd, "wb");
}

std::int64_t StreamLength(std::FILE* stream) {
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(ftello(stream));
}

}  // namespace quenthar::platform
