#!/usr/bin/env bash
# Makes the sysroot that the arm64 build reads disk images with: Debian's
# arm64 packages listed in cmake/arm64-sysroot.txt, at their pinned versions,
# fetched by apt (which checks each against the signed package lists, as an
# install would) and unpacked with dpkg -x; nothing is installed. A sysroot
# made from the same list is reused.
#   scripts/arm64-sysroot.sh [DIR]      (default build/arm64-sysroot; the files land in DIR/tree)
set -euo pipefail
cd "$(dirname "$0")/.."
list=$PWD/cmake/arm64-sysroot.txt
dir=$(realpath -m "${1:-build/arm64-sysroot}")
stamp=$dir/tree/.packages
if [ -f "$stamp" ] && cmp -s "$stamp" "$list"; then
  exit 0
fi

rm -rf "$dir"
mkdir -p "$dir/apt/state/lists/partial" "$dir/apt/cache/archives/partial" "$dir/debs" "$dir/tree"
: > "$dir/apt/status"
# apt of its own, for arm64 only: the machine's package lists and state stay as they are.
apt=(-o "Dir::State=$dir/apt/state" -o "Dir::State::status=$dir/apt/status"
     -o "Dir::Cache=$dir/apt/cache" -o APT::Architecture=arm64 -o APT::Architectures::=arm64
     -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
apt-get "${apt[@]}" -qq update
packages=()
while read -r name version; do
  case $name in ''|'#'*) continue ;; esac
  packages+=("$name:arm64=$version")
done < "$list"
(cd "$dir/debs" && apt-get "${apt[@]}" -qq download "${packages[@]}")
for deb in "$dir"/debs/*.deb; do
  dpkg -x "$deb" "$dir/tree"
done
cp "$list" "$stamp"
echo "arm64 sysroot made in $dir/tree"
