// The whole run: checks, header line, region load and the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "log/records.h"
#include "platform/platform.h"
#include "report/output.h"

namespace quenthar {

/// Exit statuses. A run that printed the header line succeeds whatever the
/// entries hold; one that could not get that far fails.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = -1;

/// Runs the tool on its command line (argv[0] is the program) and returns the
/// exit status. Every message goes to standard output.
int RunTool(int argc, const platform::ArgChar* const* argv);

/// The run from the length check on, for an input stream the caller opened;
/// the stream is closed here. Returns the exit status.
int ReportLogStream(Output& out, std::FILE* input);

/// Puts the header line, and the "Invalid data size\n" warning when DataSize
/// exceeds the file's length.
void ReportLogHeader(Output& out, const LogHeader& header);

/// How many bytes the run loads after the 16-byte header: DataSize, but no
/// more than the file holds there.
std::size_t LoadedCapacity(const LogHeader& header);

/// Reports the entries in `loaded`, the bytes read from just after the 16-byte
/// header (at most DataSize of them); payloads may run on to the end of them.
void ReportLoadedRegion(Output& out, const LogHeader& header, const std::uint8_t* loaded,
                        std::size_t loaded_size);

}  // namespace quenthar
