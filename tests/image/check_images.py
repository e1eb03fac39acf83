#!/usr/bin/env python3
"""Builds disk images from fixture logs, without root or mounts, and checks what
`quenthar --image` finds in them: every log, allocated and deleted, reported
exactly as a file of the same bytes is, in all three forms; every partition
accounted for; the bad inputs refused with their messages and statuses.

  check_images.py --tool QUENTHAR --builder MAKE_LOG --ntfs-delete NTFS_DELETE [--emulator=QEMU]
                  [--no-sandbox] [--sanitized]

Then images that the libraries choke on: a search that stalls, one killed
from outside, one out of memory, each reported in its volume's or image's
record while the other images are reported whole.

Needs mkfs.fat and mtools, mkntfs and wimtools, sgdisk and sfdisk, mkfs.ext4,
ewfacquire and qemu-img."""
import gzip
import argparse
import hashlib
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from run_case import record_validator  # noqa: E402  the schema check of every JSON case
MIB = 1 << 20
SECTOR = 512
# The CSV columns after `problem`.
CSV_TAIL = 23
# No log in an image whose only volume could not be searched.
NOT_ALL_SEARCHED = "No log found in the volumes searched; 1 of 1 volumes could not be searched"
# The file-system tools live in the administrator's folders, which a user's
# PATH leaves out on Debian.
os.environ["PATH"] += os.pathsep + os.pathsep.join(("/usr/sbin", "/sbin"))


