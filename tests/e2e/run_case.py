#!/usr/bin/env python3
"""Runs one end-to-end case: builds its log, runs the tool as a user would in a
fresh temporary directory, and checks stdout byte for byte, the exit status and
what is left in quenthar.log.

A case file holds the log description for make_log (up to the first "==" line),
then sections:
  == args A B ...      the tool's arguments (default: the log's name); "== args" alone: none;
                       {run} stands for the run directory's absolute path
  == describe CASE     take the log description from that case file instead
  == log NAME          the log's file name in the run directory (default in.bin)
                       (in names and arguments %XX stands for the byte XX)
  == stdout-file PATH  send the tool's standard output there instead (nothing to compare)
  == stdin pipe [size N] [delay S]
                       feed the log to the tool's standard input through a pipe (cut
                       or zero-padded to N bytes), starting after S seconds
  == nolog             write no log file
  == setup mkdir D     make a directory in the run directory before the run
  == setup file F TEXT make a file holding TEXT (%XX stands for the byte XX there too)
  == setup sparse F N  make a sparse file of N bytes
  == setup link F TARGET      make a symbolic link
  == setup hardlink F EXISTING  make a second name of an existing file
  == setup fifo F      make a FIFO
  == setup copy F PATH copy a file of the repository (PATH from its top) there
  == status N          expected exit status (default 0), compared as the platform's 8 bits
  == expect PATH empty|absent|dir|link|fifo|holds TEXT|unchanged
                       what PATH (relative to the run directory) must be afterwards;
                       unchanged: it still holds the log, byte for byte
  == output STATE      the same for quenthar.log, or keep (default empty)
  == only posix|windows|images|no-images
                       run the case on that platform only, or only on a build
                       that reads disk images (or does not)
  == console           (Windows build only) run the tool on a console, under a pseudo-
                       terminal; once escape sequences and CRs are removed, what the
                       terminal shows holds every expected line whole, in order
  == check json|csv|timesketch
                       standard output is JSON Lines, CSV or Timesketch's JSON Lines:
                       the same UTF-8 bytes on every platform, every line parses as
                       JSON (of the schema, or starting with Timesketch's three keys),
                       or every row reads back with a CSV reader and has every column
  == stdout [posix|windows]   expected standard output, line by line, up to the
                       next "==" line; each line ends with "\\n", or with CR LF when
                       it ends with the two characters \\r, or with nothing when it
                       ends with \\c; a line that starts with "\\==" stands for one
                       that starts with "==". Without a platform it holds for both.
Otherwise on Windows every expected "\\n" is CR LF, and text is code page 1252. The run directory lies in a fresh
temporary directory, so paths starting with ../ stay inside it.
"""
import argparse
import csv
import re
import shlex
import io
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time
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
        if line.startswith("\\=="):
            line = line[1:]
        if line.endswith("\\c"):
            out.append(line[:-2])
        elif line.endswith("\\r"):
            out.append(line[:-2] + "\r\n")
        else:
            out.append(line + "\n")
    return "".join(out)


SCHEMA = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "doc", "records.schema.json")


def load_schema():
    with open(SCHEMA, encoding="utf-8") as f:
        return json.load(f)


def csv_columns():
    """CSV's columns, from the schema: the keys of the kinds CSV has rows for,
    in the order they first come, with payload last."""
    defs = load_schema()["$defs"]
    columns = []
    for kind in ("entry", "header", "end", "error", "copy", "image"):
        columns += [key for key in defs[kind]["required"] if key not in columns and key != "payload"]
    return columns + ["payload"]


def record_validator():
    """A validator of the shipped schema, and each record kind's keys in their order."""
    import jsonschema  # Debian's python3-jsonschema
    schema = load_schema()
    jsonschema.Draft202012Validator.check_schema(schema)
    key_order = {kind: d["required"] for kind, d in schema["$defs"].items() if "required" in d}
    return jsonschema.Draft202012Validator(schema), key_order


