#!/usr/bin/env bash
# Builds and tests every configuration: Linux release (with its packages), the
# format and tidy checks, Linux under the sanitizers, the Windows build under
# Wine and the arm64 Linux build under qemu (each with its packages), and the
# fuzz target's smoke run (QUENTHAR_FUZZ_SECONDS, default 60). A part whose
# tools are not installed is skipped, except when CI is set.
set -euo pipefail
cd "$(dirname "$0")/.."

need() {  # need WHAT COMMAND...: true when every command exists
  local what=$1; shift
  for c in "$@"; do
    command -v "$c" >/dev/null && continue
    [ -n "${CI:-}" ] && { echo "$what needs $c" >&2; exit 1; }
    echo "Skipping $what: $c is not installed" >&2
    return 1
  done
}

cmake --workflow --preset linux-release
if need "the format and tidy checks" clang-format clang-tidy; then
  scripts/check-code.sh
fi
cmake --workflow --preset linux-asan

PATH=$PATH:/usr/lib/wine  # where Debian's wine64 package puts wine64
if need "the Windows build" x86_64-w64-mingw32-g++-posix wine64; then
  cmake --workflow --preset mingw-release
fi
if need "the arm64 build" aarch64-linux-gnu-g++ qemu-aarch64; then
  cmake --workflow --preset linux-arm64  # makes, or reuses, its sysroot of Debian's arm64 packages
fi
if need "the fuzz run" clang++; then
  cmake --preset fuzz -DQUENTHAR_FUZZ_SECONDS="${QUENTHAR_FUZZ_SECONDS:-60}"
  cmake --build --preset fuzz
  ctest --preset fuzz
fi
echo "All test runs passed."
