// The report of one log, wherever its bytes come from: a file, a stream, or
// an image's search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "log/records.h"
#include "platform/platform.h"
#include "report/report.h"

namespace quenthar {

/// A log's bytes as the report reads them.
struct LogSource {
  std::int64_t length = -1;         // -1 when it cannot be told
  platform::FileIdentity identity;  // its file's, where it is one: quenthar.log is never it
  /// Reads exactly n bytes at offset; false when it cannot.
  std::function<bool(std::int64_t offset, std::uint8_t* into, std::size_t n)> read;
  /// Lets go of the log, once what the report needs of it is loaded.
  std::function<void()> release;
};

/// One log, from its length check on. The text form creates the empty
/// quenthar.log after the length check. Returns the exit status.
int ReportLog(Renderer& r, const LogSource& log);

/// The log file at `path` (or a stream there), or "can't open input file".
int ReportLogFile(Renderer& r, const platform::ArgChar* path);

/// The records of a log whose header was read: the header record, then the
/// entries of `loaded`, the bytes after the header that a report loads
/// (LoadedCapacity of them), or "Can't read data" when they could not be
/// read whole (`loaded` null).
int ReportLoaded(Renderer& r, const LogForm& form, const LogHeader& header,
                 const std::uint8_t* loaded);

}  // namespace quenthar
