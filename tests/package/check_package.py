#!/usr/bin/env python3
"""Makes the packages of a build tree twice and checks them: the two makes
give the same bytes (the second runs seconds later under another umask, into
another folder), SHA256SUMS lists them, each holds what it should (the .deb
lintian-clean, with a manual page that lints clean), and the packed program
reports the example log."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

# The documents the README points to, in a folder beside it.
DOCUMENTS = ("doc/building.md", "doc/containment.md", "doc/libraries.md")

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def sh(*cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True, **kw).stdout


def make_packages(script, out, umask):
    previous = os.umask(umask)
    try:
        sh("cmake", "-D", f"OUT_DIR={out}", "-P", script)
    finally:
        os.umask(previous)
    return sorted(os.listdir(out))


def required_tool(name, failures):
    """The tool's path; a missing tool is a failure only where CI demands every check."""
    path = shutil.which(name)
    if path is None:
        message = f"{name} is not installed: its check is skipped"
        if os.environ.get("CI"):
            failures.append(message)
        else:
            print(message)
    return path


def report_example(tool, args):
    return subprocess.run([sys.executable, os.path.join(SOURCE, "tests/e2e/run_case.py"), "--tool", tool,
                           "--builder", args.builder, "--platform", args.platform,
                           f"--emulator={args.emulator}", "--wineprefix", args.wineprefix, "--case",
                           os.path.join(SOURCE, "examples/boot.case")]).returncode == 0


