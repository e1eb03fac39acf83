#!/usr/bin/env python3
"""Mutates small disk images of every kind the search reads and runs the real
program on each, as a user would: `quenthar --image --json IMAGE`.

Two kinds of result:
- an escape: a signal reaching the user, a status other than 0 or 1, output
  that is not whole records, anything on standard error, a run past its
  bound, or a worker failure with status 0. It must never happen: each is
  kept and fails the run.
- a contained fault: a library crash, stall or nonsense that the workers
  caught and reported. Counted and kept, one image per distinct report.

  fuzz_images.py --tool QUENTHAR --builder MAKE_LOG --ntfs-delete NTFS_DELETE
                 [--executions N | --seconds S] [--jobs J] [--keep DIR] [--seed N]

The seed images are built at start, from fixture logs, without root or
mounts: bare FAT32, NTFS and ext4 file systems, a GPT disk with a FAT ESP
and an NTFS volume, and that disk as VHD, VMDK, E01 and compressed QCOW2;
and, where the fixtures Windows made are there, a volume with shadow-copy
stores and a log copied into it, and a BitLocker volume holding an NTFS with
a log, searched with its startup key (`--kinds` picks some). Each execution
changes 1 to 16 bytes of one image in place, mostly where the image holds
anything but zeros (its metadata), runs the program, then puts the bytes
back. Prints the figures per image kind."""
import argparse
import collections
import gzip
import json
import multiprocessing
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_images  # noqa: E402  the image builders of the image tests
import encrypted_images  # noqa: E402

# What opens an image kind's BitLocker volume.
KEY_FILES = {}

MIB = 1 << 20
FAILURE = re.compile(r"The search of this (volume|image) (crashed \(signal \d+\)|took longer than|"
                     r"was stopped by the sandbox|sent data that does not hold together|failed|"
                     r"cannot be sandboxed|ran out of memory)")
RECORDS = {"header", "entry", "end", "error", "log", "volume", "image"}


def build_seeds(work, args):
    """{kind: path} of the seed images."""
    def log(name, form):
        path = os.path.join(work, name)
        subprocess.run([args.builder, path], input=check_images.example_description(form).encode(),
                       check=True)
        return path
    esp_log, sys_log = log("esp.bin", "esp"), log("sys.bin", "sys")
    seeds = {}
    seeds["fat32"] = os.path.join(work, "fat32.img")
    check_images.fat_image(seeds["fat32"], 34 * MIB, {"/EFI/Boot/events.dat": esp_log, "/old.dat": esp_log},
                           deleted=["/old.dat"])
    seeds["ntfs"] = os.path.join(work, "ntfs.img")
    check_images.ntfs_image(work, seeds["ntfs"], 4 * MIB, {"/Windows/events.dat": sys_log, "/old/copy.dat": sys_log},
                            ["/old/copy.dat"], args.ntfs_delete)
    tree = tempfile.mkdtemp(dir=work)
    shutil.copy(esp_log, os.path.join(tree, "events.dat"))
    seeds["ext4"] = os.path.join(work, "ext4.img")
    with open(seeds["ext4"], "wb") as f:
        f.truncate(2 * MIB)
    check_images.sh("mkfs.ext4", "-q", "-d", tree, seeds["ext4"])

    esp = os.path.join(work, "esp.img")
    with open(esp, "wb") as f:
        f.truncate(8 * MIB)
    check_images.sh("mkfs.fat", "-S", "512", "-n", "ESP", esp)
    check_images.sh("mmd", "-i", esp, "::/EFI")
    check_images.sh("mcopy", "-i", esp, esp_log, "::/EFI/events.dat")
    gpt = seeds["gpt"] = os.path.join(work, "gpt.raw")
    with open(gpt, "wb") as f:
        f.truncate(14 * MIB)
    check_images.sh("sgdisk", "-n1:2048:+8M", "-t1:ef00", "-n2:0:+4M", "-t2:0700", gpt)
    check_images.place(gpt, esp, 2048)
    check_images.place(gpt, seeds["ntfs"], 2048 + 8 * 2048)
    seeds["vhd"] = os.path.join(work, "gpt.vhd")
    check_images.sh("qemu-img", "convert", "-f", "raw", "-O", "vpc", gpt, seeds["vhd"])
    seeds["vmdk"] = os.path.join(work, "gpt.vmdk")
    check_images.sh("qemu-img", "convert", "-f", "raw", "-O", "vmdk", gpt, seeds["vmdk"])
    check_images.sh("ewfacquire", "-u", "-q", "-t", os.path.join(work, "gpt"), "-c", "fast", "-f", "encase6", gpt)
    seeds["e01"] = os.path.join(work, "gpt.E01")
    seeds["qcow2"] = os.path.join(work, "gpt.qcow2")
    check_images.sh("qemu-img", "convert", "-c", "-f", "raw", "-O", "qcow2", gpt, seeds["qcow2"])
    if os.path.isdir(encrypted_images.FIXTURES):
        seeds["vss"] = encrypted_images.shadow_copy_volume(
            os.path.join(encrypted_images.FIXTURES, "vsstest.qcow2"), sys_log, os.path.join(work, "vss.raw"), work)
        volume = encrypted_images.bitlocker_volume(
            os.path.join(encrypted_images.FIXTURES, "bitlk-images.tar.xz"), "bitlk-aes-xts-128-startup-key",
            seeds["ntfs"], os.path.join(work, "bitlocker.img"), work)
        seeds["bitlocker"] = volume.path
        KEY_FILES["bitlocker"] = volume.startup_key
    return seeds


