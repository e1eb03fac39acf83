#include "app/driver.h"

#include <cstdio>
#include <string_view>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/images.h"
#include "app/key_files.h"
#include "app/log_report.h"

namespace quenthar {
namespace {

constexpr std::string_view kUsageLine = "Usage: quenthar.exe quentharfile\n";

// The help, in three parts: the lines on disk images are only in a build
// that reads them.
constexpr std::string_view kHelpUsage =
    "Usage: quenthar LOGFILE\n"
    "       quenthar --json LOGFILE...\n"
    "       quenthar --csv LOGFILE...\n"
    "       quenthar --timesketch LOGFILE...\n";
constexpr std::string_view kHelpImageUsage =
    "       quenthar --image [--json | --csv | --timesketch] IMAGE...\n";
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
    "  --csv          CSV with a header row, one row per record\n"
    "  --timesketch   JSON Lines of the entries alone, each with the message,\n"
    "                 datetime and timestamp_desc that Timesketch takes; what\n"
    "                 could not be reported goes to standard error\n"
    "  --clock-zone ZONE\n"
    "                 with --json, --csv or --timesketch: the zone the firmware\n"
    "                 clock (and FAT) keeps local time in, an IANA name such as\n"
    "                 Europe/Berlin, UTC, or +HH:MM; its times gain their offset\n";
constexpr std::string_view kHelpImageOption =
    "  --image        find the logs, allocated and deleted, in every partition of\n"
    "                 disk images (raw, split raw, E01, VHD, VMDK, QCOW2), in\n"
    "                 BitLocker volumes and in shadow copies; a split image is\n"
    "                 named by its first segment. Each volume is searched in a\n"
    "                 sandboxed process of its own; one that crashes or runs past\n"
    "                 its limit is reported, and the others are still searched.\n";
constexpr std::string_view kHelpImageLimits =
    "  --time-limit SECONDS\n"
    "                 with --image: the longest a volume's search may take\n"
    "                 (1 to 86400, default 600)\n"
    "  --image-time-limit SECONDS\n"
    "                 with --image: the longest an image's search may take, all\n"
    "                 its volumes together (1 to 604800, default 3600)\n"
    "  --memory-limit MIB\n"
    "                 with --image: the most memory a volume's search may take\n"
    "                 (1 to 1048576, default 1024)\n"
    "  --key-file FILE\n"
    "                 with --image: what opens BitLocker volumes: a startup key\n"
    "                 (.BEK), or text of one secret a line, a recovery password\n"
    "                 or a password; may be given more than once\n"
    "  --progress     with --image: what is being searched, on standard error\n"
    "                 where it is no terminal too (a line per volume)\n"
    "  --no-shadow-copies\n"
    "                 with --image: search the live volumes alone\n"
    "  --no-sandbox   with --image: search without the sandbox, where the system\n"
    "                 cannot set one up (qemu's user mode); the limits stay\n";
#if defined(_WIN32)
// Live response: the EFI system partition has no drive letter.
constexpr std::string_view kHelpLiveDisk =
    "                 A disk is read live, as an administrator:\n"
    "                 quenthar --image --json \\\\.\\PhysicalDrive0 (every partition,\n"
    "                 the EFI system partition included), or \\\\.\\C: (one volume)\n";
#else
constexpr std::string_view kHelpLiveDisk;
#endif
constexpr std::string_view kHelpRest =
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             every argument after it is a LOGFILE\n"
    "\n"
    "--json, --csv and --timesketch take several LOGFILEs and never touch\n"
    "quenthar.log.\n"
    "Exit status: 0 when every log was reported; 1 when one could not be, or\n"
    "standard output could not be written; -1 for a wrong command line.\n";

void PutHelp(Output& out, bool reads_images) {
  out.Put(kHelpUsage);
  if (reads_images) out.Put(kHelpImageUsage);
  out.Put(kHelpOptions);
  if (reads_images) {
    out.Put(kHelpImageOption);
    out.Put(kHelpLiveDisk);
    out.Put(kHelpImageLimits);
  }
  out.Put(kHelpRest);
}

}  // namespace

OutputPlan PlanOutput(bool console, bool terminal, Form form) {
  if (console) return {true, false, TextEncoding::kUtf8Escaped};
  return {false, form != Form::kText,
          terminal ? TextEncoding::kUtf8Escaped : TextEncoding::kNarrow};
}

int RunTool(int argc, const platform::ArgChar* const* argv) {
  if (const std::optional<int> worker = kImageReading.run_as_worker(argc, argv)) return *worker;
  const bool reads_images = kImageReading.report != nullptr;
  CommandLine command = ParseCommandLine(argc, argv, reads_images);
  if (command.action == Action::kReport && !command.clock_zone.empty()) {
    auto zone = FindZone(command.clock_zone);
    if (std::string* why = std::get_if<std::string>(&zone)) {
      command = UsageError("--clock-zone " + command.clock_zone + ": " + *why);
    } else {
      command.zone = std::move(std::get<ClockZone>(zone));
    }
  }
  if (command.action == Action::kReport && !command.key_files.empty()) {
    // Read once, before any worker starts.
    auto keys = ReadKeyFiles(command.key_files);
    if (std::string* why = std::get_if<std::string>(&keys)) {
      command = UsageError(*why);
    } else {
      command.options.keys = std::move(std::get<std::vector<image::KeySecret>>(keys));
    }
  }
  const OutputPlan plan =
      PlanOutput(platform::IsConsole(stdout), platform::IsTerminal(stdout), command.form);
  if (plan.binary) platform::SetBinaryMode(stdout);
  // Output collects the text; each of its writes goes straight through.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Output out(stdout, plan.console);
  Output notes(stderr, platform::IsConsole(stderr));
  int status = kExitOk;
  switch (command.action) {
    case Action::kUsage:
      out.Put(command.message);
      out.Put(kUsageLine);
      status = kExitUsage;
      break;
    case Action::kHelp: PutHelp(out, reads_images); break;
    case Action::kVersion: out.Put("quenthar " QUENTHAR_VERSION "\n"); break;
    case Action::kReport: {
      Renderer r{command.form, out, plan.encoding};
      if (command.zone) r.clock = LocalClock(*command.zone, command.clock_zone);
      if (command.form == Form::kTimesketch) r.notes = &notes;
      if (command.images) {
        status = kImageReading.report(r, command, argv);
        break;
      }
      BeginRun(r);
      for (const platform::ArgChar* path : command.paths) {
        BeginLog(r, r.form == Form::kText ? std::string() : platform::ArgumentText(path));
        if (ReportLogFile(r, path) != kExitOk) status = kExitFailure;
        out.Flush();  // what is finished is on disk, whatever happens next
        notes.Flush();
      }
      break;
    }
  }
  // A report that could not be written is no success.
  notes.Flush();
  const bool written = out.Flush() && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return status == kExitOk && !written ? kExitFailure : status;
}

}  // namespace quenthar
