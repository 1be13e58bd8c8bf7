#!/usr/bin/env python3
"""The library check fails on what would not load on an older system.

Each case builds a small shared library with the five exports and one trait
of a library built the old way, and runs check_library.py on it.
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "check_library.py")

EXPORTS = """
extern "C" {
__attribute__((visibility("default"))) const void* GetClassNames() { return 0; }
__attribute__((visibility("default"))) long GetClassObject(const void*, void**) { return 0; }
__attribute__((visibility("default"))) long DestroyObject(void**) { return 0; }
__attribute__((visibility("default"))) int SetPlatformCapabilities(int c) { return c; }
__attribute__((visibility("default"))) int GetAttachType() { return 3; }
}
"""

CASES = [
    # name, extra source, the failure the check must report (None: it passes)
    ("plain", "", None),
    ("new libc function",
     '#include <stdlib.h>\nextern "C" unsigned Draw() { return arc4random(); }\n',
     "arc4random@GLIBC_2.36, newer than glibc 2.17"),
    ("re-versioned stat",
     '#include <sys/stat.h>\nextern "C" int Probe(const char* p) { struct stat s; return stat(p, &s); }\n',
     "stat@GLIBC_2.33, newer than glibc 2.17"),
    ("C++ runtime not linked in",
     '#include <string>\nextern "C" unsigned long Length(const char* p) { return std::string(p).size(); }\n',
     "needs libstdc++.so.6"),
    ("an extra export",
     'extern "C" __attribute__((visibility("default"))) int Extra() { return 1; }\n',
     "extra ['Extra']"),
]


def build(directory, name, source):
    source_path = os.path.join(directory, name.replace(" ", "_") + ".cpp")
    library = os.path.join(directory, "lib" + name.replace(" ", "_") + ".so")
    with open(source_path, "w") as out:
        out.write(EXPORTS + source)
    subprocess.run(["c++", "-shared", "-fPIC", "-fvisibility=hidden", "-O1", "-o", library, source_path],
                   check=True)
    return library


class CheckLibraryTest(unittest.TestCase):
    def test_cases(self):
        with tempfile.TemporaryDirectory() as directory:
            for name, source, failure in CASES:
                with self.subTest(name):
                    library = build(directory, name, source)
                    result = subprocess.run([sys.executable, CHECK, library], capture_output=True, text=True)
                    if failure is None:
                        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                        self.assertRegex(result.stdout, r"\(x86-64\) needs glibc 2\.[0-9.]+ or later")
                    else:
                        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                        self.assertIn(failure, result.stdout)

    def test_floor_is_a_parameter(self):
        # The same library passes a floor it meets and fails one it does not.
        with tempfile.TemporaryDirectory() as directory:
            library = build(directory, "new libc function", CASES[1][1])
            passing = subprocess.run([sys.executable, CHECK, "--floor", "2.36", library], capture_output=True, text=True)
            self.assertEqual(passing.returncode, 0, passing.stdout)
            self.assertIn("needs glibc 2.36 or later", passing.stdout)


if __name__ == "__main__":
    unittest.main()
