#!/usr/bin/env bash
# Builds and tests every configuration: Linux release, Linux under the
# sanitizers, and the Windows build under Wine where mingw-w64 and Wine are
# installed (required when CI is set).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset linux-release
cmake --workflow --preset linux-asan

if command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
   { command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; }; then
  cmake --workflow --preset mingw-release
elif [ -n "${CI:-}" ]; then
  echo "The Windows build needs g++-mingw-w64-x86-64-posix and wine64" >&2
  exit 1
else
  echo "Skipping the Windows build: g++-mingw-w64-x86-64-posix or wine64 is not installed" >&2
fi
echo "All test runs passed."
