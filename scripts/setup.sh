#!/bin/sh
# Installs, from Debian's packages, what a part of the project needs:
#   scripts/setup.sh [program | tests | fuzz | all]     (default: program)
# program: building the program, with disk images, and the zone files it reads
# (and the Windows build carries); tests: also the Linux
# release build's tests and packages; fuzz: the fuzz preset; all: everything
# scripts/test-all.sh runs (the Windows build under Wine, with what builds its
# image libraries; the arm64 build under qemu; the fuzz run; the format and
# tidy checks). Only what is missing
# is installed, with sudo when not run as root. On a system without apt it
# names the packages and stops.
set -eu

program="cmake ninja-build g++ libtsk-dev libewf-dev libvmdk-dev libvhdi-dev libafflib-dev
  libbde-dev libvshadow-dev libqcow-dev libbfio-dev libssl-dev libexpat1-dev zlib1g-dev
  libsqlite3-dev libseccomp-dev tzdata"
tests="$program python3 python3-jsonschema libgtest-dev man-db mandoc lintian git
  ntfs-3g ntfs-3g-dev wimtools mtools dosfstools gdisk fdisk e2fsprogs ewf-tools qemu-utils
  cryptsetup-bin python3-cryptography"
fuzz="$program python3 libgtest-dev clang libclang-rt-14-dev libsimdjson-dev"
all="$tests $fuzz libbenchmark-dev clang-format clang-tidy g++-mingw-w64-x86-64-posix wine64
  g++-aarch64-linux-gnu qemu-user autoconf automake libtool gettext pkgconf make dpkg-dev xz-utils"

case ${1:-program} in
  program) wanted=$program ;;
  tests) wanted=$tests ;;
  fuzz) wanted=$fuzz ;;
  all) wanted=$all ;;
  *) echo "usage: scripts/setup.sh [program | tests | fuzz | all]" >&2; exit 2 ;;
esac

if ! command -v apt-get > /dev/null || ! command -v dpkg-query > /dev/null; then
  echo "This needs Debian's packages (or their equivalents), installed by hand here:" >&2
  echo "$wanted" | tr -s ' \n' '\n' | sort -u | tr '\n' ' ' >&2
  echo >&2
  exit 1
fi

missing=""
for p in $(echo "$wanted" | tr -s ' \n' '\n' | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

as_root=""
if [ "$(id -u)" != 0 ]; then
  command -v sudo > /dev/null || { echo "Installing$missing needs root or sudo" >&2; exit 1; }
  as_root=sudo
fi
echo "Installing:$missing"
$as_root apt-get update -qq
# shellcheck disable=SC2086  # the list is words
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
