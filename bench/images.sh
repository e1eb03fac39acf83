#!/usr/bin/env bash
# Times `quenthar --image --json` against a recursive listing of the same image
# by The Sleuth Kit's own `fls -r -p` (what a user would otherwise run first),
# on file systems of 100,000 files with one log among them: NTFS (raw and
# E01), ext4 and FAT32, built without mounting. Medians of 5 runs each,
# interleaved; then the program's peak memory on the NTFS image.
#   bench/images.sh [BUILD_DIR]     (default build/linux-release)
# Needs mkntfs, wimtools, mkfs.ext4, mkfs.fat, mtools, ewfacquire and sleuthkit.
set -euo pipefail
build=$(realpath "${1:-build/linux-release}")
here=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/tests/make_log" log.bin < "$here/real_size.case"
# 100,000 small files in 100 folders, and the log.
mkdir -p tree/Windows
for d in $(seq -w 0 99); do
  mkdir "tree/d$d"
  (cd "tree/d$d" && seq -w 0 999 | xargs touch)
done
cp log.bin tree/Windows/events.dat

wimcapture tree tree.wim --compress=none > /dev/null
truncate -s 600M ntfs.img
mkntfs -F -Q -q ntfs.img > /dev/null 2>&1
wimapply tree.wim ntfs.img > /dev/null
ewfacquire -u -q -t ntfs -c none -f encase6 ntfs.img > /dev/null 2>&1
truncate -s 600M ext4.img
mkfs.ext4 -q -N 120000 -d tree ext4.img
truncate -s 600M fat32.img
mkfs.fat -F 32 fat32.img > /dev/null
mcopy -s -i fat32.img tree/* ::

python3 - "$build/quenthar" <<'PY'
import os, statistics, subprocess, sys, time
tool = sys.argv[1]
devnull = open(os.devnull, "wb")

def seconds(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, stdout=devnull, check=True)
    return time.perf_counter() - start

print(f"{'image':12} {'quenthar':>10} {'fls -r -p':>10} {'ratio':>7}")
for image in ("ntfs.img", "ntfs.E01", "ext4.img", "fat32.img"):
    ours = [tool, "--image", "--json", image]
    theirs = ["fls", "-r", "-p", image]
    times = {"ours": [], "theirs": []}
    for _ in range(5):
        times["ours"].append(seconds(ours))
        times["theirs"].append(seconds(theirs))
    a, b = statistics.median(times["ours"]), statistics.median(times["theirs"])
    print(f"{image:12} {a * 1000:8.0f}ms {b * 1000:8.0f}ms {a / b:6.2f}x")
# A child of its own, so that only the program's peak is taken.
peak = subprocess.run([sys.executable, "-c", "import resource, subprocess, sys; "
                       "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True); "
                       "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                       tool, "--image", "--json", "ntfs.img"], stdout=subprocess.PIPE, text=True).stdout
print(f"peak memory of quenthar --image --json ntfs.img: {int(peak) / 1024:.1f} MiB")
PY
