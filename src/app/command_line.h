// What the command line asks for.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "report/report.h"

namespace quenthar {

enum class Action {
  kUsage,    // print `message` (when there is one), then the usage line; exit -1
  kHelp,     // the help text
  kVersion,  // the program's name and version
  kReport,   // the report of `paths` (disk images when `images`), in `form`
};

/// Whether this build reads disk images: itself, or through its companion.
#if QUENTHAR_IMAGES || defined(QUENTHAR_IMAGE_COMPANION)
inline constexpr bool kReadsImages = true;
#else
inline constexpr bool kReadsImages = false;
#endif

struct CommandLine {
  Action action = Action::kUsage;
  Form form = Form::kText;
  std::vector<const platform::ArgChar*> paths;
  std::string message;
  bool images = false;
};

/// Reads the arguments (argv[0] is the program). One argument is a log's path
/// unless it is exactly an option that needs no path (or --json, --csv,
/// --image); with
/// more, options may stand anywhere before "--" and every argument after it is
/// a path.
CommandLine ParseCommandLine(int argc, const platform::ArgChar* const* argv);

}  // namespace quenthar
