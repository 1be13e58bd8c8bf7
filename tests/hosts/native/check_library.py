#!/usr/bin/env python3
"""Checks what a Native API library shows the system that loads it.

    check_library.py LIBRARY.so

The library must export exactly the five Native API functions and need no
shared library but the C library's own (libc, libm, the dynamic loader):
everything else is linked in. Prints the newest glibc symbol version it
needs, which is the oldest glibc it runs on.
"""

import re
import subprocess
import sys

EXPORTS = {"GetClassNames", "GetClassObject", "DestroyObject", "SetPlatformCapabilities", "GetAttachType"}
ALLOWED_NEEDED = re.compile(r"^(libc\.so\.6|libm\.so\.6|ld-linux[-.\w]*\.so\.2)$")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    library = sys.argv[1]
    problems = []

    exported = set()
    for line in run("nm", "-D", "--defined-only", library).splitlines():
        fields = line.split()
        if len(fields) >= 3:
            exported.add(fields[2].split("@")[0])
    if exported != EXPORTS:
        extra = sorted(exported - EXPORTS)
        missing = sorted(EXPORTS - exported)
        problems.append("exports: %d names; extra %s, missing %s" % (len(exported), extra[:10], missing))

    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", library))
    for name in needed:
        if not ALLOWED_NEEDED.match(name):
            problems.append("needs %s" % name)

    versions = set(re.findall(r"GLIBC_([0-9]+(?:\.[0-9]+)*)", run("objdump", "-T", library)))
    newest = max(versions, key=lambda v: tuple(int(p) for p in v.split("."))) if versions else "none"

    if problems:
        for p in problems:
            print("FAIL %s: %s" % (library, p))
        return 1
    print("ok %s: exports %s; needs %s; glibc %s or later" %
          (library, ", ".join(sorted(exported)), ", ".join(needed), newest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
