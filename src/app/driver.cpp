#include "app/driver.h"

#include <array>
#include <memory>
#include <string_view>

#include "app/command_line.h"
#include "app/images.h"
#include "log/loaded_log.h"

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
    "                 is named by its first segment. Each volume is searched in a\n"
    "                 sandboxed process of its own; one that crashes or runs past\n"
    "                 its limit is reported, and the others are still searched.\n";
constexpr std::string_view kHelpImageLimits =
    "  --time-limit SECONDS\n"
    "                 with --image: the longest a volume's search may take\n"
    "                 (1 to 86400, default 600)\n"
    "  --memory-limit MIB\n"
    "                 with --image: the most memory a volume's search may take\n"
    "                 (1 to 1048576, default 1024)\n"
    "  --no-sandbox   with --image: search without the sandbox, where the system\n"
    "                 cannot set one up (qemu's user mode); the limits stay\n";
#if defined(_WIN32)
// Live response: the EFI system partition has no drive letter.
constexpr char kHelpLiveDisk[] =
    "                 A disk is read live, as an administrator:\n"
    "                 quenthar --image --json \\\\.\\PhysicalDrive0 (every partition,\n"
    "                 the EFI system partition included), or \\\\.\\C: (one volume)\n";
#else
constexpr char kHelpLiveDisk[] = "";  // an array: a view of it is never null
#endif
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
  if (ReadsImages()) out.Put(kHelpImageUsage);
  out.Put(kHelpOptions);
  if (ReadsImages()) {
    out.Put(kHelpImageOption);
    out.Put(kHelpLiveDisk);
    out.Put(kHelpImageLimits);
  }
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

OutputPlan PlanOutput(bool console, bool terminal, Form form) {
  if (console) return {true, false, TextEncoding::kUtf8Escaped};
  return {false, form != Form::kText,
          terminal ? TextEncoding::kUtf8Escaped : TextEncoding::kNarrow};
}

int RunTool(int argc, const platform::ArgChar* const* argv) {
  if (const std::optional<int> worker = RunAsWorker(argc, argv)) return *worker;
  const CommandLine command = ParseCommandLine(argc, argv);
  const OutputPlan plan =
      PlanOutput(platform::IsConsole(stdout), platform::IsTerminal(stdout), command.form);
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
      if (command.images) {
        status = ReportImages(out, plan.encoding, command, argv);
        break;
      }
      Renderer r{command.form, out, plan.encoding, {}, {}};
      BeginRun(r);
      for (const platform::ArgChar* path : command.paths) {
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
