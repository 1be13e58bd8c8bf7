#!/usr/bin/env python3
"""Checks what a Native API library shows the system that loads it.

    check_library.py [--floor 2.17] [--system-libs DIR] LIBRARY.so

The library must export exactly the five Native API functions; need no
shared library but the C library's own (libc, libm, libdl, libpthread, the
dynamic loader), everything else being linked in; and import every symbol at
a glibc version no newer than the floor, as a symbol@version that the
system's C libraries really define (their version tags record when each
symbol appeared, so a version they lack would not be found by any loader).
An import without a version must be weak. Prints the newest glibc version
the library needs, which is the oldest glibc it loads on:

    libVemlarTSDNative.so (x86-64) needs glibc 2.17 or later
"""

import argparse
import glob
import os
import re
import subprocess
import sys

EXPORTS = {"GetClassNames", "GetClassObject", "DestroyObject", "SetPlatformCapabilities", "GetAttachType"}
C_LIBRARIES = ("libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0")
LOADER = re.compile(r"^ld-linux[-.\w]*\.so\.2$")
ARCHITECTURES = {
    # readelf's machine name: (our name, the multiarch directories that hold its C library)
    "Advanced Micro Devices X86-64": ("x86-64", ["/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu"]),
    "Intel 80386": ("i386", ["/lib/i386-linux-gnu", "/usr/lib/i386-linux-gnu", "/usr/i686-linux-gnu/lib"]),
}

# objdump -T: "ADDRESS FLAGS SECTION SIZE VERSION NAME"; a version in
# parentheses is a hidden (non-default) one, which a reference may still name.
SYMBOL_LINE = re.compile(r"^[0-9a-f]+ (?P<flags>.{7}) (?P<section>\S+)\s+[0-9a-f]+\s+(?P<version>\S+)\s+(?P<name>\S+)$")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def version_key(version):
    return tuple(int(p) for p in version.split("."))


def dynamic_symbols(path):
    for line in run("objdump", "-T", path).splitlines():
        match = SYMBOL_LINE.match(line.strip())
        if match:
            yield match.group("flags"), match.group("section"), match.group("version").strip("()"), match.group("name")


def architecture(library):
    machine = re.search(r"Machine:\s+(.+)", run("readelf", "-h", library)).group(1).strip()
    if machine not in ARCHITECTURES:
        raise SystemExit("FAIL %s: machine %r is not one the driver ships for" % (library, machine))
    return ARCHITECTURES[machine]


def system_definitions(directories):
    """Every name@version the system's C libraries define, default or not."""
    defined = set()
    found = []
    for name in C_LIBRARIES:
        for directory in directories:
            path = os.path.join(directory, name)
            if os.path.exists(path):
                found.append(path)
                break
    for directory in directories:
        loaders = sorted(glob.glob(os.path.join(directory, "ld-linux*.so.2")))
        if loaders:
            found.append(loaders[0])
            break
    for path in found:
        for _, section, version, name in dynamic_symbols(path):
            if section != "*UND*":
                defined.add((name, version))
    return defined, found


def check(library, floor, directories):
    problems = []
    arch_name, default_directories = architecture(library)
    directories = directories or default_directories

    exported = set()
    for line in run("nm", "-D", "--defined-only", library).splitlines():
        fields = line.split()
        if len(fields) >= 3:
            exported.add(fields[2].split("@")[0])
    if exported != EXPORTS:
        problems.append("exports: %d names; extra %s, missing %s" %
                        (len(exported), sorted(exported - EXPORTS)[:10], sorted(EXPORTS - exported)))

    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", library))
    for name in needed:
        if name not in C_LIBRARIES and not LOADER.match(name):
            problems.append("needs %s, which is not part of the C library" % name)

    defined, system_files = system_definitions(directories)
    if not system_files:
        problems.append("no C library of its architecture found in %s" % ", ".join(directories))
    newest = "2.0"
    for flags, section, version, name in dynamic_symbols(library):
        if section != "*UND*":
            continue
        if version in ("Base", "*local*", "*global*") or not version:
            if "w" not in flags:
                problems.append("imports %s without a version and not weak" % name)
            continue
        glibc = re.fullmatch(r"GLIBC_([0-9]+(?:\.[0-9]+)*)", version)
        if not glibc:
            problems.append("imports %s@%s, which is no C library version" % (name, version))
            continue
        number = glibc.group(1)
        if version_key(number) > version_key(newest):
            newest = number
        if version_key(number) > version_key(floor):
            problems.append("imports %s@%s, newer than glibc %s" % (name, version, floor))
        elif system_files and (name, version) not in defined:
            problems.append("imports %s@%s, which the system's C libraries do not define" % (name, version))

    label = "%s (%s)" % (os.path.basename(library), arch_name)
    if problems:
        for p in problems:
            print("FAIL %s: %s" % (label, p))
        print("%s needs glibc %s or later; the floor is %s" % (label, newest, floor))
        return False
    print("ok %s: exports %s; needs %s" % (label, ", ".join(sorted(exported)), ", ".join(needed)))
    print("%s needs glibc %s or later" % (label, newest))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("library")
    parser.add_argument("--floor", default="2.17", help="the oldest glibc the library must load on")
    parser.add_argument("--system-libs", action="append", default=[],
                        help="a directory holding the C library of the library's architecture")
    args = parser.parse_args()
    return 0 if check(args.library, args.floor, args.system_libs) else 1


if __name__ == "__main__":
    sys.exit(main())
