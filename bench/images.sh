#!/usr/bin/env bash
# Times `quenthar --image --json` against a recursive listing of the same image
# by The Sleuth Kit's own `fls -r -p` (what a user would otherwise run first),
# on file systems of 100,000 files with one log among them: NTFS (raw and
# E01), ext4 and FAT32, built without mounting; and on the image tests' GPT
# disk (an ESP and an NTFS volume with a log each) as a split E01. Medians of
# 5 runs each, interleaved; with a second build, that build's runs too, side
# by side. Then the peak memory of every process of a run on the NTFS image.
#   bench/images.sh [BUILD_DIR [OTHER_BUILD_DIR]]     (default build/linux-release)
# With QUENTHAR_WINDOWS_BUILD set to a Windows build's folder, its quenthar.exe
# runs too, under Wine (wineserver kept running, so that its start is not
# timed), on the NTFS image.
# Needs mkntfs, wimtools, mkfs.ext4, mkfs.fat, mtools, sgdisk, ewfacquire and
# sleuthkit.
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin  # the file-system tools, outside a user's PATH on Debian
build=$(realpath "${1:-build/linux-release}")
other=${2:+$(realpath "$2")}
windows=${QUENTHAR_WINDOWS_BUILD:+$(realpath "$QUENTHAR_WINDOWS_BUILD")/quenthar.exe}
here=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

. "$here/trees.sh"

"$build/tests/make_log" log.bin < "$here/real_size.case"
# 100,000 small files in 100 folders, and the log.
tree_with_log 100 log.bin
ntfs_of tree ntfs.img 600M
ewfacquire -u -q -t ntfs -c none -f encase6 ntfs.img > /dev/null 2>&1
truncate -s 600M ext4.img
mkfs.ext4 -q -N 120000 -d tree ext4.img
truncate -s 600M fat32.img
mkfs.fat -F 32 fat32.img > /dev/null
mcopy -s -i fat32.img tree/* ::

# The image tests' GPT disk: a FAT32 ESP with the 65,536-byte log and an
# NTFS volume with the 67,584-byte one, as a split E01 of 10 MiB segments.
"$build/tests/make_log" esp.bin < <(printf 'form boot-partition\n'; sed '/^==/,$d' "$here/../examples/boot.case")
truncate -s 40M esp.img
mkfs.fat -F 32 -S 512 -s 1 esp.img > /dev/null
mmd -i esp.img ::/EFI ::/EFI/Boot
mcopy -i esp.img esp.bin ::/EFI/Boot/events.dat
mkdir -p gpt/Windows && cp log.bin gpt/Windows/events.dat
ntfs_of gpt gpt-ntfs.img 24M -s 512
truncate -s 100M disk.raw
sgdisk -n1:2048:+40M -t1:ef00 -n2:0:+16M -t2:0c01 -n3:0:+24M -t3:0700 disk.raw > /dev/null
dd if=esp.img of=disk.raw bs=512 seek=2048 conv=notrunc status=none
dd if=gpt-ntfs.img of=disk.raw bs=512 seek=$((2048 + 56 * 2048)) conv=notrunc status=none
mkdir e01 && ewfacquire -u -q -t e01/disk -S 10MiB -c none -f encase6 disk.raw > /dev/null 2>&1

if [ -n "$windows" ]; then
  export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$windows")/wineprefix}
  PATH=$PATH:/usr/lib/wine wineserver -p > /dev/null 2>&1 < /dev/null
fi

PATH=$PATH:/usr/lib/wine python3 - "$build/quenthar" "$other" "$windows" <<'PY'
import os, shutil, statistics, subprocess, sys, time
tool, other, windows = sys.argv[1], sys.argv[2], sys.argv[3]
devnull = open(os.devnull, "wb")

def seconds(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=devnull, check=False)
    return time.perf_counter() - start

tools = {"quenthar": [tool]}
if other:
    tools["other"] = [os.path.join(other, "quenthar")]
if windows:
    tools["windows"] = [shutil.which("wine64") or "wine", windows]
print(f"{'image':14}" + "".join(f"{name:>10}" for name in tools) + f" {'fls -r -p':>10}"
      + "".join(f" {name + '/fls':>13}" for name in tools))
for image in ("ntfs.img", "ntfs.E01", "ext4.img", "fat32.img", "e01/disk.E01"):
    commands = {name: [*t, "--image", "--json", image] for name, t in tools.items()
                if name != "windows" or image == "ntfs.img"}
    # The GPT disk: its NTFS volume.
    where = ["-o", str(2048 + 56 * 2048)] if image == "e01/disk.E01" else []
    commands["fls"] = ["fls", "-r", "-p", *where, image]
    times = {name: [] for name in commands}
    for _ in range(5):
        for name, cmd in commands.items():
            times[name].append(seconds(cmd))
    median = {name: statistics.median(t) for name, t in times.items()}
    print(f"{image:14}" + "".join(f"{median[n] * 1000:8.0f}ms" if n in median else f"{'-':>10}"
                                  for n in tools)
          + f" {median['fls'] * 1000:8.0f}ms"
          + "".join(f" {median[n] / median['fls']:12.2f}x" if n in median else f" {'-':>13}"
                    for n in tools))
# A child of its own, so that only the run's processes are counted: the
# largest peak among the program and every worker it waited for.
peak = subprocess.run([sys.executable, "-c", "import resource, subprocess, sys; "
                       "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True); "
                       "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                       tool, "--image", "--json", "ntfs.img"], stdout=subprocess.PIPE, text=True).stdout
print(f"peak memory of a process of quenthar --image --json ntfs.img: {int(peak) / 1024:.1f} MiB")
PY
