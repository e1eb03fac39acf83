#include "app/driver.h"

#include <array>
#include <memory>
#include <string_view>

#include "app/command_line.h"
#include "log/loaded_log.h"
#if QUENTHAR_IMAGES
#include "image/image_search.h"
#endif

namespace quenthar {
namespace {

// A stream that cannot seek is read this far: one byte more than the longer
// form tells a longer stream from a log.
constexpr std::size_t kStreamLimit = static_cast<std::size_t>(kSystemLog.file_size) + 1;

constexpr std::string_view kUsageLine = "Usage: quenthar.exe quentharfile\n";

// The help, in three parts: the lines on disk images are only in a build
// that reads them.
constexpr std::string_view kHelpUsage =
    "Usage: quenthar LOGFILE\n"
    "       quenthar --json LOGFILE...\n"
    "       quenthar --csv LOGFILE...\n";
constexpr std::string_view kHelpImageUsage = "       quenthar --image [--json | --csv] IMAGE...\n";
constexpr std::string_view kHelpOptions =
    "\n"
    "Reports the event log that a Windows boot manager keeps about the boot\n"
    "applications it starts: the log in the system folder (67,584 bytes) or its\n"
    "copy on the boot partition (65,536 bytes).\n"
    "\n"
    "With one LOGFILE and no option, prints the report as plain text, and creates\n"
    "or empties the file quenthar.log in the current directory.\n"
    "\n"
    "Options:\n"
    "  --json         JSON Lines, one object per record (header, entry, end, error)\n"
    "  --csv          CSV with a header row, one row per record\n";
constexpr std::string_view kHelpImageOption =
    "  --image        find the logs, allocated and deleted, in every partition of\n"
    "                 disk images (raw, split raw, E01, VHD, VMDK); a split image\n"
    "                 is named by its first segment\n";
constexpr std::string_view kHelpRest =
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             every argument after it is a LOGFILE\n"
    "\n"
    "--json and --csv take several LOGFILEs and never touch quenthar.log.\n"
    "Exit status: 0 when every log was reported; 1 when one could not be, or\n"
    "standard output could not be written; -1 for a wrong command line.\n";

void PutHelp(Output& out) {
  out.Put(kHelpUsage);
  if (kReadsImages) out.Put(kHelpImageUsage);
  out.Put(kHelpOptions);
  if (kReadsImages) out.Put(kHelpImageOption);
  out.Put(kHelpRest);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads exactly n bytes at the stream's position; false on a short read.
bool ReadExactly(std::FILE* stream, std::uint8_t* into, std::size_t n) {
  return std::fread(into, 1, n, stream) == n;
}

// Reports a log whose header was read: the header record, then the entries of
// the region that load(into, n) reads into a buffer of exactly the size that
// may be loaded, or "Can't read data" when it could not read it whole.
template <typename Load>
int ReportLoadedLog(Renderer& r, const LogForm& form, const LogHeader& header, Load&& load) {
  Render(r, HeaderOf(form, header));
  // Sized exactly to what may be loaded, so that any read past it is an error
  // the sanitizers see. A short read is a read error or a file that shrank:
  // the region cannot be trusted, and none of it is used.
  const std::size_t capacity = LoadedCapacity(form, header);
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  if (!load(buffer.get(), capacity)) {
    Render(r, Problem::kCantReadData);
    return kExitFailure;
  }
  ReportEntries(r, LoadedLog{form, header, buffer.get(), capacity});
  return kExitOk;
}

int ReportLogFile(Renderer& r, const platform::ArgChar* path) {
  const platform::Input input = platform::OpenForReading(path, kStreamLimit);
  if (input.stream == nullptr) {
    Render(r, Problem::kCantOpenInput);
    return kExitFailure;
  }
  return ReportLogStream(r, input);
}

}  // namespace

int ReportLogStream(Renderer& r, const platform::Input& opened) {
  File input(opened.stream);
  const std::optional<LogForm> form = FormOfLength(platform::StreamLength(input.get()));
  if (!form) {
    Render(r, Problem::kInvalidSize);
    return kExitFailure;
  }
  File output;
  if (r.form == Form::kText) {
    output.reset(platform::CreateEmptyFile("quenthar.log", opened.identity));  // left empty
    if (!output) {
      Render(r, Problem::kCantOpenOutput);
      return kExitFailure;
    }
  }
  std::array<std::uint8_t, LogHeader::kSize> raw{};
  if (std::fseek(input.get(), static_cast<long>(form->header_offset), SEEK_SET) != 0 ||
      !ReadExactly(input.get(), raw.data(), raw.size())) {
    Render(r, Problem::kCantReadHeader);
    input.reset();
    return kExitFailure;
  }
  const LogHeader header = LogHeader::Decode(raw.data());
  return ReportLoadedLog(r, *form, header, [&input](std::uint8_t* into, std::size_t n) {
    const bool loaded = ReadExactly(input.get(), into, n);
    input.reset();
    return loaded;
  });
}

#if QUENTHAR_IMAGES
namespace {

// A log found in an image, reported as a file of the same bytes is.
int ReportFoundLog(Renderer& r, const image::FoundLog& found) {
  const LogForm form = *FormOfLength(static_cast<std::int64_t>(found.bytes.size()));
  const std::uint8_t* header_at = found.bytes.data() + form.header_offset;
  return ReportLoadedLog(r, form, LogHeader::Decode(header_at),
                         [&found, header_at](std::uint8_t* into, std::size_t n) {
                           if (!found.read_whole) return false;
                           std::copy_n(header_at + LogHeader::kSize, n, into);
                           return true;
                         });
}

// Every log in an image, each after its `log` record (or heading), and what
// the search of each volume saw.
int ReportImage(Renderer& r, const platform::ArgChar* path) {
  const std::string name = platform::ArgumentText(path);
  int status = kExitOk;
  const image::SearchEvents events{[&r, &status](const image::FoundLog& found) {
                                     const std::string source = found.location.Source();
                                     BeginBlock(r, source);
                                     BeginLog(r, source);
                                     Render(r, found.location);
                                     if (ReportFoundLog(r, found) != kExitOk) status = kExitFailure;
                                   },
                                   [&r](const VolumeRecord& volume) { Render(r, volume); }};
  const image::SearchResult result = image::SearchImage(name, path, events);
  const auto image_problem = [&r, &name](Problem problem) {
    BeginBlock(r, name);
    BeginLog(r, name);
    Render(r, problem);
    return kExitFailure;
  };
  if (!result.opened) return image_problem(Problem::kCantOpenInput);
  if (result.incomplete) image_problem(Problem::kImageIncomplete);
  if (result.logs == 0) return image_problem(Problem::kNoLogFound);
  return result.failed ? kExitFailure : status;
}

}  // namespace
#endif

OutputPlan PlanOutput(bool console, Form form) {
  if (console) return {true, false, TextEncoding::kUtf8};
  return {false, form != Form::kText, TextEncoding::kNarrow};
}

int RunTool(int argc, const platform::ArgChar* const* argv) {
  const CommandLine command = ParseCommandLine(argc, argv);
  const OutputPlan plan = PlanOutput(platform::IsConsole(stdout), command.form);
  if (plan.binary) platform::SetBinaryMode(stdout);
  // Output collects the text; each of its writes goes straight through.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Output out(stdout, plan.console);
  int status = kExitOk;
  switch (command.action) {
    case Action::kUsage:
      out.Put(command.message);
      out.Put(kUsageLine);
      status = kExitUsage;
      break;
    case Action::kHelp: PutHelp(out); break;
    case Action::kVersion: out.Put("quenthar " QUENTHAR_VERSION "\n"); break;
    case Action::kReport: {
#if defined(QUENTHAR_IMAGE_COMPANION)
      // The disk-image code is a program of its own, so that a report of a
      // log file does not pay for loading it. Nothing has been written yet.
      if (command.images) {
        platform::ExecCompanion(QUENTHAR_IMAGE_COMPANION, argv);
        out.Put("quenthar: can't run " QUENTHAR_IMAGE_COMPANION "\n");
        status = kExitFailure;
        break;
      }
#endif
      Renderer r{command.form, out, plan.encoding, {}, {}};
      BeginRun(r);
      for (const platform::ArgChar* path : command.paths) {
#if QUENTHAR_IMAGES
        if (command.images) {
          if (ReportImage(r, path) != kExitOk) status = kExitFailure;
          continue;
        }
#endif
        BeginLog(r, r.form == Form::kText ? std::string() : platform::ArgumentText(path));
        if (ReportLogFile(r, path) != kExitOk) status = kExitFailure;
      }
      break;
    }
  }
  // A report that could not be written is no success.
  const bool written = out.Flush() && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return status == kExitOk && !written ? kExitFailure : status;
}

}  // namespace quenthar
