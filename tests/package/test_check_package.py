"""The package check refuses the layouts 1C would not load."""

import io
import os
import struct
import tempfile
import unittest
import zipfile

import check_package

GOOD_MANIFEST = """<?xml version="1.0" encoding="UTF-8"?>
<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">
  <component os="Windows" path="VemlarTSD.dll" type="com" arch="i386"/>
  <component os="Windows" path="VemlarTSD64.dll" type="com" arch="x86_64"/>
  <component os="Windows" path="VemlarTSDNative.dll" type="native" arch="i386"/>
  <component os="Windows" path="VemlarTSDNative64.dll" type="native" arch="x86_64"/>
  <component os="Linux" path="libVemlarTSDNative.so" type="native" arch="i386"/>
  <component os="Linux" path="libVemlarTSDNative64.so" type="native" arch="x86_64"/>
</bundle>
"""


def pe(machine, dll=True):
    """A minimal PE header: the DOS stub pointer, the signature, machine and characteristics."""
    data = bytearray(0x40 + 24)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x40)
    data[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<H", data, 0x44, machine)
    struct.pack_into("<H", data, 0x44 + 18, 0x2000 if dll else 0x0002)
    return bytes(data)


def elf(machine, shared=True):
    """A minimal little-endian ELF header: magic, class, data, type and machine."""
    data = bytearray(64)
    data[:4] = b"\x7fELF"
    data[4], data[5] = 2, 1
    struct.pack_into("<HH", data, 16, 3 if shared else 2, machine)
    return bytes(data)


def files(override=None):
    """The expected layout, with some entries replaced (None removes one)."""
    f = {
        "MANIFEST.XML": GOOD_MANIFEST,
        "VemlarTSD.dll": pe(0x014C),
        "VemlarTSD64.dll": pe(0x8664),
        "VemlarTSDNative.dll": pe(0x014C),
        "VemlarTSDNative64.dll": pe(0x8664),
        "libVemlarTSDNative.so": elf(3),
        "libVemlarTSDNative64.so": elf(62),
        "tools/merxa-sim.exe": pe(0x014C, dll=False),
        "tools/vtsd-host.exe": pe(0x014C, dll=False),
        "docs/README.md": "index",
    }
    for lang in ("ru", "en"):
        for page in check_package.DOC_PAGES:
            f["docs/%s/%s" % (lang, page)] = "page"
    for name, content in (override or {}).items():
        if content is None:
            f.pop(name, None)
        else:
            f[name] = content
    return f


class CheckPackageTest(unittest.TestCase):
    def problems(self, layout):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "p.zip")
            with zipfile.ZipFile(path, "w") as z:
                for name, content in layout.items():
                    z.writestr(name, content)
            return check_package.check(path)

    def test_the_expected_layout_passes(self):
        self.assertEqual(self.problems(files()), [])

    def test_faulty_layouts_are_refused(self):
        swapped = GOOD_MANIFEST.replace('"i386"', '"X"').replace('"x86_64"', '"i386"').replace('"X"', '"x86_64"')
        cases = [
            ("no manifest", files({"MANIFEST.XML": None}), "MANIFEST.XML is not at the root"),
            ("architectures swapped", files({"MANIFEST.XML": swapped}), "built for machine"),
            ("a COM component for Linux", files({"MANIFEST.XML": GOOD_MANIFEST.replace(
                'os="Windows" path="VemlarTSD.dll"', 'os="Linux" path="VemlarTSD.dll"')}), "want com for Windows"),
            ("a COM server where the native DLL belongs", files({"MANIFEST.XML": GOOD_MANIFEST.replace(
                'path="VemlarTSD.dll" type="com"', 'path="VemlarTSD.dll" type="native"')}),
             "no com component for Windows i386"),
            ("the x86-64 slot holds the i386 library", files({"libVemlarTSDNative64.so": elf(3)}),
             "built for machine 3"),
            ("a Linux program in place of the library", files({"libVemlarTSDNative64.so": elf(62, shared=False)}),
             "not a shared object"),
            ("a Windows DLL marked Linux", files({"libVemlarTSDNative64.so": pe(0x8664)}), "no Linux image"),
            ("no Linux library", files({"MANIFEST.XML": GOOD_MANIFEST.replace(
                '  <component os="Linux" path="libVemlarTSDNative64.so" type="native" arch="x86_64"/>\n', '')}),
             "no native component for Linux x86_64"),
            ("a DLL the manifest names is missing", files({"VemlarTSD64.dll": None}), "does not hold"),
            ("the x64 slot holds the 32-bit DLL", files({"VemlarTSD64.dll": pe(0x014C)}), "built for machine 0x014c"),
            ("a program in place of a DLL", files({"VemlarTSD.dll": pe(0x014C, dll=False)}), "is not a DLL"),
            ("only one architecture", files({"MANIFEST.XML": GOOD_MANIFEST.replace(
                '  <component os="Windows" path="VemlarTSD64.dll" type="com" arch="x86_64"/>\n', '')}),
             "no com component for Windows x86_64"),
            ("a wrong namespace", files({"MANIFEST.XML": GOOD_MANIFEST.replace("8.2/addin", "8.3/addin")}), "not bundle"),
            ("no simulator", files({"tools/merxa-sim.exe": None}), "tools/merxa-sim.exe is missing"),
            ("a Russian page missing", files({"docs/ru/errors.md": None}), "docs/ru/errors.md is missing"),
        ]
        for name, layout, expected in cases:
            with self.subTest(name):
                problems = self.problems(layout)
                self.assertTrue(any(expected in p for p in problems), problems)


if __name__ == "__main__":
    unittest.main()
