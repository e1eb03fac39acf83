#!/usr/bin/env bash
# Checks that the README's first two commands work on a bare Debian 12: makes
# a throwaway root file system with debootstrap (git and sudo, nothing else),
# clones this repository into it with ../shared beside the clone, and runs the
# README's first two `sh` code blocks there as an unprivileged user with
# sudo, printing each one's time and status (the second with QUENTHAR_SOURCES
# set to the shared folder's deps, as .ci/run sets it). Before that, in
# copies of the same root, it configures a plain build, a tests build and a
# fuzz build, each with only the packages scripts/setup.sh names for it.
# Needs root, debootstrap and the network to Debian's package registry;
# takes minutes, so it is no part of the test run.
#   scripts/check-fresh-machine.sh [WORK_DIR]     (default: a new temporary folder)
set -euo pipefail
top=$(realpath "$(dirname "$0")/..")
work=$(realpath -m "${1:-$(mktemp -d /var/tmp/fresh-machine.XXXXXX)}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$work"
echo "in $work"

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2> /dev/null || true; done
}
trap cleanup EXIT

base=$work/base
if [ ! -x "$base/usr/bin/git" ]; then
  rm -rf "$base"
  debootstrap --variant=minbase --include=git,sudo,ca-certificates bookworm "$base" "$mirror" > "$work/debootstrap.log"
  echo "deb $mirror bookworm-updates main" >> "$base/etc/apt/sources.list"
  echo "deb http://security.debian.org/debian-security bookworm-security main" >> "$base/etc/apt/sources.list"
  chroot "$base" useradd -m -s /bin/bash newcomer
  echo "newcomer ALL=(ALL) NOPASSWD: ALL" > "$base/etc/sudoers.d/newcomer"
fi

# A root of its own: the base copied, with the system's folders mounted, the
# repository cloned and the shared folder beside it.
prepare() {
  local root=$1
  rm -rf --one-file-system "$root"  # never into a mount a killed run left behind
  cp -a "$base" "$root"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  for d in proc sys dev dev/pts dev/shm; do
    mount --bind "/$d" "$root/$d"
    mounted+=("$root/$d")
  done
  cp -a "$work/source.git" "$root/home/newcomer/source.git"
  chroot "$root" chown -R newcomer: /home/newcomer/source.git
  chroot "$root" su - newcomer -c "mkdir -p work && git clone -q ~/source.git work/quenthar"
  if [ -d "$top/../shared" ]; then cp -a "$top/../shared" "$root/home/newcomer/work/shared"; fi
}

# As the user, in the clone: prints the time and status.
run_as_newcomer() {
  local root=$1 what=$2 command=$3
  local start=$SECONDS status=0
  chroot "$root" su - newcomer -c "cd work/quenthar && $command" > "$work/$what.log" 2>&1 || status=$?
  printf '%-32s %4d s  status %d  (%s)\n' "$what" $((SECONDS - start)) "$status" "$work/$what.log"
}

# The clone's source: the commit checked out here.
rm -rf "$work/source.git"
git clone -q --bare "$top" "$work/source.git"

for part in plain tests fuzz; do
  root=$work/$part
  prepare "$root"
  case $part in
    plain) setup="sudo apt-get update -qq && sudo apt-get install -y -qq --no-install-recommends cmake ninja-build g++"
           configure="cmake --preset linux-program" ;;
    tests) setup="scripts/setup.sh tests" configure="cmake --preset linux-release" ;;
    fuzz) setup="scripts/setup.sh fuzz" configure="cmake --preset fuzz" ;;
  esac
  run_as_newcomer "$root" "$part: its packages" "$setup"
  run_as_newcomer "$root" "$part: configure" "$configure"
done

root=$work/readme
prepare "$root"
readme=$root/home/newcomer/work/quenthar/README.md
first=$(awk '/^```sh$/ {n++; next} /^```$/ {if (n == 1) exit} n == 1' "$readme")
second=$(awk '/^```sh$/ {n++; next} /^```$/ {if (n == 2) exit} n == 2' "$readme")
echo "first command:  $first"
echo "second command: $second"
run_as_newcomer "$root" "README's first command" "$first"
tail -n 3 "$work/README's first command.log"; echo
# As .ci/run does: The Sleuth Kit's source for the Windows build from the
# shared folder, where the network does not reach its upstream repository.
sources='if [ -d ../shared/deps ]; then export QUENTHAR_SOURCES=$(realpath ../shared/deps); fi; '
run_as_newcomer "$root" "README's second command" "$sources$second"
tail -n 3 "$work/README's second command.log"
