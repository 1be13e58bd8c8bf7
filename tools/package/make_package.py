#!/usr/bin/env python3
"""Makes the distribution zip that 1C loads as an external component.

    make_package.py --root DIR --out dist/VemlarTSD-1.2.0.zip

The zip holds, at its root, MANIFEST.XML naming each library with its
technology, system and architecture: the COM servers VemlarTSD.dll (x86) and
VemlarTSD64.dll (x86-64), the Native API libraries VemlarTSDNative.dll (x86),
VemlarTSDNative64.dll (x86-64), libVemlarTSDNative.so (Linux i386) and
libVemlarTSDNative64.so (Linux x86-64);
under tools/ the terminal simulator and the command line (32-bit builds, which
run on either Windows); under docs/ the user documentation. The Windows
libraries come from build/win-x86/bin and build/win-x64/bin (`./run.sh build
windows`), the Linux ones from build/linux/bin and build/linux-i386/bin
(`./run.sh build`, `./run.sh build linux-i386`).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

MANIFEST = """<?xml version="1.0" encoding="UTF-8"?>
<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">
  <component os="Windows" path="VemlarTSD.dll" type="com" arch="i386"/>
  <component os="Windows" path="VemlarTSD64.dll" type="com" arch="x86_64"/>
  <component os="Windows" path="VemlarTSDNative.dll" type="native" arch="i386"/>
  <component os="Windows" path="VemlarTSDNative64.dll" type="native" arch="x86_64"/>
  <component os="Linux" path="libVemlarTSDNative.so" type="native" arch="i386"/>
  <component os="Linux" path="libVemlarTSDNative64.so" type="native" arch="x86_64"/>
</bundle>
"""

# (path in the zip, path under the project root)
FILES = [
    ("VemlarTSD.dll", "build/win-x86/bin/VemlarTSD.dll"),
    ("VemlarTSD64.dll", "build/win-x64/bin/VemlarTSD.dll"),
    ("VemlarTSDNative.dll", "build/win-x86/bin/VemlarTSDNative.dll"),
    ("VemlarTSDNative64.dll", "build/win-x64/bin/VemlarTSDNative.dll"),
    ("libVemlarTSDNative.so", "build/linux-i386/bin/libVemlarTSDNative.so"),
    ("libVemlarTSDNative64.so", "build/linux/bin/libVemlarTSDNative.so"),
    ("tools/merxa-sim.exe", "build/win-x86/bin/merxa-sim.exe"),
    ("tools/vtsd-host.exe", "build/win-x86/bin/vtsd-host.exe"),
]


def project_version(root):
    """The VERSION of the project() call in the top CMakeLists.txt."""
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("project(") and " VERSION " in line:
                return line.split(" VERSION ", 1)[1].split()[0]
    raise SystemExit("make_package: no project VERSION in CMakeLists.txt")


def doc_files(root):
    """(zip path, source path) of every documentation file, in a stable order."""
    found = []
    base = os.path.join(root, "docs")
    for dirpath, dirnames, files in os.walk(base):
        dirnames.sort()
        for name in sorted(files):
            if name.endswith((".md", ".png")):
                full = os.path.join(dirpath, name)
                found.append(("docs/" + os.path.relpath(full, base).replace(os.sep, "/"), full))
    return found


def shipped_copy(src, scratch):
    """The file as it goes into the zip: a Linux library without its debugging
    sections (the development build keeps them), anything else as it is."""
    if not src.endswith(".so") or not shutil.which("strip"):
        return src
    stripped = os.path.join(scratch, os.path.basename(src))
    subprocess.run(["strip", "--strip-debug", "-o", stripped, src], check=True)
    return stripped


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    parser.add_argument("--out", help="the zip to write (default dist/VemlarTSD-<version>.zip)")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    out = args.out or os.path.join(root, "dist", "VemlarTSD-%s.zip" % project_version(root))

    entries = [(name, os.path.join(root, src)) for name, src in FILES] + doc_files(root)
    missing = [src for _, src in entries if not os.path.isfile(src)]
    if missing:
        for src in missing:
            print("make_package: missing %s" % src, file=sys.stderr)
        print("make_package: build the binaries first (./run.sh build, ./run.sh build linux-i386, "
              "./run.sh build windows)",
              file=sys.stderr)
        return 1

    os.makedirs(os.path.dirname(out), exist_ok=True)
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w", compression=zipfile.ZIP_DEFLATED) as z, \
            tempfile.TemporaryDirectory() as scratch:
        z.writestr("MANIFEST.XML", MANIFEST)
        for name, src in entries:
            z.write(shipped_copy(src, scratch), name)
    os.replace(partial, out)  # never leave a half-written package under the final name
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
