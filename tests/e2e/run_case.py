#!/usr/bin/env python3
"""Runs one end-to-end case: builds its log, runs the tool as a user would in a
fresh temporary directory, and checks stdout byte for byte, the exit status and
what is left in quenthar.log.

A case file holds the log description for make_log (up to the first "==" line),
then sections:
  == args A B ...      the tool's arguments (default: the log's name); "== args" alone: none
  == log NAME          the log's file name in the run directory (default in.bin)
                       (in names and arguments %XX stands for the byte XX)
  == stdout-file PATH  send the tool's standard output there instead (nothing to compare)
  == nolog             write no log file
  == setup mkdir D     make a directory in the run directory before the run
  == setup file F TEXT make a file holding TEXT
  == setup sparse F N  make a sparse file of N bytes
  == setup link F TARGET  make a symbolic link
  == status N          expected exit status (default 0), compared as the platform's 8 bits
  == output empty|absent|dir|keep   what quenthar.log must be afterwards (default empty)
  == only posix|windows   run the case on that platform only
  == stdout [posix|windows]   expected standard output, line by line, up to the
                       next "==" line; each line ends with "\\n" except one that ends
                       with the two characters \\c. Without a platform it holds for both.
On Windows every expected "\\n" is CR LF.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse


def parse_case(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    description, sections = [], []
    current = None
    for line in lines:
        if line.startswith("=="):
            words = line[2:].split()
            current = (words[0] if words else "", words[1:], [])
            sections.append(current)
        elif current is None:
            description.append(line)
        else:
            current[2].append(line)
    return description, sections


def expected_text(body):
    out = []
    for line in body:
        if line.endswith("\\c"):
            out.append(line[:-2])
        else:
            out.append(line + "\n")
    return "".join(out)


def as_bytes(name):
    return urllib.parse.unquote_to_bytes(name)


def wine_env(args):
    env = dict(os.environ)
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all", WINEPREFIX=args.wineprefix)
    return env


def run(cmd, cwd, env, stdin=None, stdout=subprocess.PIPE):
    for _ in range(3):
        result = subprocess.run(cmd, cwd=cwd, env=env, input=stdin, stdout=stdout,
                                stderr=subprocess.PIPE, timeout=120)
        # Wine's own failure, not the program's: a client that starts while
        # the idle server shuts down loses its connection. Try again.
        if b"wine client error" not in result.stderr:
            break
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--builder", required=True)
    ap.add_argument("--emulator", default="")
    ap.add_argument("--platform", choices=["posix", "windows"], required=True)
    ap.add_argument("--wineprefix", default="")
    ap.add_argument("--case")
    ap.add_argument("--init", action="store_true", help="prepare the Wine prefix and stop")
    ap.add_argument("--bundled", help="check that this file is the log the case describes, and stop")
    args = ap.parse_args()

    emulator = [args.emulator] if args.emulator else []
    env = wine_env(args) if args.platform == "windows" else dict(os.environ)
    if args.init:
        # The first start of a prefix takes seconds; do it once, before the cases.
        run(emulator + [args.tool], cwd=tempfile.gettempdir(), env=env)
        return 0

    description, sections = parse_case(args.case)
    log_name, tool_args, status, output_state = "in.bin", None, 0, "empty"
    stdout_file = None
    write_log, setups, stdout_by_platform = True, [], {}
    for name, words, body in sections:
        if name != "stdout" and any(line.strip() for line in body):
            print(f"== {name} takes no lines after it (the log description goes first)")
            return 2
        if name == "args":
            tool_args = words
        elif name == "log":
            log_name = words[0]
        elif name == "stdout-file":
            stdout_file = words[0]
        elif name == "nolog":
            write_log = False
        elif name == "setup":
            setups.append(words)
        elif name == "status":
            status = int(words[0])
        elif name == "output":
            output_state = words[0]
        elif name == "only":
            if words[0] != args.platform:
                print(f"case is for {words[0]} only: skipped")
                return 0
        elif name == "stdout":
            stdout_by_platform[words[0] if words else "both"] = expected_text(body)
        else:
            print(f"unknown section == {name}")
            return 2
    if tool_args is None:
        tool_args = [log_name]
    want = stdout_by_platform.get(args.platform, stdout_by_platform.get("both"))
    if want is None and stdout_file is None:
        print("the case gives no expected stdout for this platform")
        return 2

    workdir = tempfile.mkdtemp(prefix="quenthar-e2e-")
    try:
        if write_log or args.bundled:
            built = run(emulator + [os.path.abspath(args.builder), "built.bin"], cwd=workdir, env=env,
                        stdin="\n".join(description).encode("utf-8"))
            if built.returncode != 0:
                print("make_log failed:", built.stderr.decode(errors="replace"))
                return 2
            if args.bundled:
                with open(os.path.join(workdir, "built.bin"), "rb") as a, open(args.bundled, "rb") as b:
                    if a.read() != b.read():
                        print(f"{args.bundled} is not the log its case describes: rebuild it with make_log")
                        return 1
                return 0
            os.rename(os.path.join(workdir, "built.bin"), os.path.join(os.fsencode(workdir), as_bytes(log_name)))
        for setup in setups:
            target = os.path.join(workdir, setup[1])
            if setup[0] == "mkdir":
                os.mkdir(target)
            elif setup[0] == "file":
                with open(target, "w") as f:
                    f.write(" ".join(setup[2:]))
            elif setup[0] == "sparse":
                with open(target, "wb") as f:
                    f.truncate(int(setup[2], 0))
            elif setup[0] == "link":
                os.symlink(setup[2], target)
            else:
                print(f"unknown setup {setup[0]}")
                return 2

        command = emulator + [os.path.abspath(args.tool)] + [as_bytes(a) for a in tool_args]
        failures = []
        if stdout_file is not None:
            with open(stdout_file, "wb") as sink:
                result = run(command, cwd=workdir, env=env, stdout=sink)
        else:
            result = run(command, cwd=workdir, env=env)
            if args.platform == "windows":
                want = want.replace("\n", "\r\n")
            want_bytes = want.encode("utf-8") if args.platform == "posix" else want.encode("cp1252", "strict")
        if stdout_file is None and result.stdout != want_bytes:
            failures.append(f"stdout differs\n  expected: {want_bytes!r}\n  actual:   {result.stdout!r}")
        if result.returncode & 0xFF != status & 0xFF:
            failures.append(f"exit status {result.returncode}, expected {status}")

        out_path = os.path.join(workdir, "quenthar.log")
        if output_state == "empty":
            ok = os.path.isfile(out_path) and os.path.getsize(out_path) == 0
        elif output_state == "absent":
            ok = not os.path.lexists(out_path)
        elif output_state == "dir":
            ok = os.path.isdir(out_path)
        else:
            ok = True
        if not ok:
            failures.append(f"quenthar.log is not {output_state}")
        if failures:
            print("\n".join(failures))
            if result.stderr:
                print("stderr:", result.stderr.decode(errors="replace")[-2000:])
            return 1
        return 0
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
