#!/usr/bin/env python3
"""Writes the seed corpus: the log of every case description given, built by make_log."""
import os
import subprocess
import sys


def main():
    builder, out_dir, cases = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.makedirs(out_dir, exist_ok=True)
    for case in cases:
        with open(case, encoding="utf-8") as f:
            description = f.read().split("\n==")[0]
        name = os.path.splitext(os.path.basename(case))[0]
        subprocess.run([builder, os.path.join(out_dir, name + ".bin")],
                       input=description.encode("utf-8"), check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
