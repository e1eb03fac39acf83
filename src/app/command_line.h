// What the command line asks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/options.h"
#include "platform/platform.h"
#include "report/form.h"
#include "time/clock_zone.h"

namespace quenthar {

enum class Action {
  kUsage,    // print `message` (when there is one), then the usage line; exit -1
  kHelp,     // the help text
  kVersion,  // the program's name and version
  kReport,   // the report of `paths` (disk images when `images`), in `form`
};

struct CommandLine {
  Action action = Action::kUsage;
  Form form = Form::kText;
  std::vector<const platform::ArgChar*> paths;
  std::string message;
  bool images = false;
  image::SearchOptions options;  // without its keys: see key_files
  std::vector<const platform::ArgChar*> key_files;
  bool progress = false;          // --progress: on standard error where it is no terminal too
  std::string clock_zone;         // --clock-zone's name, UTF-8; empty when not given
  std::optional<ClockZone> zone;  // its zone, once found
};

/// Reads the arguments (argv[0] is the program), for a build that reads disk
/// images or not. Options may stand anywhere before "--"; every argument
/// after it is a path. One argument alone is a log's path unless it is
/// exactly an option: one that needs no path (help, version), or one that
/// needs more, which is refused.
CommandLine ParseCommandLine(int argc, const platform::ArgChar* const* argv, bool reads_images);

/// A wrong command line: "quenthar: MESSAGE", then the usage line.
CommandLine UsageError(const std::string& message);

}  // namespace quenthar
