#!/usr/bin/env python3
"""Checks the layout of the distribution zip.

    check_package.py dist/VemlarTSD-1.2.0.zip

What 1C needs to load it: MANIFEST.XML at the root, in the bundle namespace,
naming one component for each technology, system and architecture the driver
ships (COM for Windows i386 and x86_64; Native API for Windows and Linux,
i386 and x86_64 each), each path a file of the zip whose header states
that very system and architecture: a PE DLL for Windows, an ELF shared object
for Linux. Besides: the simulator and the command line as Windows programs,
and the documentation index with both languages' pages.
"""

import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

BUNDLE_NS = "http://v8.1c.ru/8.2/addin/bundle"
PE_MACHINE = {"i386": 0x014C, "x86_64": 0x8664}
ELF_MACHINE = {"i386": 3, "x86_64": 62}
# (type, os, arch) of every component the package must hold.
REQUIRED = {("com", "Windows", "i386"), ("com", "Windows", "x86_64"),
            ("native", "Windows", "i386"), ("native", "Windows", "x86_64"),
            ("native", "Linux", "i386"), ("native", "Linux", "x86_64")}
DOC_PAGES = ("install.md", "settings.md", "methods.md", "xml.md", "errors.md", "dialogs.md",
             "terminal.md", "simulator.md", "command-line.md")


def pe_machine(data):
    """The machine field of a PE image, or None when the bytes are no PE image."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, offset + 4)[0]


def pe_is_dll(data):
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    characteristics = struct.unpack_from("<H", data, offset + 4 + 18)[0]
    return bool(characteristics & 0x2000)  # IMAGE_FILE_DLL


def elf_shared_object(data):
    """(machine, is a shared object) of an ELF image, or None when the bytes are no ELF image."""
    if len(data) < 20 or data[:4] != b"\x7fELF" or data[5] != 1:  # little-endian only
        return None
    e_type, e_machine = struct.unpack_from("<HH", data, 16)
    return e_machine, e_type == 3  # ET_DYN


def image_problem(target, system, arch, data):
    """What is wrong with a component's file for its system and architecture, or None."""
    if system == "Windows":
        machine = pe_machine(data)
        if machine is None:
            return "%s is no Windows image" % target
        if machine != PE_MACHINE.get(arch):
            return "%s is marked %s but built for machine 0x%04x" % (target, arch, machine)
        if not pe_is_dll(data):
            return "%s is not a DLL" % target
        return None
    if system == "Linux":
        elf = elf_shared_object(data)
        if elf is None:
            return "%s is no Linux image" % target
        if elf[0] != ELF_MACHINE.get(arch):
            return "%s is marked %s but built for machine %d" % (target, arch, elf[0])
        if not elf[1]:
            return "%s is not a shared object" % target
        return None
    return "%s: os=%s is none the driver ships for" % (target, system)


def check(path):
    problems = []
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        if "MANIFEST.XML" not in names:
            return ["MANIFEST.XML is not at the root of the zip"]
        root = ET.fromstring(z.read("MANIFEST.XML"))
        if root.tag != "{%s}bundle" % BUNDLE_NS:
            problems.append("the manifest's root is %s, not bundle in %s" % (root.tag, BUNDLE_NS))
        listed = []
        for c in root:
            if c.tag != "{%s}component" % BUNDLE_NS:
                problems.append("unexpected manifest element %s" % c.tag)
                continue
            kind, system, arch, target = c.get("type"), c.get("os"), c.get("arch"), c.get("path")
            listed.append((kind, system, arch))
            if kind not in ("com", "native") or (kind == "com" and system != "Windows"):
                problems.append("%s: os=%s type=%s, want com for Windows or native"
                                % (target, system, kind))
            if target not in names:
                problems.append("the manifest names %s, which the zip does not hold" % target)
                continue
            problem = image_problem(target, system, arch, z.read(target))
            if problem:
                problems.append(problem)
        for entry in sorted(REQUIRED - set(listed)):
            problems.append("no %s component for %s %s" % entry)
        for entry in sorted({e for e in listed if listed.count(e) > 1}):
            problems.append("more than one %s component for %s %s" % entry)
        for tool in ("tools/merxa-sim.exe", "tools/vtsd-host.exe"):
            if tool not in names:
                problems.append("%s is missing" % tool)
            elif pe_machine(z.read(tool)) is None:
                problems.append("%s is no Windows program" % tool)
        if "docs/README.md" not in names:
            problems.append("docs/README.md is missing")
        for lang in ("ru", "en"):
            for page in DOC_PAGES:
                if "docs/%s/%s" % (lang, page) not in names:
                    problems.append("docs/%s/%s is missing" % (lang, page))
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    problems = check(sys.argv[1])
    for p in problems:
        print(p)
    if problems:
        print("package: %d problem(s) in %s" % (len(problems), sys.argv[1]))
        return 1
    print("package: %s has the layout 1C loads" % sys.argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
