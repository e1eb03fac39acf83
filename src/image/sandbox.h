// The confinement of a worker that hands image bytes to the libraries: from
// then on it can read what it was given and write its results, nothing else.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenthar::image {

struct SandboxPolicy {
  int channel = -1;                   // the one descriptor it may write to
  std::vector<std::string> readable;  // files, and folders with all under them, it may open
};

/// Confines the calling process for the rest of its life: no new privileges;
/// a system-call filter that kills it (SIGSYS) for anything but reading
/// files, managing its memory and writing to `policy.channel`; and, where the
/// kernel has Landlock, file access limited to reading `policy.readable`
/// (Landlock missing or refused is no failure). Returns why, when the filter
/// cannot be installed; the process is then confined only in part.
std::optional<std::string> EnterSandbox(const SandboxPolicy& policy);

}  // namespace quenthar::image
