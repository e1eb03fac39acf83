// The confinement of a worker that hands image bytes to the libraries: from
// then on it can read what it was given and write its results, nothing else.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenthar::image {

struct SandboxPolicy {
  int channel = -1;                   // the one descriptor it may write to
  std::vector<std::string> readable;  // the files it may open, by any name
};

/// Confines the calling process for the rest of its life: no new privileges;
/// no capability (a root user's included) but reading files it does not own,
/// and that only where one of `policy.readable` needs it; where the kernel
/// has Landlock, file access limited to reading `policy.readable`, and
/// signals to itself (Landlock missing or refused is no failure); and a
/// system-call filter that kills it (SIGSYS) for anything but reading files,
/// managing its memory and writing to `policy.channel`. Returns why, when
/// the capabilities cannot be dropped or the filter cannot be installed; the
/// process is then confined only in part.
std::optional<std::string> EnterSandbox(const SandboxPolicy& policy);

/// The Landlock part alone, for a process that has no new privileges: the
/// kernel's Landlock version it used (signals are scoped from 6 on), or 0
/// when there is none.
long RestrictWithLandlock(const SandboxPolicy& policy);

}  // namespace quenthar::image
