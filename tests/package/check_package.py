#!/usr/bin/env python3
"""Builds the package of a build tree with cpack and checks it: its contents,
its metadata (.deb) and that the packed program reports the example log."""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def sh(*cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True, **kw).stdout


def report_example(tool, builder, platform, emulator, wineprefix):
    return subprocess.run([sys.executable, os.path.join(SOURCE, "tests/e2e/run_case.py"), "--tool", tool,
                           "--builder", builder, "--platform", platform, f"--emulator={emulator}",
                           "--wineprefix", wineprefix, "--case",
                           os.path.join(SOURCE, "examples/boot.case")]).returncode == 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cpack", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--builder", required=True)
    ap.add_argument("--kind", choices=["deb", "zip"], required=True)
    ap.add_argument("--emulator", default="")
    ap.add_argument("--wineprefix", default="")
    args = ap.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="quenthar-package-") as out:
        sh(args.cpack, "--config", os.path.join(args.build_dir, "CPackConfig.cmake"), "-B", out)
        packages = [f for f in os.listdir(out) if f.endswith("." + args.kind)]
        if len(packages) != 1:
            print("expected one package, found:", os.listdir(out))
            return 1
        package = os.path.join(out, packages[0])
        root = os.path.join(out, "root")

        if args.kind == "deb":
            fields = {name: sh("dpkg-deb", "-f", package, name).strip()
                      for name in ("Package", "Maintainer", "Description", "Depends", "Section")}
            if fields["Package"] != "quenthar":
                failures.append(f"package name {fields['Package']!r}")
            for name in ("Maintainer", "Description", "Section"):
                if not fields[name]:
                    failures.append(f"no {name} field")
            if fields["Depends"] and not set(d.split()[0] for d in fields["Depends"].split(", ")) <= {
                    "libc6", "libstdc++6", "libgcc-s1"}:
                failures.append(f"depends on more than libc and libstdc++: {fields['Depends']}")
            files = {line.split()[-1] for line in sh("dpkg-deb", "-c", package).splitlines()}
            for want in ("./usr/bin/quenthar", "./usr/share/man/man1/quenthar.1.gz",
                         "./usr/share/doc/quenthar/copyright"):
                if want not in files:
                    failures.append(f"{want} is not in the package")
            sh("dpkg-deb", "-x", package, root)
            man = subprocess.run(["man", "--warnings", "-l", "-Tutf8", "-Z",
                                  os.path.join(root, "usr/share/man/man1/quenthar.1.gz")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                 env=dict(os.environ, LC_ALL="C.UTF-8"))
            if man.returncode != 0 or man.stderr.strip():
                failures.append("the man page renders with warnings: " + man.stderr)
            tool, platform = os.path.join(root, "usr/bin/quenthar"), "posix"
        else:
            with zipfile.ZipFile(package) as z:
                names = sorted(z.namelist())
                z.extractall(root)
            if names != ["LICENSE", "README.md", "quenthar.exe"]:
                failures.append(f"zip holds {names}")
            tool, platform = os.path.join(root, "quenthar.exe"), "windows"

        if os.path.exists(tool) and not report_example(tool, args.builder, platform, args.emulator,
                                                        args.wineprefix):
            failures.append("the packed program does not report the example log as expected")
    print("\n".join(failures) if failures else f"{packages[0]}: contents and report as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
