// What a search of disk images is asked to do, and how it is bounded and
// confined: one value from the command line to the workers.
#pragma once

#include <cstdint>
#include <vector>

#include "image/secrets.h"

namespace quenthar::image {

struct SearchOptions {
  unsigned time_limit_s = 600;            // --time-limit: waiting for one step of a worker
  unsigned image_time_limit_s = 3600;     // --image-time-limit: waiting for all of an image's
  std::uint64_t memory_limit_mib = 1024;  // --memory-limit: a worker's, beyond what it starts with
  bool sandbox = true;                    // not with --no-sandbox
  bool shadow_copies = true;              // not with --no-shadow-copies
  std::vector<KeySecret> keys;            // from every --key-file, numbered from 0
};

inline constexpr unsigned kMaxTimeLimit = 86400;
inline constexpr unsigned kMaxImageTimeLimit = 604800;
inline constexpr std::uint64_t kMaxMemoryLimit = 1u << 20;

}  // namespace quenthar::image
