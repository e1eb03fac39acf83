#!/usr/bin/env bash
# Fails when the code is not formatted by .clang-format or clang-tidy warns
# about src/ (the POSIX build; compile commands from build/linux-release).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
[ -f build/linux-release/compile_commands.json ] || cmake --preset linux-release >/dev/null
git ls-files 'src/*.cpp' | grep -vE '(/win32|_win32|_bcrypt)\.cpp$' | xargs clang-tidy --quiet -p build/linux-release
echo "Format and tidy checks passed."
