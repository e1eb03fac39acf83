#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quenthar::platform {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
  return {{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), 0, 0},
          true};
}

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

std::optional<std::size_t> NarrowText(const Utf16View& text, char* out) {
  return static_cast<std::size_t>(EncodeUtf8(text, out) - out);
}

std::string ArgumentText(const ArgChar* arg) { return ValidUtf8(arg); }

std::string ArgumentPath(const ArgChar* arg) { return arg; }

Input OpenForReading(const ArgChar* path, std::size_t stream_limit) {
  // Non-blocking only while opening: a FIFO without a writer must not hold the
  // run. Its reads then block again, so a pipe whose writer starts late is read
  // whole, and a FIFO without a writer reads as empty.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return {};
  }
  // Files and block devices are sized by seeking; anything else by reading it,
  // and what was read is no file that quenthar.log could be.
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return {StreamOver(fd, "rb"), IdentityOf(st)};
  return {ReadIntoMemory(fd, stream_limit), {}};
}

std::FILE* CreateEmptyFile(const char* name, const FileIdentity& input) {
  // Never follow a link of that name nor wait on a FIFO; empty the file only
  // once it is known to be a regular file that no other name shares, and not
  // the log being read.
  const int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      SameFile(IdentityOf(st), input) || ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  return StreamOver(fd, "wb");
}

std::int64_t StreamLength(std::FILE* stream) {
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(ftello(stream));
}

void SetBinaryMode(std::FILE* /*stream*/) {}  // streams write bytes as they are here

// A terminal here takes the UTF-8 bytes it is given.
bool IsConsole(std::FILE* /*stream*/) { return false; }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool WriteToConsole(std::FILE* /*stream*/, std::string_view /*utf8*/) { return false; }

std::vector<std::string> ExecCompanion(const char* name, const ArgChar* const* argv) {
  std::string self(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n <= 0) return {};
  self.resize(static_cast<std::size_t>(n));
  const std::string folder = self.substr(0, self.rfind('/') + 1);
  const std::vector<std::string> places{folder + "../lib/quenthar/" + name, folder + name};
  for (const std::string& path : places) {
    execv(path.c_str(), const_cast<char* const*>(argv));  // NOLINT: execv's own signature
  }
  std::vector<std::string> looked;
  looked.reserve(places.size());
  for (const std::string& path : places) looked.push_back(ValidUtf8(path));
  return looked;
}

FileTimes TimesOfFile(std::FILE* stream) {
  const int fd = fileno(stream);
  struct stat st {};
  FileTimes times;
  if (fstat(fd, &st) != 0) return times;
  times.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  times.accessed = static_cast<std::int64_t>(st.st_atim.tv_sec);
  times.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec);
  struct statx sx {};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME) != 0) {
    times.created = static_cast<std::int64_t>(sx.stx_btime.tv_sec);
  }
  return times;
}

}  // namespace quenthar::platform
