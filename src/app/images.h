// How this build reads disk images: itself (the image program), through its
// companion program, or not at all. Each program links exactly one of
// image_report.cpp, images_companion.cpp and images_none.cpp, which defines
// kImageReading.
#pragma once

#include <optional>

#include "app/command_line.h"
#include "platform/platform.h"
#include "report/report.h"

namespace quenthar {

struct ImageReading {
  /// Runs this program as an image search's worker when the command line is
  /// a worker's (Windows), and returns its exit status; nullopt otherwise.
  std::optional<int> (*run_as_worker)(int argc, const platform::ArgChar* const* argv);
  /// Reports every log in the images the command line names, each with the
  /// records of its place, through `r`; nothing has been written before.
  /// Returns the exit status. Null in a build that does not read images.
  int (*report)(Renderer& r, const CommandLine& command, const platform::ArgChar* const* argv);
};

extern const ImageReading kImageReading;

}  // namespace quenthar
