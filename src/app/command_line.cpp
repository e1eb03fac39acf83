#include "app/command_line.h"

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

CommandLine Just(Action action) { return {action, Form::kText, {}, {}}; }

CommandLine UsageError(const std::string& message) {
  return {Action::kUsage, Form::kText, {}, "quenthar: " + message + "\n"};
}

CommandLine Report(Form form, std::vector<const platform::ArgChar*> paths, bool images = false) {
  return {Action::kReport, form, std::move(paths), {}, images};
}

// --image, where the build cannot read images, or without an image.
CommandLine ImageUsageError() {
  return UsageError(kReadsImages ? "no image given" : "--image is not available in this build");
}

}  // namespace

CommandLine ParseCommandLine(int argc, const platform::ArgChar* const* argv) {
  if (argc < 2) return Just(Action::kUsage);
  if (argc == 2) {
    // One argument stays a path, as it always was, unless it is one of these.
    const platform::ArgChar* arg = argv[1];
    if (IsHelp(arg)) return Just(Action::kHelp);
    if (IsVersion(arg)) return Just(Action::kVersion);
    if (Is(arg, "--json") || Is(arg, "--csv")) return UsageError("no log file given");
    if (Is(arg, "--image")) return ImageUsageError();
    return Report(Form::kText, {arg});
  }

  bool help = false;
  bool version = false;
  bool json = false;
  bool csv = false;
  bool images = false;
  const platform::ArgChar* unknown = nullptr;
  std::vector<const platform::ArgChar*> paths;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const platform::ArgChar* arg = argv[i];
    if (options_ended || (arg[0] != '-' && !IsHelp(arg))) {
      paths.push_back(arg);
    } else if (IsHelp(arg)) {
      help = true;
    } else if (IsVersion(arg)) {
      version = true;
    } else if (Is(arg, "--json")) {
      json = true;
    } else if (Is(arg, "--csv")) {
      csv = true;
    } else if (Is(arg, "--image")) {
      images = true;
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
  if (json && csv) return UsageError("--json and --csv cannot be combined");
  const Form form = json ? Form::kJsonLines : csv ? Form::kCsv : Form::kText;
  if (images) {
    if (!kReadsImages || paths.empty()) return ImageUsageError();
    return Report(form, std::move(paths), true);
  }
  if (json || csv) {
    if (paths.empty()) return UsageError("no log file given");
    return Report(form, std::move(paths));
  }
  if (paths.size() != 1) return Just(Action::kUsage);  // several logs need a structured form
  return Report(Form::kText, std::move(paths));
}

}  // namespace quenthar