def sh(*cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


class Checker:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.failures = []
        self.emulator = [args.emulator] if args.emulator else []

    @property
    def windows(self):
        return self.args.platform == "windows"

    def env(self):
        env = dict(os.environ)
        if self.windows:
            env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all", WINEPREFIX=self.args.wineprefix)
        return env

    def command(self, arguments):
        if self.args.no_sandbox and "--image" in arguments:
            arguments = ["--no-sandbox", *arguments]
        return [*self.emulator, self.args.tool, *arguments]

    def run(self, *arguments, cwd=None, account=False):
        """The status and output of a run. The account that ends each image is
        checked against the records before it and, unless `account`, left out
        of what is returned."""
        result = subprocess.run(self.command(arguments), cwd=cwd or self.work, env=self.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        out = result.stdout.decode("utf-8")
        text = not {"--json", "--csv", "--timesketch"} & set(arguments)
        if self.windows and text:
            out = out.replace("\r\n", "\n")  # the text report's line ends there
        if "--json" in arguments:
            self.check_records(out)
        if "--image" in arguments and "--timesketch" not in arguments and not account:
            out = self.without_accounts(out, "--json" in arguments, "--csv" in arguments)
        return result.returncode, out

    def without_accounts(self, out, json_lines, csv_rows):
        """The output without the images' accounts, each checked first: one an
        image, its counts those of the records before it."""
        if json_lines:
            kept, volumes, logs = [], [], 0
            for line in out.splitlines(keepends=True):
                record = json.loads(line)
                if record["record"] == "image":
                    want = (len(volumes), sum(1 for v in volumes if v is None), logs)
                    got = (record["volumes"], record["volumes_searched"], record["logs"])
                    not_searched = sum(record[k] for k in ("encrypted", "timed_out", "crashed", "damaged",
                                                           "no_file_system", "repeated"))
                    if got != want or not_searched != record["volumes_not_searched"] or \
                            record["volumes"] != record["volumes_searched"] + not_searched:
                        self.failures.append(f"an account off its records: {line.strip()} (want {want})")
                    volumes, logs = [], 0
                    continue
                if record["record"] == "volume":
                    volumes.append(record["problem"])
                elif record["record"] == "log":
                    logs += 1
                kept.append(line)
            return "".join(kept)
        if csv_rows:
            lines = out.splitlines(keepends=True)
            rows = [line for line in lines if re.match(r'^(?:"(?:[^"]|"")*"|[^,"]*),image,', line)]
            if not rows:
                self.failures.append("no image row in CSV")
            return "".join(line for line in lines if line not in rows)
        # In text an account is a block of its own, or the last line of its
        # image's block; a block's separator cannot be told from a line end
        # of the block before it, so what is left ends without one.
        line = r"(?:[A-Za-z0-9 ]+, )?(?:\d+ bytes; )?volumes: \d+ found, [^\n]*; logs: \d+ \(\d+ deleted, \d+ in shadow copies\)\n"
        if not re.search(line, out):
            self.failures.append("no image account in text: " + out[-300:])
        out = re.sub(r"\n*(?:^|\n)==> [^\n]* <==\n" + line, "\n", out)
        return re.sub(line, "", out).rstrip("\n")

    def check_records(self, out):
        """Every JSON record matches the schema, with its keys in the schema's order."""
        validator, key_order = record_validator()
        for line in out.splitlines():
            record = json.loads(line)
            errors = [e.message for e in validator.iter_errors(record)]
            if errors or list(record) != key_order[record["record"]]:
                self.failures.append(f"a record off the schema ({errors[:1]}): {line[:300]}")

    def expect(self, what, got, want):
        if got != want:
            got, want = repr(got), repr(want)
            at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
            start = max(0, at - 120)
            self.failures.append(f"{what}, from character {start}:\n  got:  {got[start:at + 200]}\n"
                                 f"  want: {want[start:at + 200]}")

    def log(self, name, description):
        path = os.path.join(self.work, name)
        subprocess.run([*self.emulator, self.args.builder, path], input=description.encode(), check=True,
                       env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def as_file(self, form, path, source):
        """The records of the log as a file, with the source the image gives it."""
        options = {"text": [], "json": ["--json"], "csv": ["--csv"]}[form]
        run_dir = tempfile.mkdtemp(dir=self.work)
        shutil.copy(path, os.path.join(run_dir, "log.bin"))
        status, out = self.run(*options, "log.bin", cwd=run_dir)
        if form == "json":
            out = out.replace('{"source":"log.bin",', '{"source":' + json.dumps(source, ensure_ascii=False) + ",")
        elif form == "csv":
            out = "".join(line.replace("log.bin,", csv_cell(source) + ",", 1)
                          for line in out.splitlines(keepends=True)[1:])
        return status, out


def csv_cell(text):
    return '"' + text.replace('"', '""') + '"' if any(c in text for c in ',"\r\n') else text


def example_description(form):
    with open(os.path.join(SOURCE, "examples", "boot.case"), encoding="utf-8") as f:
        description = f.read().split("\n==")[0]
    return ("form boot-partition\n" if form == "esp" else "") + description


def fat_image(path, size, files, deleted=()):
    """A FAT32 file system holding {path inside: local file}, then deleting some."""
    with open(path, "wb") as f:
        f.truncate(size)
    sh("mkfs.fat", "-F", "32", "-S", "512", "-s", "1", "-n", "ESP", path)
    for inside, local in files.items():
        parts = inside.strip("/").split("/")
        for depth in range(1, len(parts)):
            subprocess.run(["mmd", "-D", "s", "-i", path, "::" + "/".join(parts[:depth])],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        sh("mcopy", "-i", path, local, "::" + inside)
    for inside in deleted:
        sh("mdel", "-i", path, "::" + inside)


def ntfs_image(work, path, size, tree, deleted, ntfs_delete):
    """An NTFS file system holding the tree {path inside: local file}, applied
    from a WIM without mounting, then deleting some."""
    root = tempfile.mkdtemp(dir=work)
    for inside, local in tree.items():
        target = os.path.join(root, inside.strip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(local, target)  # with its times
    wim = os.path.join(work, "tree.wim")
    sh("wimcapture", root, wim, "--compress=none")
    with open(path, "wb") as f:
        f.truncate(size)
    sh("mkntfs", "-F", "-Q", "-q", "-s", "512", "-L", "Windows", path)
    sh("wimapply", wim, path)
    for inside in deleted:
        sh(ntfs_delete, path, inside)


def ntfs_entries(path):
    """{name: (entry number, sequence number, offset of its $FILE_NAME parent
    reference in the image)} of the first MFT entries, from the boot sector."""
    with open(path, "rb") as f:
        data = f.read(8 * MIB)
    cluster = int.from_bytes(data[0x0B:0x0D], "little") * data[0x0D]
    mft = int.from_bytes(data[0x30:0x38], "little") * cluster
    entries = {}
    for number in range(64, 128):
        at = mft + number * 1024
        record = data[at:at + 1024]
        if record[:4] != b"FILE":
            continue
        attribute = int.from_bytes(record[0x14:0x16], "little")
        while int.from_bytes(record[attribute:attribute + 4], "little") not in (0x30, 0xFFFFFFFF):
            attribute += int.from_bytes(record[attribute + 4:attribute + 8], "little")
        content = attribute + int.from_bytes(record[attribute + 0x14:attribute + 0x16], "little")
        length = record[content + 0x40]
        name = record[content + 0x42:content + 0x42 + 2 * length].decode("utf-16-le")
        entries[name] = (number, int.from_bytes(record[0x10:0x12], "little"), at + content)
    return entries


def place(disk, image, sector):
    with open(image, "rb") as src, open(disk, "r+b") as dst:
        dst.seek(sector * SECTOR)
        shutil.copyfileobj(src, dst)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--builder", required=True)
    ap.add_argument("--ntfs-delete", required=True)
    ap.add_argument("--emulator", default="", help="runs the tool and the builder (a cross build)")
    ap.add_argument("--no-sandbox", action="store_true", help="search without the sandbox (qemu)")
    ap.add_argument("--sanitized", action="store_true", help="the sanitizer build: no memory limit")
    ap.add_argument("--platform", default="posix", help="posix, or windows (the tool runs under Wine)")
    ap.add_argument("--wineprefix", default="")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as work:
        c = Checker(args, work)
        check_all(c, work, args)
    print("\n".join(c.failures) if c.failures else "every image check passed")
    return 1 if c.failures else 0


def check_all(c, work, args):
    esp_log = c.log("esp.bin", example_description("esp"))
    sys_log = c.log("sys.bin", example_description("sys"))
    # Of either length, but no log: a header whose third field is not 65,536.
    other = c.log("other.bin", "form boot-partition\nheader ver=3 hdrsize=0x10 datasize=0x10 reserved=0\n")
    random_bytes = os.path.join(work, "random.bin")
    with open(random_bytes, "wb") as f:
        f.write(os.urandom(8 * MIB))

    # A GPT disk as Windows lays it out: the EFI system partition (FAT32)
    # with the 65,536-byte log and a deleted copy, the reserved partition
    # without a file system, the Windows volume (NTFS) with the 67,584-byte
    # log, a deleted copy and a file of the same length that is no log, and
    # a partition of random bytes, as an encrypted volume looks.
    esp, ntfs = os.path.join(work, "esp.img"), os.path.join(work, "ntfs.img")
    fat_image(esp, 40 * MIB, {"/EFI/Boot/events.dat": esp_log, "/EFI/old.dat": esp_log},
              deleted=["/EFI/old.dat"])
    ntfs_image(work, ntfs, 24 * MIB,
               {"/Windows/events.dat": sys_log, "/old/copy.dat": sys_log, "/Windows/other.dat": other},
               ["/old/copy.dat"], args.ntfs_delete)
    disk = os.path.join(work, "disk.raw")
    with open(disk, "wb") as f:
        f.truncate(100 * MIB)
    sh("sgdisk", "-n1:2048:+40M", "-t1:ef00", "-c1:EFI system partition",
       "-n2:0:+16M", "-t2:0c01", "-c2:Reserved partition",
       "-n3:0:+24M", "-t3:0700", "-c3:Basic data partition",
       "-n4:0:+8M", "-t4:0700", disk)
    place(disk, esp, 2048)
    place(disk, ntfs, 2048 + (40 + 16) * 2048)
    place(disk, random_bytes, 2048 + (40 + 16 + 24) * 2048)

    esp_at, ntfs_at = 2048 * SECTOR, (2048 + 56 * 2048) * SECTOR
    found = [
        (f"@{esp_at}:/EFI/_ld.dat (deleted, entry 23)", esp_log),
        (f"@{esp_at}:/EFI/Boot/events.dat", esp_log),
        (f"@{(2048 + 40 * 2048) * SECTOR}", None, "No file system found"),
        (f"@{ntfs_at}:/old/copy.dat (deleted, entry 66)", sys_log),
        (f"@{ntfs_at}:/Windows/events.dat", sys_log),
        (f"@{(2048 + 80 * 2048) * SECTOR}", None, "Possibly encrypted volume"),
    ]
    check_found_logs(c, "disk.raw", found)
    status, out = c.run("--image", "--json", "disk.raw")
    volumes = [json.loads(line) for line in out.splitlines() if '"record":"volume"' in line]
    c.expect("the volumes of disk.raw",
             [(v["partition_offset"], v["partition"], v["file_system"], v["candidates"], v["logs"],
               v["problem"]) for v in volumes],
             [(esp_at, "EFI system partition", "fat32", 2, 2, None),
              ((2048 + 40 * 2048) * SECTOR, "Reserved partition", None, 0, 0,
               "No file system found"),
              (ntfs_at, "Basic data partition", "ntfs", 3, 2, None),
              ((2048 + 80 * 2048) * SECTOR, None, None, 0, 0, "Possibly encrypted volume")])
    logs = [json.loads(line) for line in out.splitlines() if '"record":"log"' in line]
    c.expect("the log records of disk.raw",
             [(l["path"], l["allocated"], l["size"], l["sha256"]) for l in logs],
             [(s.split(":", 1)[1].split(" (")[0], "deleted" not in s, os.path.getsize(b), sha256(b))
              for s, b, *_ in found if b is not None])

    # The same disk as a split E01, a VMDK and a VHD: the same records.
    os.mkdir(os.path.join(work, "e01"))
    sh("ewfacquire", "-u", "-q", "-t", os.path.join(work, "e01", "disk"), "-S", "10MiB", "-c", "none",
       "-f", "encase6", disk)
    sh("qemu-img", "convert", "-f", "raw", "-O", "vmdk", disk, os.path.join(work, "disk.vmdk"))
    sh("qemu-img", "convert", "-f", "raw", "-O", "vpc", disk, os.path.join(work, "disk.vhd"))
    # A split E01 through a folder named outside ASCII, and on Windows named
    # with either separator.
    shutil.copytree(os.path.join(work, "e01"), os.path.join(work, "証拠 évidence"))
    names = ["e01/disk.E01", "証拠 évidence/disk.E01", "disk.vmdk", "disk.vhd"]
    for name in names + (["e01\\disk.E01"] if c.windows else []):
        got = c.run("--image", "--json", name)
        c.expect(f"{name} against disk.raw", got, (status, out.replace('"disk.raw', '"' + json.dumps(name, ensure_ascii=False)[1:-1])))

    # Evidence reached through symbolic links, the sandbox on: an image linked
    # from another folder, and a split E01 whose folder is a link.
    os.mkdir(os.path.join(work, "case"))
    os.symlink(disk, os.path.join(work, "case", "disk.img"))
    os.symlink(os.path.join(work, "e01"), os.path.join(work, "linked"))
    for name in ("case/disk.img", "linked/disk.E01"):
        got = c.run("--image", "--json", name)
        c.expect(f"{name}, a symbolic link", got, (status, out.replace('"disk.raw', '"' + name)))

    # A bare FAT32 file system, no partition table: one volume at offset 0.
    fat_image(os.path.join(work, "bare.img"), 40 * MIB, {"/events.dat": esp_log})
    check_found_logs(c, "bare.img", [("@0:/events.dat", esp_log)])

    # A name that is not UTF-8 (ext4, whose names are bytes), and an image
    # without a log: a file of the log's length that is none.
    tree = tempfile.mkdtemp(dir=work)
    shutil.copy(esp_log, os.path.join(tree.encode(), b"ev\xffents.dat"))
    shutil.copy(other, os.path.join(tree, "other.dat"))
    ext = os.path.join(work, "ext.img")
    with open(ext, "wb") as f:
        f.truncate(8 * MIB)
    sh("mkfs.ext4", "-q", "-d", tree, ext)
    check_found_logs(c, "ext.img", [("@0:/ev\ufffdents.dat", esp_log)])
    fat_image(os.path.join(work, "nolog.img"), 40 * MIB, {"/other.dat": other})
    c.expect("an image without a log", c.run("--image", "nolog.img"), (1, "==> nolog.img <==\nNo log found"))
    c.expect("an image without a log, CSV", c.run("--image", "--csv", "nolog.img")[1].splitlines()[1:],
             ["nolog.img,error,,,,,,,,,,,,,,,,No log found" + "," * CSV_TAIL])

    # A hostile NTFS: two folders each other's parent. The log is found, under
    # /$OrphanFiles, and the run ends.
    loop = os.path.join(work, "loop.img")
    ntfs_image(work, loop, 8 * MIB, {"/one/two/loop.dat": sys_log}, [], args.ntfs_delete)
    entries = ntfs_entries(loop)
    two, seq, _ = entries["two"]
    with open(loop, "r+b") as f:
        f.seek(entries["one"][2])
        f.write(two.to_bytes(6, "little") + seq.to_bytes(2, "little"))
    check_found_logs(c, "loop.img", [("@0:/$OrphanFiles/loop.dat", sys_log)])

    check_bad_images(c, work, disk, esp)
    check_contained(c, work, args)
    check_bounded(c, work)
    check_terminal(c, work, args)
    check_every_copy(c, work, args, disk, esp_log, sys_log)
    check_at_work(c, work, args, esp_log, sys_log)


def check_found_logs(c, image, found):
    """The records of every log found equal those of the same bytes as a file,
    in all three forms, in order, and the run succeeds. `found` lists
    (source after the image's name, the log's file) and, for a volume that
    was not searched, (its source after the image's name, None, its problem)."""
    for form, options in (("text", []), ("json", ["--json"]), ("csv", ["--csv"])):
        status, out = c.run("--image", *options, image)
        want, sources = "", []
        for suffix, log, *problem in found:
            source = image + suffix
            if log is None:
                if form == "text":
                    want += ("" if want.endswith("\n") else "\n") + "\n" if want else ""
                    want += f"==> {source} <==\n{problem[0]}\n"
                continue
            sources.append(source)
            records = c.as_file(form, log, source)[1]
            if form == "text":
                want += ("" if want.endswith("\n") else "\n") + "\n" if want else ""
                want += f"==> {source} <==\n"
            want += records
        if form == "json":
            lines = out.splitlines(keepends=True)
            c.expect(f"the log records of {image}",
                     [json.loads(line)["source"] for line in lines if '"record":"log"' in line], sources)
            out = "".join(line for line in lines if '"record":"log"' not in line
                          and '"record":"volume"' not in line)
        elif form == "csv":
            out = "".join(out.splitlines(keepends=True)[1:])
        else:
            want = want.rstrip("\n")  # as the account left it (Checker.run)
        c.expect(f"{image} in {form}", (status, out), (0, want))


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_bad_images(c, work, disk, esp):
    """Bad input gets a clear message and exit 1, never a crash or a hang."""
    open(os.path.join(work, "empty.raw"), "wb").close()
    os.mkdir(os.path.join(work, "adir"))
    os.mkfifo(os.path.join(work, "fifo"))
    with open(os.path.join(work, "noimage.raw"), "wb") as f:
        f.write(os.urandom(MIB))
    for name in ("missing.raw", "adir", "fifo"):
        c.expect(f"--image {name}", c.run("--image", name), (1, f"==> {name} <==\ncan't open input file"))
    c.expect("--image --json of a missing image", c.run("--image", "--json", "missing.raw"),
             (1, '{"source":"missing.raw","record":"error","problem":"can\'t open input file"}\n'))
    for name in ("empty.raw", "noimage.raw"):
        status, out = c.run("--image", name)
        c.expect(f"--image {name}", (status, f"==> {name} <==\nNo log found" in out), (1, True))

    # A split E01 with a middle segment missing, and an E01 cut short.
    os.rename(os.path.join(work, "e01", "disk.E05"), os.path.join(work, "disk.E05"))
    status, out = c.run("--image", "e01/disk.E01")
    c.expect("an E01 set without a segment", (status, "missing or damaged" in out), (1, True))
    # An E01 whose first segment is cut short: the rest reads as missing.
    with open(os.path.join(work, "e01", "disk.E01"), "r+b") as f:
        f.truncate(MIB)
    status, out = c.run("--image", "e01/disk.E01")
    c.expect("an E01 cut short", (status, "missing or damaged" in out), (1, True))
    # Cut shorter, an E01 and a VMDK are damaged, and never read as raw bytes.
    with open(os.path.join(SOURCE, "examples", "disk.E01"), "rb") as f:
        example = f.read()
    with open(os.path.join(work, "cut.E01"), "wb") as f:
        f.write(example[:len(example) - 1000])
    # A sparse VMDK cut inside its descriptor (cut later, the grains it lacks
    # read as zeros, which the library does not call damage).
    os.mkdir(os.path.join(work, "cut"))
    shutil.copy(os.path.join(work, "disk.vmdk"), os.path.join(work, "cut", "disk.vmdk"))
    with open(os.path.join(work, "cut", "disk.vmdk"), "r+b") as f:
        f.truncate(4096)
    for name in ("cut.E01", "cut/disk.vmdk"):
        status, out = c.run("--image", "--json", name, account=True)
        records = [json.loads(line) for line in out.splitlines()]
        c.expect(f"{name}, cut short", (status, [(r["record"], (r.get("problem") or "")[:36]) for r in records]),
                 (1, [("error", "The image is damaged or incomplete: "), ("image", "")]))

    # A sparse VMDK copied under another name, as evidence often is: read from
    # itself, though its descriptor names the file it was made as, even where
    # a file of that name stands beside it (not on Windows, see the README).
    if not c.windows:
        renamed = os.path.join(work, "renamed")
        os.mkdir(renamed)
        shutil.copy(os.path.join(work, "disk.vmdk"), os.path.join(renamed, "evidence.vmdk"))
        want = c.run("--image", "--json", "disk.vmdk")
        c.expect("a VMDK renamed", c.run("--image", "--json", "evidence.vmdk", cwd=renamed),
                 (want[0], want[1].replace('"disk.vmdk', '"evidence.vmdk')))
        # Another disk, blank, of the name it gives.
        sh("qemu-img", "create", "-q", "-f", "vmdk", os.path.join(renamed, "disk.vmdk"),
           str(os.path.getsize(disk)))
        c.expect("a VMDK renamed beside the name it gives",
                 c.run("--image", "--json", "--no-sandbox", "evidence.vmdk", cwd=renamed),
                 (want[0], want[1].replace('"disk.vmdk', '"evidence.vmdk')))

    # A file system cut short inside a log: its header is read, the rest not.
    with open(esp, "rb") as f:
        fat = f.read()
    with open(os.path.join(work, "esp.bin"), "rb") as f:
        at = fat.find(f.read(4096))
    with open(os.path.join(work, "cut.img"), "wb") as f:
        f.write(fat[:at + 8192])
    status, out = c.run("--image", "--json", "cut.img")
    records = [json.loads(line) for line in out.splitlines()]
    c.expect("a log cut short", (status, [(r["record"], r.get("sha256"), r.get("problem")) for r in records]),
             (1, [("log", None, None), ("header", None, None), ("error", None, "Can't read data"),
                  ("volume", None, None)]))

    # An MBR whose second partition lies past the image's end: reported,
    # and the first still searched.
    mbr = os.path.join(work, "mbr.raw")
    with open(mbr, "wb") as f:
        f.truncate(200 * MIB)
    subprocess.run(["sfdisk", "-q", mbr], input=b"label: dos\nstart=2048, size=81920, type=c\n"
                   b"start=200000, size=20000, type=7\n", check=True, stdout=subprocess.DEVNULL)
    place(mbr, esp, 2048)
    with open(mbr, "r+b") as f:
        f.truncate(50 * MIB)
    status, out = c.run("--image", "mbr.raw")
    headings = [line for line in out.splitlines() if line.startswith("==>")]
    c.expect("an MBR with a partition past the end", (status, headings, out.endswith(
        "Partition starts past the end of the image")),
             (1, ["==> mbr.raw@1048576:/EFI/_ld.dat (deleted, entry 23) <==",
                  "==> mbr.raw@1048576:/EFI/Boot/events.dat <==",
                  "==> mbr.raw@102400000 <=="], True))


def joined_text(blocks):
    """Text blocks as the report puts them one after another."""
    text = ""
    for block in blocks:
        if text:
            text += ("" if text.endswith("\n") else "\n") + "\n"
        text += block
    return text


def contained_want(c, form, good, failed, volume_problem, image_problem):
    """The output of `good[0] failed good[1]`: each good image's records as it
    gives them alone, and the failed image's failure in its volume's record
    and its own."""
    options = {"text": [], "json": ["--json"], "csv": ["--csv"]}[form]
    alone = [c.run("--image", *options, name)[1] for name in good]
    if form == "text":
        problems = [f"==> {failed}@0 <==\n{volume_problem}\n"] if volume_problem else []
        return joined_text([alone[0], *problems, f"==> {failed} <==\n{image_problem}\n", alone[1]])
    if form == "json":
        volume = (f'{{"source":"{failed}@0","record":"volume","image":"{failed}","partition_offset":0,'
                  f'"partition":null,"store":null,"store_created":null,"file_system":"ext4",'
                  f'"encryption":null,"unlocked_with":null,"files":0,"candidates":0,"logs":0,'
                  f'"problem":"{volume_problem}"}}\n') if volume_problem else ""
        return (alone[0] + volume + f'{{"source":"{failed}","record":"error","problem":"{image_problem}"}}\n'
                + alone[1])
    blank = "," * 16
    tail = "," * CSV_TAIL
    volume = f"{failed}@0,error{blank}{volume_problem}{tail}\r\n" if volume_problem else ""
    rows = [a.split("\r\n", 1)[1] for a in alone]
    return (alone[0] + volume + f"{failed},error{blank}{image_problem}{tail}\r\n" + rows[1])


def worker_of(tool, windows, seconds=60):
    """The worker process of `tool` that has been at work longest, once one has
    been for longer than any but a stalling search takes (half a second; three
    under Wine, where a process takes long to start): a child of it, or under
    Wine, a process of the worker's command line."""
    settled = 3 if windows else 0.5
    deadline = time.monotonic() + seconds
    seen = {}
    while time.monotonic() < deadline:
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if windows:
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        mine = b"--image-worker" in f.read()
                except OSError:
                    mine = False
            else:
                mine = parent == tool.pid
            if mine:
                seen.setdefault(int(pid), time.monotonic())
        for pid, since in seen.items():
            if time.monotonic() - since > settled and os.path.exists(f"/proc/{pid}"):
                return pid
        time.sleep(0.05)
    return None


def check_contained(c, work, args):
    """A stall, a crash and a refused allocation each cost only their own
    volume or image, reported in its record with exit 1, in every form."""
    stall = os.path.join(work, "stall.img")
    with gzip.open(os.path.join(HERE, "hostile", "ext4-stall.img.gz")) as src, open(stall, "wb") as dst:
        shutil.copyfileobj(src, dst)
    good = ["bare.img", "ext.img"]
    for form, options in (("text", []), ("json", ["--json"]), ("csv", ["--csv"])):
        status, out = c.run("--image", *options, "--time-limit", "2", good[0], "stall.img", good[1])
        c.expect(f"a search that stalls, in {form}", (status, out),
                 (1, contained_want(c, form, good, "stall.img",
                                    "The search of this volume took longer than 2 s", NOT_ALL_SEARCHED)))

    # A disk whose first volume stalls: the volume after it is still searched.
    disk = os.path.join(work, "stalling.raw")
    with open(disk, "wb") as f:
        f.truncate(60 * MIB)
    sh("sgdisk", "-n1:2048:+4M", "-t1:8300", "-n2:0:+40M", "-t2:ef00", disk)
    place(disk, stall, 2048)
    place(disk, os.path.join(work, "esp.img"), 2048 + 8 * 1024)
    status, out = c.run("--image", "--json", "--time-limit", "2", "stalling.raw")
    records = [json.loads(line) for line in out.splitlines()]
    c.expect("a disk whose first volume stalls",
             (status, [(r["record"], r["source"], r.get("problem")) for r in records if r["record"] != "entry"]),
             (1, [("volume", "stalling.raw@1048576", "The search of this volume took longer than 2 s"),
                  *[(kind, f"stalling.raw@{(2048 + 8192) * SECTOR}:{path}", None)
                    for path in ("/EFI/_ld.dat (deleted, entry 23)", "/EFI/Boot/events.dat")
                    for kind in ("log", "header", "end")],
                  ("volume", f"stalling.raw@{(2048 + 8192) * SECTOR}", None)]))

    # A worker killed from outside while it searches, after the sandbox is
    # seen in place.
    for form, options in (("text", []), ("json", ["--json"]), ("csv", ["--csv"])):
        tool = subprocess.Popen(c.command(["--image", *options, good[0], "stall.img", good[1]]),
                                cwd=work, env=c.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        pid = worker_of(tool, c.windows)
        if pid is None:
            c.failures.append("no worker of the stalling search was found")
            tool.kill()
            tool.communicate()
            continue
        with open(f"/proc/{pid}/status") as f:
            status_lines = f.read()
        if not args.no_sandbox and not c.windows:
            keys = ("NoNewPrivs", "Seccomp") + (("CapEff",) if os.geteuid() == 0 else ())
            confined = [re.search(rf"^{key}:\s*([0-9a-f]+)", status_lines, re.M).group(1) for key in keys]
            c.expect("the confinement of a worker", confined, ["1", "2", "0000000000000000"][:len(keys)])
        # Wine takes the signal as an exception only in a thread of the
        # program's own, so there it may take more than one.
        for _ in range(100 if c.windows else 1):
            try:
                os.kill(pid, signal.SIGSEGV)
            except ProcessLookupError:
                break
            time.sleep(0.1)
        out = tool.communicate(timeout=120)[0].decode("utf-8")
        if form == "json":
            c.check_records(out)
        if c.windows and form == "text":
            out = out.replace("\r\n", "\n")
        out = c.without_accounts(out, form == "json", form == "csv")
        crash = "signal 11"
        if c.windows:  # the code Wine gives the signal
            code = re.search(r"crashed \(exception (0x[0-9A-F]{8})\)", out)
            crash = f"exception {code.group(1) if code else '(none)'}"
        c.expect(f"a worker that crashed, in {form}", (tool.returncode, out),
                 (1, contained_want(c, form, good, "stall.img",
                                    f"The search of this volume crashed ({crash})", NOT_ALL_SEARCHED)))

    # A limit that leaves no memory: the image's search fails, and says why.
    if not args.sanitized and not args.emulator:  # qemu and Wine do not enforce it
        problem = "The search of this image ran out of memory (--memory-limit 1 MiB)"
        for form, options, want in (
                ("text", [], f"==> disk.raw <==\n{problem}"),
                ("json", ["--json"], f'{{"source":"disk.raw","record":"error","problem":"{problem}"}}\n'),
                ("csv", ["--csv"], f"disk.raw,error{',' * 16}{problem}{',' * CSV_TAIL}\r\n")):
            status, out = c.run("--image", *options, "--memory-limit", "1", "disk.raw")
            if form == "csv":
                out = out.split("\r\n", 1)[1]
            c.expect(f"a search out of memory, in {form}", (status, out), (1, want))


def crc32(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def gpt_disk(path, size, partitions, entries=128):
    """A GPT disk of `size` bytes written here, CRCs and backup included (the
    partitioning tools refuse partitions that overlap): each partition
    (first sector, last sector, name) gets an entry."""
    sectors = size // SECTOR
    table_sectors = (entries * 128 + SECTOR - 1) // SECTOR
    table = bytearray(table_sectors * SECTOR)
    for i, (first, last, name) in enumerate(partitions):
        entry = (bytes.fromhex("a2a0d0ebe5b9334487c068b6b72699c7")  # basic data
                 + i.to_bytes(4, "little") + bytes(12) + first.to_bytes(8, "little") + last.to_bytes(8, "little")
                 + bytes(8) + name.encode("utf-16-le").ljust(72, b"\0"))
        table[i * 128:(i + 1) * 128] = entry
    entries_crc = crc32(bytes(table[:entries * 128]))

    def header(mine, other, table_at):
        h = bytearray(b"EFI PART" + (0x10000).to_bytes(4, "little") + (92).to_bytes(4, "little") + bytes(8)
                      + mine.to_bytes(8, "little") + other.to_bytes(8, "little")
                      + (2 + table_sectors).to_bytes(8, "little")
                      + (sectors - 2 - table_sectors).to_bytes(8, "little") + bytes(range(16))
                      + table_at.to_bytes(8, "little") + entries.to_bytes(4, "little")
                      + (128).to_bytes(4, "little") + entries_crc.to_bytes(4, "little"))
        h[16:20] = crc32(bytes(h)).to_bytes(4, "little")
        return bytes(h).ljust(SECTOR, b"\0")

    mbr = bytearray(SECTOR)
    mbr[446:462] = bytes([0, 0, 2, 0, 0xEE, 0xFF, 0xFF, 0xFF]) + (1).to_bytes(4, "little") + \
        min(sectors - 1, 0xFFFFFFFF).to_bytes(4, "little")
    mbr[510:512] = b"\x55\xaa"
    with open(path, "wb") as f:
        f.truncate(size)
        f.write(mbr + header(1, sectors - 1, 2) + table)
        f.seek((sectors - 1 - table_sectors) * SECTOR)
        f.write(table + header(sectors - 1, 1, sectors - 1 - table_sectors))


def check_bounded(c, work):
    """What an image claims costs a bounded time: a table that repeats one
    stalling volume costs one search, and --image-time-limit bounds the
    search of many; and a batch killed while it waits keeps what it had
    finished."""
    with open(os.path.join(work, "stall.img"), "rb") as f:
        stall = f.read()
    first = 2048
    repeats = os.path.join(work, "repeats.raw")
    gpt_disk(repeats, 5 * MIB, [(first, first + len(stall) // SECTOR - 1, "stall")] * 1024, entries=1024)
    place(repeats, os.path.join(work, "stall.img"), first)
    status, out = c.run("--image", "--json", "--time-limit", "2", "repeats.raw")
    problems = [json.loads(line)["problem"] for line in out.splitlines() if '"record":"volume"' in line]
    c.expect("a table that repeats one stalling volume",
             (status, problems[:2], len(problems), set(problems[1:])),
             (1, ["The search of this volume took longer than 2 s", "Same start as partition 1 (stall), searched once"],
              1024, {"Same start as partition 1 (stall), searched once"}))

    many = os.path.join(work, "many.raw")
    starts = [first + i * len(stall) // SECTOR for i in range(5)]
    gpt_disk(many, 32 * MIB, [(s, s + len(stall) // SECTOR - 1, f"stall {i}") for i, s in enumerate(starts)])
    for s in starts:
        place(many, os.path.join(work, "stall.img"), s)
    status, out = c.run("--image", "--json", "--time-limit", "2", "--image-time-limit", "5", "many.raw")
    problems = [json.loads(line)["problem"] for line in out.splitlines() if '"record":"volume"' in line]
    kinds = [("volume" if "took longer than 2 s" in p else "whole" if "not searched whole" in p
              else "not" if p.startswith("Not searched: the search of this image took longer than 5 s") else p)
             for p in problems]
    want = ["volume", "volume", "whole", "not", "not"]
    if c.windows:  # a worker's start counts there, and takes seconds
        kinds = sorted(set(kinds))
        want = sorted({"volume", "whole", "not"} & set(kinds)) if "not" in kinds else want
    c.expect("five stalling volumes under --image-time-limit 5", (status, kinds), (1, want))

    # A batch killed while its second image's worker stalls: the first
    # image's records are in the output file, whole.
    alone = c.run("--image", "--json", "bare.img")[1]
    with open(os.path.join(work, "killed.jsonl"), "wb") as out_file:
        tool = subprocess.Popen(c.command(["--image", "--json", "bare.img", "stall.img", "ext.img"]),
                                cwd=work, env=c.env(), stdout=out_file, stderr=subprocess.DEVNULL)
        if worker_of(tool, c.windows) is None:
            c.failures.append("no worker of the stalling search was found")
        tool.kill()
        tool.wait()
    with open(os.path.join(work, "killed.jsonl"), encoding="utf-8") as f:
        c.expect("a batch killed while it waits", c.without_accounts(f.read(), True, False), alone)


def check_terminal(c, work, args):
    """File names and a log's text made to steer the analyst's terminal (ESC
    sequences, BEL, BS, CR, LF, U+009B, DEL, a line end that forges a
    heading): the text form's headings escape them wherever it goes, a
    redirected log's report stays as a file gives it, CSV values stay exact
    and JSON escapes them; on a terminal none of them reaches it raw, in any
    form."""
    import csv
    import io
    import pty
    import select
    import termios

    def escaped(text):
        """The text as the tool escapes it for reading."""
        return "".join(f"\\x{ord(ch):02x}" if ord(ch) < 0x20 or ord(ch) == 0x7F else
                       f"\\u{ord(ch):04x}" if 0x80 <= ord(ch) <= 0x9F else ch for ch in text)

    def utf16(text):
        """make_log's quoted text of `text`."""
        return '"' + "".join(f"\\u{ord(ch):04x}" if ord(ch) < 0x20 or 0x7F <= ord(ch) <= 0x9F
                             else "\\" + ch if ch in '\\"' else ch for ch in text) + '"'

    path = "\\EFI\\\x1b]0;owned\x07\x1b[2J\b\rx\u009b\n==> forged <==\nboot\x7f.efi"
    string = "dev\x1b[31mice\x9b"
    launch, u50 = 40 + 20 + 2 * (len(path) + 1), 40 + 12 + 2 * (len(string) + 1)
    log = c.log("terminal.bin", f"""form boot-partition
header ver=3 hdrsize=0x10 datasize={16 + launch + u50}
entry time=1 size={launch} id=17
zeros 16
u32 1
utf16 {utf16(path)}
u16 0
entry time=2 size={u50} severity=3 id=50
u32 0 1 0
utf16 {utf16(string)}
u16 0
""")
    tree = tempfile.mkdtemp(dir=work)
    folder = os.path.join(tree, "ev\x1b]0;owned\x07il")
    os.mkdir(folder)
    shutil.copy(log, os.path.join(folder, "log\x1b[2J\b\rx\u009b.dat"))
    shutil.copy(log, os.path.join(tree, "a\n==> forged <==\nb.dat"))
    image = os.path.join(work, "terminal.img")
    with open(image, "wb") as f:
        f.truncate(8 * MIB)
    sh("mkfs.ext4", "-q", "-d", tree, image)

    def run(*arguments, cwd=work):
        """Status and bytes of a redirected run; the text report's line ends
        as on Linux."""
        result = subprocess.run(c.command(arguments), cwd=cwd, env=c.env(), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=120)
        out = result.stdout
        if c.windows and "--json" not in arguments and "--csv" not in arguments:
            out = out.replace(b"\r\n", b"\n")
        return result.returncode, out

    # Redirected. JSON Lines names the logs, in the order every form gives
    # them, and holds every value exact, with C1 and DEL escaped.
    status, json_lines = run("--image", "--json", "terminal.img")
    c.check_records(json_lines.decode("utf-8"))
    records = [json.loads(line) for line in json_lines.decode("utf-8").splitlines()]
    sources = [r["source"] for r in records if r["record"] == "log"]
    c.expect("the logs of terminal.img, JSON",
             (status, sorted(sources), [r["path"] for r in records if r.get("id") == 17],
              [r["strings"] for r in records if r.get("id") == 50]),
             (0, sorted(f"terminal.img@0:{name}" for name in (
                 "/a\n==> forged <==\nb.dat", "/ev\x1b]0;owned\x07il/log\x1b[2J\b\rx\u009b.dat")),
              [path] * 2, [[string]] * 2))
    c.expect("raw C1 or DEL in JSON", re.findall(rb"\xc2[\x80-\x9f]|\x7f", json_lines), [])

    # The text form: each heading escaped, each log's report the bytes of the
    # log as a file, its text exact.
    run_dir = tempfile.mkdtemp(dir=work)
    shutil.copy(log, os.path.join(run_dir, "log.bin"))
    report = run("log.bin", cwd=run_dir)[1].decode("latin-1")
    status, text = run("--image", "terminal.img")
    c.expect("terminal.img in text", (status, c.without_accounts(text.decode("latin-1"), False, False)),
             (0, joined_text([f"==> {escaped(source)} <==\n{report}" for source in sources]).rstrip("\n")))
    if not c.windows:  # there the log's text is in the code page
        c.expect("the log's text exact in a redirected report", text.count(path.encode()), 2)
    c.expect("an image's own heading, and its account in its block", run("--image", "gone\x1b[2J\x07\u009b.img"),
             (1, b"==> gone\\x1b[2J\\x07\\u009b.img <==\ncan't open input file\n"
                 b"volumes: 0 found, 0 searched, 0 not searched; logs: 0 (0 deleted, 0 in shadow copies)\n"))

    # CSV: every value exact.
    status, table = run("--image", "--csv", "terminal.img")
    rows = list(csv.reader(io.StringIO(table.decode("utf-8"), newline="")))
    at = {name: i for i, name in enumerate(rows[0])}
    c.expect("terminal.img in CSV",
             (status, [(row[at["source"]], row[at["path"]], row[at["strings"]])
                       for row in rows if row[at["record"]] == "entry"]),
             (0, [(source, *cells) for source in sources for cells in ((path, ""), ("", string))]))

    if c.windows:
        print("check_terminal: the console writes escape sequences of its own under Wine; "
              "the terminal's part is skipped")
        return

    def on_terminal(*arguments):
        """Status and bytes of a run with standard output on a terminal that
        passes the bytes as they are written."""
        master, slave = pty.openpty()
        mode = termios.tcgetattr(slave)
        mode[1] &= ~termios.OPOST
        termios.tcsetattr(slave, termios.TCSANOW, mode)
        tool = subprocess.Popen(c.command(arguments), cwd=work, env=c.env(), stdin=subprocess.DEVNULL,
                                stdout=slave, stderr=subprocess.DEVNULL)
        os.close(slave)
        got, deadline = b"", time.monotonic() + 120
        try:
            while time.monotonic() < deadline:
                if not select.select([master], [], [], 1)[0]:
                    continue
                try:
                    chunk = os.read(master, 1 << 16)
                except OSError:  # EIO: every writer is gone
                    break
                if not chunk:
                    break
                got += chunk
        finally:
            os.close(master)
        try:
            return tool.wait(timeout=10), got
        except subprocess.TimeoutExpired:
            tool.kill()
            tool.wait()
            return None, got

    def steering(shown):
        """What of the evidence's own would act on the terminal: BEL, BS, ESC,
        DEL, C1, and any byte outside UTF-8 (0x9B alone is CSI)."""
        return re.findall("[\x07\x08\x1b\x7f\x80-\x9f\udc80-\udcff]",
                          shown.decode("utf-8", "surrogateescape"))

    status, shown = on_terminal("--image", "terminal.img")
    c.expect("terminal.img in text, on a terminal",
             (status, steering(shown), shown.count(b"\r"), shown.decode("utf-8", "replace")),
             (0, [], 0, text.decode("utf-8").replace(path, escaped(path)).replace(string, escaped(string))))
    status, shown = on_terminal("--image", "--json", "terminal.img")
    timeless = [re.sub(rb'"milliseconds":\d+', b"", out) for out in (shown, json_lines)]
    c.expect("terminal.img in JSON Lines, on a terminal", (status, timeless[0]), (0, timeless[1]))
    status, shown = on_terminal("--image", "--csv", "terminal.img")
    c.expect("terminal.img in CSV, on a terminal",
             (status, steering(shown), shown.count(b"\r"), shown.count(b"\r\n"),
              [row for row in csv.reader(io.StringIO(shown.decode("utf-8", "replace"), newline=""))
               if row[at["record"]] != "image"]),
             (0, [], len(rows), len(rows), [[escaped(cell) for cell in row] for row in rows
                                           if row[at["record"]] != "image"]))


def check_every_copy(c, work, args, disk, esp_log, sys_log):
    """Every copy the evidence holds: BitLocker volumes that Windows made,
    given a file system of the test's own and opened with each kind of
    secret; shadow-copy stores; QCOW2 images and their backing files. No
    secret ever shows in what the runs write."""
    import encrypted_images as ei  # pylint: disable=import-outside-toplevel
    if not os.path.isdir(ei.FIXTURES):
        print(f"skipped the BitLocker and shadow-copy checks: no fixtures in {ei.FIXTURES}")
        return
    archive = os.path.join(ei.FIXTURES, "bitlk-images.tar.xz")
    ntfs = os.path.join(work, "locked-ntfs.img")
    ntfs_image(work, ntfs, 8 * MIB, {"/Windows/events.dat": sys_log}, [], args.ntfs_delete)
    xts = ei.bitlocker_volume(archive, "bitlk-aes-xts-128", ntfs, os.path.join(work, "xts.img"), work)
    esp = os.path.join(work, "small-esp.img")
    fat_image(esp, 40 * MIB, {"/EFI/Boot/events.dat": esp_log})
    _, reserved_at, volume_at = ei.bitlocker_disk(os.path.join(work, "locked.raw"), esp, xts.path)
    with open(os.path.join(work, "rp.txt"), "w", encoding="utf-8") as f:
        f.write(xts.recovery_password + "\n")
    with open(os.path.join(work, "pw.txt"), "wb") as f:  # a byte order mark, CR LF
        f.write(b"\xef\xbb\xbf" + xts.password.encode() + b"\r\n")
    with open(os.path.join(work, "wrong.txt"), "w", encoding="utf-8") as f:
        f.write("not the password\n" + "0" * 6 + ("-" + "0" * 6) * 7 + "\n")
    secrets = [xts.recovery_password, xts.password]
    outputs = []

    def run(*arguments):
        status, out = c.run(*arguments)
        outputs.append(out)
        return status, out

    locked = "This volume is encrypted with BitLocker; "
    esp_source = f"locked.raw@{MIB}:/EFI/Boot/events.dat"
    system_source = f"locked.raw@{volume_at}:/Windows/events.dat"
    # Without a key: the EFI system partition's log, and the locked volume
    # named, in every form; exit 1.
    status, out = run("--image", "locked.raw")
    c.expect("a locked BitLocker volume, text", (status, out.split("\n==> ", 1)[1]),
             (1, f"locked.raw@{reserved_at} <==\nNo file system found\n\n"
                 f"==> locked.raw@{volume_at} <==\n{locked}give its recovery password with --key-file"))
    status, out = run("--image", "--json", "locked.raw")
    volume = [json.loads(line) for line in out.splitlines() if '"record":"volume"' in line][-1]
    c.expect("a locked BitLocker volume, JSON",
             (status, volume["encryption"], volume["unlocked_with"], volume["file_system"]),
             (1, "bitlocker", None, None))
    status, out = run("--image", "--csv", "locked.raw")
    c.expect("a locked BitLocker volume, CSV", [row.split(",")[:2] for row in out.splitlines()
                                                 if row.startswith(f"locked.raw@{volume_at},")],
             [[f"locked.raw@{volume_at}", "error"]])
    # The same volume as an image of its own: one volume at offset 0, never a
    # partition table.
    status, out = run("--image", "--json", "xts.img")
    c.expect("a BitLocker volume as the whole image",
             (status, [(r["source"], r["problem"]) for r in map(json.loads, out.splitlines()) if r["record"] == "volume"]),
             (1, [("xts.img@0", locked + "give its recovery password with --key-file")]))
    # A startup key opens its volume; another volume's leaves it locked. (A
    # startup key costs no key derivation.)
    bek = ei.bitlocker_volume(archive, "bitlk-aes-xts-128-startup-key", ntfs, os.path.join(work, "bek.img"), work)
    other = ei.bitlocker_volume(archive, "bitlk-aes-xts-128-startup-key-win11", None, os.path.join(work, "other.img"),
                                work)
    key_name, other_key = (os.path.basename(v.startup_key) for v in (bek, other))  # written beside the volume
    for path in (bek.startup_key, other.startup_key):
        with open(path, "rb") as f:
            secrets.append(f.read().hex())
    status, out = run("--image", "--json", "--key-file", other_key, "--key-file", key_name, "bek.img")
    records = [json.loads(line) for line in out.splitlines()]
    c.expect("a BitLocker volume opened by a startup key",
             (status, [r["source"] for r in records if r["record"] == "log"],
              [r["unlocked_with"] for r in records if r["record"] == "volume"]),
             (0, ["bek.img@0:/Windows/events.dat"], [f"startup key ({key_name})"]))
    status, out = run("--image", "--key-file", other_key, "bek.img")
    c.expect("a BitLocker volume with another's startup key",
             (status, f"{locked}none of the keys given opens it" in out), (1, True))
    # A volume still being encrypted, which the library refuses.
    ei.bitlocker_volume(archive, "bitlk-aes-xts-128-eow", None, os.path.join(work, "eow.img"), work)
    c.expect("a BitLocker volume the library refuses", run("--image", "eow.img"),
             (1, f"==> eow.img@0 <==\n{locked}this build cannot open it (its protector or cipher is not supported)\n"
                 "\n==> eow.img <==\nNo log found in the volumes searched; 1 of 1 volumes could not be searched"))
    # A recovery password or a password costs a key derivation, slow under
    # qemu (seven times) and under the sanitizers: there, these are left out.
    if args.sanitized or (c.emulator and not c.windows):
        print("left out the BitLocker cases of passwords: a key derivation costs too long here")
    else:
        for keys, opened in (("rp.txt", "recovery password (rp.txt, line 1)"),
                             ("pw.txt", "password (pw.txt, line 1)")):
            status, out = run("--image", "--json", "--key-file", "wrong.txt", "--key-file", keys, "locked.raw")
            records = [json.loads(line) for line in out.splitlines()]
            volume = [r for r in records if r["record"] == "volume"][-1]
            c.expect(f"a BitLocker volume opened by {keys}",
                     (status, [r["source"] for r in records if r["record"] == "log"], volume["encryption"],
                      volume["unlocked_with"], volume["problem"]),
                     (0, [esp_source, system_source], "bitlocker", opened, None))
            c.expect(f"the log of a BitLocker volume opened by {keys}",
                     "".join(line + "\n" for line in out.splitlines()
                             if line.startswith(f'{{"source":"{system_source}"') and '"record":"log"' not in line),
                     c.as_file("json", sys_log, system_source)[1])
        for form, options in (("text", []), ("csv", ["--csv"])):
            status, out = run("--image", *options, "--key-file", "rp.txt", "locked.raw")
            c.expect(f"a BitLocker volume opened, {form}", (status, system_source in out), (0, True))
        status, out = run("--image", "--key-file", "wrong.txt", "locked.raw")
        c.expect("a BitLocker volume with a wrong key",
                 (status, f"{locked}none of the keys given opens it" in out), (1, True))
        cbc = ei.bitlocker_volume(archive, "bitlk-aes-cbc-128", ntfs, os.path.join(work, "cbc.img"), work)
        secrets.append(cbc.recovery_password)
        with open(os.path.join(work, "cbc.txt"), "w", encoding="utf-8") as f:
            f.write(cbc.recovery_password + "\n")
        status, out = run("--image", "--json", "--key-file", "cbc.txt", "cbc.img")
        records = [json.loads(line) for line in out.splitlines()]
        c.expect("an AES-CBC BitLocker volume",
                 (status, [r["source"] for r in records if r["record"] == "log"],
                  [r["unlocked_with"] for r in records if r["record"] == "volume"]),
                 (0, ["cbc.img@0:/Windows/events.dat"], ["recovery password (cbc.txt, line 1)"]))

    # Shadow copies: the live copy in full; store 1's copy, the same bytes,
    # once by its place (store 2 reads the clusters of a file copied in after
    # it as the zeros they were when it was made: a candidate, no log).
    ei.shadow_copy_volume(os.path.join(ei.FIXTURES, "vsstest.qcow2"), sys_log, os.path.join(work, "vss.raw"), work)
    live, store1 = "vss.raw@0:/Windows/events.dat", "vss.raw@0 (store 1):/Windows/events.dat"
    status, out = run("--image", "--json", "vss.raw")
    records = [json.loads(line) for line in out.splitlines()]
    c.expect("a volume and its shadow copies",
             (status, [(r["record"], r["source"], r.get("store"), r.get("store_created"), r.get("same_as"))
                       for r in records if r["record"] in ("log", "volume")]),
             (0, [("log", live, None, None, None), ("volume", "vss.raw@0", None, None, None),
                  ("log", store1, 1, "2013-12-03T06:35:09Z", live),
                  ("volume", "vss.raw@0 (store 1)", 1, "2013-12-03T06:35:09Z", None),
                  ("volume", "vss.raw@0 (store 2)", 2, "2013-12-03T06:37:48Z", None)]))
    c.expect("the live copy's records", "".join(
        line + "\n" for line in out.splitlines() if line.startswith(f'{{"source":"{live}"') and '"record":"log"' not in line),
        c.as_file("json", sys_log, live)[1])
    c.expect("a store's copy has no records of its own",
             [r["record"] for r in records if r["source"] == store1], ["log"])
    status, out = run("--image", "vss.raw")
    c.expect("a store's copy, text", (status, f"==> {store1} <==\nSame bytes as {live}" in out), (0, True))
    status, out = run("--image", "--csv", "vss.raw")
    c.expect("a store's copy, CSV", [row for row in out.splitlines() if row.startswith(f"{store1},")],
             [f"{store1},copy" + "," * 22 + f"{live}" + "," * 17])
    status, out = run("--image", "--json", "--no-shadow-copies", "vss.raw")
    c.expect("--no-shadow-copies", (status, [json.loads(line)["source"] for line in out.splitlines()
                                             if '"record":"volume"' in line]), (0, ["vss.raw@0"]))

    # QCOW2: the test disk compressed, and an image whose backing file it is.
    shutil.copy(disk, os.path.join(work, "base.raw"))
    sh("qemu-img", "convert", "-c", "-f", "raw", "-O", "qcow2", "base.raw", "base.qcow2", cwd=work)
    sh("qemu-img", "create", "-f", "qcow2", "-b", os.path.join(work, "base.qcow2"), "-F", "qcow2", "top.qcow2",
       cwd=work)
    want = c.run("--image", "--json", "base.raw")
    for name in ("base.qcow2", "top.qcow2"):
        c.expect(f"{name} against its raw disk", c.run("--image", "--json", name),
                 (want[0], want[1].replace('"base.raw', '"' + name)))
    os.rename(os.path.join(work, "base.qcow2"), os.path.join(work, "gone.qcow2"))
    c.expect("a backing file missing", c.run("--image", "top.qcow2"),
             (1, "==> top.qcow2 <==\nThe image's backing file base.qcow2 is missing"))

    for secret in secrets:
        if any(secret in out or secret.lower() in out.lower() for out in outputs):
            c.failures.append("a secret shows in the output")


def check_at_work(c, work, args, esp_log, sys_log):
    """What an analyst sees while a search works, a log given as an image, and
    the times a file system keeps of a log."""
    # A log given to --image: the records of the file given without it.
    shutil.copy(sys_log, os.path.join(work, "given.bin"))
    status, out = c.run("--image", "--json", "given.bin")
    records = [json.loads(line) for line in out.splitlines()]
    c.expect("a log given as an image", (status, "".join(
        line + "\n" for line, r in zip(out.splitlines(), records) if r["record"] in ("header", "entry", "end"))),
             (0, c.as_file("json", sys_log, "given.bin")[1]))
    c.expect("a log given as an image, its log record",
             [(r["path"], r["file_system"], r["size"]) for r in records if r["record"] == "log"],
             [("given.bin", None, 67584)])

    # The times a file system keeps: NTFS's in UTC, FAT's local (with no zone
    # given, no offset). Set before the file is copied in.
    moment = 1733729414  # 2024-12-09T07:30:14Z, an even second for FAT
    dated = os.path.join(work, "dated.bin")
    shutil.copy(sys_log, dated)
    os.utime(dated, (moment, moment))
    ntfs_image(work, os.path.join(work, "dated-ntfs.img"), 8 * MIB, {"/dated.dat": dated}, [], args.ntfs_delete)
    fat = os.path.join(work, "dated-fat.img")
    with open(fat, "wb") as f:
        f.truncate(40 * MIB)
    sh("mkfs.fat", "-F", "32", "-n", "DATED", fat)
    subprocess.run(["mcopy", "-m", "-i", fat, dated, "::dated.dat"], check=True, env=dict(os.environ, TZ="UTC"))
    for image, want in (("dated-ntfs.img", "2024-12-09T07:30:14Z"), ("dated-fat.img", "2024-12-09T07:30:14")):
        log = [json.loads(line) for line in c.run("--image", "--json", image)[1].splitlines()
               if '"record":"log"' in line]
        c.expect(f"the modification time in {image}", [r["file_modified"] for r in log], [want])
    # With the zone FAT kept it in, its offset; NTFS's stays UTC.
    for image, want in (("dated-ntfs.img", "2024-12-09T07:30:14Z"), ("dated-fat.img", "2024-12-09T07:30:14+01:00")):
        log = [json.loads(line) for line in
               c.run("--image", "--json", "--clock-zone", "Europe/Berlin", image)[1].splitlines()
               if '"record":"log"' in line]
        c.expect(f"the modification time in {image}, its zone given", [r["file_modified"] for r in log], [want])

    # --timesketch of the example image: every line an entry Timesketch takes
    # as it is (its three keys, a datetime Python reads), the boot's start in
    # UTC, as many lines as the JSON Lines have entries.
    shutil.copy(os.path.join(SOURCE, "examples", "disk.E01"), os.path.join(work, "example.E01"))
    status, out = c.run("--image", "--timesketch", "--clock-zone", "Europe/Berlin", "example.E01")
    lines = [json.loads(line) for line in out.splitlines()]
    entries = [line for line in c.run("--image", "--json", "example.E01")[1].splitlines() if '"record":"entry"' in line]
    taken = all(isinstance(line.get(k), str) and line[k] for line in lines for k in ("message", "datetime", "timestamp_desc"))
    parsed = {datetime.datetime.fromisoformat(line["datetime"]).utcoffset() for line in lines}
    c.expect("--timesketch of the example image",
             (status, len(lines), taken, parsed, lines[0]["datetime"], lines[0]["sha256"] is not None),
             (0, len(entries), True, {datetime.timedelta(0)}, "2026-12-09T06:30:15+00:00", True))

    # Progress: a status line on standard error, a terminal, while the output
    # goes to a file as it would without it; --progress writes a line per
    # volume where standard error is no terminal.
    redirected = c.run("--image", "--json", "bare.img", "ext.img", account=True)
    if c.windows:
        print("check_at_work: the console writes escape sequences of its own under Wine; "
              "the status line's part is skipped")
    else:
        import pty  # pylint: disable=import-outside-toplevel
        master, slave = pty.openpty()
        with open(os.path.join(work, "progress.jsonl"), "wb") as out_file:
            tool = subprocess.Popen(c.command(["--image", "--json", "bare.img", "ext.img"]), cwd=work,
                                    env=c.env(), stdout=out_file, stderr=slave, stdin=subprocess.DEVNULL)
            os.close(slave)
            shown = b""
            while True:
                try:
                    chunk = os.read(master, 1 << 16)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
            os.close(master)
            status = tool.wait(timeout=120)
        with open(os.path.join(work, "progress.jsonl"), encoding="utf-8") as f:
            timeless = [re.sub(r'"milliseconds":\d+', "", out) for out in (f.read(), redirected[1])]
        c.expect("the output of a run with a status line", (status, timeless[0]), (redirected[0], timeless[1]))
        text = shown.decode("utf-8", "replace")
        c.expect("the status line, erased at the end",
                 ("[1/2] bare.img" in text, "[2/2] ext.img" in text, text.endswith(" \r")), (True, True, True))
    result = subprocess.run(c.command(["--image", "--json", "--progress", "bare.img", "ext.img"]), cwd=work,
                            env=c.env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    c.expect("--progress on a file", [re.sub(r"\d+ files", "N files", line) for line in
                                      result.stderr.decode("utf-8").replace("\r\n", "\n").splitlines()],
             ["image 1 of 2, bare.img, volume @0: N files, 1 logs",
              "image 2 of 2, ext.img, volume @0: N files, 1 logs"])


if __name__ == "__main__":
    sys.exit(main())
