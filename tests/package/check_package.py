#!/usr/bin/env python3
"""Checks the layout of the distribution zip.

    check_package.py dist/VemlarTSD-1.2.0.zip

What 1C needs to load it as a COM external component: MANIFEST.XML at the root,
in the bundle namespace, naming one Windows COM component per architecture
(i386 and x86_64), each path a file of the zip whose PE header states that very
architecture. Besides: the simulator and the command line as Windows programs,
and the documentation index with both languages' pages.
"""

import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

BUNDLE_NS = "http://v8.1c.ru/8.2/addin/bundle"
PE_MACHINE = {"i386": 0x014C, "x86_64": 0x8664}
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


def check(path):
    problems = []
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        if "MANIFEST.XML" not in names:
            return ["MANIFEST.XML is not at the root of the zip"]
        root = ET.fromstring(z.read("MANIFEST.XML"))
        if root.tag != "{%s}bundle" % BUNDLE_NS:
            problems.append("the manifest's root is %s, not bundle in %s" % (root.tag, BUNDLE_NS))
        arches = []
        for c in root:
            if c.tag != "{%s}component" % BUNDLE_NS:
                problems.append("unexpected manifest element %s" % c.tag)
                continue
            arch, target = c.get("arch"), c.get("path")
            arches.append(arch)
            if c.get("os") != "Windows" or c.get("type") != "com":
                problems.append("%s: os=%s type=%s, want Windows and com"
                                % (target, c.get("os"), c.get("type")))
            if target not in names:
                problems.append("the manifest names %s, which the zip does not hold" % target)
                continue
            data = z.read(target)
            machine = pe_machine(data)
            if machine is None:
                problems.append("%s is no Windows image" % target)
            elif machine != PE_MACHINE.get(arch):
                problems.append("%s is marked %s but built for machine 0x%04x" % (target, arch, machine))
            elif not pe_is_dll(data):
                problems.append("%s is not a DLL" % target)
        if sorted(a or "" for a in arches) != sorted(PE_MACHINE):
            problems.append("components for %s, want one each for i386 and x86_64" % arches)
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
