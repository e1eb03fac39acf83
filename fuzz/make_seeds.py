#!/usr/bin/env python3
"""Writes the seed corpus: the log of every case description given, built by make_log,
once per output form, to a file and to a terminal (the fuzz target takes both from a
last byte after the log)."""
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
        log = os.path.join(out_dir, name + ".bin")
        subprocess.run([builder, log], input=description.encode("utf-8"), check=True)
        with open(log, "rb") as f:
            data = f.read()
        os.remove(log)
        for selector, form in enumerate(("text", "json", "csv", "text.terminal", "json.terminal",
                                         "csv.terminal")):
            with open(os.path.join(out_dir, f"{name}.{form}.bin"), "wb") as f:
                f.write(data + bytes([selector]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
