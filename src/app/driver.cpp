#include "app/driver.h"

#include <array>
#include <memory>

#include "log/entry_cursor.h"
#include "report/entry_line.h"

namespace quenthar {
namespace {

constexpr std::size_t kBytesAfterHeader =
    static_cast<std::size_t>(kLogFileSize - kLogHeaderOffset) - LogHeader::kSize;

// A stream that cannot seek is read this far: one byte more than a log tells
// a longer stream from the log.
constexpr std::size_t kStreamLimit = static_cast<std::size_t>(kLogFileSize) + 1;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

void ReportLogHeader(Output& out, const LogHeader& h) {
  out.Put("Ver=");
  out.PutHex(h.ver);
  out.Put(",HdrSize=");
  out.PutHex(h.hdr_size);
  out.Put(", DataSize=");
  out.PutHex(h.data_size);
  out.Put("\n");
  if (h.data_size > kLogFileSize) out.Put("Invalid data size\n");
}

std::size_t LoadedCapacity(const LogHeader& h) {
  return h.data_size < kBytesAfterHeader ? h.data_size : kBytesAfterHeader;
}

void ReportLoadedRegion(Output& out, const LogHeader& h, const std::uint8_t* loaded,
                        std::size_t loaded_size) {
  // The region ends DataSize bytes after the header's start; the loaded bytes
  // past it are read only as the tail of a payload that runs over.
  const std::size_t data_end = h.data_size < LogHeader::kSize ? 0 : h.data_size - LogHeader::kSize;
  const std::size_t end = data_end < loaded_size ? data_end : loaded_size;
  // Headers longer than 16 bytes (version 4 has 20) push the first entry back;
  // an implausible HdrSize is ignored.
  std::size_t begin = 0;
  if (h.hdr_size >= LogHeader::kSize && h.hdr_size <= h.data_size)
    begin = h.hdr_size - LogHeader::kSize;
  if (begin > end) begin = end;

  ReportEntries(out, MakeCursor(loaded + begin, loaded + end), loaded + loaded_size);
}

int ReportLogStream(Output& out, std::FILE* input_stream) {
  File input(input_stream);
  if (platform::StreamLength(input.get()) != kLogFileSize) {
    out.Put("Invalid size, must be ");
    out.PutDecimal(static_cast<std::int32_t>(kLogFileSize));
    return kExitFailure;
  }
  File output(platform::CreateEmptyFile("quenthar.log"));  // left empty
  if (!output) {
    out.Put("can't open output file\n");
    return kExitFailure;
  }
  std::array<std::uint8_t, LogHeader::kSize> raw{};
  if (std::fseek(input.get(), kLogHeaderOffset, SEEK_SET) != 0 ||
      std::fread(raw.data(), raw.size(), 1, input.get()) != 1) {
    out.Put("Can't read header");
    input.reset();
    return kExitFailure;
  }
  const LogHeader header = LogHeader::Decode(raw.data());
  ReportLogHeader(out, header);

  // Sized exactly to what may be loaded, so that any read past it is an error
  // the sanitizers see. A short read is not an error: the region is clipped.
  const std::size_t capacity = LoadedCapacity(header);
  const auto buffer = std::make_unique<std::uint8_t[]>(capacity);
  const std::size_t loaded = std::fread(buffer.get(), 1, capacity, input.get());
  input.reset();

  ReportLoadedRegion(out, header, buffer.get(), loaded);
  return kExitOk;
}

int RunTool(int argc, const platform::ArgChar* const* argv) {
  // Output collects the text; each of its writes goes straight through.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Output out(stdout);
  int status = kExitUsage;
  if (argc != 2) {
    out.Put("Usage: quenthar.exe quentharfile\n");
  } else if (std::FILE* input = platform::OpenForReading(argv[1], kStreamLimit)) {
    status = ReportLogStream(out, input);
  } else {
    out.Put("can't open input file\n");
    status = kExitFailure;
  }
  // A report that could not be written is no success.
  const bool written = out.Flush() && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return status == kExitOk && !written ? kExitFailure : status;
}

}  // namespace quenthar
