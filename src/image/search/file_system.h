// File systems, as The Sleuth Kit's library reads them: the one place that
// knows how each kind is searched for files of a log's length, allocated
// and deleted, and what makes one of them a log.
#pragma once

#include <cstdint>
#include <string>

#include "image/containment/channel.h"
#include "image/search/tsk_library.h"

namespace quenthar::image {

/// Opens the file system at `offset`: NTFS, FAT and ext first, whose probes
/// read little, then every type the library knows; null with `error` set
/// when none opens.
FileSystem OpenFileSystem(TSK_IMG_INFO* img, TSK_OFF_T offset, Error& error);

/// Why a volume without a file system the library opens was not searched,
/// and whether that is a failure (a read that failed) or a fact.
struct Unopened {
  std::string problem;
  bool failed = false;
  NotSearched kind = NotSearched::kDamaged;
};
Unopened ExplainUnopened(const Error& error);

/// What the search of a file system saw, its last message still to send
/// (after the volumes found inside it), and whether it is NTFS.
struct FileSystemSeen {
  VolumeSearchedMessage seen;
  bool ntfs = false;
};

/// Searches the file system at `offset` of `img` (`fs`, when it is open
/// already): sends its type and every log in it in address order.
FileSystemSeen SearchFileSystem(TSK_IMG_INFO* img, std::uint64_t offset, FileSystem fs,
                                const WorkerChannel& out);

}  // namespace quenthar::image
