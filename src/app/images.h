// How this build reads disk images: itself (the image program), through its
// companion program, or not at all. Each program links exactly one of
// images_search.cpp, images_companion.cpp and images_none.cpp.
#pragma once

#include <optional>

#include "app/command_line.h"
#include "app/driver.h"

namespace quenthar {

/// Whether --image is read by this build.
bool ReadsImages();

/// Runs this program as an image search's worker when the command line is a
/// worker's (Windows), and returns its exit status; nullopt otherwise.
std::optional<int> RunAsWorker(int argc, const platform::ArgChar* const* argv);

/// Reports every log in the images the command line names, each with the
/// records of its place; nothing has been written before. Returns the exit
/// status.
int ReportImages(Output& out, TextEncoding encoding, const CommandLine& command,
                 const platform::ArgChar* const* argv);

}  // namespace quenthar
