#include "app/log_report.h"

#include <array>
#include <cstdio>
#include <memory>

#include "app/exit_status.h"
#include "log/loaded_log.h"

namespace quenthar {
namespace {

// A stream that cannot seek is read this far: one byte more than the longer
// form tells a longer stream from a log.
constexpr std::size_t kStreamLimit = static_cast<std::size_t>(kSystemLog.file_size) + 1;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int ReportLog(Renderer& r, const LogSource& log) {
  const std::optional<LogForm> form = FormOfLength(log.length);
  if (!form) {
    log.release();
    Render(r, Problem::kInvalidSize);
    return kExitFailure;
  }
  File output;
  if (r.form == Form::kText) {
    output.reset(platform::CreateEmptyFile("quenthar.log", log.identity));  // left empty
    if (!output) {
      log.release();
      Render(r, Problem::kCantOpenOutput);
      return kExitFailure;
    }
  }
  std::array<std::uint8_t, LogHeader::kSize> raw{};
  if (!log.read(form->header_offset, raw.data(), raw.size())) {
    log.release();
    Render(r, Problem::kCantReadHeader);
    return kExitFailure;
  }
  const LogHeader header = LogHeader::Decode(raw.data());
  // Sized exactly to what may be loaded, so that any read past it is an error
  // the sanitizers see. A short read is a read error or a file that shrank:
  // the region cannot be trusted, and none of it is used.
  const std::size_t capacity = LoadedCapacity(*form, header);
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  const std::int64_t region = form->header_offset + static_cast<std::int64_t>(LogHeader::kSize);
  const bool loaded = log.read(region, buffer.get(), capacity);
  log.release();
  return ReportLoaded(r, *form, header, loaded ? buffer.get() : nullptr);
}

int ReportLogFile(Renderer& r, const platform::ArgChar* path) {
  const platform::Input input = platform::OpenForReading(path, kStreamLimit);
  if (input.stream == nullptr) {
    Render(r, Problem::kCantOpenInput);
    return kExitFailure;
  }
  File stream(input.stream);
  return ReportLog(r, {platform::StreamLength(stream.get()), input.identity,
                       [&stream](std::int64_t offset, std::uint8_t* into, std::size_t n) {
                         return std::fseek(stream.get(), static_cast<long>(offset), SEEK_SET) ==
                                    0 &&
                                std::fread(into, 1, n, stream.get()) == n;
                       },
                       [&stream] { stream.reset(); }});
}

int ReportLoaded(Renderer& r, const LogForm& form, const LogHeader& header,
                 const std::uint8_t* loaded) {
  Render(r, HeaderOf(form, header));
  if (loaded == nullptr) {
    Render(r, Problem::kCantReadData);
    return kExitFailure;
  }
  ReportEntries(r, LoadedLog{form, header, loaded, LoadedCapacity(form, header)});
  return kExitOk;
}

}  // namespace quenthar
