#include "app/command_line.h"

#include <cstdint>
#include <string_view>

namespace quenthar {
namespace {

// Compares an argument with an ASCII option name.
bool Is(const platform::ArgChar* arg, std::string_view name) {
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    if (arg[i] != static_cast<platform::ArgChar>(name[i])) return false;
  }
  return arg[i] == 0;
}

bool IsHelp(const platform::ArgChar* arg) {
#if defined(_WIN32)
  if (Is(arg, "/?")) return true;  // as Windows console tools take it
#endif
  return Is(arg, "-h") || Is(arg, "--help");
}

bool IsVersion(const platform::ArgChar* arg) { return Is(arg, "-V") || Is(arg, "--version"); }

CommandLine Just(Action action) {
  CommandLine command;
  command.action = action;
  return command;
}

// A whole number from 1 to `max`, in decimal digits only.
bool ParseWhole(const platform::ArgChar* arg, std::uint64_t max, std::uint64_t& value) {
  value = 0;
  if (arg == nullptr || arg[0] == 0) return false;
  for (std::size_t i = 0; arg[i] != 0; ++i) {
    if (arg[i] < '0' || arg[i] > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(arg[i] - '0');
    if (value > max) return false;
  }
  return value >= 1;
}

constexpr std::string_view kNoSandbox = "--no-sandbox";
constexpr std::string_view kNoShadowCopies = "--no-shadow-copies";
constexpr std::string_view kKeyFile = "--key-file";
constexpr std::string_view kProgress = "--progress";
constexpr std::string_view kClockZone = "--clock-zone";

// The image search's options that take a number; each is refused without
// --image.
struct NumberOption {
  std::string_view name;
  std::string_view unit;
  std::uint64_t max;
  void (*set)(image::SearchOptions&, std::uint64_t);  // a value from 1 to max
};
constexpr NumberOption kNumberOptions[] = {
    {"--time-limit", "seconds", image::kMaxTimeLimit,
     [](image::SearchOptions& l, std::uint64_t v) { l.time_limit_s = static_cast<unsigned>(v); }},
    {"--image-time-limit", "seconds", image::kMaxImageTimeLimit,
     [](image::SearchOptions& l, std::uint64_t v) {
       l.image_time_limit_s = static_cast<unsigned>(v);
     }},
    {"--memory-limit", "MiB", image::kMaxMemoryLimit,
     [](image::SearchOptions& l, std::uint64_t v) { l.memory_limit_mib = v; }},
};

const NumberOption* NumberOptionOf(const platform::ArgChar* arg) {
  for (const NumberOption& o : kNumberOptions) {
    if (Is(arg, o.name)) return &o;
  }
  return nullptr;
}

std::string NeedsWhole(const NumberOption& option) {
  return std::string(option.name) + " needs a whole number of " + std::string(option.unit) +
         " from 1 to " + std::to_string(option.max);
}

// Whether the argument is exactly one of the options.
bool IsOption(const platform::ArgChar* arg) {
  return IsHelp(arg) || IsVersion(arg) || Is(arg, "--json") || Is(arg, "--csv") ||
         Is(arg, "--timesketch") || Is(arg, kClockZone) || Is(arg, "--image") ||
         Is(arg, kNoSandbox) || Is(arg, kNoShadowCopies) || Is(arg, kKeyFile) ||
         Is(arg, kProgress) || NumberOptionOf(arg) != nullptr;
}

}  // namespace

CommandLine UsageError(const std::string& message) {
  CommandLine command;
  command.message = "quenthar: " + message + "\n";
  return command;
}

CommandLine ParseCommandLine(int argc, const platform::ArgChar* const* argv, bool reads_images) {
  if (argc < 2) return Just(Action::kUsage);
  // One argument stays a path, as it always was, unless it is an option.
  const bool lone = argc == 2;
  bool help = false;
  bool version = false;
  bool json = false;
  bool csv = false;
  bool timesketch = false;
  std::string clock_zone;
  bool images = false;
  image::SearchOptions options;
  std::vector<const platform::ArgChar*> key_files;
  bool progress = false;
  std::string bad_value;          // the first image option without its value
  std::string_view image_option;  // the first image option given
  const platform::ArgChar* unknown = nullptr;
  std::vector<const platform::ArgChar*> paths;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const platform::ArgChar* arg = argv[i];
    if (options_ended || (lone && !IsOption(arg)) || (arg[0] != '-' && !IsHelp(arg))) {
      paths.push_back(arg);
    } else if (IsHelp(arg)) {
      help = true;
    } else if (IsVersion(arg)) {
      version = true;
    } else if (Is(arg, "--json")) {
      json = true;
    } else if (Is(arg, "--csv")) {
      csv = true;
    } else if (Is(arg, "--timesketch")) {
      timesketch = true;
    } else if (Is(arg, kClockZone)) {
      if (i + 1 < argc && argv[i + 1][0] != 0) {
        clock_zone = platform::ArgumentText(argv[++i]);
      } else if (bad_value.empty()) {
        bad_value = "--clock-zone needs a zone: an IANA name such as Europe/Berlin, UTC, or +HH:MM";
        ++i;
      }
    } else if (Is(arg, "--image")) {
      images = true;
    } else if (const NumberOption* option = NumberOptionOf(arg)) {
      if (image_option.empty()) image_option = option->name;
      std::uint64_t value = 0;
      const platform::ArgChar* given = i + 1 < argc ? argv[++i] : nullptr;
      if (!ParseWhole(given, option->max, value)) {
        if (bad_value.empty()) bad_value = NeedsWhole(*option);
      } else {
        option->set(options, value);
      }
    } else if (Is(arg, kKeyFile)) {
      if (image_option.empty()) image_option = kKeyFile;
      if (i + 1 < argc && argv[i + 1][0] != 0) {
        key_files.push_back(argv[++i]);
      } else if (bad_value.empty()) {
        bad_value = "--key-file needs a file";
        ++i;
      }
    } else if (Is(arg, kNoSandbox)) {
      if (image_option.empty()) image_option = kNoSandbox;
      options.sandbox = false;
    } else if (Is(arg, kProgress)) {
      if (image_option.empty()) image_option = kProgress;
      progress = true;
    } else if (Is(arg, kNoShadowCopies)) {
      if (image_option.empty()) image_option = kNoShadowCopies;
      options.shadow_copies = false;
    } else if (Is(arg, "--")) {
      options_ended = true;
    } else if (unknown == nullptr) {
      unknown = arg;  // abbreviations and "-" too: no option is guessed
    }
  }
  if (help) return Just(Action::kHelp);
  if (version) return Just(Action::kVersion);
  if (unknown != nullptr) {
    return UsageError("unknown option '" + platform::ArgumentText(unknown) + "'");
  }
  if (!bad_value.empty()) return UsageError(bad_value);
  if (json && csv) return UsageError("--json and --csv cannot be combined");
  if (timesketch && (json || csv)) {
    return UsageError("--timesketch cannot be combined with --json or --csv");
  }
  const Form form = json         ? Form::kJsonLines
                    : csv        ? Form::kCsv
                    : timesketch ? Form::kTimesketch
                                 : Form::kText;
  // The text report writes the clock's reading as the log holds it.
  if (!clock_zone.empty() && form == Form::kText) {
    return UsageError("--clock-zone is only for --json, --csv and --timesketch");
  }
  CommandLine command;
  command.action = Action::kReport;
  command.form = form;
  command.clock_zone = std::move(clock_zone);
  if (images) {
    if (!reads_images) return UsageError("--image is not available in this build");
    if (paths.empty()) return UsageError("no image given");
    command.paths = std::move(paths);
    command.images = true;
    command.options = options;
    command.key_files = std::move(key_files);
    command.progress = progress;
    return command;
  }
  if (!image_option.empty()) return UsageError(std::string(image_option) + " is only for --image");
  if (form != Form::kText && paths.empty()) return UsageError("no log file given");
  // Several logs need a structured form.
  if (form == Form::kText && paths.size() != 1) return Just(Action::kUsage);
  command.paths = std::move(paths);
  return command;
}

}  // namespace quenthar
