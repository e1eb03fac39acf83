#!/usr/bin/env python3
"""Reads the version resource and the application manifest back from the
Windows program (with show_resources, under the emulator) and checks them."""
import argparse
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reader", required=True)
    ap.add_argument("--program", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--emulator", default="")
    ap.add_argument("--wineprefix", default="")
    args = ap.parse_args()

    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=args.wineprefix)
    emulator = [args.emulator] if args.emulator else []
    shown = subprocess.run(emulator + [args.reader, args.program], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=120)
    if shown.returncode != 0:
        print("show_resources failed:", shown.stdout, shown.stderr[-2000:])
        return 1
    strings_part, _, manifest = shown.stdout.replace("\r\n", "\n").partition("Manifest:\n")
    strings = dict(line.split("=", 1) for line in strings_part.splitlines())

    failures = []
    want = {"FileVersion#": args.version + ".0", "FileVersion": args.version,
            "ProductVersion": args.version, "ProductName": "quenthar",
            "OriginalFilename": "quenthar.exe"}
    for name, value in want.items():
        if strings.get(name) != value:
            failures.append(f"{name} is {strings.get(name)!r}, expected {value!r}")
    for name in ("FileDescription", "LegalCopyright"):
        if not strings.get(name):
            failures.append(f"no {name}")

    root = ET.fromstring(manifest)
    elements = {}
    for element in root.iter():
        elements.setdefault(local(element.tag), []).append(element)
    levels = [e.get("level") for e in elements.get("requestedExecutionLevel", [])]
    if levels != ["asInvoker"]:
        failures.append(f"execution level {levels}")
    if WINDOWS_10_AND_11 not in [e.get("Id") for e in elements.get("supportedOS", [])]:
        failures.append("Windows 10 and 11 are not among the supported systems")
    if [e.text for e in elements.get("longPathAware", [])] != ["true"]:
        failures.append("not long-path aware")
    if "activeCodePage" in elements:
        failures.append("an active code page is set: the report would leave the ANSI code page")
    print("\n".join(failures) if failures else "version resource and manifest as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
