// The whole run: the command line, then for each log its checks, its header,
// the region load and the walk.
#pragma once

#include <cstdio>

#include "platform/platform.h"
#include "report/report.h"

namespace quenthar {

/// Exit statuses. A log whose header could be read and whose region could be
/// loaded whole succeeds whatever its entries hold; one that could not fails.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = -1;

/// Runs the tool on its command line (argv[0] is the program) and returns the
/// exit status. Every message goes to standard output.
int RunTool(int argc, const platform::ArgChar* const* argv);

/// One log, from its length check on, for an input the caller opened; the
/// stream is closed here. The text form creates the empty quenthar.log after
/// the length check. Returns the exit status.
int ReportLogStream(Renderer& r, const platform::Input& opened);

}  // namespace quenthar
