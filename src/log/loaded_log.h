// A log as the run holds it: its header, and the bytes loaded after it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/entry_cursor.h"
#include "log/records.h"

namespace quenthar {

struct LoadedLog {
  LogForm form;
  LogHeader header;
  const std::uint8_t* bytes;  // read from just after the 16-byte header
  std::size_t size;           // at most LoadedCapacity(form, header)
};

/// True when DataSize claims more than the whole file.
inline bool DataSizeExceedsFile(const LogForm& form, const LogHeader& header) {
  return header.data_size > form.file_size;
}

/// How many bytes a run loads after the 16-byte header: DataSize, but no more
/// than the file holds there. That is up to 16 bytes past the data region,
/// which a payload running over the region's end may still read.
inline std::size_t LoadedCapacity(const LogForm& form, const LogHeader& header) {
  const auto after_header =
      static_cast<std::size_t>(form.file_size - form.header_offset) - LogHeader::kSize;
  return header.data_size < after_header ? header.data_size : after_header;
}

/// The cursor over the entries: from HdrSize after the header's start (16 when
/// HdrSize is implausible: below 16 or beyond DataSize) to DataSize after it,
/// within the loaded bytes.
inline EntryCursor DataRegion(const LoadedLog& log) {
  const LogHeader& h = log.header;
  const std::size_t data_end = h.data_size < LogHeader::kSize ? 0 : h.data_size - LogHeader::kSize;
  const std::size_t end = data_end < log.size ? data_end : log.size;
  std::size_t begin = 0;
  if (h.hdr_size >= LogHeader::kSize && h.hdr_size <= h.data_size)
    begin = h.hdr_size - LogHeader::kSize;
  if (begin > end) begin = end;
  return MakeCursor(log.bytes + begin, log.bytes + end);
}

/// File offset of a byte among the loaded ones.
inline std::uint64_t FileOffset(const LoadedLog& log, const std::uint8_t* at) {
  return static_cast<std::uint64_t>(log.form.header_offset) + LogHeader::kSize +
         static_cast<std::uint64_t>(at - log.bytes);
}

}  // namespace quenthar
