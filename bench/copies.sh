#!/usr/bin/env bash
# What the copies cost that the evidence holds beyond the live volume: a
# volume with shadow-copy stores against the same volume with
# --no-shadow-copies, and BitLocker volumes against the same NTFS file system
# unencrypted, each opened by a startup key, a recovery password and a
# password, beside a run with a wrong secret of each kind (its unlock tried
# and refused: what trying a secret costs). NTFS of 10,000 files with the log
# among them, encrypted into the fixtures' BitLocker volumes; the fixture's
# volume with its stores and the log. Medians of 5 runs each, interleaved,
# then the largest peak memory of any process of each run.
#   bench/copies.sh [BUILD_DIR]     (default build/linux-release)
# Needs the fixtures beside the repository (../shared/fixtures), and what the
# image tests need for them (cryptsetup, python3-cryptography, qemu-img,
# ntfs-3g with its headers), mkntfs and wimtools.
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin
build=$(realpath "${1:-build/linux-release}")
here=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

. "$here/trees.sh"

"$build/tests/make_log" log.bin < "$here/real_size.case"
tree_with_log 10 log.bin
ntfs_of tree ntfs.img 32M -s 512

python3 - "$build/quenthar" "$here/../tests/image" <<'PY'
import os, resource, statistics, subprocess, sys, time
tool, tests = sys.argv[1], sys.argv[2]
sys.path.insert(0, tests)
import encrypted_images as ei  # pylint: disable=import-error,wrong-import-position

archive = os.path.join(ei.FIXTURES, "bitlk-images.tar.xz")
xts = ei.bitlocker_volume(archive, "bitlk-aes-xts-128", "ntfs.img", "xts.img", ".")
bek = ei.bitlocker_volume(archive, "bitlk-aes-xts-128-startup-key", "ntfs.img", "bek.img", ".")
ei.shadow_copy_volume(os.path.join(ei.FIXTURES, "vsstest.qcow2"), "log.bin", "stores.img", ".")
secrets = {"rp.txt": xts.recovery_password, "pw.txt": xts.password,
           "wrong-rp.txt": "000000-000000-000000-000000-000000-000000-000000-000000",
           "wrong-pw.txt": "not the password"}
for name, text in secrets.items():
    with open(name, "w", encoding="utf-8") as f:
        f.write(text + "\n")
with open("wrong.bek", "wb") as f:
    with open(bek.startup_key, "rb") as right:
        key = bytearray(right.read())
    key[-1] ^= 0xFF  # its key changed: a startup key that opens nothing
    f.write(key)

runs = {
    "NTFS, unencrypted": ["ntfs.img"],
    "BitLocker, startup key": ["--key-file", bek.startup_key, "bek.img"],
    "BitLocker, wrong startup key": ["--key-file", "wrong.bek", "bek.img"],
    "BitLocker, recovery password": ["--key-file", "rp.txt", "xts.img"],
    "BitLocker, wrong recovery password": ["--key-file", "wrong-rp.txt", "xts.img"],
    "BitLocker, password": ["--key-file", "pw.txt", "xts.img"],
    "BitLocker, wrong password": ["--key-file", "wrong-pw.txt", "xts.img"],
    "stores' volume, live alone": ["--no-shadow-copies", "stores.img"],
    "stores' volume, with its stores": ["stores.img"],
}
devnull = open(os.devnull, "wb")


def timed(arguments):
    start = time.perf_counter()
    subprocess.run([tool, "--image", "--json", *arguments], stdout=devnull, check=False)
    return time.perf_counter() - start


times = {name: [] for name in runs}
for _ in range(5):
    for name, arguments in runs.items():
        times[name].append(timed(arguments))
median = {name: statistics.median(t) for name, t in times.items()}


def peak(arguments):
    # A child of its own: the largest peak of the program and every worker.
    return int(subprocess.run(
        [sys.executable, "-c", "import resource, subprocess, sys; "
         "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL); "
         "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
         tool, "--image", "--json", *arguments], stdout=subprocess.PIPE, text=True, check=True).stdout) / 1024


stores = subprocess.run([tool, "--image", "--json", "stores.img"], stdout=subprocess.PIPE, text=True,
                        check=False).stdout.count('"record":"volume"') - 1
print(f"{'run':38} {'median':>9} {'peak MiB':>9}")
for name, arguments in runs.items():
    print(f"{name:38} {median[name] * 1000:7.0f}ms {peak(arguments):9.1f}")
plain = median["NTFS, unencrypted"]
for kind, right, wrong in (("startup key", "BitLocker, startup key", "BitLocker, wrong startup key"),
                           ("recovery password", "BitLocker, recovery password",
                            "BitLocker, wrong recovery password"),
                           ("password", "BitLocker, password", "BitLocker, wrong password")):
    print(f"BitLocker by {kind}: {median[right] * 1000:.0f} ms against its unlock tried"
          f" ({median[wrong] * 1000:.0f} ms) + 2 x unencrypted ({2 * plain * 1000:.0f} ms):"
          f" {median[right] / (median[wrong] + 2 * plain):.2f} of the bound")
live = median["stores' volume, live alone"]
whole = median["stores' volume, with its stores"]
print(f"the volume and its {stores} stores: {whole * 1000:.0f} ms against ({stores} + 1) x live"
      f" ({(stores + 1) * live * 1000:.0f} ms) + 10 %: {whole / ((stores + 1) * live * 1.1):.2f} of the bound")
PY