def structured_problems(kind, data):
    """What keeps the bytes from being JSON Lines or CSV that a reader takes whole."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        return [f"not UTF-8: {e}"]
    if kind in ("json", "timesketch"):
        if text and not text.endswith("\n"):
            return ["the last JSON line has no line end"]
        if len(text.splitlines()) != text.count("\n"):
            return ["a line separator other than LF is left unescaped (U+0085, U+2028 or U+2029)"]
        validator, key_order = record_validator()
        for number, line in enumerate(text.split("\n")[:-1], 1):
            try:
                record = json.loads(line)
            except ValueError as e:
                return [f"line {number} is not JSON: {e}"]
            if kind == "timesketch":
                if list(record)[:3] != ["message", "datetime", "timestamp_desc"]:
                    return [f"line {number} does not start with Timesketch's three keys"]
                continue
            errors = [e.message for e in validator.iter_errors(record)]
            if errors:
                return [f"line {number} does not match the schema: {errors[0]}"]
            if list(record) != key_order[record["record"]]:
                return [f"line {number}: keys {list(record)}, not in the schema's order"]
        return []
    rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
    columns = csv_columns()
    if not rows or rows[0] != columns:
        return ["the CSV does not start with its header row"]
    short = [n for n, row in enumerate(rows, 1) if len(row) != len(columns)]
    return [f"CSV row {short[0]} has not {len(columns)} cells"] if short else []


def as_bytes(name):
    return urllib.parse.unquote_to_bytes(name)


def wine_env(args):
    env = dict(os.environ)
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all", WINEPREFIX=args.wineprefix)
    return env


def run(cmd, cwd, env, stdin=None, stdout=subprocess.PIPE, feed=None):
    """Runs cmd; feed(pipe_write_end), when given, writes its standard input from a thread."""
    for _ in range(3):
        if feed is None:
            result = subprocess.run(cmd, cwd=cwd, env=env, input=stdin, stdout=stdout,
                                    stderr=subprocess.PIPE, timeout=120)
        else:
            read_end, write_end = os.pipe()
            writer = threading.Thread(target=feed, args=(write_end,))
            writer.start()
            try:
                result = subprocess.run(cmd, cwd=cwd, env=env, stdin=read_end, stdout=stdout,
                                        stderr=subprocess.PIPE, timeout=120)
            finally:
                os.close(read_end)
                writer.join()
        # Wine's own failure, not the program's (which never writes to standard
        # error, and says why it fails): a client that starts while the server
        # starts or shuts down loses its connection. Try again.
        lost = result.stderr or (result.returncode != 0 and not result.stdout)
        if not (os.path.basename(cmd[0]).startswith("wine") and lost):
            break
    return result


def pipe_feeder(data, delay):
    def feed(fd):
        time.sleep(delay)
        try:
            with os.fdopen(fd, "wb") as pipe:
                pipe.write(data)
        except BrokenPipeError:
            pass  # the tool stops reading once it has seen too much
    return feed


PATH_STATES = ("empty", "absent", "dir", "link", "fifo", "holds", "unchanged")


def path_state_ok(path, state, text, log_bytes):
    if state == "absent":
        return not os.path.lexists(path)
    if state == "link":
        return os.path.islink(path)
    if state == "fifo":
        return stat.S_ISFIFO(os.lstat(path).st_mode) if os.path.lexists(path) else False
    if state == "dir":
        return os.path.isdir(path) and not os.path.islink(path)
    if os.path.islink(path) or not os.path.isfile(path):
        return False
    if state == "unchanged":
        with open(path, "rb") as f:
            return f.read() == log_bytes
    with open(path, encoding="utf-8") as f:
        held = f.read()
    return held == ("" if state == "empty" else text)


REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def make_setup(run_dir, setup):
    kind, target = setup[0], os.path.join(run_dir, setup[1])
    if kind == "mkdir":
        os.mkdir(target)
    elif kind == "file":
        with open(target, "wb") as f:
            f.write(urllib.parse.unquote_to_bytes(" ".join(setup[2:])))
    elif kind == "sparse":
        with open(target, "wb") as f:
            f.truncate(int(setup[2], 0))
    elif kind == "link":
        os.symlink(setup[2], target)
    elif kind == "hardlink":
        os.link(os.path.join(run_dir, setup[2]), target)
    elif kind == "fifo":
        os.mkfifo(target)
    elif kind == "copy":
        shutil.copy(os.path.join(REPOSITORY, setup[2]), target)
    else:
        return False
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--builder", required=True)
    ap.add_argument("--emulator", default="")
    ap.add_argument("--platform", choices=["posix", "windows"], required=True)
    ap.add_argument("--wineprefix", default="")
    ap.add_argument("--images", action="store_true", help="the tool reads disk images")
    ap.add_argument("--image-tool", default="", help="runs the --image cases (under an emulator)")
    ap.add_argument("--case")
    ap.add_argument("--init", action="store_true", help="prepare the Wine prefix and stop")
    ap.add_argument("--bundled", help="check that this file is the log the case describes, and stop")
    args = ap.parse_args()

    emulator = [args.emulator] if args.emulator else []
    env = wine_env(args) if args.platform == "windows" else dict(os.environ)
    if args.init:
        return prepare_wine(args, env) if args.platform == "windows" else 0

    description, sections = parse_case(args.case)
    log_name, tool_args, status, check, console = "in.bin", None, 0, None, False
    stdout_file, pipe = None, None
    write_log, setups, stdout_by_platform = True, [], {}
    expects = [("quenthar.log", "empty", "")]
    for name, words, body in sections:
        if name != "stdout" and any(line.strip() for line in body):
            print(f"== {name} takes no lines after it (the log description goes first)")
            return 2
        if name == "args":
            tool_args = words
        elif name == "describe":
            description, _ = parse_case(os.path.join(os.path.dirname(args.case), words[0]))
        elif name == "log":
            log_name = words[0]
        elif name == "check" and words[0] in ("json", "csv", "timesketch"):
            check = words[0]
        elif name == "console":
            if args.platform != "windows":
                print("a console case is for the Windows build: skipped")
                return 0
            console = True
        elif name == "stdout-file":
            stdout_file = words[0]
        elif name == "stdin" and words[:1] == ["pipe"]:
            options = dict(zip(words[1::2], words[2::2]))
            pipe = (int(options["size"]) if "size" in options else None,
                    float(options.get("delay", 0)))
        elif name == "nolog":
            write_log = False
        elif name == "setup":
            setups.append(words)
        elif name == "status":
            status = int(words[0])
        elif name == "output":
            expects = [(p, s, t) for p, s, t in expects if p != "quenthar.log"]
            if words[0] != "keep":
                expects.append(("quenthar.log", words[0], " ".join(words[1:])))
        elif name == "expect":
            expects.append((words[0], words[1], " ".join(words[2:])))
        elif name == "only":
            if words[0] not in (args.platform, "images" if args.images else "no-images"):
                print(f"case is for {words[0]} only: skipped")
                return 0
        elif name == "stdout":
            stdout_by_platform[words[0] if words else "both"] = expected_text(body)
        else:
            print(f"unknown section == {name}")
            return 2
    unknown = [state for _, state, _ in expects if state not in PATH_STATES]
    if unknown:
        print(f"unknown state {unknown[0]}")
        return 2
    if tool_args is None:
        tool_args = [log_name]
    want = stdout_by_platform.get(args.platform, stdout_by_platform.get("both"))
    if want is None and stdout_file is None:
        print("the case gives no expected stdout for this platform")
        return 2

    workdir = tempfile.mkdtemp(prefix="quenthar-e2e-")
    run_dir = os.path.join(workdir, "run")
    os.mkdir(run_dir)
    try:
        log_bytes = b""
        if write_log or args.bundled:
            built = run(emulator + [os.path.abspath(args.builder), "built.bin"], cwd=run_dir, env=env,
                        stdin="\n".join(description).encode("utf-8"))
            if built.returncode != 0:
                print("make_log failed:", built.stderr.decode(errors="replace"))
                return 2
            built_path = os.path.join(run_dir, "built.bin")
            with open(built_path, "rb") as f:
                log_bytes = f.read()
            if args.bundled:
                with open(args.bundled, "rb") as b:
                    if log_bytes != b.read():
                        print(f"{args.bundled} is not the log its case describes: rebuild it with make_log")
                        return 1
                return 0
            os.rename(built_path, os.path.join(os.fsencode(run_dir), as_bytes(log_name)))
        for setup in setups:
            if not make_setup(run_dir, setup):
                print(f"unknown setup {setup[0]}")
                return 2

        feed = None
        if pipe is not None:
            size, delay = pipe
            data = log_bytes if size is None else log_bytes[:size].ljust(size, b"\0")
            feed = pipe_feeder(data, delay)
        tool, extra = [os.path.abspath(args.tool)], []
        if args.image_tool and "--image" in tool_args:
            # An emulator cannot start a second program of the target, nor set
            # up the sandbox: the image program runs itself, without it.
            tool, extra = [os.path.abspath(args.image_tool)], ["--no-sandbox"]
        command = emulator + tool + extra + [
            as_bytes(a.replace("{run}", urllib.parse.quote(run_dir))) for a in tool_args]
        failures = []
        if console:
            # script(1) gives the program a terminal, on which Wine makes a console.
            shown = run(["script", "-qec", "stty cols 2000; " + shlex.join(
                os.fsdecode(c) for c in command), "/dev/null"], cwd=run_dir, env=env).stdout
            shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\r", b"", shown).decode("utf-8", "replace")
            lines, at = shown.split("\n"), 0
            for line in want.rstrip("\n").split("\n"):
                while at < len(lines) and lines[at] != line:
                    at += 1
                if at == len(lines):
                    print(f"the console does not show {line!r} (in order) in:\n{shown}")
                    return 1
            return 0
        try:
            if stdout_file is not None:
                with open(stdout_file, "wb") as sink:
                    result = run(command, cwd=run_dir, env=env, stdout=sink, feed=feed)
            else:
                result = run(command, cwd=run_dir, env=env, feed=feed)
        except subprocess.TimeoutExpired:
            print("the tool did not end")
            return 1
        if stdout_file is None:
            if args.platform == "windows" and check is None:
                want = want.replace("\n", "\r\n")
            as_is = args.platform == "posix" or check is not None
            want_bytes = want.encode("utf-8") if as_is else want.encode("cp1252", "strict")
            if result.stdout != want_bytes:
                failures.append(f"stdout differs\n  expected: {want_bytes!r}\n  actual:   {result.stdout!r}")
            if check is not None:
                failures += structured_problems(check, result.stdout)
        if result.returncode & 0xFF != status & 0xFF:
            failures.append(f"exit status {result.returncode}, expected {status}")
        for path, state, text in expects:
            if not path_state_ok(os.path.join(run_dir, path), state, text, log_bytes):
                failures.append(f"{path} is not {state} {text}".rstrip())
        if failures:
            print("\n".join(failures))
            if result.stderr:
                print("stderr:", result.stderr.decode(errors="replace")[-2000:])
            return 1
        return 0
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def prepare_wine(args, env):
    """Creates the Wine prefix and waits until Wine has finished with it, so that
    no case starts while the prefix is still being made."""
    wine = args.emulator
    server = next((p for p in (os.path.join(os.path.dirname(wine), name) for name in ("wineserver", "wineserver64"))
                   if os.path.exists(p)), shutil.which("wineserver") or "wineserver")
    boot = subprocess.run([wine, "wineboot", "--init"], env=env, cwd=tempfile.gettempdir(),
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    wait = subprocess.run([server, "--wait"], env=env, timeout=600)
    if boot.returncode != 0 or wait.returncode != 0:
        print("could not prepare the Wine prefix:", boot.stderr.decode(errors="replace")[-2000:])
        return 1
    # A server that stays 30 s after its last program: else each run more
    # than 3 s after the one before starts a new one, which makes a test that
    # runs the program many times alone (the image tests) six times slower.
    subprocess.run([server, "-p30"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    # Wine's own processes (services, devices), which the first program starts
    # and which stay while the server does: started here, they hold no case's
    # output open (a case whose program started them waited for them to end).
    subprocess.run([wine, "cmd", "/c", "exit"], env=env, cwd=tempfile.gettempdir(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    return 0


if __name__ == "__main__":
    sys.exit(main())
