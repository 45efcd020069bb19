#!/usr/bin/env python3
"""The shipped quenlet.exe as a user's machine sees it: the DLLs it imports,
its PE header (subsystem, hardening, stack reserve), its size after stripping,
and its resources (manifest, version information, icon).

Usage: test_pe_image.py EXE BITS VERSION OBJDUMP
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

EXE = BITS = VERSION = OBJDUMP = None
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}
MAX_STRIPPED_SIZE = 256 * 1024


def objdump():
    return subprocess.run([OBJDUMP, "-p", EXE], capture_output=True, text=True, check=True).stdout


def header_field(text, name):
    match = re.search(r"^%s\s+([0-9a-fA-F]+)" % name, text, re.M)
    return int(match.group(1), 16)


def resources(path):
    """{(type, id): bytes} of the image's resources (first language of each)."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    for i in range(sections):
        _, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if rva <= rsrc_rva < rva + max(vsize, rawsize):
            base = rawptr + (rsrc_rva - rva)
            delta = rva - rawptr
            break
    else:
        return {}

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            yield name, target

    found = {}
    for rtype, t in entries(0):
        for rid, n in entries(t & 0x7FFFFFFF):
            for _, leaf in entries(n & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(rtype, rid)] = data[data_rva - delta:data_rva - delta + size]
                break
    return found


class Imports(unittest.TestCase):
    def test_only_system_dlls(self):
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", objdump())}
        others = {d for d in dlls - SYSTEM_DLLS if not d.startswith("api-ms-win-crt-")}
        self.assertEqual(others, set(), "imports beyond Windows' own DLLs")
        self.assertIn("kernel32.dll", dlls)


class Header(unittest.TestCase):
    def setUp(self):
        self.text = objdump()

    def test_gui_subsystem(self):
        self.assertEqual(header_field(self.text, "Subsystem"), 2)

    def test_hardening(self):
        flags = header_field(self.text, "DllCharacteristics")
        wanted = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, "TERMINAL_SERVICE_AWARE": 0x8000}
        if BITS == 64:
            wanted["HIGH_ENTROPY_VA"] = 0x20
        for name, bit in wanted.items():
            self.assertTrue(flags & bit, f"{name} missing from DllCharacteristics {flags:#x}")

    def test_relocations_are_kept_for_aslr(self):
        self.assertNotIn("RELOCS_STRIPPED", self.text)

    def test_stack_reserve_matches_the_jdk_launcher(self):
        self.assertEqual(header_field(self.text, "SizeOfStackReserve"), 0x100000 if BITS == 64 else 0x50000)


class Size(unittest.TestCase):
    def test_at_most_256_kib_stripped(self):
        strip = OBJDUMP.replace("objdump", "strip")
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "quenlet.exe")
            shutil.copy(EXE, copy)
            subprocess.run([strip, copy], check=True)
            size = os.path.getsize(copy)
        print(f"\n{os.path.basename(EXE)} ({BITS}-bit) stripped: {size} bytes", file=sys.stderr)
        self.assertLessEqual(size, MAX_STRIPPED_SIZE)


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.found = resources(EXE)

    def test_manifest_runs_as_invoker_on_windows_7_to_11(self):
        manifest = self.found[(24, 1)].decode("utf-8")
        self.assertIn('level="asInvoker"', manifest)
        for os_id in ("35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                      "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"):
            self.assertIn(os_id, manifest)
        self.assertNotIn("dpiAware", manifest, "DPI awareness is the Java runtime's to declare")
        self.assertEqual([key for key in self.found if key[0] == 24], [(24, 1)], "one manifest")

    def test_version_information(self):
        info = self.found[(16, 1)]
        text = info.decode("utf-16-le", errors="replace")
        for key, value in (("ProductName", "Quenlet"), ("FileDescription", "Quenlet launcher"),
                           ("ProductVersion", VERSION), ("FileVersion", VERSION),
                           ("OriginalFilename", "quenlet.exe")):
            self.assertRegex(text, key + "\0+" + re.escape(value) + "\0")
        # VS_FIXEDFILEINFO: the numbers match the product version.
        fixed = info.find(struct.pack("<I", 0xFEEF04BD))
        ms, ls = struct.unpack_from("<II", info, fixed + 8)
        major, minor, patch = (int(p) for p in VERSION.split("."))
        self.assertEqual((ms >> 16, ms & 0xFFFF, ls >> 16), (major, minor, patch))

    def test_icon(self):
        self.assertTrue(any(key[0] == 14 for key in self.found), "no icon group")
        self.assertTrue(any(key[0] == 3 for key in self.found), "no icon image")


if __name__ == "__main__":
    EXE, BITS, VERSION, OBJDUMP = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    del sys.argv[1:5]
    unittest.main(verbosity=2)
