#!/usr/bin/env bash
# Fails when the code is not formatted by .clang-format or clang-tidy warns
# about src/: the sources of the Linux build with its compile commands
# (build/linux-release), and the Windows build's own sources with the
# Windows build's (build/mingw-release, configured here when missing), for
# its target and with its C++ library's headers.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
[ -f build/linux-release/compile_commands.json ] || cmake --preset linux-release >/dev/null
windows='(/win32|_win32|_bcrypt)\.cpp$'
git ls-files 'src/*.cpp' | grep -vE "$windows" | xargs -P "$(nproc)" -n 8 clang-tidy --quiet -p build/linux-release

mingw=x86_64-w64-mingw32-g++-posix
if command -v "$mingw" > /dev/null; then
  [ -f build/mingw-release/compile_commands.json ] || cmake --preset mingw-release >/dev/null
  # The mingw compiler's C++ library and the target's headers; not its own
  # intrinsics, which clang has its own of.
  args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++ --extra-arg=-nostdlibinc)
  while read -r dir; do
    args+=("--extra-arg=-isystem$(realpath "$dir")")
  done < <("$mingw" -E -x c++ -v /dev/null 2>&1 |
           sed -n '/#include <...> search starts here:/,/End of search list./p' | grep '^ /' |
           grep -vE '/include(-fixed)?$'; echo " /usr/x86_64-w64-mingw32/include")
  # Only what the Windows build compiles (its image sources when it reads images).
  git ls-files 'src/*.cpp' | grep -E "$windows" |
    while read -r file; do
      grep -q "\"file\": \"$PWD/$file\"" build/mingw-release/compile_commands.json && echo "$file"
    done | xargs -r clang-tidy --quiet -p build/mingw-release "${args[@]}"
elif [ -n "${CI:-}" ]; then
  echo "The tidy check of the Windows sources needs $mingw" >&2
  exit 1
fi
echo "Format and tidy checks passed."
