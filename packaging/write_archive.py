#!/usr/bin/env python3
"""Writes a package archive from a staged install tree, the same bytes for the
same files wherever and whenever it runs: entries in sorted order, owned by
root, with modes 0755 (directories and programs) or 0644, and the given time.

  write_archive.py --root DIR --top NAME --epoch SECONDS OUT.tar.gz|OUT.zip

A .tar.gz holds the tree under NAME/; a .zip holds it at its root.
"""
import argparse
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def staged_entries(root):
    """(relative path, is directory, is program) for every entry, sorted."""
    entries = []
    for parent, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(parent, name)
            is_dir = os.path.isdir(path)
            program = not is_dir and os.access(path, os.X_OK)
            entries.append((os.path.relpath(path, root).replace(os.sep, "/"), is_dir, program))
    return sorted(entries)


def read(root, relative):
    with open(os.path.join(root, relative), "rb") as f:
        return f.read()


def write_tar_gz(out, root, top, epoch):
    with open(out, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw,
                                               mtime=epoch, compresslevel=9) as packed:
        with tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as tar:
            for relative, is_dir, program in [(".", True, False)] + staged_entries(root):
                info = tarfile.TarInfo(top if relative == "." else f"{top}/{relative}")
                info.uid = info.gid = 0
                info.uname = info.gname = "root"
                info.mtime = epoch
                info.mode = 0o755 if is_dir or program else 0o644
                if is_dir:
                    info.type = tarfile.DIRTYPE
                    tar.addfile(info)
                else:
                    data = read(root, relative)
                    info.size = len(data)
                    tar.addfile(info, io.BytesIO(data))


def write_zip(out, root, epoch):
    # A zip time has no zone and cannot lie before 1980.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for relative, is_dir, program in staged_entries(root):
            if is_dir:
                continue  # implied by the files' names
            info = zipfile.ZipInfo(relative, date_time=stamp)
            info.create_system = 3  # Unix, so that the mode below counts
            info.external_attr = (0o100755 if program else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, read(root, relative))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--top", required=True)
    ap.add_argument("--epoch", type=int, required=True)
    ap.add_argument("out")
    args = ap.parse_args()
    if args.out.endswith(".tar.gz"):
        write_tar_gz(args.out, args.root, args.top, args.epoch)
    elif args.out.endswith(".zip"):
        write_zip(args.out, args.root, args.epoch)
    else:
        print(f"unknown archive kind: {args.out}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
