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

/// How standard output is written. A console (on Windows) gets every form as
/// UTF-8 that it shows whole, the log's text included; anything else gets the
/// text report in narrow text through text mode, and the structured forms as
/// bytes, the same on every platform.
struct OutputPlan {
  bool console;
  bool binary;
  TextEncoding encoding;
};

OutputPlan PlanOutput(bool console, Form form);

/// Runs the tool on its command line (argv[0] is the program) and returns the
/// exit status. Every message goes to standard output.
int RunTool(int argc, const platform::ArgChar* const* argv);

/// One log, from its length check on, for an input the caller opened; the
/// stream is closed here. The text form creates the empty quenthar.log after
/// the length check. Returns the exit status.
int ReportLogStream(Renderer& r, const platform::Input& opened);

}  // namespace quenthar
