#!/usr/bin/env bash
# Makes examples/disk.E01, the example disk image: a 44 MiB GPT disk whose EFI
# system partition (FAT32) holds the example log in the boot partition's form
# (65,536 bytes) and a deleted copy of it, and whose second partition (NTFS)
# holds the example log in the system folder's form (67,584 bytes); both from
# examples/boot.case. Compressed E01. Without root or mounts.
#   scripts/make-example-image.sh [BUILD_DIR]     (default build/linux-release)
# Needs make_log from a build with tests, mkfs.fat and mtools, mkntfs and
# wimtools, sgdisk and ewfacquire.
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin  # the file-system tools, outside a user's PATH on Debian
top=$(realpath "$(dirname "$0")/..")
build=$(realpath "${1:-build/linux-release}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

description=$(sed '/^==/,$d' "$top/examples/boot.case")
"$build/tests/make_log" sys.bin <<< "$description"
"$build/tests/make_log" esp.bin <<< "form boot-partition
$description"

truncate -s 34M esp.img
mkfs.fat -F 32 -S 512 -s 1 -n ESP esp.img > /dev/null
mmd -i esp.img ::/EFI ::/EFI/Boot
mcopy -i esp.img esp.bin ::/EFI/Boot/events.dat
mcopy -i esp.img esp.bin ::/EFI/Boot/events.old
mdel -i esp.img ::/EFI/Boot/events.old

mkdir -p tree/Windows && cp sys.bin tree/Windows/events.dat
wimcapture tree tree.wim --compress=none > /dev/null
truncate -s 8M ntfs.img
mkntfs -F -Q -q -s 512 -L Windows ntfs.img > /dev/null 2>&1
wimapply tree.wim ntfs.img > /dev/null

truncate -s 44M disk.raw
sgdisk -n1:2048:+34M -t1:ef00 -c1:"EFI system partition" \
       -n2:0:+8M -t2:0700 -c2:"Basic data partition" disk.raw > /dev/null
dd if=esp.img of=disk.raw bs=512 seek=2048 conv=notrunc status=none
dd if=ntfs.img of=disk.raw bs=512 seek=$((2048 + 34 * 2048)) conv=notrunc status=none
ewfacquire -u -q -t disk -c best -f encase6 -C example -D "quenthar example disk" \
           -e quenthar -E 1 -N "made by scripts/make-example-image.sh" disk.raw > /dev/null
cp disk.E01 "$top/examples/disk.E01"
echo "examples/disk.E01: $(stat -c %s "$top/examples/disk.E01") bytes"