def interesting_offsets(path):
    """Where the image holds anything but zeros, and its first 64 KiB."""
    offsets = list(range(0, min(os.path.getsize(path), 65536), 7))
    with open(path, "rb") as f:
        at = 0
        while chunk := f.read(MIB):
            if chunk.count(0) != len(chunk):
                offsets.extend(at + i for i in range(0, len(chunk), 3) if chunk[i])
            at += len(chunk)
    return offsets


def check_run(result, out_text):
    """Why the run escaped, or None."""
    if result.returncode < 0:
        return f"the program ended on signal {-result.returncode}"
    if result.returncode not in (0, 1):
        return f"exit status {result.returncode}"
    if result.stderr:
        return "standard error: " + result.stderr[:200].decode("utf-8", "replace")
    if out_text is None:
        return "output that is not UTF-8"
    if out_text and not out_text.endswith("\n"):
        return "a record cut short at the end"
    for line in out_text.splitlines():
        try:
            record = json.loads(line)
        except ValueError as e:
            return f"a line that is no JSON ({e}): " + line[max(0, e.pos - 100):e.pos + 100]
        if not isinstance(record, dict) or record.get("record") not in RECORDS or "source" not in record:
            return "a line that is no record: " + line[:200]
    if result.returncode == 0 and FAILURE.search(out_text):
        return "a worker failure with status 0"
    return None