def check_sums(out, names, failures):
    listed = {}
    with open(os.path.join(out, "SHA256SUMS"), encoding="ascii") as f:
        for line in f:
            digest, name = line.rstrip("\n").split("  ", 1)
            listed[name] = digest
    if sorted(listed) != [n for n in names if n != "SHA256SUMS"]:
        failures.append(f"SHA256SUMS lists {sorted(listed)}")
    for name, digest in listed.items():
        with open(os.path.join(out, name), "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != digest:
                failures.append(f"SHA256SUMS has a wrong sum for {name}")


def check_deb(package, root, failures):
    fields = {name: sh("dpkg-deb", "-f", package, name).strip()
              for name in ("Package", "Architecture", "Maintainer", "Description", "Depends", "Section")}
    if fields["Package"] != "quenthar":
        failures.append(f"package name {fields['Package']!r}")
    if not package.endswith(f"_{fields['Architecture']}.deb"):
        failures.append(f"architecture {fields['Architecture']} in {os.path.basename(package)}")
    for name in ("Maintainer", "Description", "Section"):
        if not fields[name]:
            failures.append(f"no {name} field")
    if fields["Depends"] and not set(d.split()[0] for d in fields["Depends"].split(", ")) <= {
            "libc6", "libstdc++6", "libgcc-s1"}:
        failures.append(f"depends on more than libc and libstdc++: {fields['Depends']}")
    files = {line.split()[-1] for line in sh("dpkg-deb", "-c", package).splitlines()}
    for want in ("./usr/bin/quenthar", "./usr/share/man/man1/quenthar.1.gz",
                 "./usr/share/doc/quenthar/copyright", "./usr/share/doc/quenthar/changelog.gz",
                 "./usr/share/doc/quenthar/records.schema.json",
                 *(f"./usr/share/doc/quenthar/{d}" for d in DOCUMENTS),
                 "./usr/share/lintian/overrides/quenthar"):
        if want not in files:
            failures.append(f"{want} is not in the package")
    if required_tool("lintian", failures):
        lint = subprocess.run(["lintian", "--no-cfg", package], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        tags = [line for line in lint.stdout.splitlines() if line[:2] in ("E:", "W:")]
        if lint.returncode != 0 or tags:
            failures.append("lintian: " + lint.stdout)
    sh("dpkg-deb", "-x", package, root)
    page = os.path.join(root, "usr/share/man/man1/quenthar.1.gz")
    if required_tool("mandoc", failures):
        lint = subprocess.run(["mandoc", "-Tlint", page], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        if lint.stdout.strip():
            failures.append("mandoc -Tlint: " + lint.stdout)
    return os.path.join(root, "usr/bin/quenthar")


def check_tar(package, top, root, failures):
    with tarfile.open(package) as tar:
        members = tar.getmembers()
        tar.extractall(root)
    names = [m.name for m in members]
    files = [m.name for m in members if m.isfile()]
    image = ["lib/quenthar/quenthar-image"] if any(m.name.endswith("/quenthar-image") for m in members) else []
    want = [f"{top}/{name}" for name in ["bin/quenthar", *image, "share/doc/quenthar/LICENSE",
                                         "share/doc/quenthar/README.md", "share/doc/quenthar/changelog.gz",
                                         *(f"share/doc/quenthar/{d}" for d in DOCUMENTS),
                                         "share/doc/quenthar/records.schema.json",
                                         "share/man/man1/quenthar.1.gz"]]
    if files != want:
        failures.append(f"tar holds {files}")
    owners = {(m.uid, m.gid, m.uname, m.gname) for m in members}
    if names != sorted(names) or owners != {(0, 0, "root", "root")}:
        failures.append(f"tar entries not sorted or not owned by root: {names} {owners}")
    return os.path.join(root, top, "bin/quenthar")


def check_zip(package, root, images, failures):
    """One folder that runs as it is: the program, its documents, and the
    licence of every library in it."""
    with zipfile.ZipFile(package) as z:
        names = z.namelist()
        z.extractall(root)
    top = [n for n in names if "/" not in n]
    licences = sorted(n for n in names if n.startswith("licenses/"))
    documents = sorted(n for n in names if n.startswith("doc/"))
    if top != ["LIBRARIES.txt", "LICENSE", "README.md", "quenthar.exe", "records.schema.json"] or \
            documents != list(DOCUMENTS) or sorted(top + documents + licences) != sorted(names):
        failures.append(f"zip holds {names}")
    wanted = ["licenses/gcc-copyright.txt", "licenses/mingw-w64-copyright.txt"]
    if images:
        # A libyal library's LGPL text, and the GPL's it adds to where the
        # library ships both.
        for name in ("libewf", "libvhdi", "libvmdk", "libqcow"):
            wanted += [f"licenses/{name}-COPYING.txt", f"licenses/{name}-COPYING.LESSER.txt"]
        wanted += ["licenses/libbde-COPYING.txt", "licenses/libvshadow-COPYING.txt",
                   "licenses/libbfio-COPYING.txt", "licenses/zlib-copyright.txt",
                   "licenses/sleuthkit/cpl1.0.txt", "licenses/sleuthkit/IBM-LICENSE"]
    missing = [n for n in wanted if n not in licences]
    if missing:
        failures.append(f"the zip lacks {missing}")
    return os.path.join(root, "quenthar.exe")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--make-packages", required=True, help="the build's make_packages.cmake")
    ap.add_argument("--builder", required=True)
    ap.add_argument("--platform", choices=["posix", "windows"], required=True)
    ap.add_argument("--emulator", default="")
    ap.add_argument("--wineprefix", default="")
    ap.add_argument("--images", action="store_true", help="the build reads disk images")
    args = ap.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="quenthar-package-") as temp:
        first, second = os.path.join(temp, "first"), os.path.join(temp, "second-folder")
        names = make_packages(args.make_packages, first, 0o022)
        time.sleep(2.1)  # past the two-second steps of zip times
        if make_packages(args.make_packages, second, 0o077) != names:
            failures.append("the second make gave other files")
        for name in names:
            with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                if a.read() != b.read():
                    failures.append(f"{name} differs between two makes: something other than the "
                                    "sources (a time, an owner, a mode, an order) went into it")
        check_sums(first, names, failures)

        programs = []
        for name in names:
            package, root = os.path.join(first, name), os.path.join(temp, "unpacked", name)
            if name.endswith(".deb"):
                programs.append(check_deb(package, root, failures))
            elif name.endswith(".tar.gz"):
                programs.append(check_tar(package, name[:-len(".tar.gz")], root, failures))
            elif name.endswith(".zip"):
                programs.append(check_zip(package, root, args.images, failures))
        if not programs:
            failures.append(f"no package among {names}")
        for program in programs:
            if not report_example(program, args):
                failures.append(f"{program} does not report the example log as expected")
            if not args.images:
                continue
            if args.platform == "windows":
                # One program: its workers are itself.
                env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=args.wineprefix)
                command, what = [args.emulator, program], "search an image"
            else:
                env = None
                companion = os.path.join(os.path.dirname(os.path.dirname(program)),
                                         "lib/quenthar/quenthar-image")
                if not os.path.exists(companion):
                    failures.append(f"no {companion}")
                    continue
                # --image runs the companion from where the package puts it. An
                # emulator cannot start a second program of the target: there the
                # companion runs by itself, and without the sandbox, which the
                # emulator refuses.
                command = [args.emulator, companion, "--no-sandbox"] if args.emulator else [program]
                what = "run its companion"
            # The example log given as an image: found as a log of its own.
            ran = subprocess.run([*command, "--image", os.path.join(SOURCE, "examples/boot.bin")],
                                 stdout=subprocess.PIPE, text=True, env=env)
            if ran.returncode != 0 or "logs: 1 (0 deleted, 0 in shadow copies)" not in ran.stdout:
                failures.append(f"{program} --image does not {what}: {ran.stdout!r}")
    print("\n".join(failures) if failures else f"{', '.join(names)}: reproducible, contents as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
