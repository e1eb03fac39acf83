// What the command line asks for.
#pragma once

#include <cstdint>
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

/// How each search of a disk image is bounded and confined.
struct ImageLimits {
  unsigned time_limit_s = 600;            // --time-limit SECONDS
  unsigned image_time_limit_s = 3600;     // --image-time-limit SECONDS
  std::uint64_t memory_limit_mib = 1024;  // --memory-limit MIB
  bool sandbox = true;                    // not with --no-sandbox
};

inline constexpr unsigned kMaxTimeLimit = 86400;
inline constexpr unsigned kMaxImageTimeLimit = 604800;
inline constexpr std::uint64_t kMaxMemoryLimit = 1u << 20;

struct CommandLine {
  Action action = Action::kUsage;
  Form form = Form::kText;
  std::vector<const platform::ArgChar*> paths;
  std::string message;
  bool images = false;
  ImageLimits limits;
};

/// Reads the arguments (argv[0] is the program). One argument is a log's path
/// unless it is exactly an option that needs no path, or one that needs more
/// (--json, --csv, --image and the image search's options); with more,
/// options may stand anywhere before "--" and every argument after it is a
/// path.
CommandLine ParseCommandLine(int argc, const platform::ArgChar* const* argv);

}  // namespace quenthar
