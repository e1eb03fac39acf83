// The whole run: the command line, then for each log its checks, its header,
// the region load and the walk.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

#include "log/loaded_log.h"
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
/// bytes, the same on every platform. A terminal (a console is one) gets the
/// text of the evidence with its control characters escaped, in every form;
/// a file or a pipe gets it exact.
struct OutputPlan {
  bool console;
  bool binary;
  TextEncoding encoding;
};

OutputPlan PlanOutput(bool console, bool terminal, Form form);

/// Runs the tool on its command line (argv[0] is the program) and returns the
/// exit status. Every message goes to standard output.
int RunTool(int argc, const platform::ArgChar* const* argv);

/// One log, from its length check on, for an input the caller opened; the
/// stream is closed here. The text form creates the empty quenthar.log after
/// the length check. Returns the exit status.
int ReportLogStream(Renderer& r, const platform::Input& opened);

/// Reports a log whose header was read: the header record, then the entries of
/// the region that load(into, n) reads into a buffer of exactly the size that
/// may be loaded, or "Can't read data" when it could not read it whole.
template <typename Load>
int ReportLoadedLog(Renderer& r, const LogForm& form, const LogHeader& header, Load&& load) {
  Render(r, HeaderOf(form, header));
  // Sized exactly to what may be loaded, so that any read past it is an error
  // the sanitizers see. A short read is a read error or a file that shrank:
  // the region cannot be trusted, and none of it is used.
  const std::size_t capacity = LoadedCapacity(form, header);
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  if (!load(buffer.get(), capacity)) {
    Render(r, Problem::kCantReadData);
    return kExitFailure;
  }
  ReportEntries(r, LoadedLog{form, header, buffer.get(), capacity});
  return kExitOk;
}

}  // namespace quenthar