def fuzz_worker(job):
    """Runs `count` executions (or until `deadline`) on copies of the seeds."""
    index, args, seeds, count, deadline = job
    rng = random.Random(args.seed * 1000 + index)
    work = tempfile.mkdtemp(prefix=f"fuzz{index}-")
    images, offsets = {}, {}
    for kind, seed in seeds.items():
        folder = os.path.join(work, kind)
        os.mkdir(folder)
        images[kind] = os.path.join(folder, os.path.basename(seed))
        subprocess.run(["cp", "--sparse=always", seed, images[kind]], check=True)
        if kind in args.key_files:
            shutil.copy(args.key_files[kind], folder)
        offsets[kind] = interesting_offsets(images[kind])
    stats = collections.defaultdict(lambda: {"executions": 0, "escapes": 0, "faults": collections.Counter()})
    kept = []
    done = 0
    values = [0, 0xFF, 0x7F, 0x80, 1, 2, 0x10, 0x40]
    while (count is None or done < count) and (deadline is None or time.monotonic() < deadline):
        kind = rng.choice(list(images))
        image = images[kind]
        changes = []
        with open(image, "r+b") as f:
            for _ in range(rng.randint(1, 16)):
                at = rng.choice(offsets[kind]) if rng.random() < 0.9 else rng.randrange(os.path.getsize(image))
                f.seek(at)
                old = f.read(1)
                new = rng.choice(values) if rng.random() < 0.3 else rng.randrange(256)
                f.seek(at)
                f.write(bytes([new]))
                changes.append((at, old))
        try:
            keys = ["--key-file", os.path.basename(args.key_files[kind])] if kind in args.key_files else []
            result = subprocess.run([args.tool, "--image", "--json", "--time-limit", str(args.time_limit), *keys,
                                     os.path.basename(image)], cwd=os.path.dirname(image),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=args.bound)
            try:
                out = result.stdout.decode("utf-8")
            except UnicodeDecodeError:
                out = None
            escape = check_run(result, out)
        except subprocess.TimeoutExpired:
            out, escape = "", f"still running after {args.bound} s"
        s = stats[kind]
        s["executions"] += 1
        faults = sorted(set(m.group(0) for m in FAILURE.finditer(out or "")))
        if escape:
            s["escapes"] += 1
        for fault in faults:
            s["faults"][fault] += 1
        if (escape or faults) and args.keep:
            key = (kind, escape or "", tuple(faults))
            kept.append((key, keep_copy(args.keep, image, index, done)))
            if escape:
                with open(kept[-1][1] + ".out", "w", encoding="utf-8", errors="replace") as f:
                    f.write(out or "")
        with open(image, "r+b") as f:
            for at, old in reversed(changes):
                f.seek(at)
                f.write(old)
        done += 1
    shutil.rmtree(work)
    return {k: {"executions": v["executions"], "escapes": v["escapes"], "faults": dict(v["faults"])}
            for k, v in stats.items()}, kept


def keep_copy(keep, image, index, n):
    path = os.path.join(keep, f"{os.path.basename(image)}.{index}.{n}.gz")
    with open(image, "rb") as src, gzip.open(path, "wb") as dst:
        shutil.copyfileobj(src, dst)
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--builder", required=True)
    ap.add_argument("--ntfs-delete", required=True)
    ap.add_argument("--executions", type=int)
    ap.add_argument("--seconds", type=float)
    ap.add_argument("--jobs", type=int, default=1)
    ap.add_argument("--keep", help="keep one image per distinct result here")
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--time-limit", type=int, default=5, help="the program's --time-limit")
    ap.add_argument("--bound", type=int, default=120, help="a run longer than this is an escape")
    ap.add_argument("--kinds", help="only these image kinds, comma-separated")
    args = ap.parse_args()
    args.tool = os.path.abspath(args.tool)
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        seeds = build_seeds(work, args)
        if args.kinds:
            seeds = {k: v for k, v in seeds.items() if k in args.kinds.split(",")}
        args.key_files = dict(KEY_FILES)
        deadline = time.monotonic() + args.seconds if args.seconds else None
        per_job = None if args.executions is None else -(-args.executions // args.jobs)
        jobs = [(i, args, seeds, per_job, deadline) for i in range(args.jobs)]
        with multiprocessing.Pool(args.jobs) as pool:
            results = pool.map(fuzz_worker, jobs)
    total = collections.defaultdict(lambda: {"executions": 0, "escapes": 0, "faults": collections.Counter()})
    distinct = {}
    for stats, kept in results:
        for kind, s in stats.items():
            t = total[kind]
            t["executions"] += s["executions"]
            t["escapes"] += s["escapes"]
            t["faults"].update(s["faults"])
        for key, path in kept:
            if key in distinct:
                os.remove(path)
            else:
                distinct[key] = path
    print(f"seed {args.seed}")
    print(f"{'image':6} {'executions':>10} {'escapes':>8} {'contained':>10}  distinct contained faults")
    for kind in sorted(total):
        t = total[kind]
        faults = ", ".join(f"{f} ({n})" for f, n in sorted(t["faults"].items()))
        print(f"{kind:6} {t['executions']:10} {t['escapes']:8} {sum(t['faults'].values()):10}  {faults}")
    escapes = [(key, path) for key, path in distinct.items() if key[1]]
    for (kind, escape, _), path in escapes:
        print(f"ESCAPE on {kind}: {escape} ({path})")
    if not args.keep and any(t["escapes"] for t in total.values()):
        print("escapes happened: run with --keep to keep the images")
    return 1 if any(t["escapes"] for t in total.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
